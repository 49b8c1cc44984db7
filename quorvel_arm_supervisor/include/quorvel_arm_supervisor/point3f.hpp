// Single-precision positions: grab positions are compared in float32 throughout, so that two
// positions count as the same spot exactly when the detection side's float values do.
#ifndef QUORVEL_ARM_SUPERVISOR__POINT3F_HPP_
#define QUORVEL_ARM_SUPERVISOR__POINT3F_HPP_

#include <geometry_msgs/msg/point.hpp>

namespace quorvel_arm_supervisor
{

struct Point3f
{
  float x = 0.0F;
  float y = 0.0F;
  float z = 0.0F;
};

// Each coordinate narrowed to float32.
Point3f to_point3f(const geometry_msgs::msg::Point & point);

// Euclidean distance, every step in float32.
float distance(const Point3f & a, const Point3f & b);

// Distance from the origin, every step in float32.
float norm(const Point3f & p);

}  // namespace quorvel_arm_supervisor

#endif  // QUORVEL_ARM_SUPERVISOR__POINT3F_HPP_

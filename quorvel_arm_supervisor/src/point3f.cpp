#include "quorvel_arm_supervisor/point3f.hpp"

#include <cmath>

namespace quorvel_arm_supervisor
{

Point3f to_point3f(const geometry_msgs::msg::Point & point)
{
  return {static_cast<float>(point.x), static_cast<float>(point.y), static_cast<float>(point.z)};
}

float distance(const Point3f & a, const Point3f & b)
{
  return norm(Point3f{a.x - b.x, a.y - b.y, a.z - b.z});
}

float norm(const Point3f & p)
{
  return std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
}

}  // namespace quorvel_arm_supervisor

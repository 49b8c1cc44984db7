// The simulated arm's five joints and how they move.
#ifndef QUORVEL_ARM_SIM__JOINT_MOTION_HPP_
#define QUORVEL_ARM_SIM__JOINT_MOTION_HPP_

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quorvel_arm_sim
{

constexpr std::size_t kJointCount = 5;
using Joints = std::array<double, kJointCount>;

// Why `values` cannot be a joint target (not exactly five values, or a value that is not
// finite), or nothing when it can.
std::optional<std::string> joint_target_problem(const std::vector<double> & values);

// `values` as joints; call only when joint_target_problem() found nothing.
Joints to_joints(const std::vector<double> & values);

// A deterministic posture for a grab position (x, y, z) in the arm's base frame: base yaw
// towards the position, shoulder and elbow from a planar two-link reach (0.45 + 0.45), the wrist
// pointing the gripper down, the last joint unturned. Positions out of reach are clamped to the
// reach. Nothing for a position that is not finite.
std::optional<Joints> grab_posture(double x, double y, double z);

// Where joint `joint` (0-based) ends when it stops `by` short of `target` on its way from
// `start`: exactly |by| from the target on the side of the start (below a target it already
// stands at), even where that is behind the start. The other joints reach their targets.
Joints stop_short(const Joints & start, const Joints & target, std::size_t joint, double by);

// One motion: every joint moves in a straight line from start to target, all of them arriving
// together, at `speed` (rad/s) for the joint that has the farthest to go.
class JointMotion
{
public:
  // `speed` must be positive.
  JointMotion(const Joints & start, const Joints & target, double speed, double start_time);

  double arrival_time() const { return arrival_time_; }
  const Joints & target() const { return target_; }
  bool arrived(double now) const { return now >= arrival_time_; }
  Joints position_at(double now) const;

private:
  Joints start_;
  Joints target_;
  double start_time_;
  double arrival_time_;
};

}  // namespace quorvel_arm_sim

#endif  // QUORVEL_ARM_SIM__JOINT_MOTION_HPP_

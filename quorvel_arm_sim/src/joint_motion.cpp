#include "quorvel_arm_sim/joint_motion.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace quorvel_arm_sim
{

namespace
{

constexpr double kUpperArm = 0.45;
constexpr double kForearm = 0.45;
constexpr double kPi = 3.14159265358979323846;

}  // namespace

std::optional<std::string> joint_target_problem(const std::vector<double> & values)
{
  if (values.size() != kJointCount) {
    std::ostringstream text;
    text << "target_joints must hold " << kJointCount << " values, got " << values.size();
    return text.str();
  }
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!std::isfinite(values[i])) {
      std::ostringstream text;
      text << "target_joints value " << i + 1 << " is not a finite number";
      return text.str();
    }
  }
  return std::nullopt;
}

Joints to_joints(const std::vector<double> & values)
{
  Joints joints{};
  std::copy_n(values.begin(), kJointCount, joints.begin());
  return joints;
}

std::optional<Joints> grab_posture(double x, double y, double z)
{
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) {
    return std::nullopt;
  }
  const double planar = std::hypot(x, y);
  const double reach = std::clamp(
      std::hypot(planar, z), std::abs(kUpperArm - kForearm) + 1e-3, kUpperArm + kForearm - 1e-6);
  const double cos_elbow =
      (reach * reach - kUpperArm * kUpperArm - kForearm * kForearm) / (2.0 * kUpperArm * kForearm);
  const double elbow = std::acos(std::clamp(cos_elbow, -1.0, 1.0));
  // Shoulder angle measured downwards from the horizontal, like the configured postures
  // (negative lifts the upper arm).
  const double shoulder =
      -(std::atan2(z, planar) +
        std::atan2(kForearm * std::sin(elbow), kUpperArm + kForearm * std::cos(elbow)));
  // With shoulder + elbow + wrist = 0 the gripper points the way the base frame's x axis does
  // (the observe posture); a quarter turn more points it straight down.
  const double wrist = kPi / 2.0 - (shoulder + elbow);
  return Joints{{std::atan2(y, x), shoulder, elbow, wrist, 0.0}};
}

Joints stop_short(const Joints & start, const Joints & target, std::size_t joint, double by)
{
  Joints end = target;
  if (joint >= kJointCount) {
    return end;
  }
  // Short on the side the joint comes from; a joint that has nowhere to go sags below its
  // target. Either way it ends exactly `by` off, even if that takes it back past its start:
  // a posture the arm could not hold must be played as it was, also when the arm already
  // stood at its target.
  const double distance = target[joint] - start[joint];
  const double side = distance > 0.0 ? 1.0 : (distance < 0.0 ? -1.0 : 1.0);
  end[joint] = target[joint] - side * std::abs(by);
  return end;
}

JointMotion::JointMotion(
    const Joints & start, const Joints & target, double speed, double start_time)
    : start_(start), target_(target), start_time_(start_time), arrival_time_(start_time)
{
  double farthest = 0.0;
  for (std::size_t i = 0; i < kJointCount; ++i) {
    farthest = std::max(farthest, std::abs(target[i] - start[i]));
  }
  arrival_time_ = start_time + farthest / speed;
}

Joints JointMotion::position_at(double now) const
{
  if (now >= arrival_time_) {
    return target_;
  }
  if (now <= start_time_) {
    return start_;
  }
  const double fraction = (now - start_time_) / (arrival_time_ - start_time_);
  Joints position{};
  for (std::size_t i = 0; i < kJointCount; ++i) {
    position[i] = start_[i] + (target_[i] - start_[i]) * fraction;
  }
  return position;
}

}  // namespace quorvel_arm_sim

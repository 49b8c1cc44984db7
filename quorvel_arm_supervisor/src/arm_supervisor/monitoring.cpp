// Environment stop and the joint position check.
#include <chrono>

#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"
#include "quorvel_arm_supervisor/env_monitor.hpp"
#include "quorvel_arm_supervisor/joint_check.hpp"

namespace quorvel_arm_supervisor
{

void ArmSupervisorNode::EnvDetectCallback(
    const quorvel_protocol::msg::Trashes::ConstSharedPtr message)
{
  const bool stop = env_stop_requested(*message, env_stop_threshold_);
  env_detect_stop_.store(stop);
  if (message->trashes.empty()) {
    return;
  }
  RCLCPP_INFO_THROTTLE(
      get_logger(), *get_clock(), 1000, "env_detect_stop_: %s", stop ? "true" : "false");
}

void ArmSupervisorNode::EnvDetectProcess()
{
  if (!env_detect_stop_.load()) {
    return;
  }
  while (true) {
    if (!env_enable_.load()) {
      return;
    }
    RCLCPP_WARN(get_logger(), "env_detect_stop_ !");
    PublishVoiceBroadcast(4);
    SleepMs(1000);
    if (!env_detect_stop_.load()) {
      return;
    }
  }
}

bool ArmSupervisorNode::IsAtTargetJoints(const JointArray & current, const JointArray & target)
{
  const JointCheck check =
      check_at_target_joints(current.data, target.data, angle_delta_threshold_);
  if (check.input_error) {
    RCLCPP_INFO(get_logger(), "<IsAtTargetJoints> input parameters error !");
    return false;
  }
  PrintfFloat64MultiArray("Current_Joints", current);
  PrintfFloat64MultiArray("Target_Joints", target);
  return check.at_target;
}

double ArmSupervisorNode::SecondsSince(const std::chrono::system_clock::time_point start)
{
  const auto elapsed = std::chrono::system_clock::now() - start;
  return static_cast<double>(
             std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) /
         1e9;
}

}  // namespace quorvel_arm_supervisor

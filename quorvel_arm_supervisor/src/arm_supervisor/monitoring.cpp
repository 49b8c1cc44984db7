// Environment stop and the joint position check.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"
#include "quorvel_arm_supervisor/env_monitor.hpp"
#include "quorvel_arm_supervisor/joint_check.hpp"

namespace quorvel_arm_supervisor
{

void ArmSupervisorNode::EnvDetectCallback(
    const quorvel_protocol::msg::Trashes::ConstSharedPtr message)
{
  const bool stop = env_stop_requested(*message, env_stop_threshold_);
  float nearest = 0.0F;
  for (std::size_t i = 0; i < message->trashes.size(); ++i) {
    const auto & object = message->trashes[i];
    const float d = std::sqrt(object.x * object.x + object.y * object.y);
    nearest = i == 0 ? d : std::min(nearest, d);
  }
  env_nearest_distance_.store(nearest);
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
  bool held = false;
  const auto released = [this, &held](const char * how, const char * summary) {
    if (held && EventsOn()) {
      TaskEvent event = NewEvent(TaskEvent::ENV_STOP_RELEASED, summary);
      event.outcome = how;
      event.distance = env_nearest_distance_.load();
      EmitEvent(std::move(event));
    }
  };
  while (true) {
    if (!env_enable_.load()) {
      released("disabled", "environment stop released: switched off");
      return;
    }
    if (!held && EventsOn()) {
      char summary[96];
      std::snprintf(
          summary, sizeof(summary), "environment stop: an object at %.2f, waiting",
          static_cast<double>(env_nearest_distance_.load()));
      TaskEvent event = NewEvent(TaskEvent::ENV_STOP_HELD, summary);
      event.distance = env_nearest_distance_.load();
      EmitEvent(std::move(event));
    }
    held = true;
    RCLCPP_WARN(get_logger(), "env_detect_stop_ !");
    PublishVoiceBroadcast(4);
    SleepMs(1000);
    if (!env_detect_stop_.load()) {
      released("cleared", "environment stop released: nothing near any more");
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

// Time limits are counted on the steady clock: the wall clock can be set while a wait runs (NTP
// stepping a robot that booted without a real-time clock, a person fixing the date), which would
// end a detection wait at once or stretch it by the size of the step.
double ArmSupervisorNode::SecondsSince(const std::chrono::steady_clock::time_point start)
{
  const auto elapsed = std::chrono::steady_clock::now() - start;
  return static_cast<double>(
             std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) /
         1e9;
}

}  // namespace quorvel_arm_supervisor

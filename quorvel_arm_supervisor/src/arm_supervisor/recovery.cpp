// Joint moves and the recovery procedures. Their outcome is left in error_code_.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <optional>
#include <string>

#include "console_output.hpp"
#include "quorvel_arm_supervisor/arm_logger.hpp"
#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"
#include "quorvel_arm_supervisor/joint_arrays.hpp"

namespace quorvel_arm_supervisor
{

void ArmSupervisorNode::ArmAvoidObstacleMoveJoints(const JointArray & target_joints)
{
  req_arm_movejoints_->cmd = 0;
  if (target_joints.data.size() != joint_num_) {
    RCLCPP_WARN(get_logger(), "input target_joints size wrong !");
    return;
  }
  req_arm_movejoints_->target_joints = target_joints;
  PrintfFloat64MultiArray("arm start moving to joints: ", target_joints);
  static LineThrottle move_throttle;
  const ArmCallSite move{
      "arm_movejoints",
      recovery_target_name_,
      "arm movejoints service not available, waiting again...",
      "Interrupted while waiting for arm movejoints service. Exiting.",
      "waiting req_arm_movejoints to complete................",
      false,
      &move_throttle};
  // Given up on shutdown: the recovery goes on checking the position.
  CallArmService(
      move, *arm_movejoints_client_, req_arm_movejoints_,
      &ArmSupervisorNode::req_movejoints_callback, req_movejoints_complete_);
}

void ArmSupervisorNode::EmitRecoveryStarted(const char * procedure)
{
  if (!EventsOn()) {
    return;
  }
  const std::string failed = arm_call_service_.load();
  TaskEvent event = NewEvent(
      TaskEvent::RECOVERY_STARTED,
      std::string(procedure) + " started after the " + failed + " answer");
  event.target_name = procedure;
  event.service = failed;
  EmitEvent(std::move(event));
}

void ArmSupervisorNode::EmitRecoveryEnded(const bool recovered)
{
  if (!EventsOn()) {
    return;
  }
  const std::int32_t code = error_code_.load();
  TaskEvent event = NewEvent(
      TaskEvent::RECOVERY_ENDED,
      recovered ? "recovery succeeded" : "recovery failed: error_code " + std::to_string(code));
  event.outcome = recovered ? "recovered" : "failed";
  event.error_code = code;
  EmitEvent(std::move(event));
}

void ArmSupervisorNode::ArmRecoverFunc()
{
  is_grab_need_to_recover_.store(false);
  is_movejoints_need_to_recover_.store(false);
  EmitRecoveryStarted("recover");
  PrintColouredLine(COLOR_MAGENTA, "Arm start recover---");
  SleepMs(arm_voice_broadcast_delay_);

  std::int32_t wait_count = 0;
  if (!WaitForNormalArm(wait_count)) {
    return;
  }
  EnvDetectProcess();
  std::int32_t move_wait_count = 0;
  if (!ReachRecoveryPosition(
          recover_movej_pos2_, "recover_movej_pos2", "Recover to pos2 failed !", move_wait_count)) {
    return;
  }
  error_code_.store(kTaskErrorRecovered);
  EmitRecoveryEnded(true);
  PublishGripperOpen();
  SleepMs(1000);
}

void ArmSupervisorNode::ArmReleaseRecoverFunc()
{
  EmitRecoveryStarted("release recover");
  PrintColouredLine(COLOR_MAGENTA, "Arm start recover---");
  SleepMs(arm_voice_broadcast_delay_);

  // One count for the whole procedure: it tolerates that many abnormal seconds in total.
  std::int32_t wait_count = 0;
  if (!WaitForNormalArm(wait_count)) {
    return;
  }
  EnvDetectProcess();
  if (!ReachRecoveryPosition(
          recover_movej_release_pos_,
          "recover_movej_release_pos",
          "Recover to release_pos failed !",
          wait_count)) {
    return;
  }
  // Drop the trash over the bin before going on.
  PublishGripperOpen();
  SleepMs(gripper_release_delay_);
  EnvDetectProcess();
  if (!ReachRecoveryPosition(
          recover_movej_pos2_, "recover_movej_pos2", "Recover to pos2 failed !", wait_count)) {
    return;
  }
  error_code_.store(kTaskErrorRecovered);
  EmitRecoveryEnded(true);
}

bool ArmSupervisorNode::WaitForNormalArm(std::int32_t & abnormal_count)
{
  while (arm_unnormal_flag_.load()) {
    if (!WaitOneAbnormalSecond(abnormal_count)) {
      return false;
    }
  }
  return true;
}

bool ArmSupervisorNode::WaitOneAbnormalSecond(std::int32_t & abnormal_count)
{
  RCLCPP_INFO_THROTTLE(
      get_logger(),
      *get_clock(),
      1000,
      "arm_unnormal_flag_: %s",
      arm_unnormal_flag_.load() ? "true" : "false");
  std_msgs::msg::Bool recover_msg;
  recover_msg.data = false;
  recover_pub_->publish(recover_msg);
  RCLCPP_INFO_THROTTLE(
      get_logger(),
      *get_clock(),
      1000,
      "waiting arm controller state recover to complete................");
  SleepMs(1000);
  if (EventsOn()) {
    // The wait that finds the count at the threshold is the last one.
    const std::int64_t waits = static_cast<std::int64_t>(abnormal_count) + 1;
    const std::int64_t limit = static_cast<std::int64_t>(arm_recover_count_threshold_) + 1;
    TaskEvent event = NewEvent(
        TaskEvent::RECOVERY_ARM_ABNORMAL,
        "waiting for a normal arm: " + std::to_string(waits) + " of at most " +
            std::to_string(limit) + " s");
    event.count = static_cast<std::int32_t>(std::min<std::int64_t>(waits, INT32_MAX));
    event.threshold = static_cast<std::int32_t>(std::min<std::int64_t>(limit, INT32_MAX));
    EmitEvent(std::move(event));
  }
  // Compared before counting, so that the largest threshold cannot overflow the count.
  if (abnormal_count >= arm_recover_count_threshold_) {
    FailRecovery();
    return false;
  }
  ++abnormal_count;
  return true;
}

bool ArmSupervisorNode::ReachRecoveryPosition(
    const JointArray & configured,
    const char * configured_name,
    const char * failure_text,
    std::int32_t & abnormal_count)
{
  const std::optional<JointArray> target = make_recovery_target(configured, joint_num_);
  if (!target) {
    error_code_.store(kTaskErrorArmAbnormal);
    ARM_LOG_ERROR(
        "ErrorCode: {}, {} holds {} joint values, a recovery move needs {}",
        kTaskErrorArmAbnormal,
        configured_name,
        configured.data.size(),
        joint_num_);
    EmitRecoveryEnded(false);
    return false;
  }

  recovery_target_name_ = configured_name;
  ArmAvoidObstacleMoveJoints(*target);
  PublishVoiceBroadcast(arm_movejoints_status_.load());
  const auto start = std::chrono::steady_clock::now();
  while (true) {
    const JointArray current = CurrentJoints();
    const bool reached = IsAtTargetJoints(current, configured);
    EmitRecoveryPosition(configured_name, configured, current, reached);
    if (reached) {
      break;
    }
    if (SecondsSince(start) > arm_movejoints_time_threshold_) {
      if (EventsOn()) {
        TaskEvent event = NewEvent(
            TaskEvent::RECOVERY_TIME_LIMIT,
            std::string(configured_name) + " not reached within " +
                std::to_string(arm_movejoints_time_threshold_).substr(0, 6) + " s");
        event.target_name = configured_name;
        event.seconds = arm_movejoints_time_threshold_;
        EmitEvent(std::move(event));
      }
      FailRecovery();
      return false;
    }
    RCLCPP_WARN(get_logger(), "%s", failure_text);
    while (arm_unnormal_flag_.load()) {
      std_msgs::msg::Int32 voice_msg;
      voice_msg.data = 1;
      voice_broadcast_pub_->publish(voice_msg);
      if (!WaitOneAbnormalSecond(abnormal_count)) {
        return false;
      }
    }
    ArmAvoidObstacleMoveJoints(*target);
    PublishVoiceBroadcast(arm_movejoints_status_.load());
  }
  return true;
}

void ArmSupervisorNode::FailRecovery()
{
  error_code_.store(kTaskErrorArmAbnormal);
  ARM_LOG_ERROR("ErrorCode: {}, Arm status abnormal", kTaskErrorArmAbnormal);
  EmitRecoveryEnded(false);
}

void ArmSupervisorNode::PublishGripperOpen()
{
  std_msgs::msg::Int32MultiArray gripper_open_msg;
  gripper_open_msg.data = {100, 0};
  ctrl_io_pub_->publish(gripper_open_msg);
  EmitGripper(true, "recovery", "recovery");
}

}  // namespace quorvel_arm_supervisor

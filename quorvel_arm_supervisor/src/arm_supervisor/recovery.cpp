// Joint moves and the recovery procedures. Their outcome is left in error_code_.
#include <functional>
#include <optional>

#include "console_output.hpp"
#include "quorvel_arm_supervisor/arm_logger.hpp"
#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"
#include "quorvel_arm_supervisor/joint_arrays.hpp"

namespace quorvel_arm_supervisor
{

using std::placeholders::_1;

void ArmSupervisorNode::ArmAvoidObstacleMoveJoints(const JointArray & target_joints)
{
  req_arm_movejoints_->cmd = 0;
  if (target_joints.data.size() != joint_num_) {
    RCLCPP_WARN(get_logger(), "input target_joints size wrong !");
    return;
  }
  req_arm_movejoints_->target_joints = target_joints;
  PrintfFloat64MultiArray("arm start moving to joints: ", target_joints);
  if (!WaitForService(
          *arm_movejoints_client_,
          "arm movejoints service not available, waiting again...",
          "Interrupted while waiting for arm movejoints service. Exiting.")) {
    return;
  }
  arm_movejoints_client_->async_send_request(
      req_arm_movejoints_, std::bind(&ArmSupervisorNode::req_movejoints_callback, this, _1));
  while (!req_movejoints_complete_.load(std::memory_order_acquire)) {
    RCLCPP_INFO_THROTTLE(
        get_logger(), *get_clock(), 1000, "waiting req_arm_movejoints to complete................");
    SleepMs(10);
  }
  req_movejoints_complete_.store(false);
}

void ArmSupervisorNode::ArmRecoverFunc()
{
  is_grab_need_to_recover_.store(false);
  is_movejoints_need_to_recover_.store(false);
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
  PublishGripperOpen();
  SleepMs(1000);
}

void ArmSupervisorNode::ArmReleaseRecoverFunc()
{
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
    return false;
  }

  ArmAvoidObstacleMoveJoints(*target);
  PublishVoiceBroadcast(arm_movejoints_status_.load());
  const auto start = std::chrono::system_clock::now();
  while (!IsAtTargetJoints(CurrentJoints(), configured)) {
    if (SecondsSince(start) > arm_movejoints_time_threshold_) {
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
}

void ArmSupervisorNode::PublishGripperOpen()
{
  std_msgs::msg::Int32MultiArray gripper_open_msg;
  gripper_open_msg.data = {100, 0};
  ctrl_io_pub_->publish(gripper_open_msg);
}

}  // namespace quorvel_arm_supervisor

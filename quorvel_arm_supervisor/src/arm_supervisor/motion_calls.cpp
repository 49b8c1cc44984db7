// The arm controller's services: waiting for them, judging their answers, announcing them.
#include <chrono>
#include <string>

#include "console_output.hpp"
#include "quorvel_arm_supervisor/arm_logger.hpp"
#include "quorvel_arm_supervisor/arm_status.hpp"
#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"

namespace quorvel_arm_supervisor
{

bool ArmSupervisorNode::WaitForService(
    rclcpp::ClientBase & client, const char * unavailable_line, const char * interrupted_line)
{
  while (!client.wait_for_service(std::chrono::seconds(1))) {
    if (!rclcpp::ok()) {
      RCLCPP_WARN(get_logger(), "%s", interrupted_line);
      return false;
    }
    RCLCPP_INFO(get_logger(), "%s", unavailable_line);
  }
  return true;
}

void ArmSupervisorNode::req_grab_callback(rclcpp::Client<ArmGrab>::SharedFuture future)
{
  const auto response = future.get();
  RCLCPP_INFO(get_logger(), "Succeed to receive response from arm grab service");
  arm_grab_status_.store(response->status);
  PrintColouredLine(COLOR_YELLOW, "arm grab status:" + std::to_string(response->status));
  switch (judge_grab_status(response->status)) {
    case CallOutcome::kSuccess:
      RCLCPP_INFO(get_logger(), "Succeed to move to grab pose");
      break;
    case CallOutcome::kErrorOnly:
      ARM_LOG_ERROR(
          "ErrorCode: {}, Failed to move to grab pose, errmsg: {}",
          response->status,
          response->errmsg);
      break;
    case CallOutcome::kErrorReplan:
      ARM_LOG_ERROR(
          "ErrorCode: {}, Failed to move to grab pose, errmsg: {}",
          response->status,
          response->errmsg);
      is_grab_need_to_replan_.store(true);
      ARM_LOG_INFO("is_grab_need_to_replan_: {}", is_grab_need_to_replan_.load());
      break;
    case CallOutcome::kErrorRecover:
      ARM_LOG_ERROR(
          "ErrorCode: {}, Failed to move to grab pose, errmsg: {}",
          response->status,
          response->errmsg);
      is_grab_need_to_recover_.store(true);
      ARM_LOG_INFO("is_grab_need_to_recover_: {}", is_grab_need_to_recover_.load());
      break;
  }
  req_grab_complete_.store(true, std::memory_order_release);
}

void ArmSupervisorNode::req_release_callback(rclcpp::Client<ArmRelease>::SharedFuture future)
{
  const auto response = future.get();
  RCLCPP_INFO(get_logger(), "Succeed to receive response from arm release service");
  arm_release_status_.store(response->status);
  PrintColouredLine(COLOR_YELLOW, "arm release status:" + std::to_string(response->status));
  switch (judge_release_status(response->status)) {
    case CallOutcome::kSuccess:
      RCLCPP_INFO(get_logger(), "Succeed to move to release pose");
      break;
    case CallOutcome::kErrorOnly:
      ARM_LOG_ERROR(
          "ErrorCode: {}, Failed to move to release pose, errmsg: {}",
          response->status,
          response->errmsg);
      break;
    // Release answers never ask for a replan; any other failure needs the arm recovered.
    case CallOutcome::kErrorReplan:
    case CallOutcome::kErrorRecover:
      ARM_LOG_ERROR(
          "ErrorCode: {}, Failed to move to release pose, errmsg: {}",
          response->status,
          response->errmsg);
      is_release_need_to_recover_.store(true);
      ARM_LOG_INFO("is_release_need_to_recover_: {}", is_release_need_to_recover_.load());
      break;
  }
  req_release_complete_.store(true, std::memory_order_release);
}

void ArmSupervisorNode::req_movejoints_callback(rclcpp::Client<ArmMoveJoints>::SharedFuture future)
{
  const auto response = future.get();
  RCLCPP_INFO(get_logger(), "Succeed to receive response from arm movejoints service");
  arm_movejoints_status_.store(response->status);
  PrintColouredLine(COLOR_YELLOW, "arm movejoints status:" + std::to_string(response->status));
  switch (judge_movejoints_status(response->status)) {
    case CallOutcome::kSuccess:
      RCLCPP_INFO(get_logger(), "Succeed to move to target joints pose");
      break;
    case CallOutcome::kErrorOnly:
      ARM_LOG_ERROR(
          "ErrorCode: {}, Failed to move to target joints pose, errmsg: {}",
          response->status,
          response->errmsg);
      break;
    // Joint moves never ask for a replan; any other failure needs the arm recovered.
    case CallOutcome::kErrorReplan:
    case CallOutcome::kErrorRecover:
      ARM_LOG_ERROR(
          "ErrorCode: {}, Failed to move to target joints pose, errmsg: {}",
          response->status,
          response->errmsg);
      is_movejoints_need_to_recover_.store(true);
      ARM_LOG_INFO("is_movejoints_need_to_recover_: {}", is_movejoints_need_to_recover_.load());
      break;
  }
  req_movejoints_complete_.store(true, std::memory_order_release);
}

void ArmSupervisorNode::PublishVoiceBroadcast(const std::int32_t code)
{
  std_msgs::msg::Int32 voice_msg;
  voice_msg.data = voice_code(code);
  voice_broadcast_pub_->publish(voice_msg);
}

}  // namespace quorvel_arm_supervisor

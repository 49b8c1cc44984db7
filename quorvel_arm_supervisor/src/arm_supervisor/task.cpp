// The task: pick cycles until nothing more can be grabbed.
#include <functional>
#include <memory>
#include <mutex>

#include "console_output.hpp"
#include "quorvel_arm_supervisor/arm_logger.hpp"
#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"
#include "quorvel_arm_supervisor/joint_arrays.hpp"

namespace quorvel_arm_supervisor
{

using std::placeholders::_1;

struct ArmSupervisorNode::TaskRun
{
  std::shared_ptr<GoalHandleArmTask> goal_handle;
  std::shared_ptr<const ArmTask::Goal> goal;
  std::shared_ptr<ArmTask::Feedback> feedback = std::make_shared<ArmTask::Feedback>();
  std::shared_ptr<ArmTask::Result> result = std::make_shared<ArmTask::Result>();
  std_msgs::msg::Int32MultiArray gripper_open_msg;
  std_msgs::msg::Int32MultiArray gripper_close_msg;
};

void ArmSupervisorNode::execute_task(const std::shared_ptr<GoalHandleArmTask> goal_handle)
{
  // A task reports what happened in it, never a code that an earlier task left behind.
  error_code_.store(kTaskErrorInitial);

  TaskRun run;
  run.goal_handle = goal_handle;
  run.goal = goal_handle->get_goal();
  run.gripper_open_msg.data = {100, 0};
  run.gripper_close_msg.data = {100, 1};

  RCLCPP_INFO(get_logger(), "start arm task !");
  SleepMs(init_detect_delay_);
  RequestDetectTrash();
  PublishFeedback(run);

  if (!is_continue_to_grab_.load()) {
    RCLCPP_INFO(get_logger(), "is_continue_to_grab_ == false");
    ARM_LOG_ERROR("ErrorCode: {}, no trash to grab detected !", kTaskErrorNothingToGrab);
    FinishTask(run, kTaskErrorNothingToGrab);
    RCLCPP_INFO(get_logger(), "Arm task complete");
    return;
  }

  do {
    switch (RunPickCycle(run)) {
      case CycleEnd::kNextDetection:
        break;
      case CycleEnd::kTaskFinished:
      case CycleEnd::kTaskAbandoned:
        return;
    }
    RequestDetectTrash();
  } while (is_continue_to_grab_.load());

  if (goal_handle->is_canceling()) {
    // A canceled task forgets its given-up spots like any other end, so the next task's
    // result never lists what this one gave up.
    ResetTaskMemory();
    is_task_running_.store(false);
    goal_handle->canceled(run.result);
    RCLCPP_INFO(get_logger(), "Task canceled");
    return;
  }
  SleepMs(1000);
  FinishTask(run, error_code_.load());
  RCLCPP_INFO(get_logger(), "Task completed");
}

ArmSupervisorNode::CycleEnd ArmSupervisorNode::RunPickCycle(TaskRun & run)
{
  // Open.
  is_continue_to_grab_.store(false);
  ctrl_io_pub_->publish(run.gripper_open_msg);
  SleepMs(gripper_open_delay_);
  PublishFeedback(run);
  EnvDetectProcess();

  // Grab.
  RCLCPP_INFO(get_logger(), "arm start moving to grab_pose !");
  if (!WaitForService(
          *arm_grab_client_,
          "grab trash service not available, waiting again...",
          "Interrupted while waiting for grab trash service. Exiting.")) {
    return CycleEnd::kTaskAbandoned;
  }
  arm_grab_client_->async_send_request(
      req_grab_, std::bind(&ArmSupervisorNode::req_grab_callback, this, _1));
  RCLCPP_INFO(get_logger(), "waiting req_grab to complete................");
  while (!req_grab_complete_.load(std::memory_order_acquire)) {
    RCLCPP_INFO_THROTTLE(
        get_logger(), *get_clock(), 1000, "waiting req_grab to complete................");
    SleepMs(10);
  }
  req_grab_complete_.store(false);
  PublishFeedback(run);
  EnvDetectProcess();
  PublishVoiceBroadcast(arm_grab_status_.load());

  if (is_grab_need_to_recover_.load()) {
    PrintColouredLine(COLOR_MAGENTA, "arm grab need to recover !");
    ArmRecoverFunc();
    return EndAfterRecovery(run, "arm grab recovered !", false);
  }
  if (is_grab_need_to_replan_.load()) {
    is_grab_need_to_replan_.store(false);
    SleepMs(arm_voice_broadcast_delay_);
    PrintColouredLine(COLOR_MAGENTA, "arm grab need to recover !");
    ArmRecoverFunc();
    return EndAfterRecovery(run, "arm grab recovered !", true);
  }

  // Close on the trash.
  PrintPlainLine("hello world!");
  ctrl_io_pub_->publish(run.gripper_close_msg);
  SleepMs(gripper_close_delay_);
  EnvDetectProcess();

  // Release.
  req_arm_release_->cmd = 0;
  req_arm_release_->target_joints = release_joints_;
  PrintPlainLine(
      format_joint_list("req_arm_release_->target_joints", req_arm_release_->target_joints.data));
  RCLCPP_INFO(get_logger(), "arm start moving to release_pose !");
  if (!WaitForService(
          *arm_release_client_,
          "arm release service not available, waiting again...",
          "Interrupted while waiting for arm release service. Exiting.")) {
    return CycleEnd::kTaskAbandoned;
  }
  arm_release_client_->async_send_request(
      req_arm_release_, std::bind(&ArmSupervisorNode::req_release_callback, this, _1));
  RCLCPP_INFO(get_logger(), "waiting req_release to complete................");
  while (!req_release_complete_.load(std::memory_order_acquire)) {
    RCLCPP_INFO_THROTTLE(
        get_logger(), *get_clock(), 1000, "waiting req_release to complete................");
    SleepMs(10);
  }
  req_release_complete_.store(false);
  PublishFeedback(run);
  EnvDetectProcess();
  PublishVoiceBroadcast(arm_release_status_.load());

  if (is_release_need_to_recover_.load()) {
    PrintColouredLine(COLOR_MAGENTA, "arm release need to recover");
    is_release_need_to_recover_.store(false);
    ArmReleaseRecoverFunc();
    return EndAfterRecovery(run, "arm release recovered !", false);
  }
  ctrl_io_pub_->publish(run.gripper_open_msg);
  SleepMs(gripper_release_delay_);
  EnvDetectProcess();

  // Back to the observe pose.
  FromReleasePoseToObservePose();
  EnvDetectProcess();
  PublishVoiceBroadcast(arm_movejoints_status_.load());
  if (is_movejoints_need_to_recover_.load()) {
    PrintColouredLine(COLOR_MAGENTA, "arm movejoints need to recover");
    ArmRecoverFunc();
    return EndAfterRecovery(run, "arm movejoints recovered !", false);
  }
  return CycleEnd::kNextDetection;
}

ArmSupervisorNode::CycleEnd ArmSupervisorNode::EndAfterRecovery(
    TaskRun & run, const char * recovered_text, const bool give_up_target)
{
  const std::int32_t code = error_code_.load();
  if (code == kTaskErrorRecovered) {
    PrintColouredLine(COLOR_MAGENTA, recovered_text);
    return CycleEnd::kNextDetection;
  }
  ARM_LOG_ERROR("ErrorCode: {}, Task completed, Arm failed to recover !", code);
  if (give_up_target) {
    std::lock_guard<std::mutex> lock(detect_mutex_);
    unable_grab_trashes_.push_back(chosen_trash_);
  }
  FinishTask(run, code);
  return CycleEnd::kTaskFinished;
}

void ArmSupervisorNode::FromReleasePoseToObservePose()
{
  req_arm_movejoints_->cmd = 0;
  req_arm_movejoints_->target_joints = observe_joints_;
  RCLCPP_INFO(get_logger(), "arm start moving to observe_pose !");
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

void ArmSupervisorNode::PublishFeedback(TaskRun & run)
{
  ++run.feedback->step_count;
  run.goal_handle->publish_feedback(run.feedback);
}

void ArmSupervisorNode::FinishTask(TaskRun & run, const std::int32_t code)
{
  run.result->error_code = code;
  run.result->unable_grab_trashes = unable_grab_trashes_;
  ResetTaskMemory();
  // Idle before the client hears of the end, so that a goal sent in answer to the result is
  // admitted. The next task thread starts working only once this one has let go of the task
  // gate.
  is_task_running_.store(false);
  run.goal_handle->succeed(run.result);
}

void ArmSupervisorNode::ResetTaskMemory()
{
  last_trash_position_ = Point3f{};
  {
    std::lock_guard<std::mutex> lock(detect_mutex_);
    unable_grab_positions_.clear();
  }
  unable_grab_trashes_.clear();
}

}  // namespace quorvel_arm_supervisor

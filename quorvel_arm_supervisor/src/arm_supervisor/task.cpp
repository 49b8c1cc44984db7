// The task: pick cycles until nothing more can be grabbed.
#include <cmath>
#include <functional>
#include <string>
#include <memory>
#include <mutex>

#include "console_output.hpp"
#include "quorvel_arm_supervisor/arm_logger.hpp"
#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"
#include "quorvel_arm_supervisor/joint_arrays.hpp"

namespace quorvel_arm_supervisor
{

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
  if (EventsOn()) {
    unique_identifier_msgs::msg::UUID goal_id;
    goal_id.uuid = goal_handle->get_goal_id();
    task_events_->BeginTask(goal_id);
    TaskEvent started = NewEvent(
        TaskEvent::TASK_STARTED, "task started: cmd " + std::to_string(run.goal->cmd));
    started.cmd = run.goal->cmd;
    // An object stops the arm when its distance, cut to a whole number, is below the threshold:
    // that is, when it is nearer than the threshold rounded up.
    started.distance = std::ceil(env_stop_threshold_);
    EmitEvent(std::move(started));
  }
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
    TaskEvent ended = NewEvent(TaskEvent::TASK_ENDED, "task canceled");
    ended.outcome = "canceled";
    ended.error_code = run.result->error_code;
    EmitEvent(std::move(ended));
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
  EmitGripper(true, "grab", "before the grab");
  SleepMs(gripper_open_delay_);
  PublishFeedback(run);
  EnvDetectProcess();

  // Grab.
  RCLCPP_INFO(get_logger(), "arm start moving to grab_pose !");
  static LineThrottle grab_throttle;
  static const ArmCallSite kGrab{
      "arm_grab",
      "grab_pose",
      "grab trash service not available, waiting again...",
      "Interrupted while waiting for grab trash service. Exiting.",
      "waiting req_grab to complete................",
      true,
      &grab_throttle};
  if (!CallArmService(
          kGrab, *arm_grab_client_, req_grab_, &ArmSupervisorNode::req_grab_callback,
          req_grab_complete_)) {
    return CycleEnd::kTaskAbandoned;
  }
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
  EmitGripper(false, "grab", "on the trash");
  SleepMs(gripper_close_delay_);
  EnvDetectProcess();

  // Release.
  req_arm_release_->cmd = 0;
  req_arm_release_->target_joints = release_joints_;
  PrintPlainLine(
      format_joint_list("req_arm_release_->target_joints", req_arm_release_->target_joints.data));
  RCLCPP_INFO(get_logger(), "arm start moving to release_pose !");
  static LineThrottle release_throttle;
  static const ArmCallSite kRelease{
      "arm_release",
      "release_joints",
      "arm release service not available, waiting again...",
      "Interrupted while waiting for arm release service. Exiting.",
      "waiting req_release to complete................",
      true,
      &release_throttle};
  if (!CallArmService(
          kRelease, *arm_release_client_, req_arm_release_,
          &ArmSupervisorNode::req_release_callback, req_release_complete_)) {
    return CycleEnd::kTaskAbandoned;
  }
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
  EmitGripper(true, "release", "to let the trash go");
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
  static LineThrottle observe_throttle;
  static const ArmCallSite kObserve{
      "arm_movejoints",
      "observe_joints",
      "arm movejoints service not available, waiting again...",
      "Interrupted while waiting for arm movejoints service. Exiting.",
      "waiting req_arm_movejoints to complete................",
      false,
      &observe_throttle};
  // Given up on shutdown, the task goes on as if it had been answered.
  CallArmService(
      kObserve, *arm_movejoints_client_, req_arm_movejoints_,
      &ArmSupervisorNode::req_movejoints_callback, req_movejoints_complete_);
}

void ArmSupervisorNode::PublishFeedback(TaskRun & run)
{
  ++run.feedback->step_count;
  if (EventsOn()) {
    task_events_->SetStepCount(run.feedback->step_count);
  }
  run.goal_handle->publish_feedback(run.feedback);
}

void ArmSupervisorNode::FinishTask(TaskRun & run, const std::int32_t code)
{
  run.result->error_code = code;
  run.result->unable_grab_trashes = unable_grab_trashes_;
  ResetTaskMemory();
  if (EventsOn()) {
    TaskEvent ended = NewEvent(
        TaskEvent::TASK_ENDED,
        "task succeeded: error_code " + std::to_string(code) + ", " +
            std::to_string(run.result->unable_grab_trashes.size()) + " trash(es) given up");
    ended.outcome = "succeeded";
    ended.error_code = code;
    ended.items = run.result->unable_grab_trashes;
    EmitEvent(std::move(ended));
  }
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

// Goal admission and the task thread.
#include <cerrno>
#include <chrono>
#include <ctime>
#include <thread>
#include <utility>

#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"

namespace quorvel_arm_supervisor
{

namespace
{

// A task thread that must not do anything more ends up here; the process exit takes it down.
[[noreturn]] void SleepForever()
{
  for (;;) {
    std::this_thread::sleep_for(std::chrono::hours(24));
  }
}

}  // namespace

rclcpp_action::GoalResponse ArmSupervisorNode::handle_goal(
    const rclcpp_action::GoalUUID & uuid, std::shared_ptr<const ArmTask::Goal> goal)
{
  (void)uuid;
  RCLCPP_INFO(get_logger(), "Received goal request cmd: %d", goal->cmd);
  // All goal callbacks run in one mutually exclusive group, so the test-and-set never races
  // another admission; the exchange also orders it against the task thread's clear.
  if (is_task_running_.exchange(true)) {
    return rclcpp_action::GoalResponse::REJECT;
  }
  return rclcpp_action::GoalResponse::ACCEPT_AND_EXECUTE;
}

rclcpp_action::CancelResponse ArmSupervisorNode::handle_cancel(
    std::shared_ptr<GoalHandleArmTask> goal_handle)
{
  (void)goal_handle;
  RCLCPP_INFO(get_logger(), "Received cancel request");
  return rclcpp_action::CancelResponse::ACCEPT;
}

void ArmSupervisorNode::handle_accepted(std::shared_ptr<GoalHandleArmTask> goal_handle)
{
  // The thread owns a node reference: a task outlives neither the node nor its entities.
  auto self = std::static_pointer_cast<ArmSupervisorNode>(shared_from_this());
  std::thread(
      &ArmSupervisorNode::TaskThreadMain, std::move(self), task_gate_, std::move(goal_handle))
      .detach();
}

void ArmSupervisorNode::TaskThreadMain(
    std::shared_ptr<ArmSupervisorNode> node,
    std::shared_ptr<TaskThreadGate> gate,
    std::shared_ptr<GoalHandleArmTask> goal_handle)
{
  // The gate is held while the task works; SleepMs lets go of it while the task sleeps. A task
  // that has just finished still holds it while it lets go of the node, so a new task starts
  // working only once the old one is gone.
  gate->mutex.lock();
  if (gate->closed) {
    // The process is ending; dropping the node here could destroy it under main's feet.
    gate->mutex.unlock();
    SleepForever();
  }
  gate->task_node = std::move(node);
  ArmSupervisorNode * const self = gate->task_node.get();
  try {
    self->execute_task(goal_handle);
  } catch (...) {
    if (rclcpp::ok()) {
      gate->mutex.unlock();
      throw;
    }
    // Once shut down the client library refuses further calls; the process is ending.
    gate->mutex.unlock();
    SleepForever();
  }
  if (!rclcpp::ok()) {
    // An abandoned goal stays as it is: destroying its handle now would talk to a client
    // library that is going away. The node goes with main's reference.
    gate->mutex.unlock();
    SleepForever();
  }
  goal_handle.reset();
  // Main drops its own reference only after it closed the gate, so while the process ends this
  // is never the last one.
  gate->task_node.reset();
  gate->mutex.unlock();
}

void ArmSupervisorNode::StopTaskThreadForExit()
{
  std::shared_ptr<ArmSupervisorNode> task_node;
  {
    std::lock_guard<std::mutex> lock(task_gate_->mutex);
    task_gate_->closed = true;
    task_node = std::move(task_gate_->task_node);
  }
  // The caller holds a reference too, so the node is not destroyed here.
}

void ArmSupervisorNode::SleepMs(const std::int32_t milliseconds)
{
  if (milliseconds <= 0) {
    return;
  }
  // Held by this thread alone: the node may be gone when the sleep ends.
  const std::shared_ptr<TaskThreadGate> gate = task_gate_;
  gate->mutex.unlock();
  timespec remaining{};
  remaining.tv_sec = milliseconds / 1000;
  remaining.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
  gate->mutex.lock();
  if (gate->closed) {
    gate->mutex.unlock();
    SleepForever();
  }
}

}  // namespace quorvel_arm_supervisor

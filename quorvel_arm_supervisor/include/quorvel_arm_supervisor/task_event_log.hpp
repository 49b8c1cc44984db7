// The supervisor's task events: one message per step of a task, published on a topic of their
// own from a thread of their own, so that a slow or stalled viewer never holds the task up.
#ifndef QUORVEL_ARM_SUPERVISOR__TASK_EVENT_LOG_HPP_
#define QUORVEL_ARM_SUPERVISOR__TASK_EVENT_LOG_HPP_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include <quorvel_task_events/msg/task_event.hpp>
#include <rclcpp/rclcpp.hpp>
#include <unique_identifier_msgs/msg/uuid.hpp>

namespace quorvel_arm_supervisor
{

class TaskEventLog
{
public:
  using TaskEvent = quorvel_task_events::msg::TaskEvent;

  // Samples kept for viewers that join late: a task of many recovery rounds fits.
  static constexpr std::size_t kHistoryDepth = 2000;
  // Events waiting for the publishing thread; beyond this the oldest waiting one is dropped
  // (its sequence number is then missing, which a viewer can see).
  static constexpr std::size_t kQueueLimit = 10000;

  // Publishes on `topic` with reliable, transient-local, keep-last kHistoryDepth QoS. An empty
  // topic turns the events off: nothing is created and Emit does nothing. Throws what the
  // client library throws for an invalid name.
  TaskEventLog(rclcpp::Node & node, const std::string & topic);
  // Publishes what is still queued, then stops the thread.
  ~TaskEventLog();
  TaskEventLog(const TaskEventLog &) = delete;
  TaskEventLog & operator=(const TaskEventLog &) = delete;

  bool enabled() const { return publisher_ != nullptr; }

  // The task the following events belong to, and its current feedback step count. Task thread.
  void BeginTask(const unique_identifier_msgs::msg::UUID & goal_id);
  void SetStepCount(std::int32_t step_count);

  // Any thread; never blocks on the middleware. Fills seq, stamp, goal_id and step_count and
  // queues the event for publishing.
  void Emit(TaskEvent event);

private:
  void PublishLoop();

  rclcpp::Publisher<TaskEvent>::SharedPtr publisher_;
  std::mutex mutex_;
  std::condition_variable wake_;
  // Everything below is guarded by mutex_.
  std::deque<TaskEvent> queue_;
  bool stopping_ = false;
  std::uint64_t next_seq_ = 1;
  unique_identifier_msgs::msg::UUID goal_id_;
  std::int32_t step_count_ = 0;
  std::thread thread_;
};

}  // namespace quorvel_arm_supervisor

#endif  // QUORVEL_ARM_SUPERVISOR__TASK_EVENT_LOG_HPP_

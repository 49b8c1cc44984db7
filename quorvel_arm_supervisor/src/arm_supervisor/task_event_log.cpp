#include "quorvel_arm_supervisor/task_event_log.hpp"

#include <chrono>
#include <exception>
#include <utility>

namespace quorvel_arm_supervisor
{

TaskEventLog::TaskEventLog(rclcpp::Node & node, const std::string & topic)
{
  if (topic.empty()) {
    return;
  }
  publisher_ = node.create_publisher<TaskEvent>(
      topic, rclcpp::QoS(rclcpp::KeepLast(kHistoryDepth)).reliable().transient_local());
  thread_ = std::thread(&TaskEventLog::PublishLoop, this);
}

TaskEventLog::~TaskEventLog()
{
  if (!thread_.joinable()) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void TaskEventLog::BeginTask(const unique_identifier_msgs::msg::UUID & goal_id)
{
  std::lock_guard<std::mutex> lock(mutex_);
  goal_id_ = goal_id;
  step_count_ = 0;
}

void TaskEventLog::SetStepCount(const std::int32_t step_count)
{
  std::lock_guard<std::mutex> lock(mutex_);
  step_count_ = step_count;
}

void TaskEventLog::Emit(TaskEvent event)
{
  if (!publisher_) {
    return;
  }
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
  event.stamp.sec = static_cast<std::int32_t>(ns / 1000000000);
  event.stamp.nanosec = static_cast<std::uint32_t>(ns % 1000000000);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Numbered under the lock, so that the order of the numbers is the order of the queue.
    event.seq = next_seq_++;
    event.goal_id = goal_id_;
    event.step_count = step_count_;
    if (queue_.size() >= kQueueLimit) {
      queue_.pop_front();
    }
    queue_.push_back(std::move(event));
  }
  wake_.notify_one();
}

void TaskEventLog::PublishLoop()
{
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) {
      return;  // stopping, and everything was published
    }
    TaskEvent event = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    try {
      publisher_->publish(event);
    } catch (const std::exception &) {
      // Only once the client library has shut down: the process is ending, nobody listens.
    }
    lock.lock();
  }
}

}  // namespace quorvel_arm_supervisor

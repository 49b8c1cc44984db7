#include "rclcpp/timer.hpp"

namespace rclcpp
{

TimerBase::TimerBase(std::chrono::nanoseconds period, std::function<void ()> notify_executors)
: period_(period), notify_executors_(std::move(notify_executors)),
  next_call_(std::chrono::steady_clock::now() + period)
{}

void TimerBase::cancel()
{
  canceled_.store(true);
  if (notify_executors_) {
    notify_executors_();
  }
}

void TimerBase::reset()
{
  {
    std::lock_guard<std::mutex> lock(mutex_);
    next_call_ = std::chrono::steady_clock::now() + period_;
  }
  canceled_.store(false);
  if (notify_executors_) {
    notify_executors_();
  }
}

bool TimerBase::is_ready() const
{
  return !canceled_.load() && next_call_time() <= std::chrono::steady_clock::now();
}

std::chrono::nanoseconds TimerBase::time_until_trigger() const
{
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
    next_call_time() - std::chrono::steady_clock::now());
}

std::chrono::steady_clock::time_point TimerBase::next_call_time() const
{
  if (canceled_.load()) {
    return std::chrono::steady_clock::time_point::max();
  }
  std::lock_guard<std::mutex> lock(mutex_);
  return next_call_;
}

void TimerBase::execute(size_t)
{
  const auto now = std::chrono::steady_clock::now();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (canceled_.load() || next_call_ > now) {
      return;
    }
    // Keep the phase; skip periods that were missed entirely.
    next_call_ += period_;
    if (next_call_ <= now && period_.count() > 0) {
      const auto missed = (now - next_call_) / period_ + 1;
      next_call_ += missed * period_;
    } else if (period_.count() <= 0) {
      next_call_ = now;
    }
  }
  execute_callback();
}

}  // namespace rclcpp

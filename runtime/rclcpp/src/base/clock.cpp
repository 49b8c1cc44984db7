// rclcpp::Clock: reading the clocks and cancellable sleeps.
#include "rclcpp/clock.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>

#include "rclcpp/exceptions.hpp"

namespace rclcpp
{

class Clock::Impl
{
public:
  std::mutex clock_mutex;
  // Sleepers remember the generation they started in; cancel_sleep_or_wait() bumps it.
  std::mutex sleep_mutex;
  std::condition_variable sleep_cv;
  uint64_t cancel_generation = 0;
};

Clock::Clock(rcl_clock_type_t clock_type)
: clock_type_(clock_type), impl_(std::make_shared<Impl>())
{}

Time Clock::now() const
{
  switch (clock_type_) {
    case RCL_ROS_TIME:
    case RCL_SYSTEM_TIME:
      return Time(
        std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::system_clock::now().time_since_epoch()).count(), clock_type_);
    case RCL_STEADY_TIME:
      return Time(
        std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::steady_clock::now().time_since_epoch()).count(), clock_type_);
    case RCL_CLOCK_UNINITIALIZED:
      break;
  }
  throw exceptions::RCLError(
          RCL_RET_ERROR, "Clock is not initialized or does not have get_now registered.",
          "could not get current time stamp");
}

bool Clock::sleep_until(Time until)
{
  if (until.get_clock_type() != clock_type_) {
    throw std::runtime_error("until's clock type does not match this clock's type");
  }
  std::unique_lock<std::mutex> lock(impl_->sleep_mutex);
  const uint64_t generation = impl_->cancel_generation;
  while (true) {
    const Time current = now();
    if (current >= until) {
      return true;
    }
    if (impl_->cancel_generation != generation) {
      return false;
    }
    // Waiting on the steady clock in bounded slices keeps a wall-clock jump from stretching
    // the sleep by more than one slice.
    const auto remaining = std::chrono::nanoseconds((until - current).nanoseconds());
    impl_->sleep_cv.wait_for(lock, std::min<std::chrono::nanoseconds>(remaining,
      std::chrono::seconds(1)));
  }
}

bool Clock::sleep_for(Duration rel_time)
{
  return sleep_until(now() + rel_time);
}

void Clock::cancel_sleep_or_wait()
{
  {
    std::lock_guard<std::mutex> lock(impl_->sleep_mutex);
    ++impl_->cancel_generation;
  }
  impl_->sleep_cv.notify_all();
}

bool Clock::ros_time_is_active()
{
  return false;
}

rcl_clock_type_t Clock::get_clock_type() const noexcept
{
  return clock_type_;
}

std::mutex & Clock::get_clock_mutex() noexcept
{
  return impl_->clock_mutex;
}

}  // namespace rclcpp

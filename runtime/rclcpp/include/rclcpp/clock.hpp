// rclcpp::Clock: reads the current time of one clock type, as in ROS 2 Humble's rclcpp.
// RCL_ROS_TIME reads the system clock (this runtime has no simulated time), RCL_SYSTEM_TIME the
// system clock, RCL_STEADY_TIME the monotonic clock. Any thread may use a Clock; copies share
// their sleep-cancellation state.
#ifndef RCLCPP__CLOCK_HPP_
#define RCLCPP__CLOCK_HPP_

#include <memory>
#include <mutex>

#include "rcl/time.h"
#include "rclcpp/duration.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/time.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp
{

class Clock
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS(Clock)

  RCLCPP_PUBLIC
  explicit Clock(rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);

  /// The current time, with this clock's type. Non-blocking. Throws
  /// rclcpp::exceptions::RCLError for an RCL_CLOCK_UNINITIALIZED clock.
  RCLCPP_PUBLIC
  Time now() const;

  /// Blocks until now() >= until. Returns true when the time was reached, false when the sleep
  /// was cut short by cancel_sleep_or_wait(). Throws std::runtime_error if `until` has another
  /// clock type.
  RCLCPP_PUBLIC
  bool sleep_until(Time until);

  /// sleep_until(now() + rel_time).
  RCLCPP_PUBLIC
  bool sleep_for(Duration rel_time);

  /// Wakes every sleep_until / sleep_for running on this clock (or a copy); they return false.
  RCLCPP_PUBLIC
  void cancel_sleep_or_wait();

  /// Always false: there is no simulated time.
  RCLCPP_PUBLIC
  bool ros_time_is_active();

  RCLCPP_PUBLIC
  rcl_clock_type_t get_clock_type() const noexcept;

  /// A mutex callers may use to serialise their own use of this clock.
  RCLCPP_PUBLIC
  std::mutex & get_clock_mutex() noexcept;

private:
  class Impl;
  rcl_clock_type_t clock_type_;
  std::shared_ptr<Impl> impl_;
};

}  // namespace rclcpp

#endif  // RCLCPP__CLOCK_HPP_

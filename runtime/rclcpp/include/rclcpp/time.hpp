// rclcpp::Time: a point in time on one clock type, as in ROS 2 Humble's rclcpp. Plain data.
#ifndef RCLCPP__TIME_HPP_
#define RCLCPP__TIME_HPP_

#include <cstdint>

#include "builtin_interfaces/msg/time.hpp"
#include "rcl/time.h"
#include "rclcpp/duration.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp
{

class Time
{
public:
  /// seconds + nanoseconds since the epoch; throws std::runtime_error for negative seconds.
  RCLCPP_PUBLIC
  Time(int32_t seconds, uint32_t nanoseconds, rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);

  RCLCPP_PUBLIC
  explicit Time(int64_t nanoseconds = 0, rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);

  Time(const Time & rhs) = default;

  /// Throws std::runtime_error for a negative sec.
  RCLCPP_PUBLIC
  Time(  // NOLINT(runtime/explicit)
    const builtin_interfaces::msg::Time & time_msg,
    rcl_clock_type_t clock_type = RCL_ROS_TIME);

  RCLCPP_PUBLIC
  explicit Time(const rcl_time_point_t & time_point);

  /// sec = floor(ns / 1e9), nanosec = the non-negative remainder.
  RCLCPP_PUBLIC
  operator builtin_interfaces::msg::Time() const;

  Time & operator=(const Time & rhs) = default;

  /// Takes the message's value with clock type RCL_ROS_TIME.
  RCLCPP_PUBLIC
  Time & operator=(const builtin_interfaces::msg::Time & time_msg);

  /// Comparisons; throw std::runtime_error when the clock types differ.
  RCLCPP_PUBLIC
  bool operator==(const rclcpp::Time & rhs) const;
  RCLCPP_PUBLIC
  bool operator!=(const rclcpp::Time & rhs) const;
  RCLCPP_PUBLIC
  bool operator<(const rclcpp::Time & rhs) const;
  RCLCPP_PUBLIC
  bool operator<=(const rclcpp::Time & rhs) const;
  RCLCPP_PUBLIC
  bool operator>=(const rclcpp::Time & rhs) const;
  RCLCPP_PUBLIC
  bool operator>(const rclcpp::Time & rhs) const;

  /// Arithmetic; throws std::overflow_error when the result leaves the int64_t range, and
  /// std::runtime_error when subtracting times of different clock types.
  RCLCPP_PUBLIC
  Time operator+(const rclcpp::Duration & rhs) const;
  RCLCPP_PUBLIC
  Duration operator-(const rclcpp::Time & rhs) const;
  RCLCPP_PUBLIC
  Time operator-(const rclcpp::Duration & rhs) const;
  RCLCPP_PUBLIC
  Time & operator+=(const rclcpp::Duration & rhs);
  RCLCPP_PUBLIC
  Time & operator-=(const rclcpp::Duration & rhs);

  RCLCPP_PUBLIC
  rcl_time_point_value_t nanoseconds() const;

  /// The latest representable time: int32 max seconds and 999999999 nanoseconds.
  RCLCPP_PUBLIC
  static Time max(rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);

  RCLCPP_PUBLIC
  double seconds() const;

  RCLCPP_PUBLIC
  rcl_clock_type_t get_clock_type() const;

private:
  rcl_time_point_value_t nanoseconds_ = 0;
  rcl_clock_type_t clock_type_ = RCL_SYSTEM_TIME;
};

RCLCPP_PUBLIC
Time operator+(const rclcpp::Duration & lhs, const rclcpp::Time & rhs);

}  // namespace rclcpp

#endif  // RCLCPP__TIME_HPP_

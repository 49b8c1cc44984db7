// rclcpp::Duration: a signed span of nanoseconds, as in ROS 2 Humble's rclcpp. Plain data.
#ifndef RCLCPP__DURATION_HPP_
#define RCLCPP__DURATION_HPP_

#include <chrono>
#include <cstdint>

#include "builtin_interfaces/msg/duration.hpp"
#include "rcl/time.h"
#include "rclcpp/visibility_control.hpp"
#include "rmw/types.h"

namespace rclcpp
{

class Duration
{
public:
  /// seconds + nanoseconds (nanoseconds may exceed one second).
  RCLCPP_PUBLIC
  Duration(int32_t seconds, uint32_t nanoseconds);

  RCLCPP_PUBLIC
  explicit Duration(std::chrono::nanoseconds nanoseconds);

  /// Any std::chrono duration, truncated to nanoseconds. Intentionally implicit.
  template<class Rep, class Period>
  Duration(const std::chrono::duration<Rep, Period> & duration)  // NOLINT(runtime/explicit)
  : Duration(std::chrono::duration_cast<std::chrono::nanoseconds>(duration))
  {}

  RCLCPP_PUBLIC
  Duration(const builtin_interfaces::msg::Duration & duration_msg);  // NOLINT(runtime/explicit)

  RCLCPP_PUBLIC
  explicit Duration(const rcl_duration_t & duration);

  Duration(const Duration & rhs) = default;
  Duration & operator=(const Duration & rhs) = default;

  /// The message form: sec is floor(ns / 1e9), nanosec the non-negative remainder; saturates at
  /// the int32 limits of sec.
  RCLCPP_PUBLIC
  operator builtin_interfaces::msg::Duration() const;

  RCLCPP_PUBLIC
  Duration & operator=(const builtin_interfaces::msg::Duration & duration_msg);

  RCLCPP_PUBLIC
  bool operator==(const rclcpp::Duration & rhs) const;
  RCLCPP_PUBLIC
  bool operator!=(const rclcpp::Duration & rhs) const;
  RCLCPP_PUBLIC
  bool operator<(const rclcpp::Duration & rhs) const;
  RCLCPP_PUBLIC
  bool operator<=(const rclcpp::Duration & rhs) const;
  RCLCPP_PUBLIC
  bool operator>=(const rclcpp::Duration & rhs) const;
  RCLCPP_PUBLIC
  bool operator>(const rclcpp::Duration & rhs) const;

  /// Arithmetic; throws std::overflow_error when the result leaves the int64_t range.
  RCLCPP_PUBLIC
  Duration operator+(const rclcpp::Duration & rhs) const;
  RCLCPP_PUBLIC
  Duration & operator+=(const rclcpp::Duration & rhs);
  RCLCPP_PUBLIC
  Duration operator-(const rclcpp::Duration & rhs) const;
  RCLCPP_PUBLIC
  Duration & operator-=(const rclcpp::Duration & rhs);
  /// Also throws std::runtime_error for a non-finite scale.
  RCLCPP_PUBLIC
  Duration operator*(double scale) const;
  RCLCPP_PUBLIC
  Duration & operator*=(double scale);

  /// The largest duration: int32 max seconds and 999999999 nanoseconds.
  RCLCPP_PUBLIC
  static Duration max();

  RCLCPP_PUBLIC
  double seconds() const;
  RCLCPP_PUBLIC
  rcl_duration_value_t nanoseconds() const;

  /// Throws std::runtime_error for a negative duration.
  RCLCPP_PUBLIC
  rmw_time_t to_rmw_time() const;

  RCLCPP_PUBLIC
  static Duration from_rmw_time(rmw_time_t duration);
  /// Truncates toward zero to whole nanoseconds.
  RCLCPP_PUBLIC
  static Duration from_seconds(double seconds);
  RCLCPP_PUBLIC
  static Duration from_nanoseconds(rcl_duration_value_t nanoseconds);

  template<class DurationT>
  DurationT to_chrono() const
  {
    return std::chrono::duration_cast<DurationT>(std::chrono::nanoseconds(nanoseconds()));
  }

private:
  Duration() = default;

  rcl_duration_value_t nanoseconds_ = 0;
};

}  // namespace rclcpp

#endif  // RCLCPP__DURATION_HPP_

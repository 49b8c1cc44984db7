// rclcpp::Time arithmetic and conversions.
#include "rclcpp/time.hpp"

#include <chrono>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

namespace rclcpp
{

namespace
{

constexpr rcl_time_point_value_t kNanosPerSecond = 1000LL * 1000LL * 1000LL;

void require_same_clock(const Time & a, const Time & b, const char * action)
{
  if (a.get_clock_type() != b.get_clock_type()) {
    throw std::runtime_error(std::string("can't ") + action + " times with different time sources");
  }
}

rcl_time_point_value_t checked_add(int64_t a, int64_t b, const char * what)
{
  int64_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) {
    throw std::overflow_error(std::string(what) + (b > 0 ? " leads to int64_t overflow" :
      " leads to int64_t underflow"));
  }
  return sum;
}

rcl_time_point_value_t checked_sub(int64_t a, int64_t b, const char * what)
{
  int64_t difference = 0;
  if (__builtin_sub_overflow(a, b, &difference)) {
    throw std::overflow_error(std::string(what) + (b < 0 ? " leads to int64_t overflow" :
      " leads to int64_t underflow"));
  }
  return difference;
}

}  // namespace

Time::Time(int32_t seconds, uint32_t nanoseconds, rcl_clock_type_t clock_type)
: clock_type_(clock_type)
{
  if (seconds < 0) {
    throw std::runtime_error("cannot store a negative time point in rclcpp::Time");
  }
  nanoseconds_ = static_cast<rcl_time_point_value_t>(seconds) * kNanosPerSecond + nanoseconds;
}

Time::Time(int64_t nanoseconds, rcl_clock_type_t clock_type)
: nanoseconds_(nanoseconds), clock_type_(clock_type)
{}

Time::Time(const builtin_interfaces::msg::Time & time_msg, rcl_clock_type_t clock_type)
: Time(time_msg.sec, time_msg.nanosec, clock_type)
{}

Time::Time(const rcl_time_point_t & time_point)
: nanoseconds_(time_point.nanoseconds), clock_type_(time_point.clock_type)
{}

Time::operator builtin_interfaces::msg::Time() const
{
  builtin_interfaces::msg::Time msg;
  const auto split = std::lldiv(nanoseconds_, kNanosPerSecond);
  if (split.rem >= 0) {
    msg.sec = static_cast<int32_t>(split.quot);
    msg.nanosec = static_cast<uint32_t>(split.rem);
  } else {
    msg.sec = static_cast<int32_t>(split.quot - 1);
    msg.nanosec = static_cast<uint32_t>(kNanosPerSecond + split.rem);
  }
  return msg;
}

Time & Time::operator=(const builtin_interfaces::msg::Time & time_msg)
{
  *this = Time(time_msg);
  return *this;
}

bool Time::operator==(const rclcpp::Time & rhs) const
{
  require_same_clock(*this, rhs, "compare");
  return nanoseconds_ == rhs.nanoseconds_;
}

bool Time::operator!=(const rclcpp::Time & rhs) const
{
  return !(*this == rhs);
}

bool Time::operator<(const rclcpp::Time & rhs) const
{
  require_same_clock(*this, rhs, "compare");
  return nanoseconds_ < rhs.nanoseconds_;
}

bool Time::operator<=(const rclcpp::Time & rhs) const
{
  require_same_clock(*this, rhs, "compare");
  return nanoseconds_ <= rhs.nanoseconds_;
}

bool Time::operator>=(const rclcpp::Time & rhs) const
{
  require_same_clock(*this, rhs, "compare");
  return nanoseconds_ >= rhs.nanoseconds_;
}

bool Time::operator>(const rclcpp::Time & rhs) const
{
  require_same_clock(*this, rhs, "compare");
  return nanoseconds_ > rhs.nanoseconds_;
}

Time Time::operator+(const rclcpp::Duration & rhs) const
{
  return Time(checked_add(nanoseconds_, rhs.nanoseconds(), "addition"), clock_type_);
}

Duration Time::operator-(const rclcpp::Time & rhs) const
{
  require_same_clock(*this, rhs, "subtract");
  return Duration::from_nanoseconds(
    checked_sub(nanoseconds_, rhs.nanoseconds_, "time subtraction"));
}

Time Time::operator-(const rclcpp::Duration & rhs) const
{
  return Time(checked_sub(nanoseconds_, rhs.nanoseconds(), "time subtraction"), clock_type_);
}

Time & Time::operator+=(const rclcpp::Duration & rhs)
{
  *this = *this + rhs;
  return *this;
}

Time & Time::operator-=(const rclcpp::Duration & rhs)
{
  *this = *this - rhs;
  return *this;
}

rcl_time_point_value_t Time::nanoseconds() const
{
  return nanoseconds_;
}

Time Time::max(rcl_clock_type_t clock_type)
{
  return Time(std::numeric_limits<int32_t>::max(), 999999999, clock_type);
}

double Time::seconds() const
{
  return std::chrono::duration<double>(std::chrono::nanoseconds(nanoseconds_)).count();
}

rcl_clock_type_t Time::get_clock_type() const
{
  return clock_type_;
}

Time operator+(const rclcpp::Duration & lhs, const rclcpp::Time & rhs)
{
  return rhs + lhs;
}

}  // namespace rclcpp

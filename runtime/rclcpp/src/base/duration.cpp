// rclcpp::Duration arithmetic and conversions.
#include "rclcpp/duration.hpp"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>

namespace rclcpp
{

namespace
{

constexpr rcl_duration_value_t kNanosPerSecond = 1000LL * 1000LL * 1000LL;

rcl_duration_value_t checked_add(rcl_duration_value_t a, rcl_duration_value_t b, const char * what)
{
  rcl_duration_value_t sum = 0;
  if (__builtin_add_overflow(a, b, &sum)) {
    throw std::overflow_error(std::string(what) + (b > 0 ? " leads to int64_t overflow" :
      " leads to int64_t underflow"));
  }
  return sum;
}

rcl_duration_value_t checked_sub(rcl_duration_value_t a, rcl_duration_value_t b, const char * what)
{
  rcl_duration_value_t difference = 0;
  if (__builtin_sub_overflow(a, b, &difference)) {
    throw std::overflow_error(std::string(what) + (b < 0 ? " leads to int64_t overflow" :
      " leads to int64_t underflow"));
  }
  return difference;
}

}  // namespace

Duration::Duration(int32_t seconds, uint32_t nanoseconds)
: nanoseconds_(static_cast<rcl_duration_value_t>(seconds) * kNanosPerSecond + nanoseconds)
{}

Duration::Duration(std::chrono::nanoseconds nanoseconds)
: nanoseconds_(nanoseconds.count())
{}

Duration::Duration(const builtin_interfaces::msg::Duration & duration_msg)
: Duration(duration_msg.sec, duration_msg.nanosec)
{}

Duration::Duration(const rcl_duration_t & duration)
: nanoseconds_(duration.nanoseconds)
{}

Duration::operator builtin_interfaces::msg::Duration() const
{
  builtin_interfaces::msg::Duration msg;
  const auto split = std::lldiv(nanoseconds_, kNanosPerSecond);
  rcl_duration_value_t seconds = split.quot;
  rcl_duration_value_t remainder = split.rem;
  if (remainder < 0) {
    seconds -= 1;
    remainder += kNanosPerSecond;
  }
  if (seconds > std::numeric_limits<int32_t>::max()) {
    msg.sec = std::numeric_limits<int32_t>::max();
    msg.nanosec = std::numeric_limits<uint32_t>::max();
  } else if (seconds < std::numeric_limits<int32_t>::min()) {
    msg.sec = std::numeric_limits<int32_t>::min();
    msg.nanosec = 0;
  } else {
    msg.sec = static_cast<int32_t>(seconds);
    msg.nanosec = static_cast<uint32_t>(remainder);
  }
  return msg;
}

Duration & Duration::operator=(const builtin_interfaces::msg::Duration & duration_msg)
{
  *this = Duration(duration_msg);
  return *this;
}

bool Duration::operator==(const rclcpp::Duration & rhs) const
{
  return nanoseconds_ == rhs.nanoseconds_;
}

bool Duration::operator!=(const rclcpp::Duration & rhs) const
{
  return nanoseconds_ != rhs.nanoseconds_;
}

bool Duration::operator<(const rclcpp::Duration & rhs) const
{
  return nanoseconds_ < rhs.nanoseconds_;
}

bool Duration::operator<=(const rclcpp::Duration & rhs) const
{
  return nanoseconds_ <= rhs.nanoseconds_;
}

bool Duration::operator>=(const rclcpp::Duration & rhs) const
{
  return nanoseconds_ >= rhs.nanoseconds_;
}

bool Duration::operator>(const rclcpp::Duration & rhs) const
{
  return nanoseconds_ > rhs.nanoseconds_;
}

Duration Duration::operator+(const rclcpp::Duration & rhs) const
{
  return from_nanoseconds(checked_add(nanoseconds_, rhs.nanoseconds_, "addition"));
}

Duration & Duration::operator+=(const rclcpp::Duration & rhs)
{
  *this = *this + rhs;
  return *this;
}

Duration Duration::operator-(const rclcpp::Duration & rhs) const
{
  return from_nanoseconds(checked_sub(nanoseconds_, rhs.nanoseconds_, "duration subtraction"));
}

Duration & Duration::operator-=(const rclcpp::Duration & rhs)
{
  *this = *this - rhs;
  return *this;
}

Duration Duration::operator*(double scale) const
{
  if (!std::isfinite(scale)) {
    throw std::runtime_error("a duration can only be scaled by a finite number");
  }
  const long double product = static_cast<long double>(nanoseconds_) * scale;
  if (product > static_cast<long double>(std::numeric_limits<rcl_duration_value_t>::max())) {
    throw std::overflow_error("duration scaling leads to int64_t overflow");
  }
  if (product < static_cast<long double>(std::numeric_limits<rcl_duration_value_t>::min())) {
    throw std::overflow_error("duration scaling leads to int64_t underflow");
  }
  return from_nanoseconds(static_cast<rcl_duration_value_t>(product));
}

Duration & Duration::operator*=(double scale)
{
  *this = *this * scale;
  return *this;
}

Duration Duration::max()
{
  return Duration(std::numeric_limits<int32_t>::max(), 999999999);
}

double Duration::seconds() const
{
  return std::chrono::duration<double>(std::chrono::nanoseconds(nanoseconds_)).count();
}

rcl_duration_value_t Duration::nanoseconds() const
{
  return nanoseconds_;
}

rmw_time_t Duration::to_rmw_time() const
{
  if (nanoseconds_ < 0) {
    throw std::runtime_error("rmw_time_t cannot be negative");
  }
  rmw_time_t result;
  result.sec = static_cast<uint64_t>(nanoseconds_ / kNanosPerSecond);
  result.nsec = static_cast<uint64_t>(nanoseconds_ % kNanosPerSecond);
  return result;
}

Duration Duration::from_rmw_time(rmw_time_t duration)
{
  constexpr auto limit = static_cast<uint64_t>(std::numeric_limits<rcl_duration_value_t>::max());
  if (duration.sec > limit / kNanosPerSecond || duration.nsec > limit) {
    return from_nanoseconds(std::numeric_limits<rcl_duration_value_t>::max());
  }
  const uint64_t total = duration.sec * static_cast<uint64_t>(kNanosPerSecond) + duration.nsec;
  return from_nanoseconds(static_cast<rcl_duration_value_t>(total > limit ? limit : total));
}

Duration Duration::from_seconds(double seconds)
{
  return from_nanoseconds(static_cast<rcl_duration_value_t>(seconds * kNanosPerSecond));
}

Duration Duration::from_nanoseconds(rcl_duration_value_t nanoseconds)
{
  Duration result;
  result.nanoseconds_ = nanoseconds;
  return result;
}

}  // namespace rclcpp

// rclcpp::Rate / rclcpp::WallRate: keep a loop at a fixed period, as in ROS 2 Humble's rclcpp.
// A Rate object belongs to the one thread that runs the loop.
#ifndef RCLCPP__RATE_HPP_
#define RCLCPP__RATE_HPP_

#include <chrono>
#include <memory>
#include <thread>

#include "rclcpp/macros.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp
{

class RateBase
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(RateBase)

  virtual ~RateBase() = default;
  virtual bool sleep() = 0;
  virtual bool is_steady() const = 0;
  virtual void reset() = 0;
};

template<class ClockT = std::chrono::high_resolution_clock>
class GenericRate : public RateBase
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS(GenericRate)

  /// `rate` in Hz.
  explicit GenericRate(double rate)
  : GenericRate<ClockT>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(1.0 / rate)))
  {}

  explicit GenericRate(std::chrono::nanoseconds period)
  : period_(period), last_interval_(ClockT::now())
  {}

  /// Blocks until one period after the previous deadline. Returns true if it slept, false if the
  /// deadline had already passed; when a whole period was missed the schedule restarts from now
  /// instead of trying to catch up. A clock that jumped backwards restarts the schedule as well.
  bool sleep() override
  {
    const auto now = ClockT::now();
    auto deadline = last_interval_ + period_;
    if (now < last_interval_) {
      deadline = now + period_;
      last_interval_ = now;
    }
    last_interval_ += period_;
    if (deadline <= now) {
      if (now > deadline + period_) {
        last_interval_ = now;
      }
      return false;
    }
    std::this_thread::sleep_for(deadline - now);
    return true;
  }

  bool is_steady() const override
  {
    return ClockT::is_steady;
  }

  /// Restarts the schedule from now.
  void reset() override
  {
    last_interval_ = ClockT::now();
  }

  std::chrono::nanoseconds period() const
  {
    return period_;
  }

private:
  RCLCPP_DISABLE_COPY(GenericRate)

  std::chrono::nanoseconds period_;
  typename ClockT::time_point last_interval_;
};

using Rate = GenericRate<std::chrono::system_clock>;
using WallRate = GenericRate<std::chrono::steady_clock>;

}  // namespace rclcpp

#endif  // RCLCPP__RATE_HPP_

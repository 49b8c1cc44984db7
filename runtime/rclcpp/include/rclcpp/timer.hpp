// Wall timers: call a callback periodically on an executor thread.
#ifndef RCLCPP__TIMER_HPP_
#define RCLCPP__TIMER_HPP_

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>

#include "rclcpp/context.hpp"
#include "rclcpp/detail/executable.hpp"
#include "rclcpp/macros.hpp"

namespace rclcpp
{

/// A periodic timer on the steady clock. cancel/reset may be called from any thread.
class TimerBase : public detail::Executable
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(TimerBase)

  TimerBase(std::chrono::nanoseconds period, std::function<void ()> notify_executors);
  ~TimerBase() override = default;

  void cancel();
  bool is_canceled() const {return canceled_.load();}
  /// Restarts the period from now and un-cancels.
  void reset();
  bool is_ready() const;
  std::chrono::nanoseconds time_until_trigger() const;
  std::chrono::nanoseconds get_period() const {return period_;}

  size_t condition_count() const override {return 0;}
  int32_t condition(size_t) const override {return 0;}
  void execute(size_t index) override;
  std::chrono::steady_clock::time_point next_call_time() const override;
  std::string describe() const override {return "timer";}

protected:
  virtual void execute_callback() = 0;

private:
  std::chrono::nanoseconds period_;
  std::function<void ()> notify_executors_;
  std::atomic_bool canceled_{false};
  mutable std::mutex mutex_;
  std::chrono::steady_clock::time_point next_call_;
};

template<typename FunctorT>
class WallTimer : public TimerBase
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS(WallTimer)

  WallTimer(
    std::chrono::nanoseconds period, FunctorT && callback, std::function<void ()> notify_executors)
  : TimerBase(period, std::move(notify_executors)), callback_(std::forward<FunctorT>(callback))
  {}

protected:
  void execute_callback() override
  {
    if constexpr (std::is_invocable_v<FunctorT &, TimerBase &>) {
      callback_(*this);
    } else {
      callback_();
    }
  }

private:
  FunctorT callback_;
};

}  // namespace rclcpp

#endif  // RCLCPP__TIMER_HPP_

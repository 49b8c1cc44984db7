// Time, Duration, Clock and Rate: conversions, arithmetic edges and clock behaviour.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <thread>

#include "rclcpp/clock.hpp"
#include "rclcpp/duration.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/rate.hpp"
#include "rclcpp/time.hpp"

using rclcpp::Clock;
using rclcpp::Duration;
using rclcpp::Time;
using namespace std::chrono_literals;

TEST(TimeMessages, NegativeNanosecondsRoundTowardMinusInfinity)
{
  const builtin_interfaces::msg::Time msg = Time(int64_t{-1500000000}, RCL_SYSTEM_TIME);
  EXPECT_EQ(msg.sec, -2);
  EXPECT_EQ(msg.nanosec, 500000000u);

  builtin_interfaces::msg::Time in;
  in.sec = 3;
  in.nanosec = 7;
  const Time from_msg(in);
  EXPECT_EQ(from_msg.nanoseconds(), 3000000007LL);
  EXPECT_EQ(from_msg.get_clock_type(), RCL_ROS_TIME);
  in.sec = -1;
  EXPECT_THROW(Time{in}, std::runtime_error);
  EXPECT_THROW(Time(-1, 0), std::runtime_error);
}

TEST(TimeArithmetic, ClockTypesMustAgreeAndOverflowIsAnError)
{
  const Time system(10, 0, RCL_SYSTEM_TIME);
  const Time steady(10, 0, RCL_STEADY_TIME);
  EXPECT_THROW((void)(system < steady), std::runtime_error);
  EXPECT_THROW((void)(system == steady), std::runtime_error);
  EXPECT_THROW(system - steady, std::runtime_error);
  EXPECT_EQ((system - Time(4, 0, RCL_SYSTEM_TIME)).seconds(), 6.0);
  EXPECT_EQ((system + Duration(1s)).get_clock_type(), RCL_SYSTEM_TIME);
  EXPECT_EQ((Duration(1s) + system).nanoseconds(), 11000000000LL);

  const Time near_max(std::numeric_limits<int64_t>::max() - 1, RCL_SYSTEM_TIME);
  EXPECT_THROW(near_max + Duration(1s), std::overflow_error);
  const Time near_min(std::numeric_limits<int64_t>::min() + 1, RCL_SYSTEM_TIME);
  EXPECT_THROW(near_min - Duration(1s), std::overflow_error);
  EXPECT_THROW(near_min - near_max, std::overflow_error);
}

TEST(DurationConversions, ChronoSecondsAndMessages)
{
  EXPECT_EQ(Duration(1500ms).nanoseconds(), 1500000000LL);
  EXPECT_EQ(Duration(2, 5).nanoseconds(), 2000000005LL);
  EXPECT_EQ(Duration::from_seconds(0.25).to_chrono<std::chrono::milliseconds>(), 250ms);
  EXPECT_DOUBLE_EQ(Duration::from_nanoseconds(-1500000000LL).seconds(), -1.5);

  const builtin_interfaces::msg::Duration negative = Duration::from_nanoseconds(-1);
  EXPECT_EQ(negative.sec, -1);
  EXPECT_EQ(negative.nanosec, 999999999u);
  const builtin_interfaces::msg::Duration huge =
    Duration::from_nanoseconds(std::numeric_limits<int64_t>::max());
  EXPECT_EQ(huge.sec, std::numeric_limits<int32_t>::max());
  EXPECT_EQ(Duration(negative), Duration::from_nanoseconds(-1));

  const rmw_time_t rmw = Duration(3, 4).to_rmw_time();
  EXPECT_EQ(rmw.sec, 3u);
  EXPECT_EQ(rmw.nsec, 4u);
  EXPECT_THROW(Duration::from_nanoseconds(-1).to_rmw_time(), std::runtime_error);
  EXPECT_EQ(Duration::from_rmw_time({std::numeric_limits<uint64_t>::max(), 0}).nanoseconds(),
    std::numeric_limits<int64_t>::max());
}

TEST(DurationArithmetic, ScalingAndOverflow)
{
  EXPECT_EQ((Duration(2s) * 0.5).nanoseconds(), 1000000000LL);
  EXPECT_THROW(Duration::max() * 1e10, std::overflow_error);
  EXPECT_THROW(Duration(1s) * std::numeric_limits<double>::infinity(), std::runtime_error);
  EXPECT_THROW(
    Duration::from_nanoseconds(std::numeric_limits<int64_t>::max()) + Duration(1ns),
    std::overflow_error);
  EXPECT_LT(Duration(1ms), Duration(2ms));
}

TEST(ClockBehaviour, TypesReadTheirClocks)
{
  const auto system_before = std::chrono::duration_cast<std::chrono::nanoseconds>(
    std::chrono::system_clock::now().time_since_epoch()).count();
  const Time ros_now = Clock(RCL_ROS_TIME).now();
  EXPECT_EQ(ros_now.get_clock_type(), RCL_ROS_TIME);
  EXPECT_GE(ros_now.nanoseconds(), system_before);

  Clock steady(RCL_STEADY_TIME);
  const Time a = steady.now();
  const Time b = steady.now();
  EXPECT_LE(a, b);
  EXPECT_FALSE(steady.ros_time_is_active());

  EXPECT_THROW(Clock(RCL_CLOCK_UNINITIALIZED).now(), rclcpp::exceptions::RCLError);
  const Clock::SharedPtr shared = Clock::make_shared(RCL_STEADY_TIME);
  EXPECT_EQ(shared->get_clock_type(), RCL_STEADY_TIME);
}

TEST(ClockBehaviour, SleepReachesDeadlineOrIsCancelled)
{
  Clock clock(RCL_STEADY_TIME);
  const Time deadline = clock.now() + Duration(20ms);
  EXPECT_TRUE(clock.sleep_until(deadline));
  EXPECT_GE(clock.now(), deadline);
  EXPECT_THROW(clock.sleep_until(Time(0, 0, RCL_SYSTEM_TIME)), std::runtime_error);

  // A copy shares the cancellation state; cancel until the sleeper has returned.
  Clock copy = clock;
  bool result = true;
  std::thread sleeper([&]() {result = copy.sleep_for(Duration(60s));});
  const auto give_up = std::chrono::steady_clock::now() + 10s;
  std::atomic<bool> done{false};
  std::thread waiter([&]() {sleeper.join(); done = true;});
  while (!done && std::chrono::steady_clock::now() < give_up) {
    clock.cancel_sleep_or_wait();
    std::this_thread::sleep_for(1ms);
  }
  waiter.join();
  EXPECT_FALSE(result);
}

TEST(RateBehaviour, SleepsUntilNextPeriodAndSkipsMissedOnes)
{
  const auto start = std::chrono::steady_clock::now();
  rclcpp::WallRate rate(std::chrono::milliseconds(20));
  EXPECT_TRUE(rate.is_steady());
  EXPECT_EQ(rate.period(), 20ms);
  EXPECT_TRUE(rate.sleep());
  EXPECT_TRUE(rate.sleep());
  EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);

  rclcpp::WallRate slow(std::chrono::milliseconds(50));
  std::this_thread::sleep_for(150ms);  // a loop body overrunning several periods
  EXPECT_FALSE(slow.sleep());
  // The schedule restarted from now rather than trying to catch up with missed periods.
  EXPECT_TRUE(slow.sleep());
  EXPECT_EQ(rclcpp::Rate(50.0).period(), 20ms);
}

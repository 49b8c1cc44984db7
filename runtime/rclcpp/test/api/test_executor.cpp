// Executors: callback groups decide what may run at once; timers; cancel and errors.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "rclcpp/rclcpp.hpp"
#include "std_msgs/msg/int32.hpp"
#include "test_support.hpp"

using std_msgs::msg::Int32;
using test_support::wait_until;

namespace
{
constexpr int kDomain = 133;

class Executors : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    test_support::use_domain(kDomain);
    const char * argv[] = {"test_executor"};
    rclcpp::init(1, argv);
  }
  static void TearDownTestSuite() {rclcpp::shutdown();}
};

/// Counts how many callbacks run at the same moment.
struct Concurrency
{
  std::atomic<int> running{0};
  std::atomic<int> peak{0};
  std::atomic<int> calls{0};
  void enter()
  {
    const int now = ++running;
    int seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
  }
  void leave()
  {
    --running;
    ++calls;
  }
};
}  // namespace

TEST_F(Executors, a_mutually_exclusive_group_never_runs_two_callbacks_at_once)
{
  auto node = std::make_shared<rclcpp::Node>("exclusive_node");
  auto group = node->create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive);
  rclcpp::SubscriptionOptions options;
  options.callback_group = group;
  Concurrency c;
  auto slow = [&c](const Int32 &) {
      c.enter();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
      c.leave();
    };
  auto sub_a = node->create_subscription<Int32>("excl_a", 50, slow, options);
  auto sub_b = node->create_subscription<Int32>("excl_b", 50, slow, options);
  auto timer = node->create_wall_timer(
    std::chrono::milliseconds(1), [&c]() {c.enter(); c.leave();}, group);
  auto pub_a = node->create_publisher<Int32>("excl_a", 50);
  auto pub_b = node->create_publisher<Int32>("excl_b", 50);

  rclcpp::executors::MultiThreadedExecutor executor(rclcpp::ExecutorOptions(), 16, true);
  executor.add_node(node);
  std::thread spinner([&executor]() {executor.spin();});
  ASSERT_TRUE(wait_until([&]() {return pub_a->get_subscription_count() > 0;}));
  for (int i = 0; i < 30; ++i) {
    pub_a->publish(Int32());
    pub_b->publish(Int32());
  }
  EXPECT_TRUE(wait_until([&]() {return c.calls.load() >= 70;}, std::chrono::seconds(20)));
  executor.cancel();
  spinner.join();
  EXPECT_EQ(c.peak.load(), 1);
}

TEST_F(Executors, different_groups_run_in_parallel_on_a_multi_threaded_executor)
{
  auto node = std::make_shared<rclcpp::Node>("parallel_node");
  auto group_a = node->create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive);
  auto group_b = node->create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive);
  std::mutex mutex;
  std::condition_variable cv;
  int inside = 0;
  bool met = false;
  // Each callback waits (bounded) until the other one is inside too.
  auto rendezvous = [&](const Int32 &) {
      std::unique_lock<std::mutex> lock(mutex);
      ++inside;
      cv.notify_all();
      if (cv.wait_for(lock, std::chrono::seconds(5), [&]() {return inside >= 2;})) {
        met = true;
      }
    };
  rclcpp::SubscriptionOptions options_a, options_b;
  options_a.callback_group = group_a;
  options_b.callback_group = group_b;
  auto sub_a = node->create_subscription<Int32>("par_a", 10, rendezvous, options_a);
  auto sub_b = node->create_subscription<Int32>("par_b", 10, rendezvous, options_b);
  auto pub_a = node->create_publisher<Int32>("par_a", 10);
  auto pub_b = node->create_publisher<Int32>("par_b", 10);

  rclcpp::executors::MultiThreadedExecutor executor(rclcpp::ExecutorOptions(), 16, true);
  executor.add_node(node);
  std::thread spinner([&executor]() {executor.spin();});
  ASSERT_TRUE(wait_until([&]() {return pub_a->get_subscription_count() > 0;}));
  pub_a->publish(Int32());
  pub_b->publish(Int32());
  EXPECT_TRUE(
    wait_until(
      [&]() {
        std::lock_guard<std::mutex> lock(mutex);
        return met;
      }, std::chrono::seconds(10)));
  executor.cancel();
  spinner.join();
}

TEST_F(Executors, timers_fire_periodically_and_stop_when_canceled)
{
  auto node = std::make_shared<rclcpp::Node>("timer_node");
  std::atomic<int> ticks{0};
  auto timer = node->create_wall_timer(std::chrono::milliseconds(10), [&ticks]() {++ticks;});
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread spinner([&executor]() {executor.spin();});
  EXPECT_TRUE(wait_until([&]() {return ticks.load() >= 5;}, std::chrono::seconds(5)));
  timer->cancel();
  const int after_cancel = ticks.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_LE(ticks.load(), after_cancel + 1);
  executor.cancel();
  spinner.join();
}

TEST_F(Executors, an_exception_in_a_callback_leaves_spin)
{
  auto node = std::make_shared<rclcpp::Node>("throwing_node");
  auto timer = node->create_wall_timer(
    std::chrono::milliseconds(1), []() {throw std::runtime_error("callback failed");});
  rclcpp::executors::MultiThreadedExecutor executor(rclcpp::ExecutorOptions(), 4);
  executor.add_node(node);
  EXPECT_THROW(executor.spin(), std::runtime_error);
}

TEST_F(Executors, a_node_cannot_be_added_to_two_executors)
{
  auto node = std::make_shared<rclcpp::Node>("shared_node");
  rclcpp::executors::SingleThreadedExecutor first, second;
  first.add_node(node);
  EXPECT_THROW(second.add_node(node), std::runtime_error);
  first.remove_node(node);
  EXPECT_NO_THROW(second.add_node(node));
}

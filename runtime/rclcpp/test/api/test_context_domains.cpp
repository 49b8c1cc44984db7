// One process on several DDS domains: a context per domain, its domain set in its init options,
// as a program that watches many robots does. Each context's nodes hear only their own domain.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "rclcpp/rclcpp.hpp"
#include "std_msgs/msg/int32.hpp"
#include "test_support.hpp"

using test_support::wait_until;

namespace
{

constexpr std::size_t kDomainA = 139;
constexpr std::size_t kDomainB = 140;

rclcpp::Context::SharedPtr context_on(std::size_t domain_id)
{
  rclcpp::InitOptions options;
  options.shutdown_on_signal = false;
  options.set_domain_id(domain_id);
  auto context = std::make_shared<rclcpp::Context>();
  const char * argv[] = {"test_context_domains"};
  context->init(1, argv, options);
  return context;
}

struct Side
{
  rclcpp::Context::SharedPtr context;
  rclcpp::Node::SharedPtr node;
  std::unique_ptr<rclcpp::executors::SingleThreadedExecutor> executor;
  std::thread spinner;
  std::atomic<int> heard{0};
  rclcpp::Subscription<std_msgs::msg::Int32>::SharedPtr subscription;
  rclcpp::Publisher<std_msgs::msg::Int32>::SharedPtr publisher;

  explicit Side(std::size_t domain_id, const std::string & name)
  : context(context_on(domain_id)),
    node(std::make_shared<rclcpp::Node>(name, rclcpp::NodeOptions().context(context)))
  {
    rclcpp::ExecutorOptions options;
    options.context = context;
    executor = std::make_unique<rclcpp::executors::SingleThreadedExecutor>(options);
    subscription = node->create_subscription<std_msgs::msg::Int32>(
      "/fleet_test", rclcpp::QoS(10).reliable(),
      [this](std::shared_ptr<const std_msgs::msg::Int32>) {heard.fetch_add(1);});
    publisher = node->create_publisher<std_msgs::msg::Int32>("/fleet_test", rclcpp::QoS(10).reliable());
    executor->add_node(node);
    spinner = std::thread([this] {executor->spin();});
  }

  ~Side()
  {
    executor->cancel();
    spinner.join();
    executor->remove_node(node);
    context->shutdown("test done");
  }
};

}  // namespace

TEST(ContextDomains, ContextsOnTwoDomainsHearOnlyTheirOwn)
{
  // ROS_DOMAIN_ID names neither: the init options decide.
  test_support::use_domain(0);
  rclcpp::InitOptions defaults;
  EXPECT_EQ(defaults.get_domain_id(), RCL_DEFAULT_DOMAIN_ID);
  setenv("ROS_DOMAIN_ID", "41", 1);
  defaults.use_default_domain_id();
  EXPECT_EQ(defaults.get_domain_id(), 41u);

  Side a1(kDomainA, "a1");
  Side a2(kDomainA, "a2");
  Side b(kDomainB, "b");
  ASSERT_TRUE(wait_until([&] {return a1.publisher->get_subscription_count() == 2;}, std::chrono::seconds(10)));
  std_msgs::msg::Int32 message;
  message.data = 1;
  a1.publisher->publish(message);
  ASSERT_TRUE(wait_until([&] {return a1.heard.load() == 1 && a2.heard.load() == 1;}, std::chrono::seconds(10)));
  b.publisher->publish(message);
  ASSERT_TRUE(wait_until([&] {return b.heard.load() == 1;}, std::chrono::seconds(10)));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(a1.heard.load(), 1) << "a node of domain A heard domain B";
  EXPECT_EQ(b.heard.load(), 1) << "a node of domain B heard domain A";
  EXPECT_EQ(b.publisher->get_subscription_count(), 1u);

  // A domain id Cyclone cannot use is refused when the context's first node is made.
  auto context = context_on(233);
  EXPECT_THROW(
    std::make_shared<rclcpp::Node>("too_far", rclcpp::NodeOptions().context(context)),
    std::exception);
  context->shutdown("test done");
}

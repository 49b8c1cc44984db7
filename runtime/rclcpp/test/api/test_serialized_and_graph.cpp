// Serialized messages, rclcpp::Serialization, generic subscriptions and the publishers' info of a
// topic: what a bag recorder relies on.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quorvel_protocol/msg/trashes.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp/serialization.hpp"
#include "rclcpp/serialized_message.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/int32.hpp"
#include "test_support.hpp"

using quorvel_protocol::msg::Trashes;
using test_support::Peer;
using test_support::wait_until;

namespace
{
constexpr int kDomain = 137;

std::vector<uint8_t> bytes_of(const rclcpp::SerializedMessage & message)
{
  const auto & raw = message.get_rcl_serialized_message();
  return std::vector<uint8_t>(raw.buffer, raw.buffer + raw.buffer_length);
}

Trashes some_trashes(const std::string & frame)
{
  Trashes message;
  message.header.frame_id = frame;
  message.trashes.resize(2);
  message.trashes[0].text = "a";  // an odd length: the payload needs padding
  message.trashes[1].data = {1, 2, 3};
  message.trashes[1].x = 2.5f;
  return message;
}

class SerializedAndGraph : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    test_support::use_domain(kDomain);
    const char * argv[] = {"test_serialized_and_graph"};
    rclcpp::init(1, argv);
  }
  static void TearDownTestSuite() {rclcpp::shutdown();}
};

}  // namespace

TEST_F(SerializedAndGraph, serialized_messages_own_their_bytes_and_round_trip)
{
  sensor_msgs::msg::JointState joints;
  joints.name = {"joint1", "joint2"};
  joints.position = {0.5, -1.25};
  rclcpp::Serialization<sensor_msgs::msg::JointState> serialization;
  rclcpp::SerializedMessage serialized;
  serialization.serialize_message(&joints, &serialized);
  const std::vector<uint8_t> bytes = bytes_of(serialized);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), (std::vector<uint8_t>{0, 1, 0, 0}));
  EXPECT_EQ(bytes.size() % 4, 0u);

  rclcpp::SerializedMessage copy(serialized);
  EXPECT_EQ(bytes_of(copy), bytes);
  rclcpp::SerializedMessage moved(std::move(copy));
  EXPECT_EQ(bytes_of(moved), bytes);
  EXPECT_EQ(copy.size(), 0u);
  EXPECT_EQ(copy.get_rcl_serialized_message().buffer, nullptr);
  moved.reserve(bytes.size() * 4);
  EXPECT_EQ(bytes_of(moved), bytes) << "growing keeps the content";
  copy = moved;
  EXPECT_EQ(bytes_of(copy), bytes);

  sensor_msgs::msg::JointState back;
  serialization.deserialize_message(&copy, &back);
  EXPECT_EQ(back, joints);

  rcl_serialized_message_t released = moved.release_rcl_serialized_message();
  EXPECT_EQ(moved.size(), 0u);
  EXPECT_EQ(released.buffer_length, bytes.size());
  EXPECT_EQ(rcutils_uint8_array_fini(&released), RCUTILS_RET_OK);

  // Cut short, the bytes are refused with rclcpp's error, never read past their end.
  copy.get_rcl_serialized_message().buffer_length = bytes.size() - 6;
  try {
    serialization.deserialize_message(&copy, &back);
    FAIL() << "truncated bytes decoded";
  } catch (const rclcpp::exceptions::RCLError & error) {
    EXPECT_NE(std::string(error.what()).find("Failed to deserialize ROS message"), std::string::npos)
      << error.what();
  }
  rclcpp::SerializedMessage empty;
  EXPECT_THROW(serialization.deserialize_message(&empty, &back), std::runtime_error);
}

TEST_F(SerializedAndGraph, generic_subscriptions_receive_the_wire_bytes_of_any_publisher)
{
  Peer peer({"echo"});
  ASSERT_TRUE(peer.wait_for_output("ready", std::chrono::seconds(10))) << peer.output();
  auto node = std::make_shared<rclcpp::Node>("generic_listener");
  std::mutex mutex;
  std::vector<std::vector<uint8_t>> received;
  auto publisher = node->create_publisher<Trashes>("echo_in", 10);
  auto subscription = node->create_generic_subscription(
    "echo_out", "quorvel_protocol/msg/Trashes", rclcpp::QoS(10),
    [&](std::shared_ptr<rclcpp::SerializedMessage> message) {
      std::lock_guard<std::mutex> lock(mutex);
      received.push_back(bytes_of(*message));
    });
  EXPECT_TRUE(subscription->is_serialized());
  EXPECT_STREQ(subscription->get_topic_name(), "/echo_out");
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread spinner([&executor]() {executor.spin();});
  ASSERT_TRUE(
    wait_until(
      [&]() {
        return publisher->get_subscription_count() > 0 && subscription->get_publisher_count() > 0;
      }, std::chrono::seconds(10)));
  const Trashes sent = some_trashes("from the test");
  publisher->publish(sent);
  EXPECT_TRUE(
    wait_until(
      [&]() {
        std::lock_guard<std::mutex> lock(mutex);
        return !received.empty();
      }, std::chrono::seconds(10)));
  executor.cancel();
  spinner.join();

  rclcpp::SerializedMessage expected;
  rclcpp::Serialization<Trashes>().serialize_message(&sent, &expected);
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0], bytes_of(expected)) << "the bytes as the peer sent them, header and padding included";

  EXPECT_THROW(
    node->create_generic_subscription(
      "echo_out", "no_type_here", rclcpp::QoS(1), [](std::shared_ptr<rclcpp::SerializedMessage>) {}),
    std::invalid_argument);
}

TEST_F(SerializedAndGraph, publishers_info_gives_type_and_offered_qos_and_a_late_joiner_its_history)
{
  Peer peer({"echo"});
  ASSERT_TRUE(peer.wait_for_output("ready", std::chrono::seconds(10))) << peer.output();
  auto publisher_node = std::make_shared<rclcpp::Node>("history_keeper");
  auto keeper = publisher_node->create_publisher<std_msgs::msg::Int32>(
    "kept", rclcpp::QoS(rclcpp::KeepLast(7)).reliable().transient_local());
  for (int i = 1; i <= 3; ++i) {
    std_msgs::msg::Int32 value;
    value.data = i;
    keeper->publish(value);
  }
  auto node = std::make_shared<rclcpp::Node>("graph_reader");

  std::vector<rclcpp::TopicEndpointInfo> kept;
  ASSERT_TRUE(
    wait_until(
      [&]() {
        kept = node->get_publishers_info_by_topic("kept");
        return !kept.empty();
      }, std::chrono::seconds(10)));
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].topic_type(), "std_msgs/msg/Int32");
  EXPECT_EQ(kept[0].endpoint_type(), rclcpp::EndpointType::Publisher);
  const rmw_qos_profile_t & offered = kept[0].qos_profile().get_rmw_qos_profile();
  EXPECT_EQ(offered.history, RMW_QOS_POLICY_HISTORY_KEEP_LAST);
  EXPECT_EQ(offered.depth, 7u);
  EXPECT_EQ(offered.reliability, RMW_QOS_POLICY_RELIABILITY_RELIABLE);
  EXPECT_EQ(offered.durability, RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL);
  EXPECT_EQ(offered.deadline.sec, 9223372036u);
  EXPECT_EQ(offered.deadline.nsec, 854775807u);
  EXPECT_EQ(offered.liveliness, RMW_QOS_POLICY_LIVELINESS_AUTOMATIC);

  // The other process's publisher, found by discovery, and a name nobody publishes.
  std::vector<rclcpp::TopicEndpointInfo> echoed;
  ASSERT_TRUE(
    wait_until(
      [&]() {
        echoed = node->get_publishers_info_by_topic("/echo_out");
        return !echoed.empty();
      }, std::chrono::seconds(10)));
  EXPECT_EQ(echoed[0].topic_type(), "quorvel_protocol/msg/Trashes");
  EXPECT_EQ(echoed[0].qos_profile().durability(), rclcpp::DurabilityPolicy::Volatile);
  EXPECT_EQ(echoed[0].qos_profile().depth(), 10u);
  EXPECT_TRUE(node->get_publishers_info_by_topic("/nobody/publishes/this").empty());
  EXPECT_EQ(node->get_publishers_info_by_topic("rt/kept", true).size(), 1u);

  // Subscribing with the offered durability after the fact still brings what was published.
  std::atomic<int> got{0};
  auto late = node->create_generic_subscription(
    "kept", kept[0].topic_type(), rclcpp::QoS(rclcpp::KeepLast(100)).transient_local(),
    [&got](std::shared_ptr<rclcpp::SerializedMessage>) {++got;});
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread spinner([&executor]() {executor.spin();});
  EXPECT_TRUE(wait_until([&]() {return got.load() == 3;}, std::chrono::seconds(10))) << got.load();
  executor.cancel();
  spinner.join();

  // A publisher that is gone is no longer listed; one that comes is.
  keeper.reset();
  EXPECT_TRUE(
    wait_until(
      [&]() {return node->get_publishers_info_by_topic("kept").empty();},
      std::chrono::seconds(10)));
  auto second = publisher_node->create_publisher<std_msgs::msg::Int32>("kept", 3);
  EXPECT_TRUE(
    wait_until(
      [&]() {
        const auto now = node->get_publishers_info_by_topic("kept");
        return now.size() == 1 && now[0].qos_profile().depth() == 3u &&
        now[0].qos_profile().durability() == rclcpp::DurabilityPolicy::Volatile;
      }, std::chrono::seconds(10)));
}

// Publish/subscribe through the runtime: across processes, keep-last under a burst, and
// samples that do not decode.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "dds/dds.hpp"
#include "quorvel_protocol/msg/trashes.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_cdr/codec.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/int32.hpp"
#include "test_support.hpp"

using quorvel_protocol::msg::Trashes;
using sensor_msgs::msg::JointState;
using test_support::Peer;
using test_support::wait_until;

namespace
{
constexpr int kDomain = 130;

Trashes make_trashes()
{
  Trashes msg;
  msg.header.stamp.sec = -5;
  msg.header.stamp.nanosec = 999999999u;
  msg.header.frame_id = "map";
  for (int i = 0; i < 3; ++i) {
    quorvel_protocol::msg::TrashObject object;
    object.header.frame_id = "obj" + std::to_string(i);
    object.value_a = -i;
    object.value_b = 1 << 30;
    object.text = std::string(static_cast<size_t>(i) * 7, 'x');
    object.flag = static_cast<uint8_t>(250 + i);
    object.value_c = 42;
    object.data = std::vector<uint8_t>(static_cast<size_t>(i) * 3, 0xab);
    object.x = 1.5f + static_cast<float>(i);
    object.y = -0.25f;
    msg.trashes.push_back(object);
  }
  return msg;
}

class PubSub : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    test_support::use_domain(kDomain);
    const char * argv[] = {"test_pubsub"};
    rclcpp::init(1, argv);
  }
  static void TearDownTestSuite() {rclcpp::shutdown();}
};
}  // namespace

TEST_F(PubSub, every_field_kind_survives_a_round_trip_through_another_process)
{
  Peer peer({"echo"});
  ASSERT_TRUE(peer.wait_for_output("ready", std::chrono::seconds(10))) << peer.output();

  auto node = std::make_shared<rclcpp::Node>("pubsub_echo_client");
  std::mutex mutex;
  std::vector<Trashes> trashes_back;
  std::vector<JointState> joints_back;
  auto trashes_pub = node->create_publisher<Trashes>("echo_in", 10);
  auto joints_pub = node->create_publisher<JointState>("joints_in", 10);
  auto sub_a = node->create_subscription<Trashes>(
    "echo_out", 10, [&](std::shared_ptr<const Trashes> msg) {
      std::lock_guard<std::mutex> lock(mutex);
      trashes_back.push_back(*msg);
    });
  auto sub_b = node->create_subscription<JointState>(
    "joints_out", 10, [&](const JointState & msg) {
      std::lock_guard<std::mutex> lock(mutex);
      joints_back.push_back(msg);
    });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread spinner([&executor]() {executor.spin();});

  ASSERT_TRUE(
    wait_until(
      [&]() {
        return trashes_pub->get_subscription_count() > 0 && sub_a->get_publisher_count() > 0 &&
        joints_pub->get_subscription_count() > 0 && sub_b->get_publisher_count() > 0;
      }, std::chrono::seconds(10)));

  const Trashes sent = make_trashes();
  JointState joints;
  joints.header.frame_id = "arm";
  joints.name = {"j1", "", "joint_three"};
  joints.position = {0.5, -1.25, 3.0e-9};
  joints.velocity = {};
  joints.effort = {1.0};
  trashes_pub->publish(sent);
  joints_pub->publish(joints);

  EXPECT_TRUE(
    wait_until(
      [&]() {
        std::lock_guard<std::mutex> lock(mutex);
        return !trashes_back.empty() && !joints_back.empty();
      }, std::chrono::seconds(10)));
  executor.cancel();
  spinner.join();
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_FALSE(trashes_back.empty());
  ASSERT_FALSE(joints_back.empty());
  EXPECT_EQ(trashes_back.front(), sent);
  EXPECT_EQ(joints_back.front(), joints);
}

TEST_F(PubSub, keep_last_depth_holds_under_a_burst)
{
  auto node = std::make_shared<rclcpp::Node>("pubsub_burst");
  auto pub = node->create_publisher<std_msgs::msg::Int32>("burst", rclcpp::QoS(100));
  std::vector<int> received;
  auto sub = node->create_subscription<std_msgs::msg::Int32>(
    "burst", rclcpp::QoS(3), [&received](const std_msgs::msg::Int32 & m) {
      received.push_back(m.data);
    });
  ASSERT_TRUE(wait_until([&]() {return pub->get_subscription_count() > 0;}));
  for (int i = 0; i < 20; ++i) {
    std_msgs::msg::Int32 m;
    m.data = i;
    pub->publish(m);
  }
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  // Delivery within one participant is synchronous, so all samples are in the reader now.
  for (int i = 0; i < 10; ++i) {
    executor.spin_some();
  }
  EXPECT_EQ(received, (std::vector<int>{17, 18, 19}));
}

TEST_F(PubSub, a_sample_that_does_not_decode_is_dropped_and_logged)
{
  Peer listener({"listen", "/garbage_topic"});
  ASSERT_TRUE(listener.wait_for_output("ready", std::chrono::seconds(10))) << listener.output();

  // Write raw bytes with the DDS layer directly: same topic and type, broken content.
  auto context = rclcpp::contexts::get_global_default_context();
  auto members = rclcpp_cdr::get_members(
    rosidl_typesupport_introspection_cpp::get_message_type_support_handle<Trashes>());
  rclcpp::dds::Writer raw(
    context->participant(), "rt/garbage_topic", members, rmw_qos_profile_default);
  ASSERT_TRUE(wait_until([&]() {return raw.matched_count() > 0;}, std::chrono::seconds(10)));

  // A frame_id length far beyond the sample.
  const uint8_t bad[] = {0x00, 0x01, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 0xff, 0x7f};
  ASSERT_TRUE(raw.write_serialized(bad, sizeof(bad)));
  Trashes good;
  good.header.frame_id = "still_alive";
  ASSERT_TRUE(raw.write(&good));

  EXPECT_TRUE(listener.wait_for_output("got still_alive", std::chrono::seconds(10)))
    << listener.output();
  EXPECT_NE(listener.output().find("garbage_topic"), std::string::npos) << listener.output();
  EXPECT_NE(listener.output().find("does not decode"), std::string::npos) << listener.output();
}

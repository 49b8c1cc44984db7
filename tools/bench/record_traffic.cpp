// record_traffic: publishes the arm's topics for the recorder's benchmarks.
//
//   record_traffic flood N
//     N joint states on /robot/joint_angle as fast as the subscribers take them (reliable, the
//     arm's QoS), then waits until every one is acknowledged.
//   record_traffic arm MINUTES SPEEDUP
//     MINUTES of the arm's traffic, SPEEDUP times faster than real time: per second of arm time
//     50 joint states, 10 arm states, 10 object lists (two objects) and 3 task events, an
//     announcement every second, a gripper command every 5 s and a recover message every 10 s.
//
// Both wait (up to 20 s) until every topic has a subscriber before publishing, and print
// "record_traffic: published N messages in S s" at the end. Exit status 1 when no subscriber
// came or the messages were not all acknowledged within 30 s.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "quorvel_protocol/msg/trashes.hpp"
#include "quorvel_task_events/msg/task_event.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/int32.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"

namespace
{

using Clock = std::chrono::steady_clock;

sensor_msgs::msg::JointState joints(std::uint64_t i)
{
  sensor_msgs::msg::JointState message;
  message.header.frame_id = "base";
  message.name = {"joint1", "joint2", "joint3", "joint4", "joint5"};
  const double t = static_cast<double>(i) * 0.001;
  message.position = {t, -0.5236, 1.0472, -0.5236, 0.0};
  return message;
}

bool wait_for_subscribers(const std::vector<rclcpp::PublisherBase::SharedPtr> & publishers)
{
  const auto deadline = Clock::now() + std::chrono::seconds(20);
  for (const auto & publisher : publishers) {
    while (publisher->get_subscription_count() == 0) {
      if (Clock::now() > deadline) {
        std::fprintf(stderr, "record_traffic: no subscriber on %s\n", publisher->get_topic_name());
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  return true;
}

bool all_acknowledged(const std::vector<rclcpp::PublisherBase::SharedPtr> & publishers)
{
  for (const auto & publisher : publishers) {
    if (!publisher->wait_for_all_acked(std::chrono::seconds(30))) {
      std::fprintf(stderr, "record_traffic: %s not acknowledged\n", publisher->get_topic_name());
      return false;
    }
  }
  return true;
}

int flood(const rclcpp::Node::SharedPtr & node, std::uint64_t count)
{
  auto publisher = node->create_publisher<sensor_msgs::msg::JointState>(
    "/robot/joint_angle", rclcpp::QoS(rclcpp::KeepAll()).reliable());
  if (!wait_for_subscribers({publisher})) {
    return 1;
  }
  const auto start = Clock::now();
  for (std::uint64_t i = 0; i < count; ++i) {
    publisher->publish(joints(i));
  }
  const bool acked = all_acknowledged({publisher});
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf(
      "record_traffic: published %llu messages in %.3f s\n",
      static_cast<unsigned long long>(count),
      seconds);
  return acked ? 0 : 1;
}

int arm(const rclcpp::Node::SharedPtr & node, double minutes, double speedup)
{
  const rclcpp::QoS topic_qos = rclcpp::QoS(rclcpp::KeepLast(10)).reliable();
  auto joint_pub =
      node->create_publisher<sensor_msgs::msg::JointState>("/robot/joint_angle", topic_qos);
  auto state_pub = node->create_publisher<std_msgs::msg::Bool>("/robot/unnormal_flag", topic_qos);
  auto env_pub = node->create_publisher<quorvel_protocol::msg::Trashes>(
      "/quorvel/env_detect_topic", topic_qos);
  auto voice_pub = node->create_publisher<std_msgs::msg::Int32>("/arm/voice_broadcast", topic_qos);
  auto gripper_pub =
      node->create_publisher<std_msgs::msg::Int32MultiArray>("/robot/ctrl_io_topic", topic_qos);
  auto recover_pub = node->create_publisher<std_msgs::msg::Bool>("/robot/recover_topic", topic_qos);
  auto event_pub = node->create_publisher<quorvel_task_events::msg::TaskEvent>(
      "/quorvel/arm_supervisor/task_events",
      rclcpp::QoS(rclcpp::KeepLast(2000)).reliable().transient_local());
  const std::vector<rclcpp::PublisherBase::SharedPtr> all{
      joint_pub, state_pub, env_pub, voice_pub, gripper_pub, recover_pub, event_pub};
  if (!wait_for_subscribers(all)) {
    return 1;
  }

  quorvel_protocol::msg::Trashes objects;
  objects.header.frame_id = "map";
  objects.trashes.resize(2);
  objects.trashes[0].x = 3.0F;
  objects.trashes[1].x = -2.5F;
  objects.trashes[1].y = 1.0F;
  quorvel_task_events::msg::TaskEvent event;
  event.kind = quorvel_task_events::msg::TaskEvent::MOTION_ANSWERED;
  event.service = "arm_grab";
  event.summary = "arm_grab answered 102100000 (success)";
  std_msgs::msg::Int32MultiArray gripper;
  gripper.data = {100, 1};

  // Ticks of 20 ms of arm time: joint states every tick, the rest at their own rates.
  const auto tick = std::chrono::duration<double>(0.02 / speedup);
  const std::uint64_t ticks = static_cast<std::uint64_t>(minutes * 60.0 * 50.0);
  std::uint64_t published = 0;
  const auto start = Clock::now();
  for (std::uint64_t t = 0; t < ticks; ++t) {
    joint_pub->publish(joints(t));
    ++published;
    if (t % 5 == 0) {
      std_msgs::msg::Bool state;
      state.data = false;
      state_pub->publish(state);
      env_pub->publish(objects);
      published += 2;
    }
    if (t % 17 == 0) {
      event.seq = t;
      event.stamp = node->now();
      event_pub->publish(event);
      ++published;
    }
    if (t % 50 == 0) {
      std_msgs::msg::Int32 code;
      code.data = 102100000;
      voice_pub->publish(code);
      ++published;
    }
    if (t % 250 == 0) {
      gripper_pub->publish(gripper);
      ++published;
    }
    if (t % 500 == 0) {
      std_msgs::msg::Bool recover;
      recover_pub->publish(recover);
      ++published;
    }
    std::this_thread::sleep_until(
        start + std::chrono::duration_cast<Clock::duration>(tick * static_cast<double>(t + 1)));
  }
  const bool acked = all_acknowledged(all);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf(
      "record_traffic: published %llu messages in %.3f s\n",
      static_cast<unsigned long long>(published),
      seconds);
  return acked ? 0 : 1;
}

}  // namespace

int main(int argc, char ** argv)
{
  rclcpp::init(argc, argv);
  const std::vector<std::string> args = rclcpp::remove_ros_arguments(argc, argv);
  int status = 2;
  auto node = std::make_shared<rclcpp::Node>("record_traffic");
  if (args.size() == 3 && args[1] == "flood") {
    status = flood(node, std::strtoull(args[2].c_str(), nullptr, 10));
  } else if (args.size() == 4 && args[1] == "arm") {
    status = arm(node, std::atof(args[2].c_str()), std::atof(args[3].c_str()));
  } else {
    std::fprintf(stderr, "usage: record_traffic flood N | record_traffic arm MINUTES SPEEDUP\n");
  }
  node.reset();
  rclcpp::shutdown();
  return status;
}

// Peer program for the API tests; the first argument selects its role:
//   echo            republish every Trashes on "echo_out" (from "echo_in") and every JointState
//                   on "joints_out" (from "joints_in")
//   server NAME     serve ArmGrab on NAME: status = cmd * 1000 + trash_type, errmsg = NAME
//   listen TOPIC    subscribe Trashes on TOPIC and print "got <frame_id>" for each message
//   params          declare `count` (3), `gain` (0.5, range [0, 1], described), `frame`
//                   (read-only "base_link") and `nested.deep.flag` (true), log a debug line
//                   (below the level) and then "parameters declared: count 3"
//   spin            a node that only spins
// Every role prints "ready" once its entities exist, and exits 0 when spinning ends.
#include <cstdio>
#include <memory>
#include <string>

#include "quorvel_interfaces/srv/arm_grab.hpp"
#include "quorvel_protocol/msg/trashes.hpp"
#include "rclcpp/rclcpp.hpp"
#include "sensor_msgs/msg/joint_state.hpp"

int main(int argc, char ** argv)
{
  rclcpp::init(argc, argv);
  const std::string role = argc > 1 ? argv[1] : "spin";
  auto node = std::make_shared<rclcpp::Node>("api_peer");
  rclcpp::PublisherBase::SharedPtr pub_a, pub_b;
  rclcpp::SubscriptionBase::SharedPtr sub_a, sub_b;
  rclcpp::ServiceBase::SharedPtr service;

  if (role == "echo") {
    auto trashes_out = node->create_publisher<quorvel_protocol::msg::Trashes>("echo_out", 10);
    auto joints_out = node->create_publisher<sensor_msgs::msg::JointState>("joints_out", 10);
    pub_a = trashes_out;
    pub_b = joints_out;
    sub_a = node->create_subscription<quorvel_protocol::msg::Trashes>(
      "echo_in", 10, [trashes_out](const quorvel_protocol::msg::Trashes & msg) {
        trashes_out->publish(msg);
      });
    sub_b = node->create_subscription<sensor_msgs::msg::JointState>(
      "joints_in", 10, [joints_out](std::unique_ptr<sensor_msgs::msg::JointState> msg) {
        joints_out->publish(std::move(msg));
      });
  } else if (role == "server" && argc > 2) {
    const std::string name = argv[2];
    service = node->create_service<quorvel_interfaces::srv::ArmGrab>(
      name, [name](
        std::shared_ptr<quorvel_interfaces::srv::ArmGrab::Request> request,
        std::shared_ptr<quorvel_interfaces::srv::ArmGrab::Response> response) {
        response->status = request->cmd * 1000 + request->trash_type;
        response->errmsg = name;
      });
  } else if (role == "params") {
    const int64_t count = node->declare_parameter("count", 3);
    rcl_interfaces::msg::ParameterDescriptor gain;
    gain.description = "controller gain";
    gain.floating_point_range.resize(1);
    gain.floating_point_range[0].from_value = 0.0;
    gain.floating_point_range[0].to_value = 1.0;
    node->declare_parameter("gain", 0.5, gain);
    rcl_interfaces::msg::ParameterDescriptor fixed;
    fixed.read_only = true;
    node->declare_parameter("frame", std::string("base_link"), fixed);
    node->declare_parameter("nested.deep.flag", true);
    RCLCPP_DEBUG(node->get_logger(), "a line below the level");
    RCLCPP_INFO(node->get_logger(), "parameters declared: count %ld", static_cast<long>(count));
  } else if (role == "listen" && argc > 2) {
    sub_a = node->create_subscription<quorvel_protocol::msg::Trashes>(
      argv[2], 10, [](std::shared_ptr<const quorvel_protocol::msg::Trashes> msg) {
        std::printf("got %s\n", msg->header.frame_id.c_str());
        std::fflush(stdout);
      });
  }
  std::printf("ready\n");
  std::fflush(stdout);
  rclcpp::spin(node);
  rclcpp::shutdown();
  return 0;
}

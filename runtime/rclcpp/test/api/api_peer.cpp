// Peer program for the API tests; the first argument selects its role:
//   echo            republish every Trashes on "echo_out" (from "echo_in") and every JointState
//                   on "joints_out" (from "joints_in")
//   server NAME     serve ArmGrab on NAME: status = cmd * 1000 + trash_type, errmsg = NAME
//   listen TOPIC    subscribe Trashes on TOPIC and print "got <frame_id>" for each message
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

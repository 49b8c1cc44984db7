// trash_feeder: stands in for the perception node with one object close enough to hold the
// supervisor's environment stop on.
#include <chrono>
#include <exception>
#include <iostream>
#include <memory>

#include <rclcpp/rclcpp.hpp>

#include "quorvel_protocol/msg/trashes.hpp"

namespace quorvel_arm_supervisor
{

// Publishes every 100 ms on "/quorvel/env_detect_topic" (reliable, volatile, keep last 10) a
// Trashes message with frame "map", zero stamp and one object at (1.0, 0.0).
class TrashFeeder : public rclcpp::Node
{
public:
  TrashFeeder() : rclcpp::Node("trash_feeder")
  {
    publisher_ = create_publisher<quorvel_protocol::msg::Trashes>(
        "/quorvel/env_detect_topic", rclcpp::QoS(10));
    timer_ = create_wall_timer(
        std::chrono::milliseconds(100), std::bind(&TrashFeeder::timer_callback, this));
  }

private:
  void timer_callback()
  {
    quorvel_protocol::msg::Trashes message;
    message.header.frame_id = "map";
    message.trashes.resize(1);
    message.trashes[0].x = 1.0F;
    message.trashes[0].y = 0.0F;
    publisher_->publish(message);
  }

  rclcpp::Publisher<quorvel_protocol::msg::Trashes>::SharedPtr publisher_;
  rclcpp::TimerBase::SharedPtr timer_;
};

}  // namespace quorvel_arm_supervisor

int main(int argc, char ** argv)
{
  std::shared_ptr<quorvel_arm_supervisor::TrashFeeder> node;
  try {
    rclcpp::init(argc, argv);
    node = std::make_shared<quorvel_arm_supervisor::TrashFeeder>();
  } catch (const std::exception & error) {
    std::cerr << "trash_feeder: start-up failed: " << error.what() << std::endl;
    rclcpp::shutdown();
    return 1;
  }
  rclcpp::spin(node);
  rclcpp::shutdown();
  return 0;
}

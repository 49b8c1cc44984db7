// arm_sim: a simulated arm controller, detector and surroundings for the supervisor, on its
// default names, driven by a scene file; runs until Ctrl-C.
#include <exception>
#include <iostream>
#include <memory>

#include <rclcpp/rclcpp.hpp>

#include "arm_sim_node.hpp"

int main(int argc, char ** argv)
{
  std::shared_ptr<quorvel_arm_sim::ArmSimNode> node;
  try {
    rclcpp::init(argc, argv);
    node = std::make_shared<quorvel_arm_sim::ArmSimNode>();
  } catch (const std::exception & error) {
    std::cerr << "arm_sim: start-up failed: " << error.what() << std::endl;
    rclcpp::shutdown();
    return 1;
  }
  std::cout << node->start_line() << std::endl;
  rclcpp::spin(node);
  rclcpp::shutdown();
  return 0;
}

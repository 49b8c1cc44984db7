// arm_supervisor: serves the ArmTask action until Ctrl-C.
#include <exception>
#include <iostream>
#include <memory>

#include <rclcpp/rclcpp.hpp>

#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"

int main(int argc, char ** argv)
{
  std::shared_ptr<quorvel_arm_supervisor::ArmSupervisorNode> node;
  try {
    rclcpp::init(argc, argv);
    node = std::make_shared<quorvel_arm_supervisor::ArmSupervisorNode>();
  } catch (const std::exception & error) {
    std::cerr << "arm_supervisor: start-up failed: " << error.what() << std::endl;
    rclcpp::shutdown();
    return 1;
  }
  std::cout << "\033[1;36m"
            << "ArmSupervisorNode Start!"
            << "\033[0m" << std::endl;
  {
    rclcpp::executors::MultiThreadedExecutor executor(rclcpp::ExecutorOptions(), 16, true);
    executor.add_node(node);
    executor.spin();
  }
  rclcpp::shutdown();
  node->StopTaskThreadForExit();
  return 0;
}

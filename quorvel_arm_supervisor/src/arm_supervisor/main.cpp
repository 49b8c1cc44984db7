// arm_supervisor: serves the ArmTask action until Ctrl-C.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <rclcpp/rclcpp.hpp>

#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"
#include "quorvel_arm_supervisor/dds_receive_buffer.hpp"

namespace
{

// Sizes Cyclone's receive buffer before the middleware reads CYCLONEDDS_URI (at the first node),
// unless another middleware is chosen or the user sizes it. Returns what was decided, for the log.
std::string size_receive_buffer()
{
  const char * rmw = std::getenv("RMW_IMPLEMENTATION");
  if (rmw != nullptr && *rmw != '\0' && std::strstr(rmw, "cyclonedds") == nullptr) {
    return {};
  }
  const std::optional<std::string> uri =
      quorvel_arm_supervisor::uri_with_receive_buffer(std::getenv("CYCLONEDDS_URI"));
  if (!uri) {
    return "Cyclone DDS receive buffer: as CYCLONEDDS_URI sizes it";
  }
  // No other thread runs yet.
  setenv("CYCLONEDDS_URI", uri->c_str(), 1);
  return "Cyclone DDS receive buffer: 128 KiB in chunks of 32 KiB, so that resident memory "
         "levels off within minutes (Sizing/ReceiveBufferSize in CYCLONEDDS_URI overrides it)";
}

}  // namespace

int main(int argc, char ** argv)
{
  std::shared_ptr<quorvel_arm_supervisor::ArmSupervisorNode> node;
  try {
    const std::string receive_buffer = size_receive_buffer();
    rclcpp::init(argc, argv);
    node = std::make_shared<quorvel_arm_supervisor::ArmSupervisorNode>();
    if (!receive_buffer.empty()) {
      RCLCPP_INFO(node->get_logger(), "%s", receive_buffer.c_str());
    }
  } catch (const std::exception & error) {
    std::cerr << "arm_supervisor: start-up failed: " << error.what() << std::endl;
    rclcpp::shutdown();
    return 1;
  }
  std::cout << "\033[1;36m"
            << "ArmSupervisorNode Start!"
            << "\033[0m" << std::endl;
#if defined(__GLIBC__)
  // Memory malloc holds free (goals past their retention, spent messages) goes back to the
  // system once a minute; otherwise the holes left among long-lived blocks stay resident.
  const auto trim_timer =
      node->create_wall_timer(std::chrono::minutes(1), [] { malloc_trim(0); });
#endif
  {
    rclcpp::executors::MultiThreadedExecutor executor(rclcpp::ExecutorOptions(), 16, true);
    executor.add_node(node);
    executor.spin();
  }
  rclcpp::shutdown();
  node->StopTaskThreadForExit();
  return 0;
}

// Entry point of each node test binary: its own DDS domain on loopback, and the test prefix
// (holding this package's test configuration files) first in the ament index.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include <rclcpp/rclcpp.hpp>

int main(int argc, char ** argv)
{
  setenv("ROS_DOMAIN_ID", NODE_TEST_DOMAIN_ID, 1);
  setenv("ROS_LOCALHOST_ONLY", "1", 1);
  unsetenv("CYCLONEDDS_URI");
  std::string prefix_path = NODE_TEST_PREFIX;
  if (const char * existing = std::getenv("AMENT_PREFIX_PATH")) {
    prefix_path += std::string(":") + existing;
  }
  setenv("AMENT_PREFIX_PATH", prefix_path.c_str(), 1);

  ::testing::InitGoogleTest(&argc, argv);
  rclcpp::init(argc, argv);
  const int result = RUN_ALL_TESTS();
  rclcpp::shutdown();
  return result;
}

// Shared helpers of the DDS-layer tests: loopback-only domains and bounded waiting.
#ifndef DDS_TEST_UTIL_HPP_
#define DDS_TEST_UTIL_HPP_

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <thread>

#include "dds/dds.hpp"
#include "rmw/qos_profiles.h"
#include "rosidl_typesupport_interface/macros.h"

/// Introspection members of message `pkg/msg/Name`; needs that type's
/// `detail/<name>__rosidl_typesupport_introspection_cpp.hpp`.
#define DDS_TEST_MEMBERS(pkg, Name)                               \
  static_cast<const rclcpp::dds::MessageMembers *>(               \
      ROSIDL_TYPESUPPORT_INTERFACE__MESSAGE_SYMBOL_NAME(          \
          rosidl_typesupport_introspection_cpp, pkg, msg, Name)() \
          ->data)

namespace dds_test
{

using namespace std::chrono_literals;

/// Our default (loopback-only) configuration for `domain_id`. Built once from a cleared
/// environment, so that a developer's CYCLONEDDS_URI or ROS_LOCALHOST_ONLY can never take a test
/// off the loopback interface. The first call must happen before any DDS thread exists.
inline rclcpp::dds::DomainConfig loopback_domain(uint32_t domain_id)
{
  static const rclcpp::dds::DomainConfig base = [] {
    unsetenv("CYCLONEDDS_URI");
    unsetenv("ROS_LOCALHOST_ONLY");
    unsetenv("ROS_DOMAIN_ID");
    return rclcpp::dds::DomainConfig::from_environment();
  }();
  rclcpp::dds::DomainConfig config = base;
  config.domain_id = domain_id;
  return config;
}

/// Polls `condition` until it holds or `timeout` passes; returns its last value.
inline bool wait_until(
    const std::function<bool()> & condition, std::chrono::milliseconds timeout = 5000ms)
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return condition();
    }
    std::this_thread::sleep_for(2ms);
  }
  return true;
}

inline rmw_qos_profile_t keep_last(size_t depth)
{
  rmw_qos_profile_t qos = rmw_qos_profile_default;
  qos.depth = depth;
  return qos;
}

}  // namespace dds_test

#endif  // DDS_TEST_UTIL_HPP_

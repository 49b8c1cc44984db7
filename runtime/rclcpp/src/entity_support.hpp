// Helpers shared by the entity implementations: DDS topic names, type-support lookup and
// throttled reporting of samples that do not decode.
#ifndef RCLCPP__ENTITY_SUPPORT_HPP_
#define RCLCPP__ENTITY_SUPPORT_HPP_

#include <chrono>
#include <string>

#include "rclcpp/logger.hpp"
#include "rosidl_runtime_c/message_type_support_struct.h"
#include "rosidl_runtime_c/service_type_support_struct.h"
#include "rosidl_typesupport_introspection_cpp/message_introspection.hpp"
#include "rosidl_typesupport_introspection_cpp/service_introspection.hpp"

namespace rclcpp
{
namespace detail
{

using MessageMembers = rosidl_typesupport_introspection_cpp::MessageMembers;

/// The introspection members of a message type; throws a clear error for a handle that is not
/// introspection type support.
const MessageMembers * message_members(const rosidl_message_type_support_t * type_support);
/// Request and response members of a service type.
std::pair<const MessageMembers *, const MessageMembers *> service_members(
  const rosidl_service_type_support_t * type_support);

/// "rt" + name, or the name itself when ROS naming conventions are avoided.
std::string dds_topic_name(const std::string & resolved_name, bool avoid_ros_conventions);
std::string dds_request_topic_name(const std::string & resolved_name, bool avoid_ros_conventions);
std::string dds_reply_topic_name(const std::string & resolved_name, bool avoid_ros_conventions);

/// The "<key>...;" entry (key included) of an endpoint's USER_DATA, empty if it has none.
std::string user_data_entry(const std::string & key, const std::string & user_data);

/// Logs a dropped sample at most once per second per entity.
void warn_undecodable(
  const rclcpp::Logger & logger, const std::string & what, const std::string & error,
  std::chrono::steady_clock::time_point & last_warning);

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__ENTITY_SUPPORT_HPP_

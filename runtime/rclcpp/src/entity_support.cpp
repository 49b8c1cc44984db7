#include "entity_support.hpp"

#include <stdexcept>

#include "rclcpp/logging.hpp"
#include "rclcpp_cdr/codec.hpp"
#include "rosidl_typesupport_introspection_cpp/identifier.hpp"

namespace rclcpp
{
namespace detail
{

const MessageMembers * message_members(const rosidl_message_type_support_t * type_support)
{
  const MessageMembers * members = rclcpp_cdr::get_members(type_support);
  if (!members) {
    throw std::runtime_error(
            "message type support is not rosidl_typesupport_introspection_cpp; link the "
            "package's introspection type support library");
  }
  return members;
}

std::pair<const MessageMembers *, const MessageMembers *> service_members(
  const rosidl_service_type_support_t * type_support)
{
  if (!type_support ||
    type_support->typesupport_identifier != rosidl_typesupport_introspection_cpp::typesupport_identifier)
  {
    throw std::runtime_error("service type support is not rosidl_typesupport_introspection_cpp");
  }
  auto members = static_cast<const rosidl_typesupport_introspection_cpp::ServiceMembers *>(
    type_support->data);
  return {members->request_members_, members->response_members_};
}

std::string dds_topic_name(const std::string & resolved_name, bool avoid_ros_conventions)
{
  return avoid_ros_conventions ? resolved_name : "rt" + resolved_name;
}

std::string dds_request_topic_name(const std::string & resolved_name, bool avoid_ros_conventions)
{
  return (avoid_ros_conventions ? resolved_name : "rq" + resolved_name) + "Request";
}

std::string dds_reply_topic_name(const std::string & resolved_name, bool avoid_ros_conventions)
{
  return (avoid_ros_conventions ? resolved_name : "rr" + resolved_name) + "Reply";
}

std::string user_data_entry(const std::string & key, const std::string & user_data)
{
  const auto pos = user_data.find(key);
  if (pos == std::string::npos) {
    return {};
  }
  const auto end = user_data.find(';', pos);
  return user_data.substr(pos, end == std::string::npos ? std::string::npos : end - pos + 1);
}

void warn_undecodable(
  const rclcpp::Logger & logger, const std::string & what, const std::string & error,
  std::chrono::steady_clock::time_point & last_warning)
{
  const auto now = std::chrono::steady_clock::now();
  if (last_warning != std::chrono::steady_clock::time_point{} &&
    now - last_warning < std::chrono::seconds(1))
  {
    return;
  }
  last_warning = now;
  RCLCPP_WARN(
    logger, "dropped a sample on %s that does not decode: %s", what.c_str(), error.c_str());
}

}  // namespace detail
}  // namespace rclcpp

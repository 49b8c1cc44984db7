#include <cstring>

#include "rclcpp_cdr/codec.hpp"
#include "rosidl_typesupport_introspection_cpp/identifier.hpp"

namespace rclcpp_cdr
{
namespace
{

bool is_introspection_cpp(const rosidl_message_type_support_t * handle)
{
  // Compared by content: each type support library carries its own copy of the identifier.
  return handle && handle->typesupport_identifier &&
         std::strcmp(
             handle->typesupport_identifier,
             rosidl_typesupport_introspection_cpp::typesupport_identifier) == 0;
}

}  // namespace

const MessageMembers * get_members(const rosidl_message_type_support_t * type_support)
{
  if (!type_support) {
    return nullptr;
  }
  if (is_introspection_cpp(type_support)) {
    return static_cast<const MessageMembers *>(type_support->data);
  }
  // A handle of another type support (e.g. rosidl_typesupport_cpp on a ROS 2 host) dispatches
  // to the introspection handle through its own function.
  if (type_support->func) {
    const rosidl_message_type_support_t * inner = type_support->func(
        type_support, rosidl_typesupport_introspection_cpp::typesupport_identifier);
    if (is_introspection_cpp(inner)) {
      return static_cast<const MessageMembers *>(inner->data);
    }
  }
  return nullptr;
}

}  // namespace rclcpp_cdr

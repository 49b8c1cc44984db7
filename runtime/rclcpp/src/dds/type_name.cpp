#include <string>

#include "dds/dds.hpp"

namespace rclcpp
{
namespace dds
{

std::string dds_type_name(const MessageMembers * members)
{
  // C introspection spells the namespace "pkg__msg"; both forms map to "pkg::msg".
  std::string ns = members->message_namespace_ != nullptr ? members->message_namespace_ : "";
  for (size_t pos = ns.find("__"); pos != std::string::npos; pos = ns.find("__", pos + 2)) {
    ns.replace(pos, 2, "::");
  }
  std::string name;
  if (!ns.empty()) {
    name = ns + "::";
  }
  name += "dds_::";
  name += members->message_name_ != nullptr ? members->message_name_ : "";
  name += "_";
  return name;
}

}  // namespace dds
}  // namespace rclcpp

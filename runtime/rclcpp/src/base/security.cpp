#include "base/security.hpp"

#include <cstring>

namespace rclcpp
{
namespace base
{

SecurityRequest security_request(const char * enable, const char * strategy)
{
  if (enable == nullptr || std::strcmp(enable, "true") != 0) {
    return SecurityRequest::kOff;
  }
  if (strategy != nullptr && std::strcmp(strategy, "Enforce") == 0) {
    return SecurityRequest::kEnforce;
  }
  return SecurityRequest::kPermissive;
}

std::string security_refusal_message()
{
  return "ROS_SECURITY_ENABLE=true with ROS_SECURITY_STRATEGY=Enforce, but this program is built "
         "on the bundled ROS 2 runtime, whose Cyclone DDS has no DDS security plugins: it will "
         "not run unauthenticated. Build the workspace against an installed ROS 2 Humble, whose "
         "rmw provides ROS 2 security, or unset ROS_SECURITY_ENABLE";
}

std::string security_permissive_warning()
{
  return "ROS_SECURITY_ENABLE=true, but the bundled ROS 2 runtime has no DDS security: running "
         "unauthenticated and unencrypted (ROS_SECURITY_STRATEGY is not Enforce)";
}

}  // namespace base
}  // namespace rclcpp

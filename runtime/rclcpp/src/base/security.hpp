// What the ROS 2 security environment asks of a process. The bundled runtime's Cyclone DDS
// has no DDS security plugins, so it can only refuse to start (Enforce) or warn (Permissive).
#ifndef RCLCPP__BASE__SECURITY_HPP_
#define RCLCPP__BASE__SECURITY_HPP_

#include <string>

namespace rclcpp
{
namespace base
{

enum class SecurityRequest
{
  kOff,         // ROS_SECURITY_ENABLE is not "true"
  kPermissive,  // enabled; run unauthenticated when security cannot be set up
  kEnforce,     // enabled with ROS_SECURITY_STRATEGY=Enforce; never run unauthenticated
};

// As rcl reads them: security is on only for ROS_SECURITY_ENABLE exactly "true", and the
// strategy is Enforce only for ROS_SECURITY_STRATEGY exactly "Enforce". Null means unset.
SecurityRequest security_request(const char * enable, const char * strategy);

// The start-up error for kEnforce and the warning for kPermissive, one line each.
std::string security_refusal_message();
std::string security_permissive_warning();

}  // namespace base
}  // namespace rclcpp

#endif  // RCLCPP__BASE__SECURITY_HPP_

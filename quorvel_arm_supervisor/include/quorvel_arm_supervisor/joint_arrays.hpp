// Joint arrays as the supervisor logs and sends them.
#ifndef QUORVEL_ARM_SUPERVISOR__JOINT_ARRAYS_HPP_
#define QUORVEL_ARM_SUPERVISOR__JOINT_ARRAYS_HPP_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <std_msgs/msg/float64_multi_array.hpp>

namespace quorvel_arm_supervisor
{

// "name: [v v v ]": every value followed by one blank, "name: []" when empty. Values in the
// default std::ostream float format (6 significant digits: 0, 1.5708, -0.35, 1e-05), independent
// of the global locale.
std::string format_joint_array(std::string_view name, const std::vector<double> & values);

// "name: [a, b, c]": values separated by ", ", same number format.
std::string format_joint_list(std::string_view name, const std::vector<double> & values);

// A motion target made of the first `joint_num` values of `configured`, with an empty layout.
// nullopt when `configured` holds fewer than `joint_num` values; the caller must then fail the
// recovery rather than move the arm to an incomplete pose.
std::optional<std_msgs::msg::Float64MultiArray> make_recovery_target(
  const std_msgs::msg::Float64MultiArray & configured, std::uint32_t joint_num);

}  // namespace quorvel_arm_supervisor

#endif  // QUORVEL_ARM_SUPERVISOR__JOINT_ARRAYS_HPP_

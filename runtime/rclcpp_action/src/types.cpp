#include "rclcpp_action/types.hpp"

namespace rclcpp_action
{

std::string to_string(const GoalUUID & goal_id)
{
  static const char digits[] = "0123456789abcdef";
  std::string text(goal_id.size() * 2, '0');
  for (size_t i = 0; i < goal_id.size(); ++i) {
    text[2 * i] = digits[goal_id[i] >> 4];
    text[2 * i + 1] = digits[goal_id[i] & 0x0f];
  }
  return text;
}

}  // namespace rclcpp_action

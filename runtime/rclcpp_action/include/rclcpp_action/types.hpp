// Goal identifiers and the goal-status message types shared by action servers and clients.
#ifndef RCLCPP_ACTION__TYPES_HPP_
#define RCLCPP_ACTION__TYPES_HPP_

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "action_msgs/msg/goal_info.hpp"
#include "action_msgs/msg/goal_status.hpp"
#include "rcl_action/action_client.h"
#include "rcl_action/action_server.h"
#include "rcl_action/types.h"

namespace rclcpp_action
{

/// A goal's id: 16 bytes chosen at random by the client that sent the goal.
using GoalUUID = std::array<uint8_t, UUID_SIZE>;
using GoalStatus = action_msgs::msg::GoalStatus;
using GoalInfo = action_msgs::msg::GoalInfo;

/// The id as 32 lowercase hexadecimal digits, byte 0 first. Pure; any thread.
std::string to_string(const GoalUUID & goal_id);

}  // namespace rclcpp_action

namespace std
{

template<>
struct less<rclcpp_action::GoalUUID>
{
  bool operator()(const rclcpp_action::GoalUUID & lhs, const rclcpp_action::GoalUUID & rhs) const
  {
    return lhs < rhs;
  }
};

/// The ids are random, so any eight of their bytes are already a good hash.
template<>
struct hash<rclcpp_action::GoalUUID>
{
  size_t operator()(const rclcpp_action::GoalUUID & uuid) const noexcept
  {
    uint64_t head = 0;
    uint64_t tail = 0;
    std::memcpy(&head, uuid.data(), sizeof(head));
    std::memcpy(&tail, uuid.data() + sizeof(head), sizeof(tail));
    return static_cast<size_t>(head ^ (tail * 0x9e3779b97f4a7c15ULL));
  }
};

}  // namespace std

#endif  // RCLCPP_ACTION__TYPES_HPP_

#include "rclcpp_action/detail/goal_state_machine.hpp"

#include "action_msgs/msg/goal_status.hpp"

namespace rclcpp_action
{
namespace detail
{

using action_msgs::msg::GoalStatus;

int8_t transition(int8_t state, GoalEvent event) noexcept
{
  switch (event) {
    case GoalEvent::Execute:
      return state == GoalStatus::STATUS_ACCEPTED ?
             GoalStatus::STATUS_EXECUTING : GoalStatus::STATUS_UNKNOWN;
    case GoalEvent::CancelGoal:
      return is_cancelable_state(state) ? GoalStatus::STATUS_CANCELING : GoalStatus::STATUS_UNKNOWN;
    case GoalEvent::Succeed:
    case GoalEvent::Abort:
      if (state != GoalStatus::STATUS_EXECUTING && state != GoalStatus::STATUS_CANCELING) {
        return GoalStatus::STATUS_UNKNOWN;
      }
      return event == GoalEvent::Succeed ?
             GoalStatus::STATUS_SUCCEEDED : GoalStatus::STATUS_ABORTED;
    case GoalEvent::Canceled:
      return state == GoalStatus::STATUS_CANCELING ?
             GoalStatus::STATUS_CANCELED : GoalStatus::STATUS_UNKNOWN;
  }
  return GoalStatus::STATUS_UNKNOWN;
}

bool is_active_state(int8_t state) noexcept
{
  return state == GoalStatus::STATUS_ACCEPTED || state == GoalStatus::STATUS_EXECUTING ||
         state == GoalStatus::STATUS_CANCELING;
}

bool is_terminal_state(int8_t state) noexcept
{
  return state == GoalStatus::STATUS_SUCCEEDED || state == GoalStatus::STATUS_CANCELED ||
         state == GoalStatus::STATUS_ABORTED;
}

bool is_cancelable_state(int8_t state) noexcept
{
  return state == GoalStatus::STATUS_ACCEPTED || state == GoalStatus::STATUS_EXECUTING;
}

const char * state_name(int8_t state) noexcept
{
  switch (state) {
    case GoalStatus::STATUS_ACCEPTED: return "ACCEPTED";
    case GoalStatus::STATUS_EXECUTING: return "EXECUTING";
    case GoalStatus::STATUS_CANCELING: return "CANCELING";
    case GoalStatus::STATUS_SUCCEEDED: return "SUCCEEDED";
    case GoalStatus::STATUS_CANCELED: return "CANCELED";
    case GoalStatus::STATUS_ABORTED: return "ABORTED";
    default: return "UNKNOWN";
  }
}

const char * event_name(GoalEvent event) noexcept
{
  switch (event) {
    case GoalEvent::Execute: return "execute";
    case GoalEvent::CancelGoal: return "cancel_goal";
    case GoalEvent::Succeed: return "succeed";
    case GoalEvent::Abort: return "abort";
    case GoalEvent::Canceled: return "canceled";
  }
  return "unknown";
}

const char * allowed_from(GoalEvent event) noexcept
{
  switch (event) {
    case GoalEvent::Execute: return "ACCEPTED";
    case GoalEvent::CancelGoal: return "ACCEPTED or EXECUTING";
    case GoalEvent::Succeed: return "EXECUTING or CANCELING";
    case GoalEvent::Abort: return "EXECUTING or CANCELING";
    case GoalEvent::Canceled: return "CANCELING";
  }
  return "no state";
}

}  // namespace detail
}  // namespace rclcpp_action

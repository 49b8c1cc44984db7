// The goal life cycle every action server follows: which calls move a goal from which state to
// which. Pure functions over GoalStatus::STATUS_* values.
#ifndef RCLCPP_ACTION__DETAIL__GOAL_STATE_MACHINE_HPP_
#define RCLCPP_ACTION__DETAIL__GOAL_STATE_MACHINE_HPP_

#include <cstdint>

namespace rclcpp_action
{
namespace detail
{

enum class GoalEvent
{
  Execute,
  CancelGoal,
  Succeed,
  Abort,
  Canceled,
};

/// The state `event` leads to from `state`, or GoalStatus::STATUS_UNKNOWN when the event is not
/// allowed there.
int8_t transition(int8_t state, GoalEvent event) noexcept;

/// ACCEPTED, EXECUTING or CANCELING.
bool is_active_state(int8_t state) noexcept;
/// SUCCEEDED, CANCELED or ABORTED.
bool is_terminal_state(int8_t state) noexcept;
/// ACCEPTED or EXECUTING: a cancel request may still move it to CANCELING.
bool is_cancelable_state(int8_t state) noexcept;

/// "ACCEPTED", "EXECUTING" ...; "UNKNOWN" for anything else. Static strings.
const char * state_name(int8_t state) noexcept;
/// "execute", "cancel_goal", "succeed", "abort", "canceled". Static strings.
const char * event_name(GoalEvent event) noexcept;
/// The states `event` is allowed from, in words ("EXECUTING or CANCELING"). Static strings.
const char * allowed_from(GoalEvent event) noexcept;

}  // namespace detail
}  // namespace rclcpp_action

#endif  // RCLCPP_ACTION__DETAIL__GOAL_STATE_MACHINE_HPP_

// The exceptions rclcpp_action throws. The first two carry the names and texts of ROS 2 Humble's
// rclcpp_action; InvalidGoalTransitionError derives from rclcpp::exceptions::RCLError, which is
// what Humble throws for the same misuse, so code catching either works on both kinds of host.
#ifndef RCLCPP_ACTION__EXCEPTIONS_HPP_
#define RCLCPP_ACTION__EXCEPTIONS_HPP_

#include <cstdint>
#include <stdexcept>
#include <string>

#include "rclcpp/exceptions.hpp"
#include "rclcpp_action/types.hpp"

namespace rclcpp_action
{
namespace exceptions
{

/// A client goal handle that the client does not track (another client's, or one whose result
/// was already delivered).
class UnknownGoalHandleError : public std::invalid_argument
{
public:
  UnknownGoalHandleError()
  : std::invalid_argument("Goal handle is not known to this client.") {}
};

/// The result of a goal can no longer be obtained through its handle (its client is gone, or
/// the result request could not be sent).
class UnawareGoalHandleError : public std::runtime_error
{
public:
  explicit UnawareGoalHandleError(
    const std::string & message = "Goal handle is not tracking the goal result.")
  : std::runtime_error(message) {}
};

/// A server goal handle call that the goal's state does not allow, e.g. succeed() on a goal
/// that already succeeded or canceled() on a goal nobody asked to cancel. The goal is unchanged.
class InvalidGoalTransitionError : public rclcpp::exceptions::RCLError
{
public:
  InvalidGoalTransitionError(
    const GoalUUID & goal_id_, int8_t state_, const std::string & event_,
    const std::string & message)
  : rclcpp::exceptions::RCLError(message), goal_id(goal_id_), state(state_), event(event_) {}

  const GoalUUID goal_id;
  /// The goal's state (GoalStatus::STATUS_*) when the call was refused.
  const int8_t state;
  /// The refused call: "execute", "succeed", "abort" or "canceled".
  const std::string event;
};

}  // namespace exceptions
}  // namespace rclcpp_action

#endif  // RCLCPP_ACTION__EXCEPTIONS_HPP_

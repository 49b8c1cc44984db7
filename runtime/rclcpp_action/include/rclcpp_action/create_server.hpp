// Factory for action servers.
#ifndef RCLCPP_ACTION__CREATE_SERVER_HPP_
#define RCLCPP_ACTION__CREATE_SERVER_HPP_

#include <memory>
#include <string>
#include <utility>

#include "rclcpp/callback_group.hpp"
#include "rclcpp_action/server.hpp"

namespace rclcpp_action
{

/// Creates an action server for ActionT named `name` (resolved like any topic name of `node`)
/// on `node`, a pointer or shared pointer to an rclcpp::Node or a class derived from it. Its
/// callbacks run in `group`, or the node's default group when null. The server works while the
/// returned pointer (or a copy) is held. Call from any thread; does not block on the network.
template<typename ActionT, typename NodeT>
typename Server<ActionT>::SharedPtr create_server(
  NodeT node, const std::string & name,
  typename Server<ActionT>::GoalCallback handle_goal,
  typename Server<ActionT>::CancelCallback handle_cancel,
  typename Server<ActionT>::AcceptedCallback handle_accepted,
  const rcl_action_server_options_t & options = rcl_action_server_get_default_options(),
  rclcpp::CallbackGroup::SharedPtr group = nullptr)
{
  return std::make_shared<Server<ActionT>>(
    *node, name, options, std::move(handle_goal), std::move(handle_cancel),
    std::move(handle_accepted), std::move(group));
}

}  // namespace rclcpp_action

#endif  // RCLCPP_ACTION__CREATE_SERVER_HPP_

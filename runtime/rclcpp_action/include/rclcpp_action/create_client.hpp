// Factory for action clients.
#ifndef RCLCPP_ACTION__CREATE_CLIENT_HPP_
#define RCLCPP_ACTION__CREATE_CLIENT_HPP_

#include <memory>
#include <string>
#include <utility>

#include "rclcpp/callback_group.hpp"
#include "rclcpp_action/client.hpp"

namespace rclcpp_action
{

/// Creates an action client for the ActionT action `name` (resolved like any topic name of
/// `node`) on `node`, a pointer or shared pointer to an rclcpp::Node or a class derived from
/// it. Its callbacks run in `group`, or the node's default group when null. Call from any
/// thread; does not wait for the server (see wait_for_action_server).
template<typename ActionT, typename NodeT>
typename Client<ActionT>::SharedPtr create_client(
  NodeT node, const std::string & name, rclcpp::CallbackGroup::SharedPtr group = nullptr,
  const rcl_action_client_options_t & options = rcl_action_client_get_default_options())
{
  return std::make_shared<Client<ActionT>>(*node, name, options, std::move(group));
}

}  // namespace rclcpp_action

#endif  // RCLCPP_ACTION__CREATE_CLIENT_HPP_

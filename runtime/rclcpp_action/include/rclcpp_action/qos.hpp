// QoS of an action's status topic as an rclcpp::QoS.
#ifndef RCLCPP_ACTION__QOS_HPP_
#define RCLCPP_ACTION__QOS_HPP_

#include "rcl_action/default_qos.h"
#include "rclcpp/qos.hpp"

namespace rclcpp_action
{

/// Keep-last 1, reliable, transient local: a subscriber that joins late gets the last status
/// array.
class DefaultActionStatusQoS : public rclcpp::QoS
{
public:
  DefaultActionStatusQoS()
  : rclcpp::QoS(
      rclcpp::QoSInitialization::from_rmw(rcl_action_qos_profile_status_default),
      rcl_action_qos_profile_status_default) {}
};

}  // namespace rclcpp_action

#endif  // RCLCPP_ACTION__QOS_HPP_

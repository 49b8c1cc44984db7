#include "endpoint_probes.hpp"

#include <rclcpp_action/rclcpp_action.hpp>

#include "commands.hpp"
#include "quorvel_interfaces/action/arm_task.hpp"
#include "quorvel_interfaces/srv/arm_grab.hpp"
#include "quorvel_interfaces/srv/arm_move_joints.hpp"
#include "quorvel_interfaces/srv/arm_release.hpp"
#include "quorvel_interfaces/srv/detect_trash.hpp"
#include "quorvel_protocol/msg/trashes.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"

namespace quorvel_tools
{

namespace
{

template <typename ServiceT>
EndpointProbe service_probe(const rclcpp::Node::SharedPtr & node, const std::string & name)
{
  auto client = node->create_client<ServiceT>(name);
  return EndpointProbe{name, "service", [client] { return client->service_is_ready(); }, client};
}

template <typename MessageT>
EndpointProbe topic_probe(
    const rclcpp::Node::SharedPtr & node,
    const std::string & name,
    const std::set<std::string> & own_subscriptions)
{
  auto publisher = node->create_publisher<MessageT>(name, rclcpp::QoS(1));
  const std::size_t own = own_subscriptions.count(name);
  return EndpointProbe{
      name,
      "subscribed topic",
      [publisher, own] { return publisher->get_subscription_count() > own; },
      publisher};
}

}  // namespace

std::vector<EndpointProbe> make_supervisor_probes(
    const rclcpp::Node::SharedPtr & node,
    const std::string & action,
    const std::string & detect_service,
    const std::set<std::string> & own_subscriptions)
{
  auto action_client =
      rclcpp_action::create_client<quorvel_interfaces::action::ArmTask>(node, action);
  std::vector<EndpointProbe> probes;
  probes.push_back(EndpointProbe{
      action,
      "action server",
      [action_client] { return action_client->action_server_is_ready(); },
      action_client});
  probes.push_back(service_probe<quorvel_interfaces::srv::DetectTrash>(node, detect_service));
  probes.push_back(service_probe<quorvel_interfaces::srv::ArmGrab>(node, kGrabService));
  probes.push_back(service_probe<quorvel_interfaces::srv::ArmRelease>(node, kReleaseService));
  probes.push_back(service_probe<quorvel_interfaces::srv::ArmMoveJoints>(node, kMoveJointsService));
  probes.push_back(topic_probe<std_msgs::msg::Bool>(node, kArmStateTopic, own_subscriptions));
  probes.push_back(
      topic_probe<quorvel_protocol::msg::Trashes>(node, kEnvDetectTopic, own_subscriptions));
  probes.push_back(
      topic_probe<sensor_msgs::msg::JointState>(node, kJointAngleTopic, own_subscriptions));
  probes.push_back(topic_probe<std_msgs::msg::Bool>(node, kEnvEnableTopic, own_subscriptions));
  return probes;
}

}  // namespace quorvel_tools

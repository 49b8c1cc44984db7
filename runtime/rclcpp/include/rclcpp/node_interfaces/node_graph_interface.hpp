// What the ROS graph says about one endpoint of a topic, as Node::get_publishers_info_by_topic
// returns it. Same types and members as ROS 2 Humble's rclcpp.
#ifndef RCLCPP__NODE_INTERFACES__NODE_GRAPH_INTERFACE_HPP_
#define RCLCPP__NODE_INTERFACES__NODE_GRAPH_INTERFACE_HPP_

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "rcl/graph.h"
#include "rclcpp/qos.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp
{

enum class EndpointType
{
  Invalid = RMW_ENDPOINT_INVALID,
  Publisher = RMW_ENDPOINT_PUBLISHER,
  Subscription = RMW_ENDPOINT_SUBSCRIPTION
};

/// Node name and namespace, topic type ("std_msgs/msg/Bool"), endpoint kind, GID and the QoS the
/// endpoint announced.
class TopicEndpointInfo
{
public:
  explicit TopicEndpointInfo(const rcl_topic_endpoint_info_t & info)
  : node_name_(info.node_name),
    node_namespace_(info.node_namespace),
    topic_type_(info.topic_type),
    endpoint_type_(static_cast<rclcpp::EndpointType>(info.endpoint_type)),
    qos_profile_({info.qos_profile.history, info.qos_profile.depth}, info.qos_profile)
  {
    std::copy(info.endpoint_gid, info.endpoint_gid + RMW_GID_STORAGE_SIZE, endpoint_gid_.begin());
  }

  std::string & node_name() {return node_name_;}
  const std::string & node_name() const {return node_name_;}
  std::string & node_namespace() {return node_namespace_;}
  const std::string & node_namespace() const {return node_namespace_;}
  std::string & topic_type() {return topic_type_;}
  const std::string & topic_type() const {return topic_type_;}
  rclcpp::EndpointType & endpoint_type() {return endpoint_type_;}
  const rclcpp::EndpointType & endpoint_type() const {return endpoint_type_;}
  std::array<uint8_t, RMW_GID_STORAGE_SIZE> & endpoint_gid() {return endpoint_gid_;}
  const std::array<uint8_t, RMW_GID_STORAGE_SIZE> & endpoint_gid() const {return endpoint_gid_;}
  rclcpp::QoS & qos_profile() {return qos_profile_;}
  const rclcpp::QoS & qos_profile() const {return qos_profile_;}

private:
  std::string node_name_;
  std::string node_namespace_;
  std::string topic_type_;
  rclcpp::EndpointType endpoint_type_;
  std::array<uint8_t, RMW_GID_STORAGE_SIZE> endpoint_gid_;
  rclcpp::QoS qos_profile_;
};

}  // namespace rclcpp

#endif  // RCLCPP__NODE_INTERFACES__NODE_GRAPH_INTERFACE_HPP_

// Node's queries of the ROS graph.
#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "dds/dds.hpp"
#include "dds/graph.hpp"
#include "entity_support.hpp"
#include "rclcpp/node.hpp"

namespace rclcpp
{

namespace
{

std::vector<rclcpp::TopicEndpointInfo> endpoint_infos(
  const std::vector<dds::EndpointInfo> & found, rmw_endpoint_type_t kind)
{
  std::vector<rclcpp::TopicEndpointInfo> endpoints;
  endpoints.reserve(found.size());
  for (const dds::EndpointInfo & endpoint : found) {
    const std::string type = dds::ros_type_name(endpoint.type_name);
    rcl_topic_endpoint_info_t info{};
    info.node_name = "_NODE_NAME_UNKNOWN_";
    info.node_namespace = "_NODE_NAMESPACE_UNKNOWN_";
    info.topic_type = type.c_str();
    info.endpoint_type = kind;
    std::copy(endpoint.gid.begin(), endpoint.gid.end(), info.endpoint_gid);
    info.qos_profile = endpoint.qos;
    endpoints.emplace_back(info);
  }
  return endpoints;
}

}  // namespace

std::vector<rclcpp::TopicEndpointInfo> Node::get_publishers_info_by_topic(
  const std::string & topic_name, bool no_mangle) const
{
  const std::string dds_name = no_mangle ? topic_name :
    detail::dds_topic_name(base_->resolve_topic_or_service_name(topic_name, false), false);
  try {
    return endpoint_infos(
      dds::publications_on_topic(*base_->participant(), dds_name), RMW_ENDPOINT_PUBLISHER);
  } catch (const dds::DdsError & error) {
    throw std::runtime_error(error.what());
  }
}

std::vector<rclcpp::TopicEndpointInfo> Node::get_subscriptions_info_by_topic(
  const std::string & topic_name, bool no_mangle) const
{
  const std::string dds_name = no_mangle ? topic_name :
    detail::dds_topic_name(base_->resolve_topic_or_service_name(topic_name, false), false);
  try {
    return endpoint_infos(
      dds::subscriptions_on_topic(*base_->participant(), dds_name), RMW_ENDPOINT_SUBSCRIPTION);
  } catch (const dds::DdsError & error) {
    throw std::runtime_error(error.what());
  }
}

}  // namespace rclcpp

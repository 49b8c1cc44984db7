// Which of the supervisor's endpoints are there, as quorvel status and quorvel dashboard show.
#ifndef QUORVEL_TOOLS__ENDPOINT_PROBES_HPP_
#define QUORVEL_TOOLS__ENDPOINT_PROBES_HPP_

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <rclcpp/rclcpp.hpp>

namespace quorvel_tools
{

struct EndpointProbe
{
  std::string name;
  std::string kind;  // "action server", "service", "subscribed topic"
  // Reads the graph as the node's entities see it; cheap, no waiting. The node's thread.
  std::function<bool()> is_up;
  // Keeps the probing entity alive.
  std::shared_ptr<void> entity;
};

// Probes on `node` for the supervisor's action server, the four services it calls and its
// four input topics (a topic is up while something subscribes to it). `own_subscriptions`
// names topics this process subscribes to itself: its own subscriber does not count there.
std::vector<EndpointProbe> make_supervisor_probes(
    const rclcpp::Node::SharedPtr & node,
    const std::string & action,
    const std::string & detect_service,
    const std::set<std::string> & own_subscriptions = {});

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__ENDPOINT_PROBES_HPP_

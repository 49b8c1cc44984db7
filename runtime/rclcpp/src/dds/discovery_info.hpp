// The participant's entry in `ros_discovery_info`: which nodes live in it and which DDS readers
// and writers belong to each node. ROS 2 tools list nodes from these samples only.
#ifndef RCLCPP__DDS__DISCOVERY_INFO_HPP_
#define RCLCPP__DDS__DISCOVERY_INFO_HPP_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "dds/dds.h"

#include "dds/dds.hpp"

namespace rclcpp
{
namespace dds
{

/// DDS topic and type of the node/endpoint announcements.
constexpr const char * kDiscoveryInfoTopic = "ros_discovery_info";
const MessageMembers * discovery_info_members();
/// QoS of the announcement writer: reliable, transient-local, keep-last 1, so that tools started
/// later receive the current list.
rmw_qos_profile_t discovery_info_qos();

class DiscoveryInfo
{
public:
  /// `writer` is a writer of kDiscoveryInfoTopic owned by the participant.
  DiscoveryInfo(dds_entity_t writer, const Gid & participant_gid);

  // Each call republishes the complete list (a receiver replaces its whole entry for this
  // participant). Any thread; calls are serialised so the last sample is the current state.
  uint64_t add_node(const std::string & name, const std::string & namespace_);
  void remove_node(uint64_t node_key);
  void add_reader(uint64_t node_key, const Gid & gid);
  void add_writer(uint64_t node_key, const Gid & gid);
  void remove_reader(uint64_t node_key, const Gid & gid);
  void remove_writer(uint64_t node_key, const Gid & gid);

private:
  struct Node
  {
    std::string name;
    std::string namespace_;
    std::vector<Gid> readers;
    std::vector<Gid> writers;
  };

  void publish_locked();

  const dds_entity_t writer_;
  const Gid participant_gid_;
  std::mutex mutex_;
  uint64_t next_key_ = 1;
  std::map<uint64_t, Node> nodes_;  // in creation order
};

}  // namespace dds
}  // namespace rclcpp

#endif  // RCLCPP__DDS__DISCOVERY_INFO_HPP_

#include "dds/discovery_info.hpp"

#include <algorithm>

#include "rmw_dds_common/msg/detail/participant_entities_info__rosidl_typesupport_introspection_cpp.hpp"
#include "rmw_dds_common/msg/participant_entities_info.hpp"

#include "dds/sertype.hpp"

namespace rclcpp
{
namespace dds
{

const MessageMembers * discovery_info_members()
{
  const rosidl_message_type_support_t * ts = ROSIDL_TYPESUPPORT_INTERFACE__MESSAGE_SYMBOL_NAME(
      rosidl_typesupport_introspection_cpp, rmw_dds_common, msg, ParticipantEntitiesInfo)();
  return static_cast<const MessageMembers *>(ts->data);
}

rmw_qos_profile_t discovery_info_qos()
{
  rmw_qos_profile_t qos{};
  qos.history = RMW_QOS_POLICY_HISTORY_KEEP_LAST;
  qos.depth = 1;
  qos.reliability = RMW_QOS_POLICY_RELIABILITY_RELIABLE;
  qos.durability = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
  qos.liveliness = RMW_QOS_POLICY_LIVELINESS_AUTOMATIC;
  qos.avoid_ros_namespace_conventions = true;
  return qos;
}

DiscoveryInfo::DiscoveryInfo(dds_entity_t writer, const Gid & participant_gid)
    : writer_(writer), participant_gid_(participant_gid)
{
}

uint64_t DiscoveryInfo::add_node(const std::string & name, const std::string & namespace_)
{
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t key = next_key_++;
  nodes_[key] = Node{name, namespace_, {}, {}};
  publish_locked();
  return key;
}

void DiscoveryInfo::remove_node(uint64_t node_key)
{
  std::lock_guard<std::mutex> lock(mutex_);
  if (nodes_.erase(node_key) != 0) {
    publish_locked();
  }
}

namespace
{

bool erase_one(std::vector<Gid> & gids, const Gid & gid)
{
  auto it = std::find(gids.begin(), gids.end(), gid);
  if (it == gids.end()) {
    return false;
  }
  gids.erase(it);
  return true;
}

}  // namespace

void DiscoveryInfo::add_reader(uint64_t node_key, const Gid & gid)
{
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = nodes_.find(node_key);
  if (it != nodes_.end()) {
    it->second.readers.push_back(gid);
    publish_locked();
  }
}

void DiscoveryInfo::add_writer(uint64_t node_key, const Gid & gid)
{
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = nodes_.find(node_key);
  if (it != nodes_.end()) {
    it->second.writers.push_back(gid);
    publish_locked();
  }
}

void DiscoveryInfo::remove_reader(uint64_t node_key, const Gid & gid)
{
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = nodes_.find(node_key);
  if (it != nodes_.end() && erase_one(it->second.readers, gid)) {
    publish_locked();
  }
}

void DiscoveryInfo::remove_writer(uint64_t node_key, const Gid & gid)
{
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = nodes_.find(node_key);
  if (it != nodes_.end() && erase_one(it->second.writers, gid)) {
    publish_locked();
  }
}

void DiscoveryInfo::publish_locked()
{
  rmw_dds_common::msg::ParticipantEntitiesInfo info;
  info.gid.data = participant_gid_;
  info.node_entities_info_seq.reserve(nodes_.size());
  for (const auto & entry : nodes_) {
    const Node & node = entry.second;
    rmw_dds_common::msg::NodeEntitiesInfo out;
    out.node_namespace = node.namespace_;
    out.node_name = node.name;
    for (const Gid & gid : node.readers) {
      out.reader_gid_seq.emplace_back().data = gid;
    }
    for (const Gid & gid : node.writers) {
      out.writer_gid_seq.emplace_back().data = gid;
    }
    info.node_entities_info_seq.push_back(std::move(out));
  }
  const SampleRef sample{discovery_info_members(), &info, nullptr};
  // A refused write leaves tools with the previous list until the next change; nothing here
  // could do better.
  (void)dds_write(writer_, &sample);
}

}  // namespace dds
}  // namespace rclcpp

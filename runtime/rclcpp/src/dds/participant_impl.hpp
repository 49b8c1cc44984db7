// Participant internals shared with Writer and Reader.
#ifndef RCLCPP__DDS__PARTICIPANT_IMPL_HPP_
#define RCLCPP__DDS__PARTICIPANT_IMPL_HPP_

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>

#include "dds/dds.h"

#include "dds/dds.hpp"
#include "dds/discovery_info.hpp"
#include "dds/graph.hpp"
#include "dds/sertype.hpp"

namespace rclcpp
{
namespace dds
{

struct TopicEntry
{
  dds_entity_t topic = 0;
  /// The interned sertype Cyclone uses for the topic; lives as long as the topic.
  SerType * sertype = nullptr;
};

struct Participant::Impl
{
  uint32_t domain_id = 0;
  bool domain_acquired = false;
  dds_entity_t participant = 0;
  dds_entity_t publisher = 0;
  dds_entity_t subscriber = 0;
  Gid gid{};
  std::atomic<uint32_t> endpoint_counter{0};
  std::unique_ptr<DiscoveryInfo> discovery;

  // The publications and subscriptions of the domain as the builtin DCPSPublication and
  // DCPSSubscription topics tell them, kept up to date by each graph query (graph.cpp), which
  // takes only what changed since the last one.
  std::mutex graph_mutex;
  dds_entity_t publication_reader = 0;           // created by the first query of its kind
  std::map<Gid, EndpointInfo> publications;      // by endpoint GID
  dds_entity_t subscription_reader = 0;
  std::map<Gid, EndpointInfo> subscriptions;

  /// Finds or creates the topic; any thread. Throws DdsError.
  TopicEntry topic(
      const std::string & topic_name, const MessageMembers * members, bool service_prefix);
  /// The same by DDS type name; `members` may be null when no sample is ever decoded by
  /// Cyclone itself (readers of serialized bytes).
  TopicEntry topic(
      const std::string & topic_name,
      const std::string & type_name,
      const MessageMembers * members,
      bool service_prefix);

private:
  std::mutex topics_mutex_;
  // (topic name, type name, service prefix): topics are never deleted before the participant.
  std::map<std::tuple<std::string, std::string, bool>, TopicEntry> topics_;
};

}  // namespace dds
}  // namespace rclcpp

#endif  // RCLCPP__DDS__PARTICIPANT_IMPL_HPP_

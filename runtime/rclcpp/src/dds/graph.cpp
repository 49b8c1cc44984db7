#include "dds/graph.hpp"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "dds/endpoint.hpp"
#include "dds/participant_impl.hpp"
#include "rmw/qos_profiles.h"

namespace rclcpp
{
namespace dds
{

namespace
{

rmw_time_t rmw_time_of(dds_duration_t duration)
{
  if (duration == DDS_INFINITY) {
    return RMW_DURATION_INFINITE;
  }
  const auto ns = static_cast<uint64_t>(duration < 0 ? 0 : duration);
  return rmw_time_t{ns / 1000000000u, ns % 1000000000u};
}

Gid gid_of(const dds_guid_t & guid)
{
  Gid gid{};
  static_assert(sizeof guid.v <= sizeof(Gid), "a GUID fits in a GID");
  std::memcpy(gid.data(), guid.v, sizeof guid.v);
  return gid;
}

}  // namespace

rmw_qos_profile_t rmw_profile_of(const dds_qos_t * qos)
{
  rmw_qos_profile_t profile = rmw_qos_profile_unknown;
  dds_history_kind_t history;
  int32_t depth = 0;
  if (dds_qget_history(qos, &history, &depth)) {
    if (history == DDS_HISTORY_KEEP_ALL) {
      profile.history = RMW_QOS_POLICY_HISTORY_KEEP_ALL;
      // rmw_cyclonedds reports 0 here: its tools cannot carry Cyclone's -1.
      profile.depth = 0;
    } else {
      profile.history = RMW_QOS_POLICY_HISTORY_KEEP_LAST;
      profile.depth = depth < 0 ? 0u : static_cast<size_t>(depth);
    }
  }
  dds_reliability_kind_t reliability;
  dds_duration_t blocking = 0;
  if (dds_qget_reliability(qos, &reliability, &blocking)) {
    profile.reliability = reliability == DDS_RELIABILITY_RELIABLE
                              ? RMW_QOS_POLICY_RELIABILITY_RELIABLE
                              : RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT;
  }
  dds_durability_kind_t durability;
  if (dds_qget_durability(qos, &durability)) {
    switch (durability) {
      case DDS_DURABILITY_VOLATILE:
        profile.durability = RMW_QOS_POLICY_DURABILITY_VOLATILE;
        break;
      case DDS_DURABILITY_TRANSIENT_LOCAL:
        profile.durability = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
        break;
      case DDS_DURABILITY_TRANSIENT:
      case DDS_DURABILITY_PERSISTENT:
        profile.durability = RMW_QOS_POLICY_DURABILITY_UNKNOWN;
        break;
    }
  }
  dds_duration_t deadline = DDS_INFINITY;
  if (dds_qget_deadline(qos, &deadline)) {
    profile.deadline = rmw_time_of(deadline);
  }
  dds_duration_t lifespan = DDS_INFINITY;
  if (!dds_qget_lifespan(qos, &lifespan)) {
    lifespan = DDS_INFINITY;
  }
  profile.lifespan = rmw_time_of(lifespan);
  dds_liveliness_kind_t liveliness;
  dds_duration_t lease = DDS_INFINITY;
  if (dds_qget_liveliness(qos, &liveliness, &lease)) {
    switch (liveliness) {
      case DDS_LIVELINESS_AUTOMATIC:
        profile.liveliness = RMW_QOS_POLICY_LIVELINESS_AUTOMATIC;
        break;
      case DDS_LIVELINESS_MANUAL_BY_PARTICIPANT:
        profile.liveliness = RMW_QOS_POLICY_LIVELINESS_UNKNOWN;
        break;
      case DDS_LIVELINESS_MANUAL_BY_TOPIC:
        profile.liveliness = RMW_QOS_POLICY_LIVELINESS_MANUAL_BY_TOPIC;
        break;
    }
    profile.liveliness_lease_duration = rmw_time_of(lease);
  }
  profile.avoid_ros_namespace_conventions = false;
  return profile;
}

namespace
{

// Takes what changed on `builtin_topic` since the last query into `known`, then lists the live
// endpoints on `topic_name`. Called under the participant's graph mutex.
std::vector<EndpointInfo> endpoints_on_topic(
    dds_entity_t participant,
    dds_entity_t builtin_topic,
    dds_entity_t & reader,
    std::map<Gid, EndpointInfo> & known,
    const std::string & topic_name)
{
  if (reader == 0) {
    // Created once: it is handed every endpoint known at its creation, then the changes.
    reader = checked(
        dds_create_reader(participant, builtin_topic, nullptr, nullptr),
        "cannot read the DDS endpoints of the graph");
  }
  constexpr size_t kBatch = 64;
  void * samples[kBatch];
  dds_sample_info_t infos[kBatch];
  while (true) {
    std::fill(std::begin(samples), std::end(samples), nullptr);
    const dds_return_t n = dds_take(reader, samples, infos, kBatch, kBatch);
    if (n < 0) {
      throw_dds_error("cannot read the DDS endpoints of the graph", n);
    }
    if (n == 0) {
      break;
    }
    for (dds_return_t i = 0; i < n; ++i) {
      const auto * endpoint = static_cast<const dds_builtintopic_endpoint_t *>(samples[i]);
      const Gid gid = gid_of(endpoint->key);
      if (infos[i].instance_state != DDS_IST_ALIVE) {
        known.erase(gid);
        continue;
      }
      if (!infos[i].valid_data || endpoint->topic_name == nullptr) {
        continue;
      }
      EndpointInfo info;
      info.gid = gid;
      info.participant_gid = gid_of(endpoint->participant_key);
      info.topic_name = endpoint->topic_name;
      info.type_name = endpoint->type_name != nullptr ? endpoint->type_name : "";
      info.qos = endpoint->qos != nullptr ? rmw_profile_of(endpoint->qos) : rmw_qos_profile_unknown;
      known[gid] = std::move(info);
    }
    dds_return_loan(reader, samples, n);
  }
  std::vector<EndpointInfo> found;
  for (const auto & entry : known) {
    if (entry.second.topic_name == topic_name) {
      found.push_back(entry.second);
    }
  }
  return found;
}

}  // namespace

std::vector<EndpointInfo> publications_on_topic(
    Participant & participant, const std::string & topic_name)
{
  Participant::Impl & p = *participant.impl_;
  std::lock_guard<std::mutex> lock(p.graph_mutex);
  return endpoints_on_topic(
      p.participant, DDS_BUILTIN_TOPIC_DCPSPUBLICATION, p.publication_reader, p.publications,
      topic_name);
}

std::vector<EndpointInfo> subscriptions_on_topic(
    Participant & participant, const std::string & topic_name)
{
  Participant::Impl & p = *participant.impl_;
  std::lock_guard<std::mutex> lock(p.graph_mutex);
  return endpoints_on_topic(
      p.participant, DDS_BUILTIN_TOPIC_DCPSSUBSCRIPTION, p.subscription_reader, p.subscriptions,
      topic_name);
}

std::string ros_type_name(const std::string & dds_type_name)
{
  static constexpr char kMarker[] = "::dds_::";
  const std::size_t marker = dds_type_name.find(kMarker);
  if (marker == std::string::npos || dds_type_name.empty() || dds_type_name.back() != '_') {
    return dds_type_name;
  }
  std::string name =
      dds_type_name.substr(0, marker) + "::" +
      dds_type_name.substr(
          marker + sizeof kMarker - 1, dds_type_name.size() - marker - (sizeof kMarker - 1) - 1);
  for (std::size_t pos = name.find("::"); pos != std::string::npos; pos = name.find("::", pos)) {
    name.replace(pos, 2, "/");
  }
  return name;
}

std::string dds_type_name_of(const std::string & ros_type_name)
{
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t slash = ros_type_name.find('/', start);
    parts.push_back(
        ros_type_name.substr(start, slash == std::string::npos ? slash : slash - start));
    if (slash == std::string::npos) {
      break;
    }
    start = slash + 1;
  }
  for (const std::string & part : parts) {
    if (part.empty()) {
      throw std::invalid_argument("Invalid type specification: '" + ros_type_name + "'");
    }
  }
  if (parts.size() == 2) {
    parts.insert(parts.begin() + 1, "msg");
  }
  if (parts.size() != 3) {
    throw std::invalid_argument("Invalid type specification: '" + ros_type_name + "'");
  }
  return parts[0] + "::" + parts[1] + "::dds_::" + parts[2] + "_";
}

}  // namespace dds
}  // namespace rclcpp

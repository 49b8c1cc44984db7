#include "dds/qos.hpp"

#include <cstdint>
#include <limits>
#include <string>

#include "dds/dds.hpp"

namespace rclcpp
{
namespace dds
{

namespace
{

bool is_unspecified(const rmw_time_t & t) { return t.sec == 0 && t.nsec == 0; }

/// Saturates at DDS_INFINITY, which is also what rmw's "infinite" {9223372036, 854775807} is.
dds_duration_t to_duration(const rmw_time_t & t)
{
  constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
  constexpr uint64_t kNsPerSec = 1000000000ull;
  if (t.sec > kMax / kNsPerSec) {
    return DDS_INFINITY;
  }
  const uint64_t sec_ns = t.sec * kNsPerSec;
  if (t.nsec > kMax - sec_ns) {
    return DDS_INFINITY;
  }
  return static_cast<dds_duration_t>(sec_ns + t.nsec);
}

}  // namespace

QosPtr make_endpoint_qos(
    const rmw_qos_profile_t & profile, const std::string & user_data, bool ignore_local)
{
  QosPtr qos(dds_create_qos());
  if (!qos) {
    throw DdsError("cannot allocate a DDS QoS object");
  }
  dds_qos_t * q = qos.get();

  if (profile.depth > static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
    throw DdsError("QoS history depth " + std::to_string(profile.depth) + " is too large");
  }
  // Depth 0 means "system default"; ROS 2 on Cyclone turns it into 1.
  const int32_t depth = profile.depth == 0 ? 1 : static_cast<int32_t>(profile.depth);
  dds_history_kind_t history_kind = DDS_HISTORY_KEEP_LAST;
  int32_t history_depth = depth;
  switch (profile.history) {
    case RMW_QOS_POLICY_HISTORY_SYSTEM_DEFAULT:
    case RMW_QOS_POLICY_HISTORY_KEEP_LAST:
      break;
    case RMW_QOS_POLICY_HISTORY_KEEP_ALL:
      history_kind = DDS_HISTORY_KEEP_ALL;
      history_depth = DDS_LENGTH_UNLIMITED;
      break;
    case RMW_QOS_POLICY_HISTORY_UNKNOWN:
      throw DdsError("unknown QoS history policy");
  }
  dds_qset_history(q, history_kind, history_depth);

  switch (profile.reliability) {
    case RMW_QOS_POLICY_RELIABILITY_SYSTEM_DEFAULT:
    case RMW_QOS_POLICY_RELIABILITY_RELIABLE:
      dds_qset_reliability(q, DDS_RELIABILITY_RELIABLE, DDS_INFINITY);
      break;
    case RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT:
      dds_qset_reliability(q, DDS_RELIABILITY_BEST_EFFORT, 0);
      break;
    case RMW_QOS_POLICY_RELIABILITY_UNKNOWN:
      throw DdsError("unknown QoS reliability policy");
  }

  switch (profile.durability) {
    case RMW_QOS_POLICY_DURABILITY_SYSTEM_DEFAULT:
    case RMW_QOS_POLICY_DURABILITY_VOLATILE:
      dds_qset_durability(q, DDS_DURABILITY_VOLATILE);
      break;
    case RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL:
      dds_qset_durability(q, DDS_DURABILITY_TRANSIENT_LOCAL);
      // Cyclone serves late joiners from the durability service history, not from HISTORY.
      dds_qset_durability_service(
          q,
          0,
          history_kind,
          history_depth,
          DDS_LENGTH_UNLIMITED,
          DDS_LENGTH_UNLIMITED,
          DDS_LENGTH_UNLIMITED);
      break;
    case RMW_QOS_POLICY_DURABILITY_UNKNOWN:
      throw DdsError("unknown QoS durability policy");
  }

  if (!is_unspecified(profile.lifespan)) {
    dds_qset_lifespan(q, to_duration(profile.lifespan));
  }
  if (!is_unspecified(profile.deadline)) {
    dds_qset_deadline(q, to_duration(profile.deadline));
  }

  const dds_duration_t lease = is_unspecified(profile.liveliness_lease_duration)
                                   ? DDS_INFINITY
                                   : to_duration(profile.liveliness_lease_duration);
  switch (profile.liveliness) {
    case RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT:
    case RMW_QOS_POLICY_LIVELINESS_AUTOMATIC:
      dds_qset_liveliness(q, DDS_LIVELINESS_AUTOMATIC, lease);
      break;
    case RMW_QOS_POLICY_LIVELINESS_MANUAL_BY_TOPIC:
      dds_qset_liveliness(q, DDS_LIVELINESS_MANUAL_BY_TOPIC, lease);
      break;
    case RMW_QOS_POLICY_LIVELINESS_UNKNOWN:
      throw DdsError("unknown QoS liveliness policy");
  }

  // Cyclone disposes instances of a deleted writer by default; ROS 2 peers expect it not to.
  dds_qset_writer_data_lifecycle(q, false);

  if (ignore_local) {
    dds_qset_ignorelocal(q, DDS_IGNORELOCAL_PARTICIPANT);
  }
  if (!user_data.empty()) {
    dds_qset_userdata(q, user_data.data(), user_data.size());
  }
  return qos;
}

}  // namespace dds
}  // namespace rclcpp

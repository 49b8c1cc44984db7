// The QoS a publisher offered, as a bag keeps it: a YAML list in `offered_qos_profiles`, with
// the rmw enum values as numbers.
#ifndef QUORVEL_BAG__QOS_PROFILE_HPP_
#define QUORVEL_BAG__QOS_PROFILE_HPP_

#include <cstdint>
#include <string>
#include <vector>

#include <rmw/types.h>

namespace quorvel_bag
{

struct QosTime
{
  std::uint64_t sec = 0;
  std::uint64_t nsec = 0;
  bool operator==(const QosTime & other) const { return sec == other.sec && nsec == other.nsec; }
};

/// One publisher's offer. Numbers are rmw's: history 1 keep last, 2 keep all, 3 unknown;
/// reliability 1 reliable, 2 best effort; durability 1 transient local, 2 volatile;
/// liveliness 1 automatic, 3 manual by topic.
struct OfferedQos
{
  int history = RMW_QOS_POLICY_HISTORY_UNKNOWN;
  std::uint64_t depth = 0;
  int reliability = RMW_QOS_POLICY_RELIABILITY_RELIABLE;
  int durability = RMW_QOS_POLICY_DURABILITY_VOLATILE;
  QosTime deadline;
  QosTime lifespan;
  int liveliness = RMW_QOS_POLICY_LIVELINESS_AUTOMATIC;
  QosTime liveliness_lease_duration;
  bool avoid_ros_namespace_conventions = false;

  bool operator==(const OfferedQos & other) const;
};

OfferedQos offered_qos_from_rmw(const rmw_qos_profile_t & profile);
rmw_qos_profile_t offered_qos_to_rmw(const OfferedQos & offer);

/// The YAML text rosbag2 stores: one list item per offer, keys in rosbag2's order. An empty list
/// is "[]".
std::string offered_qos_to_yaml(const std::vector<OfferedQos> & offers);

/// Parses that text. An empty text is an empty list (bags older than metadata version 4 have
/// none). Throws BagError (without a bag name: the caller adds where it came from) for text that
/// is not such a list.
std::vector<OfferedQos> offered_qos_from_yaml(const std::string & text);

}  // namespace quorvel_bag

#endif  // QUORVEL_BAG__QOS_PROFILE_HPP_

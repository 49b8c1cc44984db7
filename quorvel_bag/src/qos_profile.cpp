#include "quorvel_bag/qos_profile.hpp"

#include <string>
#include <type_traits>
#include <vector>

#include <yaml-cpp/yaml.h>

#include "quorvel_bag/bag_error.hpp"

namespace quorvel_bag
{

namespace
{

QosTime qos_time_of(const rmw_time_t & time) { return QosTime{time.sec, time.nsec}; }

rmw_time_t rmw_time_of(const QosTime & time) { return rmw_time_t{time.sec, time.nsec}; }

void emit_time(YAML::Emitter & out, const char * key, const QosTime & time)
{
  out << YAML::Key << key << YAML::Value << YAML::BeginMap;
  out << YAML::Key << "sec" << YAML::Value << time.sec;
  out << YAML::Key << "nsec" << YAML::Value << time.nsec;
  out << YAML::EndMap;
}

template <typename T>
T qos_field(const YAML::Node & entry, const char * key, std::size_t index)
{
  const YAML::Node node = entry[key];
  if (!node) {
    throw BagError("offered_qos_profiles entry " + std::to_string(index) + " has no '" + key + "'");
  }
  try {
    return node.as<T>();
  } catch (const YAML::Exception &) {
    throw BagError(
        "offered_qos_profiles entry " + std::to_string(index) + ": '" + key + "' is not a " +
        (std::is_same_v<T, bool> ? "boolean" : "number"));
  }
}

QosTime qos_time_field(const YAML::Node & entry, const char * key, std::size_t index)
{
  const YAML::Node node = entry[key];
  if (!node || !node.IsMap()) {
    throw BagError(
        "offered_qos_profiles entry " + std::to_string(index) + ": '" + key +
        "' is not a map of sec and nsec");
  }
  QosTime time;
  time.sec = qos_field<std::uint64_t>(node, "sec", index);
  time.nsec = qos_field<std::uint64_t>(node, "nsec", index);
  return time;
}

}  // namespace

bool OfferedQos::operator==(const OfferedQos & other) const
{
  return history == other.history && depth == other.depth && reliability == other.reliability &&
         durability == other.durability && deadline == other.deadline &&
         lifespan == other.lifespan && liveliness == other.liveliness &&
         liveliness_lease_duration == other.liveliness_lease_duration &&
         avoid_ros_namespace_conventions == other.avoid_ros_namespace_conventions;
}

OfferedQos offered_qos_from_rmw(const rmw_qos_profile_t & profile)
{
  OfferedQos offer;
  offer.history = static_cast<int>(profile.history);
  offer.depth = profile.depth;
  offer.reliability = static_cast<int>(profile.reliability);
  offer.durability = static_cast<int>(profile.durability);
  offer.deadline = qos_time_of(profile.deadline);
  offer.lifespan = qos_time_of(profile.lifespan);
  offer.liveliness = static_cast<int>(profile.liveliness);
  offer.liveliness_lease_duration = qos_time_of(profile.liveliness_lease_duration);
  offer.avoid_ros_namespace_conventions = profile.avoid_ros_namespace_conventions;
  return offer;
}

rmw_qos_profile_t offered_qos_to_rmw(const OfferedQos & offer)
{
  rmw_qos_profile_t profile{};
  profile.history = static_cast<rmw_qos_history_policy_t>(offer.history);
  profile.depth = static_cast<std::size_t>(offer.depth);
  profile.reliability = static_cast<rmw_qos_reliability_policy_t>(offer.reliability);
  profile.durability = static_cast<rmw_qos_durability_policy_t>(offer.durability);
  profile.deadline = rmw_time_of(offer.deadline);
  profile.lifespan = rmw_time_of(offer.lifespan);
  profile.liveliness = static_cast<rmw_qos_liveliness_policy_t>(offer.liveliness);
  profile.liveliness_lease_duration = rmw_time_of(offer.liveliness_lease_duration);
  profile.avoid_ros_namespace_conventions = offer.avoid_ros_namespace_conventions;
  return profile;
}

std::string offered_qos_to_yaml(const std::vector<OfferedQos> & offers)
{
  YAML::Emitter out;
  out << YAML::BeginSeq;
  for (const OfferedQos & offer : offers) {
    out << YAML::BeginMap;
    out << YAML::Key << "history" << YAML::Value << offer.history;
    out << YAML::Key << "depth" << YAML::Value << offer.depth;
    out << YAML::Key << "reliability" << YAML::Value << offer.reliability;
    out << YAML::Key << "durability" << YAML::Value << offer.durability;
    emit_time(out, "deadline", offer.deadline);
    emit_time(out, "lifespan", offer.lifespan);
    out << YAML::Key << "liveliness" << YAML::Value << offer.liveliness;
    emit_time(out, "liveliness_lease_duration", offer.liveliness_lease_duration);
    out << YAML::Key << "avoid_ros_namespace_conventions" << YAML::Value
        << offer.avoid_ros_namespace_conventions;
    out << YAML::EndMap;
  }
  out << YAML::EndSeq;
  return out.c_str();
}

std::vector<OfferedQos> offered_qos_from_yaml(const std::string & text)
{
  std::vector<OfferedQos> offers;
  if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
    return offers;
  }
  YAML::Node root;
  try {
    root = YAML::Load(text);
  } catch (const YAML::Exception & error) {
    throw BagError("offered_qos_profiles is not YAML: " + error.msg);
  }
  if (!root.IsSequence()) {
    throw BagError("offered_qos_profiles is not a list");
  }
  for (std::size_t i = 0; i < root.size(); ++i) {
    const YAML::Node entry = root[i];
    if (!entry.IsMap()) {
      throw BagError("offered_qos_profiles entry " + std::to_string(i) + " is not a map");
    }
    OfferedQos offer;
    offer.history = qos_field<int>(entry, "history", i);
    offer.depth = qos_field<std::uint64_t>(entry, "depth", i);
    offer.reliability = qos_field<int>(entry, "reliability", i);
    offer.durability = qos_field<int>(entry, "durability", i);
    offer.deadline = qos_time_field(entry, "deadline", i);
    offer.lifespan = qos_time_field(entry, "lifespan", i);
    offer.liveliness = qos_field<int>(entry, "liveliness", i);
    offer.liveliness_lease_duration = qos_time_field(entry, "liveliness_lease_duration", i);
    offer.avoid_ros_namespace_conventions =
        qos_field<bool>(entry, "avoid_ros_namespace_conventions", i);
    offers.push_back(offer);
  }
  return offers;
}

}  // namespace quorvel_bag

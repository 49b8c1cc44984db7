#include "rclcpp/qos.hpp"

namespace rclcpp
{

QoSInitialization QoSInitialization::from_rmw(const rmw_qos_profile_t & rmw_qos)
{
  return QoSInitialization(rmw_qos.history, rmw_qos.depth);
}

QoS::QoS(const QoSInitialization & qos_initialization, const rmw_qos_profile_t & initial_profile)
: rmw_qos_profile_(initial_profile)
{
  rmw_qos_profile_.history = qos_initialization.history_policy;
  rmw_qos_profile_.depth = qos_initialization.depth;
}

QoS::QoS(size_t history_depth) : QoS(KeepLast(history_depth)) {}

QoS & QoS::history(rmw_qos_history_policy_t history)
{
  rmw_qos_profile_.history = history;
  return *this;
}

QoS & QoS::history(HistoryPolicy history)
{
  switch (history) {
    case HistoryPolicy::KeepLast: rmw_qos_profile_.history = RMW_QOS_POLICY_HISTORY_KEEP_LAST; break;
    case HistoryPolicy::KeepAll: rmw_qos_profile_.history = RMW_QOS_POLICY_HISTORY_KEEP_ALL; break;
    case HistoryPolicy::SystemDefault:
      rmw_qos_profile_.history = RMW_QOS_POLICY_HISTORY_SYSTEM_DEFAULT;
      break;
  }
  return *this;
}

QoS & QoS::keep_last(size_t depth)
{
  rmw_qos_profile_.history = RMW_QOS_POLICY_HISTORY_KEEP_LAST;
  rmw_qos_profile_.depth = depth;
  return *this;
}

QoS & QoS::keep_all()
{
  rmw_qos_profile_.history = RMW_QOS_POLICY_HISTORY_KEEP_ALL;
  rmw_qos_profile_.depth = 0;
  return *this;
}

QoS & QoS::reliability(rmw_qos_reliability_policy_t reliability)
{
  rmw_qos_profile_.reliability = reliability;
  return *this;
}

QoS & QoS::reliability(ReliabilityPolicy reliability)
{
  switch (reliability) {
    case ReliabilityPolicy::BestEffort:
      rmw_qos_profile_.reliability = RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT;
      break;
    case ReliabilityPolicy::Reliable:
      rmw_qos_profile_.reliability = RMW_QOS_POLICY_RELIABILITY_RELIABLE;
      break;
    case ReliabilityPolicy::SystemDefault:
      rmw_qos_profile_.reliability = RMW_QOS_POLICY_RELIABILITY_SYSTEM_DEFAULT;
      break;
  }
  return *this;
}

QoS & QoS::reliable() {return reliability(RMW_QOS_POLICY_RELIABILITY_RELIABLE);}
QoS & QoS::best_effort() {return reliability(RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT);}

QoS & QoS::durability(rmw_qos_durability_policy_t durability)
{
  rmw_qos_profile_.durability = durability;
  return *this;
}

QoS & QoS::durability(DurabilityPolicy durability)
{
  switch (durability) {
    case DurabilityPolicy::Volatile:
      rmw_qos_profile_.durability = RMW_QOS_POLICY_DURABILITY_VOLATILE;
      break;
    case DurabilityPolicy::TransientLocal:
      rmw_qos_profile_.durability = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
      break;
    case DurabilityPolicy::SystemDefault:
      rmw_qos_profile_.durability = RMW_QOS_POLICY_DURABILITY_SYSTEM_DEFAULT;
      break;
  }
  return *this;
}

QoS & QoS::durability_volatile() {return durability(RMW_QOS_POLICY_DURABILITY_VOLATILE);}
QoS & QoS::transient_local() {return durability(RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL);}

QoS & QoS::avoid_ros_namespace_conventions(bool avoid)
{
  rmw_qos_profile_.avoid_ros_namespace_conventions = avoid;
  return *this;
}

HistoryPolicy QoS::history() const
{
  switch (rmw_qos_profile_.history) {
    case RMW_QOS_POLICY_HISTORY_KEEP_LAST: return HistoryPolicy::KeepLast;
    case RMW_QOS_POLICY_HISTORY_KEEP_ALL: return HistoryPolicy::KeepAll;
    case RMW_QOS_POLICY_HISTORY_SYSTEM_DEFAULT:
    case RMW_QOS_POLICY_HISTORY_UNKNOWN:
      return HistoryPolicy::SystemDefault;
  }
  return HistoryPolicy::SystemDefault;
}

ReliabilityPolicy QoS::reliability() const
{
  switch (rmw_qos_profile_.reliability) {
    case RMW_QOS_POLICY_RELIABILITY_RELIABLE: return ReliabilityPolicy::Reliable;
    case RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT: return ReliabilityPolicy::BestEffort;
    case RMW_QOS_POLICY_RELIABILITY_SYSTEM_DEFAULT:
    case RMW_QOS_POLICY_RELIABILITY_UNKNOWN:
      return ReliabilityPolicy::SystemDefault;
  }
  return ReliabilityPolicy::SystemDefault;
}

DurabilityPolicy QoS::durability() const
{
  switch (rmw_qos_profile_.durability) {
    case RMW_QOS_POLICY_DURABILITY_VOLATILE: return DurabilityPolicy::Volatile;
    case RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL: return DurabilityPolicy::TransientLocal;
    case RMW_QOS_POLICY_DURABILITY_SYSTEM_DEFAULT:
    case RMW_QOS_POLICY_DURABILITY_UNKNOWN:
      return DurabilityPolicy::SystemDefault;
  }
  return DurabilityPolicy::SystemDefault;
}

bool QoS::operator==(const QoS & other) const
{
  const auto & a = rmw_qos_profile_;
  const auto & b = other.rmw_qos_profile_;
  return a.history == b.history && a.depth == b.depth && a.reliability == b.reliability &&
         a.durability == b.durability && a.deadline.sec == b.deadline.sec &&
         a.deadline.nsec == b.deadline.nsec && a.lifespan.sec == b.lifespan.sec &&
         a.lifespan.nsec == b.lifespan.nsec && a.liveliness == b.liveliness &&
         a.liveliness_lease_duration.sec == b.liveliness_lease_duration.sec &&
         a.liveliness_lease_duration.nsec == b.liveliness_lease_duration.nsec &&
         a.avoid_ros_namespace_conventions == b.avoid_ros_namespace_conventions;
}

SensorDataQoS::SensorDataQoS(const QoSInitialization & init)
: QoS(init, rmw_qos_profile_sensor_data) {}
ParametersQoS::ParametersQoS(const QoSInitialization & init)
: QoS(init, rmw_qos_profile_parameters) {}
ServicesQoS::ServicesQoS(const QoSInitialization & init)
: QoS(init, rmw_qos_profile_services_default) {}
ParameterEventsQoS::ParameterEventsQoS(const QoSInitialization & init)
: QoS(init, rmw_qos_profile_parameter_events) {}
RosoutQoS::RosoutQoS(const QoSInitialization & init)
: QoS(init, rcl_qos_profile_rosout_default) {}
SystemDefaultsQoS::SystemDefaultsQoS(const QoSInitialization & init)
: QoS(init, rmw_qos_profile_system_default) {}

}  // namespace rclcpp

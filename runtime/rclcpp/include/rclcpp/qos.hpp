// Quality of service settings of publishers, subscriptions, services and clients.
#ifndef RCLCPP__QOS_HPP_
#define RCLCPP__QOS_HPP_

#include <cstddef>

#include "rcl/logging_rosout.h"
#include "rmw/qos_profiles.h"
#include "rmw/types.h"

namespace rclcpp
{

enum class HistoryPolicy { KeepLast, KeepAll, SystemDefault };
enum class ReliabilityPolicy { BestEffort, Reliable, SystemDefault };
enum class DurabilityPolicy { Volatile, TransientLocal, SystemDefault };

/// History part of a QoS: keep the last `depth` samples, or all of them.
struct QoSInitialization
{
  rmw_qos_history_policy_t history_policy;
  size_t depth;
  QoSInitialization(rmw_qos_history_policy_t policy, size_t depth_)
  : history_policy(policy), depth(depth_) {}
  static QoSInitialization from_rmw(const rmw_qos_profile_t & rmw_qos);
};

struct KeepAll : public QoSInitialization
{
  KeepAll() : QoSInitialization(RMW_QOS_POLICY_HISTORY_KEEP_ALL, 0) {}
};

struct KeepLast : public QoSInitialization
{
  explicit KeepLast(size_t depth_) : QoSInitialization(RMW_QOS_POLICY_HISTORY_KEEP_LAST, depth_) {}
};

/// A QoS profile. `QoS(10)` is keep-last 10 on top of the default profile (reliable, volatile).
class QoS
{
public:
  explicit QoS(
    const QoSInitialization & qos_initialization,
    const rmw_qos_profile_t & initial_profile = rmw_qos_profile_default);
  // NOLINTNEXTLINE: implicit on purpose, as in rclcpp (create_publisher<T>("t", 10)).
  QoS(size_t history_depth);

  rmw_qos_profile_t & get_rmw_qos_profile() {return rmw_qos_profile_;}
  const rmw_qos_profile_t & get_rmw_qos_profile() const {return rmw_qos_profile_;}

  QoS & history(rmw_qos_history_policy_t history);
  QoS & history(HistoryPolicy history);
  QoS & keep_last(size_t depth);
  QoS & keep_all();
  QoS & reliability(rmw_qos_reliability_policy_t reliability);
  QoS & reliability(ReliabilityPolicy reliability);
  QoS & reliable();
  QoS & best_effort();
  QoS & durability(rmw_qos_durability_policy_t durability);
  QoS & durability(DurabilityPolicy durability);
  QoS & durability_volatile();
  QoS & transient_local();
  QoS & avoid_ros_namespace_conventions(bool avoid);

  HistoryPolicy history() const;
  size_t depth() const {return rmw_qos_profile_.depth;}
  ReliabilityPolicy reliability() const;
  DurabilityPolicy durability() const;

  bool operator==(const QoS & other) const;
  bool operator!=(const QoS & other) const {return !(*this == other);}

private:
  rmw_qos_profile_t rmw_qos_profile_;
};

class SensorDataQoS : public QoS
{
public:
  explicit SensorDataQoS(
    const QoSInitialization & qos_initialization =
    QoSInitialization::from_rmw(rmw_qos_profile_sensor_data));
};

class ParametersQoS : public QoS
{
public:
  explicit ParametersQoS(
    const QoSInitialization & qos_initialization =
    QoSInitialization::from_rmw(rmw_qos_profile_parameters));
};

class ServicesQoS : public QoS
{
public:
  explicit ServicesQoS(
    const QoSInitialization & qos_initialization =
    QoSInitialization::from_rmw(rmw_qos_profile_services_default));
};

class ParameterEventsQoS : public QoS
{
public:
  explicit ParameterEventsQoS(
    const QoSInitialization & qos_initialization =
    QoSInitialization::from_rmw(rmw_qos_profile_parameter_events));
};

/// The QoS of a node's /rosout publisher: keep last 1000, reliable, transient local, lifespan
/// 10 s.
class RosoutQoS : public QoS
{
public:
  explicit RosoutQoS(
    const QoSInitialization & rosout_qos_initialization =
    QoSInitialization::from_rmw(rcl_qos_profile_rosout_default));
};

class SystemDefaultsQoS : public QoS
{
public:
  explicit SystemDefaultsQoS(
    const QoSInitialization & qos_initialization =
    QoSInitialization::from_rmw(rmw_qos_profile_system_default));
};

}  // namespace rclcpp

#endif  // RCLCPP__QOS_HPP_

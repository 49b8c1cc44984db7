// The default QoS of a node's /rosout publisher, with the name and values of ROS 2 Humble's rcl,
// for hosts without a ROS 2 installation.
#ifndef RCL__LOGGING_ROSOUT_H_
#define RCL__LOGGING_ROSOUT_H_

#include "rmw/types.h"

#ifdef __cplusplus
extern "C" {
#endif

/// Keep last 1000, reliable, transient local, lifespan 10 s: a tool started later still gets the
/// records of the last ten seconds.
static const rmw_qos_profile_t rcl_qos_profile_rosout_default = {
  RMW_QOS_POLICY_HISTORY_KEEP_LAST, 1000, RMW_QOS_POLICY_RELIABILITY_RELIABLE,
  RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL, RMW_QOS_DEADLINE_DEFAULT, {10, 0},
  RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT, RMW_QOS_LIVELINESS_LEASE_DURATION_DEFAULT, false};

#ifdef __cplusplus
}
#endif

#endif  // RCL__LOGGING_ROSOUT_H_

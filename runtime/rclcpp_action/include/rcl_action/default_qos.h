// QoS of an action's status topic, as in ROS 2 Humble's rcl_action: the last array only, reliable,
// kept for late joiners.
#ifndef RCL_ACTION__DEFAULT_QOS_H_
#define RCL_ACTION__DEFAULT_QOS_H_

#include "rmw/types.h"

#ifdef __cplusplus
extern "C" {
#endif

static const rmw_qos_profile_t rcl_action_qos_profile_status_default = {
  RMW_QOS_POLICY_HISTORY_KEEP_LAST, 1, RMW_QOS_POLICY_RELIABILITY_RELIABLE,
  RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL, RMW_QOS_DEADLINE_DEFAULT, RMW_QOS_LIFESPAN_DEFAULT,
  RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT, RMW_QOS_LIVELINESS_LEASE_DURATION_DEFAULT, false};

#ifdef __cplusplus
}
#endif

#endif  // RCL_ACTION__DEFAULT_QOS_H_

// Options of an action client, with the names and defaults of ROS 2 Humble's rcl_action, so code
// that passes or tweaks them compiles unchanged. Only the options struct is provided: the client
// itself is rclcpp_action::Client.
#ifndef RCL_ACTION__ACTION_CLIENT_H_
#define RCL_ACTION__ACTION_CLIENT_H_

#include "rcl_action/default_qos.h"
#include "rcl_action/types.h"
#include "rcutils/allocator.h"
#include "rmw/qos_profiles.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct rcl_action_client_options_s
{
  rmw_qos_profile_t goal_service_qos;
  rmw_qos_profile_t result_service_qos;
  rmw_qos_profile_t cancel_service_qos;
  rmw_qos_profile_t feedback_topic_qos;
  rmw_qos_profile_t status_topic_qos;
  /// Not used: this runtime allocates with the C++ standard allocator.
  rcutils_allocator_t allocator;
} rcl_action_client_options_t;

/// Services at the services default QoS, feedback at the default QoS, status at
/// rcl_action_qos_profile_status_default.
rcl_action_client_options_t rcl_action_client_get_default_options(void);

#ifdef __cplusplus
}
#endif

#endif  // RCL_ACTION__ACTION_CLIENT_H_

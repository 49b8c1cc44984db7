// Options of an action server, with the names and defaults of ROS 2 Humble's rcl_action, so code
// that passes or tweaks them compiles unchanged. Only the options struct is provided: the server
// itself is rclcpp_action::Server.
#ifndef RCL_ACTION__ACTION_SERVER_H_
#define RCL_ACTION__ACTION_SERVER_H_

#include "rcl/time.h"
#include "rcl_action/default_qos.h"
#include "rcl_action/types.h"
#include "rcutils/allocator.h"
#include "rmw/qos_profiles.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct rcl_action_server_options_s
{
  rmw_qos_profile_t goal_service_qos;
  rmw_qos_profile_t cancel_service_qos;
  rmw_qos_profile_t result_service_qos;
  rmw_qos_profile_t feedback_topic_qos;
  rmw_qos_profile_t status_topic_qos;
  /// Not used: this runtime allocates with the C++ standard allocator.
  rcutils_allocator_t allocator;
  /// How long a goal's result is kept after the goal reached a terminal state. Must not be
  /// negative.
  rcl_duration_t result_timeout;
} rcl_action_server_options_t;

/// Services at the services default QoS, feedback at the default QoS, status at
/// rcl_action_qos_profile_status_default, results kept 15 minutes.
rcl_action_server_options_t rcl_action_server_get_default_options(void);

#ifdef __cplusplus
}
#endif

#endif  // RCL_ACTION__ACTION_SERVER_H_

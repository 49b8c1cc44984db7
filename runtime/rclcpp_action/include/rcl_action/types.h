// The goal-state constants and sizes of ROS 2 Humble's rcl_action that its C++ API exposes, for
// hosts without a ROS 2 installation. Values equal action_msgs/msg/GoalStatus's.
#ifndef RCL_ACTION__TYPES_H_
#define RCL_ACTION__TYPES_H_

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/// Bytes in a goal id.
#define UUID_SIZE 16

typedef int8_t rcl_action_goal_state_t;
#define GOAL_STATE_UNKNOWN 0
#define GOAL_STATE_ACCEPTED 1
#define GOAL_STATE_EXECUTING 2
#define GOAL_STATE_CANCELING 3
#define GOAL_STATE_SUCCEEDED 4
#define GOAL_STATE_CANCELED 5
#define GOAL_STATE_ABORTED 6

#ifdef __cplusplus
}
#endif

#endif  // RCL_ACTION__TYPES_H_

// Return codes of ROS 2 Humble's rcl, and its serialized message type, for hosts without a ROS 2
// installation. The runtime reports failures with rclcpp exceptions carrying these codes.
#ifndef RCL__TYPES_H_
#define RCL__TYPES_H_

#include "rmw/serialized_message.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef int rcl_ret_t;

typedef rmw_serialized_message_t rcl_serialized_message_t;

#define RCL_RET_OK 0
#define RCL_RET_ERROR 1
#define RCL_RET_TIMEOUT 2
#define RCL_RET_UNSUPPORTED 3
#define RCL_RET_BAD_ALLOC 10
#define RCL_RET_INVALID_ARGUMENT 11
#define RCL_RET_ALREADY_INIT 100
#define RCL_RET_NOT_INIT 101
#define RCL_RET_MISMATCHED_RMW_ID 102
#define RCL_RET_TOPIC_NAME_INVALID 103
#define RCL_RET_SERVICE_NAME_INVALID 104
#define RCL_RET_UNKNOWN_SUBSTITUTION 105
#define RCL_RET_ALREADY_SHUTDOWN 106
#define RCL_RET_NODE_INVALID 200
#define RCL_RET_NODE_INVALID_NAME 201
#define RCL_RET_NODE_INVALID_NAMESPACE 202
#define RCL_RET_NODE_NAME_NON_EXISTENT 203
#define RCL_RET_PUBLISHER_INVALID 300
#define RCL_RET_SUBSCRIPTION_INVALID 400
#define RCL_RET_SUBSCRIPTION_TAKE_FAILED 401
#define RCL_RET_CLIENT_INVALID 500
#define RCL_RET_CLIENT_TAKE_FAILED 501
#define RCL_RET_SERVICE_INVALID 600
#define RCL_RET_SERVICE_TAKE_FAILED 601
#define RCL_RET_TIMER_INVALID 800
#define RCL_RET_TIMER_CANCELED 801
#define RCL_RET_WAIT_SET_INVALID 900
#define RCL_RET_WAIT_SET_EMPTY 901
#define RCL_RET_WAIT_SET_FULL 902
#define RCL_RET_INVALID_REMAP_RULE 1001
#define RCL_RET_WRONG_LEXEME 1002
#define RCL_RET_INVALID_ROS_ARGS 1003
#define RCL_RET_INVALID_PARAM_RULE 1010
#define RCL_RET_INVALID_LOG_LEVEL_RULE 1020
#define RCL_RET_EVENT_INVALID 2000
#define RCL_RET_EVENT_TAKE_FAILED 2001

#ifdef __cplusplus
}
#endif

#endif  // RCL__TYPES_H_

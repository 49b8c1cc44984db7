// The graph types of ROS 2 Humble's rcl that rclcpp's API shows, for hosts without a ROS 2
// installation.
#ifndef RCL__GRAPH_H_
#define RCL__GRAPH_H_

#include "rmw/topic_endpoint_info.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef rmw_topic_endpoint_info_t rcl_topic_endpoint_info_t;

#ifdef __cplusplus
}
#endif

#endif  // RCL__GRAPH_H_

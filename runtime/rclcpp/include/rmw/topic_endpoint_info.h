// What the graph knows of one publisher or subscription of a topic, with the names and layout of
// ROS 2 Humble's rmw, for hosts without a ROS 2 installation.
#ifndef RMW__TOPIC_ENDPOINT_INFO_H_
#define RMW__TOPIC_ENDPOINT_INFO_H_

#include <stdint.h>

#include "rmw/types.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct rmw_topic_endpoint_info_s
{
  const char * node_name;
  const char * node_namespace;
  const char * topic_type;
  rmw_endpoint_type_t endpoint_type;
  uint8_t endpoint_gid[RMW_GID_STORAGE_SIZE];
  rmw_qos_profile_t qos_profile;
} rmw_topic_endpoint_info_t;

#ifdef __cplusplus
}
#endif

#endif  // RMW__TOPIC_ENDPOINT_INFO_H_

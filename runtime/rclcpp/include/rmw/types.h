// The QoS part of ROS 2 Humble's rmw types, for hosts without a ROS 2 installation.
#ifndef RMW__TYPES_H_
#define RMW__TYPES_H_

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct rmw_time_s
{
  uint64_t sec;
  uint64_t nsec;
} rmw_time_t;

enum rmw_qos_history_policy_e
{
  RMW_QOS_POLICY_HISTORY_SYSTEM_DEFAULT,
  RMW_QOS_POLICY_HISTORY_KEEP_LAST,
  RMW_QOS_POLICY_HISTORY_KEEP_ALL,
  RMW_QOS_POLICY_HISTORY_UNKNOWN
};
typedef enum rmw_qos_history_policy_e rmw_qos_history_policy_t;

enum rmw_qos_reliability_policy_e
{
  RMW_QOS_POLICY_RELIABILITY_SYSTEM_DEFAULT,
  RMW_QOS_POLICY_RELIABILITY_RELIABLE,
  RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT,
  RMW_QOS_POLICY_RELIABILITY_UNKNOWN
};
typedef enum rmw_qos_reliability_policy_e rmw_qos_reliability_policy_t;

enum rmw_qos_durability_policy_e
{
  RMW_QOS_POLICY_DURABILITY_SYSTEM_DEFAULT,
  RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL,
  RMW_QOS_POLICY_DURABILITY_VOLATILE,
  RMW_QOS_POLICY_DURABILITY_UNKNOWN
};
typedef enum rmw_qos_durability_policy_e rmw_qos_durability_policy_t;

enum rmw_qos_liveliness_policy_e
{
  RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT = 0,
  RMW_QOS_POLICY_LIVELINESS_AUTOMATIC = 1,
  RMW_QOS_POLICY_LIVELINESS_MANUAL_BY_TOPIC = 3,
  RMW_QOS_POLICY_LIVELINESS_UNKNOWN = 4
};
typedef enum rmw_qos_liveliness_policy_e rmw_qos_liveliness_policy_t;

/// Bytes of an endpoint's GID: the 16-byte DDS GUID followed by zeros.
#define RMW_GID_STORAGE_SIZE 24u

typedef enum rmw_endpoint_type_e
{
  RMW_ENDPOINT_INVALID = 0,
  RMW_ENDPOINT_PUBLISHER,
  RMW_ENDPOINT_SUBSCRIPTION
} rmw_endpoint_type_t;

#define RMW_QOS_POLICY_DEPTH_SYSTEM_DEFAULT 0
#define RMW_DURATION_UNSPECIFIED {0, 0}
#define RMW_DURATION_INFINITE {9223372036LL, 854775807LL}
#define RMW_QOS_DEADLINE_DEFAULT RMW_DURATION_UNSPECIFIED
#define RMW_QOS_LIFESPAN_DEFAULT RMW_DURATION_UNSPECIFIED
#define RMW_QOS_LIVELINESS_LEASE_DURATION_DEFAULT RMW_DURATION_UNSPECIFIED

typedef struct rmw_qos_profile_s
{
  rmw_qos_history_policy_t history;
  size_t depth;
  rmw_qos_reliability_policy_t reliability;
  rmw_qos_durability_policy_t durability;
  rmw_time_t deadline;
  rmw_time_t lifespan;
  rmw_qos_liveliness_policy_t liveliness;
  rmw_time_t liveliness_lease_duration;
  bool avoid_ros_namespace_conventions;
} rmw_qos_profile_t;

/// Identifies a request: the writer of the request (16 bytes) and the sequence number.
typedef struct rmw_request_id_s
{
  int8_t writer_guid[16];
  int64_t sequence_number;
} rmw_request_id_t;

#ifdef __cplusplus
}
#endif

#endif  // RMW__TYPES_H_

// The serialized form of a message as ROS 2 Humble's rmw names it, for hosts without a ROS 2
// installation: a byte array (CDR, encapsulation header included) with its allocator.
#ifndef RMW__SERIALIZED_MESSAGE_H_
#define RMW__SERIALIZED_MESSAGE_H_

#include "rcutils/types/uint8_array.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef rcutils_uint8_array_t rmw_serialized_message_t;

#ifdef __cplusplus
}
#endif

#endif  // RMW__SERIALIZED_MESSAGE_H_

#ifndef RCL__DOMAIN_ID_H_
#define RCL__DOMAIN_ID_H_

#include "rmw/domain_id.h"

/// The domain id that stands for "the one ROS_DOMAIN_ID names (0 without it)".
#define RCL_DEFAULT_DOMAIN_ID RMW_DEFAULT_DOMAIN_ID

#endif  // RCL__DOMAIN_ID_H_

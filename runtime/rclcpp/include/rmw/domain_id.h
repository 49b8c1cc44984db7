#ifndef RMW__DOMAIN_ID_H_
#define RMW__DOMAIN_ID_H_

#include <stdint.h>

/// The domain id that stands for "the one ROS_DOMAIN_ID names (0 without it)".
#define RMW_DEFAULT_DOMAIN_ID SIZE_MAX

#endif  // RMW__DOMAIN_ID_H_

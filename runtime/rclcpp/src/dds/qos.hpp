// Mapping of rmw QoS profiles to Cyclone DDS QoS, identical to what real ROS 2 nodes on Cyclone
// announce, so that our endpoints match theirs under the same matching rules.
#ifndef RCLCPP__DDS__QOS_HPP_
#define RCLCPP__DDS__QOS_HPP_

#include <memory>
#include <string>

#include "dds/dds.h"
#include "rmw/types.h"

namespace rclcpp
{
namespace dds
{

struct QosDeleter
{
  void operator()(dds_qos_t * q) const { dds_delete_qos(q); }
};
using QosPtr = std::unique_ptr<dds_qos_t, QosDeleter>;

/// Reader/writer QoS for `profile`. Every policy that differs between Cyclone's defaults and
/// ROS 2's is set explicitly. `user_data` goes into USER_DATA when not empty (without a NUL);
/// `ignore_local` ignores writers of the same participant. Throws DdsError for values that
/// have no DDS equivalent (unknown policy kinds, depth above INT32_MAX).
QosPtr make_endpoint_qos(
    const rmw_qos_profile_t & profile,
    const std::string & user_data = {},
    bool ignore_local = false);

}  // namespace dds
}  // namespace rclcpp

#endif  // RCLCPP__DDS__QOS_HPP_

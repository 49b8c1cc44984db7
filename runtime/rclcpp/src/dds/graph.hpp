// The publications and subscriptions a participant knows of, its own and the discovered ones,
// read from Cyclone's builtin DCPSPublication and DCPSSubscription topics, with their QoS as
// ROS 2 Humble's rmw_cyclonedds reports it.
#ifndef RCLCPP__DDS__GRAPH_HPP_
#define RCLCPP__DDS__GRAPH_HPP_

#include <string>
#include <vector>

#include "dds/dds.h"

#include "dds/dds.hpp"

namespace rclcpp
{
namespace dds
{

struct EndpointInfo
{
  Gid gid{};
  Gid participant_gid{};
  std::string topic_name;  ///< DDS topic name ("rt/robot/joint_angle")
  std::string type_name;   ///< DDS type name ("sensor_msgs::msg::dds_::JointState_")
  rmw_qos_profile_t qos{};
};

/// Every live publication on `topic_name` (a DDS topic name) that `participant` knows of, from
/// Cyclone's discovery data as it stands (no waiting for more). The first query creates a reader
/// of the builtin topic that lives with the participant; each query then takes only the changes.
/// An endpoint leaves when its participant leaves, or when that participant's lease runs out.
/// Any thread. Throws DdsError when the builtin topic cannot be read.
std::vector<EndpointInfo> publications_on_topic(
    Participant & participant, const std::string & topic_name);
/// The same for the subscriptions (DDS readers) on `topic_name`; a service's servers are the
/// readers of its request topic ("rq/<service>Request").
std::vector<EndpointInfo> subscriptions_on_topic(
    Participant & participant, const std::string & topic_name);

/// The rmw profile of an endpoint's DDS QoS: history and depth, reliability, durability,
/// deadline, lifespan, liveliness and its lease; infinite durations as rmw's infinite time.
rmw_qos_profile_t rmw_profile_of(const dds_qos_t * qos);

/// "std_msgs/msg/Bool" for "std_msgs::msg::dds_::Bool_"; other names are returned unchanged.
std::string ros_type_name(const std::string & dds_type_name);

/// "std_msgs::msg::dds_::Bool_" for "std_msgs/msg/Bool" (and the short "std_msgs/Bool").
/// Throws std::invalid_argument for a name without a package and a type.
std::string dds_type_name_of(const std::string & ros_type_name);

}  // namespace dds
}  // namespace rclcpp

#endif  // RCLCPP__DDS__GRAPH_HPP_

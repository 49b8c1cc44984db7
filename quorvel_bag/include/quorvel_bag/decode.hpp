// Decoding a bag's messages into the arm's, the supervisor's and the standard ROS types they
// use, through rclcpp's serialization (the same code the live topics go through).
#ifndef QUORVEL_BAG__DECODE_HPP_
#define QUORVEL_BAG__DECODE_HPP_

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include <rclcpp/serialization.hpp>
#include <rclcpp/serialized_message.hpp>
#include <rosidl_runtime_cpp/traits.hpp>

#include "quorvel_bag/bag_error.hpp"
#include "quorvel_bag/reader.hpp"

namespace quorvel_bag
{

/// The types decoded here ("std_msgs/msg/Bool", ...): quorvel_task_events/msg/TaskEvent, the
/// quorvel_protocol and quorvel_interfaces messages, std_msgs' Bool, Int32, Int32MultiArray,
/// Float64MultiArray, String, Header and Empty, sensor_msgs/msg/JointState, geometry_msgs'
/// Point, Pose, Quaternion and Vector3, builtin_interfaces' Time and Duration.
const std::vector<std::string> & known_types();
bool is_known_type(const std::string & type);

/// "message 17 of /robot/joint_angle (sensor_msgs/msg/JointState)", with the file when the bag
/// has several.
std::string describe_message(const BagMessage & message);

/// The serialized form of `message`'s bytes.
rclcpp::SerializedMessage to_serialized(const BagMessage & message);

/// Decodes `message` as MessageT. Throws BagError naming the bag, the topic and the message
/// id when the topic's type is not MessageT's or the bytes do not decode as it.
template <typename MessageT>
MessageT decode(const BagMessage & message, const std::string & bag_label)
{
  const std::string wanted = rosidl_generator_traits::name<MessageT>();
  if (message.topic == nullptr || message.topic->type != wanted ||
      message.topic->serialization_format != kSerializationFormat) {
    throw BagError(
        "bag '" + bag_label + "': " + describe_message(message) + " is not a " + wanted +
        " in CDR");
  }
  MessageT decoded;
  try {
    const rclcpp::SerializedMessage serialized = to_serialized(message);
    static const rclcpp::Serialization<MessageT> serialization;
    serialization.deserialize_message(&serialized, &decoded);
  } catch (const std::exception & error) {
    throw BagError(
        "bag '" + bag_label + "': " + describe_message(message) +
        " does not decode: " + error.what());
  }
  return decoded;
}

/// For a message of a known type: decodes it and drops the result, throwing as decode() does;
/// returns true. For any other type: returns false without looking at the bytes.
bool check_decodes(const BagMessage & message, const std::string & bag_label);

}  // namespace quorvel_bag

#endif  // QUORVEL_BAG__DECODE_HPP_

#include "quorvel_bag/decode.hpp"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <builtin_interfaces/msg/duration.hpp>
#include <builtin_interfaces/msg/time.hpp>
#include <geometry_msgs/msg/point.hpp>
#include <geometry_msgs/msg/pose.hpp>
#include <geometry_msgs/msg/quaternion.hpp>
#include <geometry_msgs/msg/vector3.hpp>
#include <quorvel_interfaces/msg/trash.hpp>
#include <quorvel_protocol/msg/trash_object.hpp>
#include <quorvel_protocol/msg/trashes.hpp>
#include <quorvel_task_events/msg/task_event.hpp>
#include <sensor_msgs/msg/joint_state.hpp>
#include <std_msgs/msg/bool.hpp>
#include <std_msgs/msg/empty.hpp>
#include <std_msgs/msg/float64_multi_array.hpp>
#include <std_msgs/msg/header.hpp>
#include <std_msgs/msg/int32.hpp>
#include <std_msgs/msg/int32_multi_array.hpp>
#include <std_msgs/msg/string.hpp>

namespace quorvel_bag
{

namespace
{

using Check = void (*)(const BagMessage &, const std::string &);

template <typename MessageT>
void check_as(const BagMessage & message, const std::string & bag_label)
{
  static_cast<void>(decode<MessageT>(message, bag_label));
}

template <typename MessageT>
void add(std::map<std::string, Check> & checks)
{
  checks[rosidl_generator_traits::name<MessageT>()] = &check_as<MessageT>;
}

const std::map<std::string, Check> & checks()
{
  static const std::map<std::string, Check> table = [] {
    std::map<std::string, Check> t;
    add<quorvel_task_events::msg::TaskEvent>(t);
    add<quorvel_protocol::msg::Trashes>(t);
    add<quorvel_protocol::msg::TrashObject>(t);
    add<quorvel_interfaces::msg::Trash>(t);
    add<std_msgs::msg::Bool>(t);
    add<std_msgs::msg::Int32>(t);
    add<std_msgs::msg::Int32MultiArray>(t);
    add<std_msgs::msg::Float64MultiArray>(t);
    add<std_msgs::msg::String>(t);
    add<std_msgs::msg::Header>(t);
    add<std_msgs::msg::Empty>(t);
    add<sensor_msgs::msg::JointState>(t);
    add<geometry_msgs::msg::Point>(t);
    add<geometry_msgs::msg::Pose>(t);
    add<geometry_msgs::msg::Quaternion>(t);
    add<geometry_msgs::msg::Vector3>(t);
    add<builtin_interfaces::msg::Time>(t);
    add<builtin_interfaces::msg::Duration>(t);
    return t;
  }();
  return table;
}

}  // namespace

const std::vector<std::string> & known_types()
{
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const auto & entry : checks()) {
      n.push_back(entry.first);
    }
    return n;
  }();
  return names;
}

bool is_known_type(const std::string & type) { return checks().count(type) != 0; }

std::string describe_message(const BagMessage & message)
{
  std::string text = "message " + std::to_string(message.id);
  if (message.file_index != 0) {
    text += " of database file " + std::to_string(message.file_index);
  }
  if (message.topic != nullptr) {
    text += " on " + message.topic->name + " (" + message.topic->type + ")";
  }
  return text;
}

rclcpp::SerializedMessage to_serialized(const BagMessage & message)
{
  rclcpp::SerializedMessage serialized(std::max<std::size_t>(message.data.size(), 1));
  auto & raw = serialized.get_rcl_serialized_message();
  if (!message.data.empty()) {
    std::memcpy(raw.buffer, message.data.data(), message.data.size());
  }
  raw.buffer_length = message.data.size();
  return serialized;
}

bool check_decodes(const BagMessage & message, const std::string & bag_label)
{
  if (message.topic == nullptr || message.topic->serialization_format != kSerializationFormat) {
    return false;
  }
  const auto check = checks().find(message.topic->type);
  if (check == checks().end()) {
    return false;
  }
  check->second(message, bag_label);
  return true;
}

}  // namespace quorvel_bag

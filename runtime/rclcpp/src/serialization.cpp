#include "rclcpp/serialization.hpp"

#include <cstring>
#include <string>
#include <vector>

#include "entity_support.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/serialized_message.hpp"
#include "rclcpp_cdr/codec.hpp"

namespace rclcpp
{

SerializationBase::SerializationBase(const rosidl_message_type_support_t * type_support)
: type_support_(type_support)
{
  if (type_support_ == nullptr) {
    throw std::runtime_error("Typesupport is nullpointer.");
  }
}

void SerializationBase::serialize_message(
  const void * ros_message, SerializedMessage * serialized_message) const
{
  if (ros_message == nullptr) {
    throw std::runtime_error("ROS message is nullpointer.");
  }
  if (serialized_message == nullptr) {
    throw std::runtime_error("Serialized message is nullpointer.");
  }
  const auto * members = detail::message_members(type_support_);
  std::vector<uint8_t> bytes;
  try {
    rclcpp_cdr::serialize(members, ros_message, bytes);
  } catch (const std::bad_alloc &) {
    throw;
  } catch (const std::exception & error) {
    throw exceptions::RCLError(
            RCL_RET_ERROR, error.what(), "Failed to serialize ROS message");
  }
  if (serialized_message->capacity() < bytes.size()) {
    serialized_message->reserve(bytes.size());
  }
  auto & raw = serialized_message->get_rcl_serialized_message();
  std::memcpy(raw.buffer, bytes.data(), bytes.size());
  raw.buffer_length = bytes.size();
}

void SerializationBase::deserialize_message(
  const SerializedMessage * serialized_message, void * ros_message) const
{
  if (serialized_message == nullptr) {
    throw std::runtime_error("Serialized message is nullpointer.");
  }
  if (serialized_message->capacity() == 0u || serialized_message->size() == 0u) {
    throw std::runtime_error("Serialized message is empty.");
  }
  if (ros_message == nullptr) {
    throw std::runtime_error("ROS message is nullpointer.");
  }
  const auto * members = detail::message_members(type_support_);
  const auto & raw = serialized_message->get_rcl_serialized_message();
  const rclcpp_cdr::DecodeResult decoded =
    rclcpp_cdr::deserialize(members, raw.buffer, raw.buffer_length, ros_message);
  if (!decoded) {
    throw exceptions::RCLError(
            RCL_RET_ERROR, decoded.message(), "Failed to deserialize ROS message");
  }
}

}  // namespace rclcpp

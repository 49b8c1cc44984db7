// Serialises ROS messages to CDR bytes and back, as ROS 2 Humble's rclcpp does over rmw; here
// over the runtime's codec. Same classes and signatures as Humble's rclcpp.
#ifndef RCLCPP__SERIALIZATION_HPP_
#define RCLCPP__SERIALIZATION_HPP_

#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "rcl/types.h"
#include "rclcpp/visibility_control.hpp"
#include "rosidl_runtime_c/message_type_support_struct.h"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"

namespace rclcpp
{

class SerializedMessage;

namespace serialization_traits
{
template<typename T>
struct is_serialized_message_class : std::false_type
{};

template<>
struct is_serialized_message_class<SerializedMessage>: std::true_type
{};
}  // namespace serialization_traits

/// Any thread; one object may be used by several threads at once.
class RCLCPP_PUBLIC_TYPE SerializationBase
{
public:
  /// Throws std::runtime_error for a null type support.
  explicit SerializationBase(const rosidl_message_type_support_t * type_support);

  virtual ~SerializationBase() = default;

  /// Writes `ros_message` into `serialized_message` (its old content is replaced). Throws
  /// std::runtime_error for null arguments or a type the codec cannot handle.
  void serialize_message(
    const void * ros_message, SerializedMessage * serialized_message) const;

  /// Reads `serialized_message` into `ros_message`. Bytes that do not decode as the type throw
  /// rclcpp::exceptions::RCLError ("Failed to deserialize ROS message: <why>"); an empty or
  /// null message throws std::runtime_error. On failure `ros_message` may be partly written.
  void deserialize_message(
    const SerializedMessage * serialized_message, void * ros_message) const;

private:
  const rosidl_message_type_support_t * type_support_;
};

template<typename MessageT>
class Serialization : public SerializationBase
{
public:
  Serialization()
  : SerializationBase(
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<MessageT>())
  {
    static_assert(
      !serialization_traits::is_serialized_message_class<MessageT>::value,
      "Serialization of serialized message to serialized message is not possible.");
  }
};

}  // namespace rclcpp

#endif  // RCLCPP__SERIALIZATION_HPP_

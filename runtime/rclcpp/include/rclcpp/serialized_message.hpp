// A message in its serialized form (CDR bytes, encapsulation header included), owning its
// buffer. Same class, constructors and members as ROS 2 Humble's rclcpp.
#ifndef RCLCPP__SERIALIZED_MESSAGE_HPP_
#define RCLCPP__SERIALIZED_MESSAGE_HPP_

#include <cstddef>

#include "rcl/allocator.h"
#include "rcl/types.h"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp
{

/// Not thread-safe: one thread at a time per object. Allocation failures throw
/// rclcpp::exceptions::RCLBadAlloc.
class RCLCPP_PUBLIC_TYPE SerializedMessage
{
public:
  /// An empty message with no buffer.
  explicit SerializedMessage(const rcl_allocator_t & allocator = rcl_get_default_allocator());

  /// An empty message whose buffer holds `initial_capacity` bytes.
  explicit SerializedMessage(
    size_t initial_capacity, const rcl_allocator_t & allocator = rcl_get_default_allocator());

  /// Copies of the other message's bytes (its size; the capacity is the other's capacity).
  SerializedMessage(const SerializedMessage & other);
  explicit SerializedMessage(const rcl_serialized_message_t & other);

  /// Takes the other's buffer; the other is left with none.
  SerializedMessage(SerializedMessage && other);
  explicit SerializedMessage(rcl_serialized_message_t && other);

  SerializedMessage & operator=(const SerializedMessage & other);
  SerializedMessage & operator=(const rcl_serialized_message_t & other);
  SerializedMessage & operator=(SerializedMessage && other);
  SerializedMessage & operator=(rcl_serialized_message_t && other);

  virtual ~SerializedMessage();

  rcl_serialized_message_t & get_rcl_serialized_message();
  const rcl_serialized_message_t & get_rcl_serialized_message() const;

  /// Bytes of content (buffer_length).
  size_t size() const;
  /// Bytes allocated (buffer_capacity).
  size_t capacity() const;
  /// Resizes the buffer to `capacity` bytes; pointers into it become invalid.
  void reserve(size_t capacity);
  /// Hands the buffer to the caller, who must finalise it; this object is left empty.
  rcl_serialized_message_t release_rcl_serialized_message();

private:
  rcl_serialized_message_t serialized_message_;
};

}  // namespace rclcpp

#endif  // RCLCPP__SERIALIZED_MESSAGE_HPP_

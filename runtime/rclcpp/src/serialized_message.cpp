#include "rclcpp/serialized_message.hpp"

#include <cstring>
#include <string>

#include "rclcpp/exceptions.hpp"

namespace rclcpp
{

namespace
{

void init_serialized_buffer(
  rcl_serialized_message_t & message, size_t capacity, const rcl_allocator_t & allocator)
{
  message = rcutils_get_zero_initialized_uint8_array();
  if (rcutils_uint8_array_init(&message, capacity, &allocator) != RCUTILS_RET_OK) {
    message = rcutils_get_zero_initialized_uint8_array();
    throw exceptions::RCLBadAlloc(
            RCL_RET_BAD_ALLOC, "cannot allocate " + std::to_string(capacity) +
            " bytes for a serialized message");
  }
}

void copy_serialized_bytes(const rcl_serialized_message_t & from, rcl_serialized_message_t & to)
{
  if (from.buffer_length != 0) {
    std::memcpy(to.buffer, from.buffer, from.buffer_length);
  }
  to.buffer_length = from.buffer_length;
}

void release_serialized_buffer(rcl_serialized_message_t & message)
{
  if (message.buffer != nullptr) {
    // Fails only for an invalid allocator, which init never leaves behind.
    const rcutils_ret_t finished = rcutils_uint8_array_fini(&message);
    static_cast<void>(finished);
  }
  message = rcutils_get_zero_initialized_uint8_array();
}

}  // namespace

SerializedMessage::SerializedMessage(const rcl_allocator_t & allocator)
: SerializedMessage(0u, allocator)
{}

SerializedMessage::SerializedMessage(size_t initial_capacity, const rcl_allocator_t & allocator)
{
  init_serialized_buffer(serialized_message_, initial_capacity, allocator);
}

SerializedMessage::SerializedMessage(const SerializedMessage & other)
: SerializedMessage(other.serialized_message_)
{}

SerializedMessage::SerializedMessage(const rcl_serialized_message_t & other)
{
  init_serialized_buffer(serialized_message_, other.buffer_capacity, other.allocator);
  copy_serialized_bytes(other, serialized_message_);
}

SerializedMessage::SerializedMessage(SerializedMessage && other)
: serialized_message_(other.serialized_message_)
{
  other.serialized_message_ = rcutils_get_zero_initialized_uint8_array();
}

SerializedMessage::SerializedMessage(rcl_serialized_message_t && other)
: serialized_message_(other)
{
  other = rcutils_get_zero_initialized_uint8_array();
}

SerializedMessage & SerializedMessage::operator=(const SerializedMessage & other)
{
  if (this != &other) {
    *this = other.serialized_message_;
  }
  return *this;
}

SerializedMessage & SerializedMessage::operator=(const rcl_serialized_message_t & other)
{
  if (&other == &serialized_message_) {
    return *this;
  }
  rcl_serialized_message_t copy;
  init_serialized_buffer(copy, other.buffer_capacity, other.allocator);
  copy_serialized_bytes(other, copy);
  release_serialized_buffer(serialized_message_);
  serialized_message_ = copy;
  return *this;
}

SerializedMessage & SerializedMessage::operator=(SerializedMessage && other)
{
  if (this != &other) {
    *this = std::move(other.serialized_message_);
  }
  return *this;
}

SerializedMessage & SerializedMessage::operator=(rcl_serialized_message_t && other)
{
  if (&other != &serialized_message_) {
    release_serialized_buffer(serialized_message_);
    serialized_message_ = other;
    other = rcutils_get_zero_initialized_uint8_array();
  }
  return *this;
}

SerializedMessage::~SerializedMessage()
{
  release_serialized_buffer(serialized_message_);
}

rcl_serialized_message_t & SerializedMessage::get_rcl_serialized_message()
{
  return serialized_message_;
}

const rcl_serialized_message_t & SerializedMessage::get_rcl_serialized_message() const
{
  return serialized_message_;
}

size_t SerializedMessage::size() const {return serialized_message_.buffer_length;}

size_t SerializedMessage::capacity() const {return serialized_message_.buffer_capacity;}

void SerializedMessage::reserve(size_t capacity)
{
  if (serialized_message_.buffer == nullptr && serialized_message_.buffer_capacity == 0 &&
    !rcutils_allocator_is_valid(&serialized_message_.allocator))
  {
    // A moved-from or released message: start over with the default allocator.
    init_serialized_buffer(serialized_message_, capacity, rcl_get_default_allocator());
    return;
  }
  if (rcutils_uint8_array_resize(&serialized_message_, capacity) != RCUTILS_RET_OK) {
    throw exceptions::RCLBadAlloc(
            RCL_RET_BAD_ALLOC, "cannot resize a serialized message to " +
            std::to_string(capacity) + " bytes");
  }
}

rcl_serialized_message_t SerializedMessage::release_rcl_serialized_message()
{
  rcl_serialized_message_t released = serialized_message_;
  serialized_message_ = rcutils_get_zero_initialized_uint8_array();
  return released;
}

}  // namespace rclcpp

// CDR (XCDR1, as ROS 2 on Cyclone DDS writes it) for any message described by
// rosidl_typesupport_introspection_cpp. One generic codec, no per-type code.
//
// Byte layout: a 4-byte encapsulation header (00 01 00 00 on little-endian hosts), then an
// optional fixed-size prefix (the 16-byte service header), then the message body; alignment is
// counted from the first byte after the encapsulation header; the total is zero-padded to a
// multiple of 4.
//
// The decoder treats its input as hostile: it never reads out of bounds, never allocates more
// than the remaining input can justify, never throws for bad input and never aborts; a bad
// sample is reported as a DecodeResult the caller can log and drop.
//
// Every function may be called from any thread, concurrently. The first use of a message type
// compiles its layout once (under a lock); later calls take no lock and never block.
#ifndef RCLCPP_CDR__CODEC_HPP_
#define RCLCPP_CDR__CODEC_HPP_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rosidl_runtime_c/message_type_support_struct.h"
#include "rosidl_typesupport_introspection_cpp/message_introspection.hpp"

namespace rclcpp_cdr
{

using MessageMembers = rosidl_typesupport_introspection_cpp::MessageMembers;

/// The introspection members behind a type support handle, or nullptr if the handle is not
/// (and does not lead to) a rosidl_typesupport_introspection_cpp handle.
const MessageMembers * get_members(const rosidl_message_type_support_t * type_support);

/// Appends the encapsulation header, `prefix_size` zero bytes (for the caller to fill) and the
/// body of `message` (a C++ message of `members`) to `out`, padded to a multiple of 4.
/// Alignment counts from the appended header, whatever `out` held before. Bounds of bounded
/// strings are not enforced here (the receiver rejects them). Throws std::invalid_argument if
/// `members` is null or has a member type the codec does not handle, std::length_error for a
/// string or sequence longer than 2^32-1, and std::bad_alloc.
void serialize(
    const MessageMembers * members,
    const void * message,
    std::vector<uint8_t> & out,
    size_t prefix_size = 0);

/// Size serialize() would append, padding included. Throws like serialize().
size_t serialized_size(
    const MessageMembers * members, const void * message, size_t prefix_size = 0);

enum class DecodeError
{
  None,
  BadHeader,        ///< shorter than the header, or an unknown representation id
  Truncated,        ///< a field runs past the end of the input
  BadLength,        ///< a sequence/string length that the remaining input cannot hold
  BoundExceeded,    ///< a bounded string or sequence longer than its bound
  BadString,        ///< a string without its terminating NUL
  BadBool,          ///< a bool byte other than 0 or 1
  UnsupportedType,  ///< a member type the codec does not handle
};

struct DecodeResult
{
  DecodeError error = DecodeError::None;
  size_t offset = 0;  ///< byte offset in the input where the problem was found
  std::string field;  ///< dotted path of the field being decoded (e.g. "trashes[3].text")
  explicit operator bool() const { return error == DecodeError::None; }
  /// Human-readable description, e.g. "string without NUL terminator at offset 52 (trashes[3].text)".
  std::string message() const;
};

/// Decodes `size` bytes at `data` (encapsulation header included, then `prefix_size` bytes that
/// are skipped) into `message`, an already constructed C++ message of `members`. Big-endian
/// input (representation 00 00) is byte-swapped; any other representation is BadHeader, and the
/// options bytes are ignored. Trailing bytes are ignored. A string length of 0 reads as "".
/// On failure the message may be partly written but stays a valid object.
DecodeResult deserialize(
    const MessageMembers * members,
    const uint8_t * data,
    size_t size,
    void * message,
    size_t prefix_size = 0);

}  // namespace rclcpp_cdr

#endif  // RCLCPP_CDR__CODEC_HPP_

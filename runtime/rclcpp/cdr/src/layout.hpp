// The wire layout of one message type, compiled once from its introspection members so that
// encoding and decoding walk a flat list instead of re-reading the type description.
#ifndef RCLCPP_CDR__LAYOUT_HPP_
#define RCLCPP_CDR__LAYOUT_HPP_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "rclcpp_cdr/codec.hpp"

namespace rclcpp_cdr
{
namespace detail
{

using MessageMember = rosidl_typesupport_introspection_cpp::MessageMember;

// The encapsulation header (representation identifier and options) before every payload.
inline constexpr size_t kHeaderSize = 4;

enum class ElementKind : uint8_t
{
  Primitive,  ///< integer, float or char: memory bytes are wire bytes (host order)
  Bool,       ///< one byte, 0 or 1
  String,     ///< std::string
  WString,    ///< std::u16string, each unit widened to 4 bytes on the wire
  Message,    ///< nested message; only inside arrays and sequences (single ones are flattened)
};

enum class Shape : uint8_t
{
  Single,
  Array,     ///< fixed size, no count on the wire
  Sequence,  ///< uint32 count on the wire, then the elements
};

struct Layout;

struct Field
{
  ElementKind kind = ElementKind::Primitive;
  Shape shape = Shape::Single;
  uint8_t size = 0;         ///< Primitive/Bool: bytes per element, in memory and on the wire
  uint8_t align = 1;        ///< wire alignment of one element (a sequence count is always 4)
  uint32_t offset = 0;      ///< from the start of the struct this layout describes
  size_t count = 0;         ///< Array: element count; Sequence: upper bound, 0 when unbounded
  size_t string_bound = 0;  ///< String/WString: maximum length, 0 when unbounded
  size_t stride = 0;        ///< String/WString/Message arrays and sequences: bytes between elements
  const Layout * element = nullptr;        ///< Message arrays and sequences
  const MessageMember * member = nullptr;  ///< for the sequence accessors

  // When run_fields > 1, this field starts a run of adjacent Primitive fields whose bytes lie
  // back to back in memory with no padding, each at an offset that is a multiple of its
  // alignment. If the wire offset of the first field (once aligned for it) is congruent to
  // `offset` modulo run_align, every later field of the run is aligned on the wire as well, so
  // the wire bytes equal the memory bytes and the run is one copy. Otherwise the fields are
  // coded one by one.
  uint32_t run_fields = 0;
  uint32_t run_bytes = 0;
  uint8_t run_align = 1;
};

struct Layout
{
  const MessageMembers * members = nullptr;
  std::vector<Field> fields;
  /// Dotted name of each field from this struct, e.g. "header.stamp.sec" (kept apart from the
  /// fields, which the hot loops walk, because only error reports read it).
  std::vector<std::string> paths;
  /// Lower bound of the encoded size (alignment ignored); used to bound sequence counts.
  size_t min_wire_size = 0;
  /// A struct without members is written as one zero byte.
  bool placeholder_byte = false;
  /// Non-empty when some member cannot be coded: the dotted path of the first such member.
  std::string unsupported;
  /// Size of the latest encoding of this type (any thread), so the next one can reserve its
  /// buffer once instead of growing it step by step.
  mutable std::atomic<size_t> last_size{0};
};

/// The layout of `members`, built on first use and kept for the life of the process.
/// Thread-safe; the returned layout is immutable. `members` must not be null.
const Layout & layout_of(const MessageMembers * members);

}  // namespace detail
}  // namespace rclcpp_cdr

#endif  // RCLCPP_CDR__LAYOUT_HPP_

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "layout.hpp"
#include "raw_bytes.hpp"
#include "rclcpp_cdr/codec.hpp"

namespace rclcpp_cdr
{
namespace detail
{
namespace
{

// Appends to `out`. Every byte between the write position and out.size() is zero, because the
// vector only grows through resize(), so alignment padding costs nothing but a position change.
class Writer
{
public:
  static constexpr bool kWrites = true;

  Writer(std::vector<uint8_t> & out, size_t origin)
      : out_(out), buf_(out.data()), pos_(out.size()), end_(out.size()), origin_(origin)
  {
  }

  /// Makes room for `n` more bytes in one allocation.
  void expect(size_t n)
  {
    if (end_ - pos_ < n) {
      grow(n);
    }
  }

  uint8_t * reserve(size_t align, size_t n)
  {
    const size_t pad = (origin_ - pos_) & (align - 1);
    if (end_ - pos_ < pad + n) {
      grow(pad + n);
    }
    pos_ += pad;
    uint8_t * p = buf_ + pos_;
    pos_ += n;
    return p;
  }

  void bytes(size_t align, const void * src, size_t n)
  {
    copy_bytes(reserve(align, n), static_cast<const uint8_t *>(src), n);
  }

  void u32(uint32_t v) { std::memcpy(reserve(4, 4), &v, 4); }

  size_t aligned_body_offset(size_t align) const
  {
    return pos_ - origin_ + ((origin_ - pos_) & (align - 1));
  }

  size_t position() const { return pos_; }

private:
  void grow(size_t need)
  {
    const size_t want = std::max({pos_ + need, 2 * end_, size_t{256}});
    out_.resize(want);
    buf_ = out_.data();
    end_ = want;
  }

  std::vector<uint8_t> & out_;
  uint8_t * buf_;
  size_t pos_;
  size_t end_;
  size_t origin_;
};

// Walks like Writer but only counts.
class Sizer
{
public:
  static constexpr bool kWrites = false;

  Sizer(size_t pos, size_t origin) : pos_(pos), origin_(origin) {}

  uint8_t * reserve(size_t align, size_t n)
  {
    pos_ += (origin_ - pos_) & (align - 1);
    pos_ += n;
    return nullptr;
  }

  void bytes(size_t align, const void *, size_t n) { reserve(align, n); }

  void u32(uint32_t) { reserve(4, 4); }

  size_t aligned_body_offset(size_t align) const
  {
    return pos_ - origin_ + ((origin_ - pos_) & (align - 1));
  }

  size_t position() const { return pos_; }

private:
  size_t pos_;
  size_t origin_;
};

uint32_t wire_count(size_t n)
{
  if (n > std::numeric_limits<uint32_t>::max()) {
    throw std::length_error("CDR: sequence or string too long for a 32-bit count");
  }
  return static_cast<uint32_t>(n);
}

template <class Out>
void encode_struct(const Layout & layout, const uint8_t * base, Out & out);

template <class Out>
void encode_string(const std::string & s, Out & out)
{
  const size_t n = s.size() + 1;
  out.u32(wire_count(n));
  out.bytes(1, s.c_str(), n);
}

template <class Out>
void encode_wstring(const std::u16string & s, Out & out)
{
  const size_t n = s.size();
  out.u32(wire_count(n));
  uint8_t * dst = out.reserve(4, 4 * n);
  if constexpr (Out::kWrites) {
    for (size_t i = 0; i < n; ++i) {
      const uint32_t unit = s[i];
      std::memcpy(dst + 4 * i, &unit, 4);
    }
  }
}

// `n` elements lying back to back in memory from `first` (not for std::vector<bool>).
template <class Out>
void encode_elements(const Field & f, const uint8_t * first, size_t n, Out & out)
{
  switch (f.kind) {
    case ElementKind::Primitive:
      out.bytes(f.align, first, n * f.size);
      return;
    case ElementKind::Bool: {
      uint8_t * dst = out.reserve(1, n);
      if constexpr (Out::kWrites) {
        const bool * src = reinterpret_cast<const bool *>(first);
        for (size_t i = 0; i < n; ++i) {
          dst[i] = src[i] ? 1 : 0;
        }
      }
      return;
    }
    case ElementKind::String:
      for (size_t i = 0; i < n; ++i) {
        encode_string(*reinterpret_cast<const std::string *>(first + i * f.stride), out);
      }
      return;
    case ElementKind::WString:
      for (size_t i = 0; i < n; ++i) {
        encode_wstring(*reinterpret_cast<const std::u16string *>(first + i * f.stride), out);
      }
      return;
    case ElementKind::Message:
      for (size_t i = 0; i < n; ++i) {
        encode_struct(*f.element, first + i * f.stride, out);
      }
      return;
  }
}

template <class Out>
void encode_sequence(const Field & f, const void * seq, Out & out)
{
  const size_t n = f.member->size_function(seq);
  out.u32(wire_count(n));
  if (n == 0) {
    return;
  }
  if (f.kind == ElementKind::Bool) {
    uint8_t * dst = out.reserve(1, n);
    if constexpr (Out::kWrites) {
      for (size_t i = 0; i < n; ++i) {
        bool value = false;
        f.member->fetch_function(seq, i, &value);
        dst[i] = value ? 1 : 0;
      }
    }
    return;
  }
  encode_elements(f, static_cast<const uint8_t *>(f.member->get_const_function(seq, 0)), n, out);
}

template <class Out>
void encode_struct(const Layout & layout, const uint8_t * base, Out & out)
{
  if (layout.placeholder_byte) {
    out.reserve(1, 1);
    return;
  }
  const Field * f = layout.fields.data();
  const Field * const end = f + layout.fields.size();
  while (f != end) {
    if (f->run_fields > 1 &&
        ((out.aligned_body_offset(f->align) - f->offset) & (f->run_align - 1)) == 0) {
      out.bytes(f->align, base + f->offset, f->run_bytes);
      f += f->run_fields;
      continue;
    }
    const uint8_t * p = base + f->offset;
    switch (f->shape) {
      case Shape::Single:
      case Shape::Array:
        encode_elements(*f, p, f->shape == Shape::Array ? f->count : 1, out);
        break;
      case Shape::Sequence:
        encode_sequence(*f, p, out);
        break;
    }
    ++f;
  }
}

const Layout & checked_layout(const MessageMembers * members)
{
  if (!members) {
    throw std::invalid_argument("CDR: no introspection type support");
  }
  const Layout & layout = layout_of(members);
  if (!layout.unsupported.empty()) {
    throw std::invalid_argument(
        "CDR: member '" + layout.unsupported + "' of " + members->message_name_ +
        " has a type the codec does not handle");
  }
  return layout;
}

size_t pad4(size_t n) { return (n + 3) & ~size_t{3}; }

}  // namespace
}  // namespace detail

void serialize(
    const MessageMembers * members,
    const void * message,
    std::vector<uint8_t> & out,
    size_t prefix_size)
{
  const detail::Layout & layout = detail::checked_layout(members);
  const size_t start = out.size();
  detail::Writer writer(out, start + detail::kHeaderSize);
  writer.expect(layout.last_size.load(std::memory_order_relaxed) + prefix_size);
  uint8_t * header = writer.reserve(1, detail::kHeaderSize);
  header[1] = detail::kHostRepresentation;
  writer.reserve(1, prefix_size);
  detail::encode_struct(layout, static_cast<const uint8_t *>(message), writer);
  const size_t size = detail::pad4(writer.position() - start);
  // The bytes past the write position are already zero, so this only trims or extends.
  out.resize(start + size);
  layout.last_size.store(size - prefix_size, std::memory_order_relaxed);
}

size_t serialized_size(const MessageMembers * members, const void * message, size_t prefix_size)
{
  const detail::Layout & layout = detail::checked_layout(members);
  detail::Sizer sizer(detail::kHeaderSize + prefix_size, detail::kHeaderSize);
  detail::encode_struct(layout, static_cast<const uint8_t *>(message), sizer);
  return detail::pad4(sizer.position());
}

}  // namespace rclcpp_cdr

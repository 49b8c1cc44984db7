#include <cstring>
#include <exception>
#include <string>

#include "layout.hpp"
#include "raw_bytes.hpp"
#include "rclcpp_cdr/codec.hpp"

namespace rclcpp_cdr
{
namespace detail
{
namespace
{

// Bounds-checked cursor over the input. Invariant: pos_ <= size_.
class Reader
{
public:
  Reader(const uint8_t * data, size_t size, size_t pos, size_t origin)
      : data_(data), size_(size), pos_(pos), origin_(origin)
  {
  }

  /// The aligned start of the next `n` bytes, consumed; nullptr (nothing consumed) if the input
  /// ends first.
  const uint8_t * take(size_t align, size_t n)
  {
    const size_t pad = (origin_ - pos_) & (align - 1);
    const size_t left = size_ - pos_;
    if (left < pad || left - pad < n) {
      return nullptr;
    }
    pos_ += pad;
    const uint8_t * p = data_ + pos_;
    pos_ += n;
    return p;
  }

  /// Bytes left once the position is aligned to `align`.
  size_t remaining_after(size_t align) const
  {
    const size_t pad = (origin_ - pos_) & (align - 1);
    const size_t left = size_ - pos_;
    return left < pad ? 0 : left - pad;
  }

  size_t offset_of(const uint8_t * p) const { return static_cast<size_t>(p - data_); }
  size_t position() const { return pos_; }
  size_t aligned_body_offset(size_t align) const
  {
    return pos_ - origin_ + ((origin_ - pos_) & (align - 1));
  }

private:
  const uint8_t * data_;
  size_t size_;
  size_t pos_;
  size_t origin_;
};

// kSwap: the input's byte order differs from the host's. The field path of an error is built
// only while unwinding from it, so a good sample allocates nothing for diagnostics.
template <bool kSwap>
class Decoder
{
public:
  Decoder(Reader & in, DecodeResult & result) : in_(in), result_(result) {}

  bool decode_struct(const Layout & layout, uint8_t * base)
  {
    if (layout.placeholder_byte) {
      return in_.take(1, 1) != nullptr || fail(DecodeError::Truncated, in_.position());
    }
    const Field * f = layout.fields.data();
    const Field * const end = f + layout.fields.size();
    while (f != end) {
      if (!kSwap && f->run_fields > 1 &&
          ((in_.aligned_body_offset(f->align) - f->offset) & (f->run_align - 1)) == 0) {
        // A run cut short by the end of the input falls through to the per-field path, which
        // names the field that is missing.
        if (const uint8_t * p = in_.take(f->align, f->run_bytes)) {
          copy_bytes(base + f->offset, p, f->run_bytes);
          f += f->run_fields;
          continue;
        }
      }
      if (!decode_field(*f, base + f->offset)) {
        prefix_name(layout.paths[static_cast<size_t>(f - layout.fields.data())]);
        return false;
      }
      ++f;
    }
    return true;
  }

private:
  bool fail(DecodeError error, size_t offset)
  {
    result_.error = error;
    result_.offset = offset;
    return false;
  }

  void prefix_index(size_t index)
  {
    std::string inner = std::move(result_.field);
    result_.field = "[" + std::to_string(index) + "]";
    if (!inner.empty()) {
      result_.field += "." + inner;
    }
  }

  void prefix_name(const std::string & name)
  {
    if (result_.field.empty()) {
      result_.field = name;
    } else if (result_.field[0] == '[') {
      result_.field = name + result_.field;
    } else {
      result_.field = name + "." + result_.field;
    }
  }

  bool decode_field(const Field & f, uint8_t * dst)
  {
    switch (f.shape) {
      case Shape::Single:
        return decode_elements(f, dst, 1, false);
      case Shape::Array:
        return decode_elements(f, dst, f.count, true);
      case Shape::Sequence:
        return decode_sequence(f, dst);
    }
    return false;
  }

  // `n` elements lying back to back in memory from `first` (not for std::vector<bool>).
  bool decode_elements(const Field & f, uint8_t * first, size_t n, bool indexed)
  {
    switch (f.kind) {
      case ElementKind::Primitive: {
        const size_t start = in_.position();
        const uint8_t * p = in_.take(f.align, n * f.size);
        if (!p) {
          return fail(DecodeError::Truncated, start);
        }
        if (!kSwap) {
          copy_bytes(first, p, n * f.size);
        } else {
          for (size_t i = 0; i < n; ++i) {
            copy_value(first + i * f.size, p + i * f.size, f.size, true);
          }
        }
        return true;
      }
      case ElementKind::Bool: {
        const uint8_t * p = in_.take(1, n);
        if (!p) {
          return fail(DecodeError::Truncated, in_.position());
        }
        bool * out = reinterpret_cast<bool *>(first);
        for (size_t i = 0; i < n; ++i) {
          if (p[i] > 1) {
            if (indexed) {
              prefix_index(i);
            }
            return fail(DecodeError::BadBool, in_.offset_of(p + i));
          }
          out[i] = p[i] == 1;
        }
        return true;
      }
      case ElementKind::String:
        for (size_t i = 0; i < n; ++i) {
          if (!decode_string(*reinterpret_cast<std::string *>(first + i * f.stride), f)) {
            if (indexed) {
              prefix_index(i);
            }
            return false;
          }
        }
        return true;
      case ElementKind::WString:
        for (size_t i = 0; i < n; ++i) {
          if (!decode_wstring(*reinterpret_cast<std::u16string *>(first + i * f.stride), f)) {
            if (indexed) {
              prefix_index(i);
            }
            return false;
          }
        }
        return true;
      case ElementKind::Message:
        for (size_t i = 0; i < n; ++i) {
          if (!decode_struct(*f.element, first + i * f.stride)) {
            prefix_index(i);
            return false;
          }
        }
        return true;
    }
    return false;
  }

  bool read_count(uint32_t & count, size_t & start)
  {
    start = in_.position();
    const uint8_t * p = in_.take(4, 4);
    if (!p) {
      return fail(DecodeError::Truncated, start);
    }
    start = in_.offset_of(p);
    count = load_u32(p, kSwap);
    return true;
  }

  bool decode_string(std::string & s, const Field & f)
  {
    uint32_t n = 0;
    size_t start = 0;
    if (!read_count(n, start)) {
      return false;
    }
    // Zero is never written (the NUL always counts) but other implementations accept it.
    if (n == 0) {
      s.clear();
      return true;
    }
    if (n > in_.remaining_after(1)) {
      return fail(DecodeError::BadLength, start);
    }
    if (f.string_bound != 0 && n - 1 > f.string_bound) {
      return fail(DecodeError::BoundExceeded, start);
    }
    const uint8_t * p = in_.take(1, n);
    if (p[n - 1] != 0) {
      return fail(DecodeError::BadString, start);
    }
    try {
      s.assign(reinterpret_cast<const char *>(p), n - 1);
    } catch (const std::exception &) {
      return fail(DecodeError::BadLength, start);
    }
    return true;
  }

  bool decode_wstring(std::u16string & s, const Field & f)
  {
    uint32_t n = 0;
    size_t start = 0;
    if (!read_count(n, start)) {
      return false;
    }
    if (n > in_.remaining_after(4) / 4) {
      return fail(DecodeError::BadLength, start);
    }
    if (f.string_bound != 0 && n > f.string_bound) {
      return fail(DecodeError::BoundExceeded, start);
    }
    const uint8_t * p = in_.take(4, 4 * size_t{n});
    try {
      s.resize(n);
    } catch (const std::exception &) {
      return fail(DecodeError::BadLength, start);
    }
    // Units above 16 bits cannot come from a UTF-16 sender; keeping the low half is harmless.
    for (size_t i = 0; i < n; ++i) {
      s[i] = static_cast<char16_t>(load_u32(p + 4 * i, kSwap));
    }
    return true;
  }

  static size_t element_min_wire_size(const Field & f)
  {
    switch (f.kind) {
      case ElementKind::Primitive:
        return f.size;
      case ElementKind::Bool:
        return 1;
      case ElementKind::String:
      case ElementKind::WString:
        return 4;
      case ElementKind::Message:
        // A zero-size element would let a tiny input claim any count.
        return f.element->min_wire_size > 0 ? f.element->min_wire_size : 1;
    }
    return 1;
  }

  bool decode_sequence(const Field & f, void * seq)
  {
    uint32_t n = 0;
    size_t start = 0;
    if (!read_count(n, start)) {
      return false;
    }
    if (f.count != 0 && n > f.count) {
      return fail(DecodeError::BoundExceeded, start);
    }
    // Never size the vector beyond what the bytes left could possibly describe.
    const size_t align = f.kind == ElementKind::Primitive ? f.align : 1;
    if (n > in_.remaining_after(align) / element_min_wire_size(f)) {
      return fail(DecodeError::BadLength, start);
    }
    try {
      f.member->resize_function(seq, n);
    } catch (const std::exception &) {
      return fail(DecodeError::BadLength, start);
    }
    if (n == 0) {
      return true;
    }
    if (f.kind == ElementKind::Bool) {
      const uint8_t * p = in_.take(1, n);
      for (size_t i = 0; i < n; ++i) {
        if (p[i] > 1) {
          prefix_index(i);
          return fail(DecodeError::BadBool, in_.offset_of(p + i));
        }
        const bool value = p[i] == 1;
        f.member->assign_function(seq, i, &value);
      }
      return true;
    }
    return decode_elements(f, static_cast<uint8_t *>(f.member->get_function(seq, 0)), n, true);
  }

  Reader & in_;
  DecodeResult & result_;
};

}  // namespace
}  // namespace detail

DecodeResult deserialize(
    const MessageMembers * members,
    const uint8_t * data,
    size_t size,
    void * message,
    size_t prefix_size)
{
  DecodeResult result;
  if (!members || !message) {
    result.error = DecodeError::UnsupportedType;
    return result;
  }
  if (!data || size < detail::kHeaderSize || data[0] != 0x00 || data[1] > 0x01) {
    result.error = DecodeError::BadHeader;
    return result;
  }
  if (size - detail::kHeaderSize < prefix_size) {
    result.error = DecodeError::Truncated;
    result.offset = size;
    return result;
  }
  const bool swap = (data[1] == 0x01) != detail::kHostIsLittleEndian;
  detail::Reader in(data, size, detail::kHeaderSize + prefix_size, detail::kHeaderSize);
  auto * base = static_cast<uint8_t *>(message);
  try {
    const detail::Layout & layout = detail::layout_of(members);
    if (!layout.unsupported.empty()) {
      result.error = DecodeError::UnsupportedType;
      result.field = layout.unsupported;
      return result;
    }
    if (swap) {
      detail::Decoder<true>(in, result).decode_struct(layout, base);
    } else {
      detail::Decoder<false>(in, result).decode_struct(layout, base);
    }
  } catch (...) {
    // Allocation failures and whatever a message type's own resize or assign may throw: the
    // caller gets a result, never an exception.
    result.error = DecodeError::BadLength;
    result.offset = in.position();
  }
  return result;
}

}  // namespace rclcpp_cdr

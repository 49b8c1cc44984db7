// Raw byte moves: short copies, the host byte order, and the swaps needed to read samples
// written on the other kind of host.
#ifndef RCLCPP_CDR__RAW_BYTES_HPP_
#define RCLCPP_CDR__RAW_BYTES_HPP_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace rclcpp_cdr
{
namespace detail
{

/// memcpy for the short, variable-length copies that dominate CDR (a field, a run of fields, a
/// short string): a library call costs more than the copy itself below 17 bytes.
inline void copy_bytes(uint8_t * dst, const uint8_t * src, size_t n)
{
  if (n > 16) {
    std::memcpy(dst, src, n);
  } else if (n >= 8) {
    uint64_t head;
    uint64_t tail;
    std::memcpy(&head, src, 8);
    std::memcpy(&tail, src + n - 8, 8);
    std::memcpy(dst, &head, 8);
    std::memcpy(dst + n - 8, &tail, 8);
  } else if (n >= 4) {
    uint32_t head;
    uint32_t tail;
    std::memcpy(&head, src, 4);
    std::memcpy(&tail, src + n - 4, 4);
    std::memcpy(dst, &head, 4);
    std::memcpy(dst + n - 4, &tail, 4);
  } else if (n > 0) {
    dst[0] = src[0];
    dst[n / 2] = src[n / 2];
    dst[n - 1] = src[n - 1];
  }
}

constexpr bool kHostIsLittleEndian = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

/// Second byte of the encapsulation header for data in host order.
constexpr uint8_t kHostRepresentation = kHostIsLittleEndian ? 0x01 : 0x00;

/// Copies one `size`-byte value from `src` to `dst`, reversing its bytes when `swap` is set.
inline void copy_value(void * dst, const uint8_t * src, size_t size, bool swap)
{
  if (!swap) {
    std::memcpy(dst, src, size);
    return;
  }
  switch (size) {
    case 2: {
      uint16_t v;
      std::memcpy(&v, src, 2);
      v = __builtin_bswap16(v);
      std::memcpy(dst, &v, 2);
      return;
    }
    case 4: {
      uint32_t v;
      std::memcpy(&v, src, 4);
      v = __builtin_bswap32(v);
      std::memcpy(dst, &v, 4);
      return;
    }
    case 8: {
      uint64_t v;
      std::memcpy(&v, src, 8);
      v = __builtin_bswap64(v);
      std::memcpy(dst, &v, 8);
      return;
    }
    default: {
      auto * out = static_cast<uint8_t *>(dst);
      for (size_t i = 0; i < size; ++i) {
        out[i] = src[size - 1 - i];
      }
      return;
    }
  }
}

inline uint32_t load_u32(const uint8_t * src, bool swap)
{
  uint32_t v;
  std::memcpy(&v, src, 4);
  return swap ? __builtin_bswap32(v) : v;
}

}  // namespace detail
}  // namespace rclcpp_cdr

#endif  // RCLCPP_CDR__RAW_BYTES_HPP_

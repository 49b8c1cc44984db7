// Byte-level helpers shared by the codec tests, and the golden encoding of the Exotic type.
#ifndef CDR_TEST__WIRE_BYTES_HPP_
#define CDR_TEST__WIRE_BYTES_HPP_

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "exotic.hpp"
#include "samples.hpp"

namespace cdr_test
{

using Bytes = std::vector<uint8_t>;

inline Bytes bytes(std::initializer_list<int> values)
{
  Bytes out;
  for (int v : values) {
    out.push_back(static_cast<uint8_t>(v));
  }
  return out;
}

inline Bytes concat(std::initializer_list<Bytes> parts)
{
  Bytes out;
  for (const Bytes & p : parts) {
    out.insert(out.end(), p.begin(), p.end());
  }
  return out;
}

inline Bytes zeros(size_t n) { return Bytes(n, 0); }

inline Bytes counting(int first, size_t n)
{
  Bytes out;
  for (size_t i = 0; i < n; ++i) {
    out.push_back(static_cast<uint8_t>(first + static_cast<int>(i)));
  }
  return out;
}

// Hex with a space every 4 bytes, so a failure shows where the streams part.
inline std::string hex(const Bytes & b)
{
  std::string out;
  char buf[4];
  for (size_t i = 0; i < b.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", b[i]);
    out += buf;
    if (i % 4 == 3) {
      out += ' ';
    }
  }
  return out;
}

template <class T>
Bytes encode(const T & msg, size_t prefix = 0)
{
  Bytes out;
  rclcpp_cdr::serialize(members_of<T>(), &msg, out, prefix);
  return out;
}

inline Bytes encode_with(
    const rosidl_message_type_support_t * ts, const void * msg, size_t prefix = 0)
{
  Bytes out;
  rclcpp_cdr::serialize(rclcpp_cdr::get_members(ts), msg, out, prefix);
  return out;
}

template <class T>
rclcpp_cdr::DecodeResult decode_into(const Bytes & in, T & msg, size_t prefix = 0)
{
  return rclcpp_cdr::deserialize(members_of<T>(), in.data(), in.size(), &msg, prefix);
}

inline const Bytes kLeHeader = bytes({0x00, 0x01, 0x00, 0x00});
inline const Bytes kBeHeader = bytes({0x00, 0x00, 0x00, 0x00});

inline Exotic golden_exotic()
{
  Exotic m;
  m.flag = true;
  m.letter = u'Z';
  m.small = -2;
  m.big = 0x0102030405060708ull;
  m.wide = u"h\u00e9";
  m.bits = {true, false, true};
  m.fixed_bits = {false, true, true};
  m.bounded_numbers.push_back(7);
  m.bounded_numbers.push_back(-1);
  m.short_text = "ok";
  m.wide_list = {u"a", u""};
  m.names = {"x", ""};
  geometry_msgs::msg::Point p;
  p.x = 1.0;
  p.y = 2.0;
  p.z = 3.0;
  m.points.push_back(p);
  m.stamps[0].sec = 1;
  m.stamps[0].nanosec = 2;
  m.stamps[1].sec = 3;
  m.stamps[1].nanosec = 4;
  return m;
}

// Body offsets in the comments count from the first byte after the encapsulation header.
inline const Bytes kExoticLittleEndian = concat({
    kLeHeader,
    bytes({0x01, 0x00, 0x5a, 0x00, 0xfe, 0xff, 0x00, 0x00}),    // 0 flag, pad, letter, small, pad
    bytes({0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}),    // 8 big
    bytes({2, 0, 0, 0, 0x68, 0, 0, 0, 0xe9, 0, 0, 0}),          // 16 wide: units widened to 4 bytes
    bytes({3, 0, 0, 0, 1, 0, 1}),                               // 28 bits
    bytes({0, 1, 1, 0, 0}),                                     // 35 fixed_bits, pad
    bytes({2, 0, 0, 0, 0x07, 0x00, 0xff, 0xff}),                // 40 bounded_numbers
    bytes({3, 0, 0, 0, 'o', 'k', 0, 0}),                        // 48 short_text, pad
    bytes({2, 0, 0, 0, 1, 0, 0, 0, 'a', 0, 0, 0, 0, 0, 0, 0}),  // 56 wide_list
    bytes({2, 0, 0, 0, 'x', 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}),  // 72 names, pad after "x"
    bytes({1, 0, 0, 0, 0, 0, 0, 0}),                            // 88 points count, pad to 8
    bytes({0, 0, 0, 0, 0, 0, 0xf0, 0x3f, 0, 0, 0, 0, 0, 0, 0x00, 0x40}),  // 96 x, y
    bytes({0, 0, 0, 0, 0, 0, 0x08, 0x40}),                                // 112 z
    bytes({1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0}),              // 120 stamps
});

}  // namespace cdr_test

#endif  // CDR_TEST__WIRE_BYTES_HPP_

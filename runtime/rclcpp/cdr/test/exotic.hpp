// Message types described by hand-written introspection tables, for member kinds that no
// interface of the workspace uses (wstring, wchar, bool[], bounded sequences and strings,
// arrays of strings and of messages, long double) and for odd shapes.
#ifndef CDR_TEST__EXOTIC_HPP_
#define CDR_TEST__EXOTIC_HPP_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "builtin_interfaces/msg/time.hpp"
#include "geometry_msgs/msg/point.hpp"
#include "rosidl_runtime_c/message_type_support_struct.h"
#include "rosidl_runtime_cpp/bounded_vector.hpp"

namespace cdr_test
{

struct Exotic
{
  bool flag = false;
  char16_t letter = 0;
  int16_t small = 0;
  uint64_t big = 0;
  std::u16string wide;
  std::vector<bool> bits;
  std::array<bool, 3> fixed_bits{};
  rosidl_runtime_cpp::BoundedVector<int16_t, 3> bounded_numbers;
  std::string short_text;  ///< bounded to 5 characters
  std::vector<std::u16string> wide_list;
  std::array<std::string, 2> names;
  rosidl_runtime_cpp::BoundedVector<geometry_msgs::msg::Point, 2> points;
  std::array<builtin_interfaces::msg::Time, 2> stamps;

  bool operator==(const Exotic & o) const;
};

/// {uint8 a; float64 b}: a double aligned to 8 right after a single byte.
struct PaddedPair
{
  uint8_t a = 0;
  double b = 0.0;
};

/// long double (16 bytes in memory, aligned to 8 on the wire) followed by a byte.
struct Extended
{
  long double value = 0.0L;
  uint8_t after = 0;
};

/// {int32 ok; <type id 99> broken;}: a member type the codec does not know.
struct Unknown
{
  int32_t ok = 0;
  int32_t broken = 0;
};

const rosidl_message_type_support_t * exotic_type_support();
const rosidl_message_type_support_t * padded_pair_type_support();
const rosidl_message_type_support_t * extended_type_support();
const rosidl_message_type_support_t * unknown_type_support();

}  // namespace cdr_test

#endif  // CDR_TEST__EXOTIC_HPP_

// libFuzzer target for the CDR decoder. Besides the sanitizers' checks, it traps when an
// accepted input does not survive re-encoding: a decoded message must encode, decode again,
// and encode to the same bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_types.hpp"
#include "rclcpp_cdr/codec.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t * data, size_t size)
{
  if (size < 1) {
    return 0;
  }
  const cdr_test::Sample & type = cdr_fuzz::type_for(data[0]);
  const size_t prefix = cdr_fuzz::prefix_for(data[0]);

  cdr_test::DynamicMessage message(type.members);
  const rclcpp_cdr::DecodeResult result =
      rclcpp_cdr::deserialize(type.members, data + 1, size - 1, message.get(), prefix);
  if (!result) {
    (void)result.message();
    return 0;
  }

  std::vector<uint8_t> first;
  rclcpp_cdr::serialize(type.members, message.get(), first, prefix);
  if (rclcpp_cdr::serialized_size(type.members, message.get(), prefix) != first.size()) {
    __builtin_trap();
  }
  cdr_test::DynamicMessage again(type.members);
  if (!rclcpp_cdr::deserialize(type.members, first.data(), first.size(), again.get(), prefix)) {
    __builtin_trap();
  }
  std::vector<uint8_t> second;
  rclcpp_cdr::serialize(type.members, again.get(), second, prefix);
  if (first != second) {
    __builtin_trap();
  }
  return 0;
}

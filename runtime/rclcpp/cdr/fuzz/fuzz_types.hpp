// The message types the decoder fuzzer exercises: every interface type of the workspace plus
// the hand-described Exotic type. An input's first byte picks the type (low 7 bits, modulo
// the count) and whether a 16-byte service prefix precedes the body (high bit); the rest is
// the CDR payload.
#ifndef CDR_FUZZ__FUZZ_TYPES_HPP_
#define CDR_FUZZ__FUZZ_TYPES_HPP_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "samples.hpp"

namespace cdr_fuzz
{

inline const std::vector<cdr_test::Sample> & fuzz_types()
{
  static const std::vector<cdr_test::Sample> types = cdr_test::all_samples(0);
  return types;
}

inline const cdr_test::Sample & type_for(uint8_t selector)
{
  const auto & types = fuzz_types();
  return types[(selector & 0x7f) % types.size()];
}

inline size_t prefix_for(uint8_t selector) { return (selector & 0x80) ? 16 : 0; }

inline uint8_t selector_of(size_t type_index, size_t prefix)
{
  return static_cast<uint8_t>(type_index | (prefix ? 0x80 : 0));
}

}  // namespace cdr_fuzz

#endif  // CDR_FUZZ__FUZZ_TYPES_HPP_

// A quorvel_protocol/Trashes copied into the C structures idlc generates from idl/trashes.idl,
// with Cyclone DDS's own serialiser for them (XCDR1, host byte order, body only: no
// encapsulation header). The reference the codec is checked and timed against.
#ifndef CDR_TEST__IDL_TRASHES_HPP_
#define CDR_TEST__IDL_TRASHES_HPP_

#include <cstdint>
#include <vector>

#include "quorvel_protocol/msg/trashes.hpp"
#include "trashes.h"

namespace cdr_test
{

class IdlTrashes
{
public:
  /// An empty sample, to decode into.
  IdlTrashes();
  /// A deep copy of `message`.
  explicit IdlTrashes(const quorvel_protocol::msg::Trashes & message);
  ~IdlTrashes();
  IdlTrashes(const IdlTrashes &) = delete;
  IdlTrashes & operator=(const IdlTrashes &) = delete;

  cdr_idl_Trashes_ * get() { return sample_; }
  const cdr_idl_Trashes_ * get() const { return sample_; }

  std::vector<uint8_t> encode_body() const;
  /// Cyclone's receive path: validate (normalise) the body, then read it. False if rejected.
  bool decode_body(std::vector<uint8_t> body);
  quorvel_protocol::msg::Trashes to_message() const;

private:
  cdr_idl_Trashes_ * sample_;
};

}  // namespace cdr_test

#endif  // CDR_TEST__IDL_TRASHES_HPP_

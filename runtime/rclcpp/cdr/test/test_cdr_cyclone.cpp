// Cyclone DDS's generated serialiser as an independent reference: for Trashes messages of many
// shapes, both produce the same bytes and each reads what the other wrote.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "idl_trashes.hpp"
#include "wire_bytes.hpp"

namespace
{

using namespace cdr_test;
using quorvel_protocol::msg::Trashes;

std::vector<Trashes> shapes()
{
  std::vector<Trashes> out;
  for (int seed = 0; seed < 8; ++seed) {
    out.push_back(sample<Trashes>(seed));
  }
  Trashes empty_parts = sample<Trashes>(2);
  empty_parts.header.frame_id.clear();
  empty_parts.trashes[0].text.clear();
  empty_parts.trashes[1].data.clear();
  empty_parts.trashes[2].header.frame_id = "abc";
  out.push_back(empty_parts);
  out.push_back(Trashes{});
  return out;
}

TEST(CdrAgainstCyclone, WritesTheSameBytes)
{
  for (const Trashes & message : shapes()) {
    const Bytes ours = encode(message);
    const Bytes body = IdlTrashes(message).encode_body();
    ASSERT_GE(ours.size(), 4 + body.size());
    EXPECT_EQ(
        hex(Bytes(ours.begin() + 4, ours.begin() + 4 + static_cast<long>(body.size()))), hex(body));
    // Only the zero padding to a multiple of 4 follows.
    EXPECT_EQ(
        Bytes(ours.begin() + 4 + static_cast<long>(body.size()), ours.end()),
        zeros(ours.size() - 4 - body.size()));
  }
}

TEST(CdrAgainstCyclone, EachReadsTheOther)
{
  for (const Trashes & message : shapes()) {
    // Cyclone's own framing records the pad count in the options byte.
    Bytes body = IdlTrashes(message).encode_body();
    const size_t pad = (4 - body.size() % 4) % 4;
    Bytes theirs = concat({bytes({0, 1, 0, static_cast<int>(pad)}), body, zeros(pad)});
    Trashes back = sample<Trashes>(9);
    const auto result = decode_into(theirs, back);
    ASSERT_TRUE(result) << result.message();
    EXPECT_EQ(back, message);

    const Bytes ours = encode(message);
    IdlTrashes read_by_cyclone;
    ASSERT_TRUE(read_by_cyclone.decode_body(Bytes(ours.begin() + 4, ours.end())));
    EXPECT_EQ(read_by_cyclone.to_message(), message);
  }
}

}  // namespace

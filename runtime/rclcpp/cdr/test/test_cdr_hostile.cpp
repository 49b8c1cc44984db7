// The decoder against damaged and malicious input: every truncation, every corrupted length,
// bad headers, bools, strings and bounds. Nothing may crash, and no allocation may exceed what
// the input could describe.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "wire_bytes.hpp"

// Records the largest single allocation while a test has tracking on.
namespace
{
std::atomic<bool> g_tracking{false};
std::atomic<size_t> g_largest{0};

void * allocate(size_t n)
{
  if (g_tracking.load(std::memory_order_relaxed)) {
    size_t seen = g_largest.load(std::memory_order_relaxed);
    while (n > seen && !g_largest.compare_exchange_weak(seen, n)) {
    }
  }
  if (void * p = std::malloc(n == 0 ? 1 : n)) {
    return p;
  }
  throw std::bad_alloc();
}
}  // namespace

void * operator new(size_t n) { return allocate(n); }
void * operator new[](size_t n) { return allocate(n); }
void operator delete(void * p) noexcept { std::free(p); }
void operator delete[](void * p) noexcept { std::free(p); }
void operator delete(void * p, size_t) noexcept { std::free(p); }
void operator delete[](void * p, size_t) noexcept { std::free(p); }

namespace
{

using namespace cdr_test;
using rclcpp_cdr::DecodeError;

// Decoding `size` bytes may allocate a few times what they hold (a string header per 4-byte
// length, a message per its minimal encoding), never in proportion to a claimed count.
size_t allocation_limit(size_t size) { return 16 * size + 1024; }

struct Outcome
{
  rclcpp_cdr::DecodeResult result;
  size_t largest_allocation = 0;
};

Outcome decode_tracked(const Sample & s, const uint8_t * data, size_t size, size_t prefix)
{
  DynamicMessage target(s.members);
  g_largest = 0;
  g_tracking = true;
  Outcome out;
  out.result = rclcpp_cdr::deserialize(s.members, data, size, target.get(), prefix);
  g_tracking = false;
  out.largest_allocation = g_largest;
  if (out.result) {
    // Whatever was accepted must be a message that encodes and decodes again.
    Bytes again;
    rclcpp_cdr::serialize(s.members, target.get(), again, prefix);
    DynamicMessage copy(s.members);
    EXPECT_TRUE(rclcpp_cdr::deserialize(s.members, again.data(), again.size(), copy.get(), prefix));
  }
  return out;
}

bool is_length_problem(DecodeError e)
{
  return e == DecodeError::Truncated || e == DecodeError::BadLength || e == DecodeError::BadHeader;
}

size_t find(const Bytes & haystack, const std::string & needle)
{
  const auto it = std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end());
  EXPECT_NE(it, haystack.end()) << needle;
  return static_cast<size_t>(it - haystack.begin());
}

void put_u32(Bytes & b, size_t at, uint32_t v) { std::memcpy(b.data() + at, &v, 4); }

uint32_t get_u32(const Bytes & b, size_t at)
{
  uint32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

TEST(CdrHostile, EveryTruncationIsRejected)
{
  for (const Sample & s : all_samples(1)) {
    for (size_t prefix : {size_t{0}, size_t{16}}) {
      SCOPED_TRACE(s.name + " prefix " + std::to_string(prefix));
      const Bytes wire = s.encode(prefix);
      // Only the trailing padding (at most 3 bytes) may be cut without harm.
      size_t needed = wire.size();
      for (size_t len = wire.size(); len-- > 0;) {
        if (!decode_tracked(s, wire.data(), len, prefix).result) {
          break;
        }
        needed = len;
      }
      EXPECT_GE(needed + 3, wire.size());
      for (size_t len = 0; len < needed; ++len) {
        // A copy of exactly `len` bytes, so ASan sees any read past the end.
        const Bytes cut(wire.begin(), wire.begin() + static_cast<std::ptrdiff_t>(len));
        const Outcome out = decode_tracked(s, cut.data(), cut.size(), prefix);
        EXPECT_FALSE(out.result) << "accepted " << len << " of " << wire.size() << " bytes";
        EXPECT_TRUE(is_length_problem(out.result.error)) << len << ": " << out.result.message();
        EXPECT_LE(out.largest_allocation, allocation_limit(len));
      }
    }
  }
}

TEST(CdrHostile, CorruptedLengthsNeverAllocateBeyondTheInput)
{
  for (const Sample & s : all_samples(1)) {
    SCOPED_TRACE(s.name);
    const Bytes wire = s.encode();
    // Every 4-aligned word may be a count: try the values an attacker would.
    for (size_t at = 4; at + 4 <= wire.size(); at += 4) {
      const uint32_t original = get_u32(wire, at);
      for (uint32_t value :
           {0xffffffffu, 0x80000000u, 0x7fffffffu, 0x00100000u, original + 1, original + 2}) {
        Bytes bad = wire;
        put_u32(bad, at, value);
        const Outcome out = decode_tracked(s, bad.data(), bad.size(), 0);
        EXPECT_LE(out.largest_allocation, allocation_limit(bad.size()))
            << "word at " << at << " set to " << value;
      }
    }
    // Read as big-endian, every count becomes byte-swapped garbage.
    Bytes swapped = wire;
    swapped[1] = 0x00;
    EXPECT_LE(
        decode_tracked(s, swapped.data(), swapped.size(), 0).largest_allocation,
        allocation_limit(swapped.size()));
  }
}

TEST(CdrHostile, CountsLargerThanTheInputAreBadLengths)
{
  // Trashes with header.frame_id "f": the trashes count sits at body offset 16.
  quorvel_protocol::msg::Trashes trashes;
  trashes.header.frame_id = "f";
  trashes.trashes.resize(2);
  Bytes wire = encode(trashes);
  ASSERT_EQ(get_u32(wire, 20), 2u);
  put_u32(wire, 20, 0xffffffffu);
  auto result = decode_into(wire, trashes);
  EXPECT_EQ(result.error, DecodeError::BadLength);
  EXPECT_EQ(result.offset, 20u);
  EXPECT_EQ(result.field, "trashes");
  put_u32(wire, 20, 3);
  EXPECT_TRUE(is_length_problem(decode_into(wire, trashes).error));

  // Each GoalStatus needs at least 25 bytes: a third one cannot fit after two.
  action_msgs::msg::GoalStatusArray goals;
  goals.status_list.resize(2);
  wire = encode(goals);
  put_u32(wire, 4, 3);
  result = decode_into(wire, goals);
  EXPECT_EQ(result.error, DecodeError::BadLength);
  EXPECT_EQ(result.field, "status_list");

  std_msgs::msg::String text;
  text.data = "abc";
  wire = encode(text);
  ASSERT_EQ(wire.size(), 12u);
  put_u32(wire, 4, 5);
  result = decode_into(wire, text);
  EXPECT_EQ(result.error, DecodeError::BadLength);
  EXPECT_EQ(result.offset, 4u);

  // Nested paths name every level.
  auto info = sample<rmw_dds_common::msg::ParticipantEntitiesInfo>(0);
  info.node_entities_info_seq.resize(2);
  info.node_entities_info_seq[1].node_namespace = "/ns";
  info.node_entities_info_seq[1].node_name = "n";
  wire = encode(info);
  const size_t name_at = find(wire, std::string("n") + '\0' + std::string(2, '\0')) - 4;
  ASSERT_EQ(get_u32(wire, name_at), 2u);
  put_u32(wire, name_at + 4 + 4, 0x40000000u);  // reader_gid_seq count follows "n\0" + pad
  result = decode_into(wire, info);
  EXPECT_EQ(result.error, DecodeError::BadLength);
  EXPECT_EQ(result.field, "node_entities_info_seq[1].reader_gid_seq");

  Bytes exotic = kExoticLittleEndian;
  put_u32(exotic, 4 + 16, 0x20000000u);
  Exotic e;
  const auto * exotic_members = rclcpp_cdr::get_members(exotic_type_support());
  result = rclcpp_cdr::deserialize(exotic_members, exotic.data(), exotic.size(), &e);
  EXPECT_EQ(result.error, DecodeError::BadLength);
  EXPECT_EQ(result.field, "wide");
  exotic = kExoticLittleEndian;
  put_u32(exotic, 4 + 28, 0xffffffffu);
  result = rclcpp_cdr::deserialize(exotic_members, exotic.data(), exotic.size(), &e);
  EXPECT_EQ(result.error, DecodeError::BadLength);
  EXPECT_EQ(result.field, "bits");
}

TEST(CdrHostile, HeadersOtherThanPlainCdrAreRefused)
{
  std_msgs::msg::Int32 msg;
  for (const Bytes & wire : {
           Bytes{},
           bytes({0x00, 0x01, 0x00}),
           bytes({0x00, 0x02, 0x00, 0x00, 4, 0, 0, 0}),  // parameter list CDR
           bytes({0x00, 0x07, 0x00, 0x00, 4, 0, 0, 0}),  // XCDR2
           bytes({0x01, 0x01, 0x00, 0x00, 4, 0, 0, 0}),
       }) {
    const auto result = decode_into(wire, msg);
    EXPECT_EQ(result.error, DecodeError::BadHeader) << hex(wire);
    EXPECT_EQ(result.offset, 0u);
  }
  EXPECT_EQ(
      rclcpp_cdr::deserialize(members_of<std_msgs::msg::Int32>(), nullptr, 8, &msg).error,
      DecodeError::BadHeader);

  // A service prefix longer than the input.
  const Bytes short_request = concat({kLeHeader, zeros(12)});
  EXPECT_EQ(decode_into(short_request, msg, 16).error, DecodeError::Truncated);
}

TEST(CdrHostile, BoolBytesOtherThanZeroOrOneAreRefused)
{
  std_msgs::msg::Bool flag;
  auto result = decode_into(bytes({0, 1, 0, 0, 2, 0, 0, 0}), flag);
  EXPECT_EQ(result.error, DecodeError::BadBool);
  EXPECT_EQ(result.offset, 4u);
  EXPECT_EQ(result.field, "data");

  quorvel_interfaces::action::ArmTask_SendGoal_Response response;
  Bytes wire = encode(response, 16);
  wire[20] = 0xff;
  result = decode_into(wire, response, 16);
  EXPECT_EQ(result.error, DecodeError::BadBool);
  EXPECT_EQ(result.offset, 20u);
  EXPECT_EQ(result.field, "accepted");

  const auto * exotic_members = rclcpp_cdr::get_members(exotic_type_support());
  Exotic e;
  for (const auto & [body_offset, field] :
       std::vector<std::pair<size_t, std::string>>{{33, "bits[1]"}, {37, "fixed_bits[2]"}}) {
    Bytes exotic = kExoticLittleEndian;
    exotic[4 + body_offset] = 7;
    result = rclcpp_cdr::deserialize(exotic_members, exotic.data(), exotic.size(), &e);
    EXPECT_EQ(result.error, DecodeError::BadBool);
    EXPECT_EQ(result.offset, 4 + body_offset);
    EXPECT_EQ(result.field, field);
  }
}

TEST(CdrHostile, StringsWithoutTheirNulAreRefused)
{
  std_msgs::msg::String text;
  auto result = decode_into(bytes({0, 1, 0, 0, 3, 0, 0, 0, 'h', 'i', 'x', 0}), text);
  EXPECT_EQ(result.error, DecodeError::BadString);
  EXPECT_EQ(result.offset, 4u);
  EXPECT_EQ(result.field, "data");

  auto trashes = sample<quorvel_protocol::msg::Trashes>(0);
  Bytes wire = encode(trashes);
  const size_t text_at = find(wire, std::string("object-1") + '\0');
  wire[text_at + 8] = '!';
  result = decode_into(wire, trashes);
  EXPECT_EQ(result.error, DecodeError::BadString);
  EXPECT_EQ(result.offset, text_at - 4);
  EXPECT_EQ(result.field, "trashes[1].text");
  EXPECT_EQ(
      result.message(),
      "string without NUL terminator at offset " + std::to_string(text_at - 4) +
          " (trashes[1].text)");
}

TEST(CdrHostile, BoundsAreEnforcedOnInput)
{
  rmw_dds_common::msg::NodeEntitiesInfo info;
  info.node_name = std::string(256, 'n');
  ASSERT_TRUE(decode_into(encode(info), info));
  info.node_name += 'n';
  auto result = decode_into(encode(info), info);
  EXPECT_EQ(result.error, DecodeError::BoundExceeded);
  EXPECT_EQ(result.field, "node_name");

  const auto * exotic_members = rclcpp_cdr::get_members(exotic_type_support());
  Exotic e = golden_exotic();
  e.short_text = "sixsix";
  Bytes wire;
  rclcpp_cdr::serialize(exotic_members, &e, wire);
  result = rclcpp_cdr::deserialize(exotic_members, wire.data(), wire.size(), &e);
  EXPECT_EQ(result.error, DecodeError::BoundExceeded);
  EXPECT_EQ(result.field, "short_text");

  for (const auto & [body_offset, field] :
       std::vector<std::pair<size_t, std::string>>{{40, "bounded_numbers"}, {88, "points"}}) {
    Bytes exotic = kExoticLittleEndian;
    put_u32(exotic, 4 + body_offset, 4);
    result = rclcpp_cdr::deserialize(exotic_members, exotic.data(), exotic.size(), &e);
    EXPECT_EQ(result.error, DecodeError::BoundExceeded);
    EXPECT_EQ(result.offset, 4 + body_offset);
    EXPECT_EQ(result.field, field);
  }
}

}  // namespace

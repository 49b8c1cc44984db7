// Serialise + deserialise of a quorvel_protocol/Trashes with 100 objects: our codec against
// Cyclone DDS's generated serialiser (idlc C code driven by dds_stream_write/dds_stream_read)
// on the same data. Prints median times per round trip as BENCH lines.
//
// Both sides start every round trip with an empty buffer and decode into a message that is
// reused across round trips, as a writer (fresh serdata per sample) and a reader (one message
// object) do. Cyclone's local write/take path does not validate; its receive path normalises
// (checks) the bytes first, which the "validated" figure adds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dds/dds.h"
#include "dds/ddsi/ddsi_cdrstream.h"
#include "idl_trashes.hpp"
#include "quorvel_protocol/msg/trashes.hpp"
#include "rclcpp_cdr/codec.hpp"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"

namespace
{

using Clock = std::chrono::steady_clock;
constexpr uint32_t kXcdr1 = 1;

quorvel_protocol::msg::Trashes make_trashes(size_t n)
{
  quorvel_protocol::msg::Trashes m;
  m.header.stamp.sec = 1700000000;
  m.header.stamp.nanosec = 123456789;
  m.header.frame_id = "camera_color_optical_frame";
  m.trashes.resize(n);
  for (size_t i = 0; i < n; ++i) {
    auto & t = m.trashes[i];
    t.header.stamp.sec = 1700000000 + static_cast<int32_t>(i);
    t.header.stamp.nanosec = static_cast<uint32_t>(i * 1000);
    t.header.frame_id = "camera_link";
    t.value_a = static_cast<int32_t>(i);
    t.value_b = -static_cast<int32_t>(i);
    t.text = "object-" + std::to_string(i);
    t.flag = static_cast<uint8_t>(i % 2);
    t.value_c = static_cast<int32_t>(i * 7);
    t.data.resize(16);
    for (size_t k = 0; k < t.data.size(); ++k) {
      t.data[k] = static_cast<uint8_t>(i + k);
    }
    t.x = 0.5f * static_cast<float>(i);
    t.y = -0.25f * static_cast<float>(i);
  }
  return m;
}

class OurCodec
{
public:
  explicit OurCodec(const quorvel_protocol::msg::Trashes & sample)
      : sample_(sample),
        members_(rclcpp_cdr::get_members(
            rosidl_typesupport_introspection_cpp::get_message_type_support_handle<
                quorvel_protocol::msg::Trashes>()))
  {
  }

  bool round_trip()
  {
    std::vector<uint8_t> wire;
    rclcpp_cdr::serialize(members_, &sample_, wire);
    return static_cast<bool>(rclcpp_cdr::deserialize(members_, wire.data(), wire.size(), &out_));
  }

  std::vector<uint8_t> encode() const
  {
    std::vector<uint8_t> wire;
    rclcpp_cdr::serialize(members_, &sample_, wire);
    return wire;
  }

  bool decoded_equals_sample() const { return out_ == sample_; }

private:
  const quorvel_protocol::msg::Trashes & sample_;
  const rclcpp_cdr::MessageMembers * members_;
  quorvel_protocol::msg::Trashes out_;
};

class CycloneCodec
{
public:
  explicit CycloneCodec(const quorvel_protocol::msg::Trashes & sample) : sample_(sample) {}

  bool round_trip(bool validate)
  {
    const uint32_t * ops = cdr_idl_Trashes__desc.m_ops;
    dds_ostream_t os;
    dds_ostream_init(&os, 0, kXcdr1);
    bool ok = dds_stream_write(&os, reinterpret_cast<const char *>(sample_.get()), ops) != nullptr;
    if (ok && validate) {
      uint32_t end = 0;
      ok = dds_stream_normalize_data(
               reinterpret_cast<char *>(os.m_buffer), &end, os.m_index, false, kXcdr1, ops) !=
           nullptr;
    }
    if (ok) {
      dds_istream_t is;
      dds_istream_init(&is, os.m_index, os.m_buffer, kXcdr1);
      dds_stream_read(&is, reinterpret_cast<char *>(out_.get()), ops);
      dds_istream_fini(&is);
    }
    dds_ostream_fini(&os);
    return ok;
  }

  std::vector<uint8_t> encode_body() const { return sample_.encode_body(); }

  bool decoded_equals(const quorvel_protocol::msg::Trashes & expected) const
  {
    return out_.to_message() == expected;
  }

private:
  cdr_test::IdlTrashes sample_;
  cdr_test::IdlTrashes out_;
};

template <class F>
double time_ns(F && f)
{
  const auto start = Clock::now();
  f();
  return static_cast<double>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
}

double median(std::vector<double> v)
{
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char ** argv)
{
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 40;
  constexpr int kPerRound = 100;

  const auto trashes = make_trashes(100);
  OurCodec ours(trashes);
  CycloneCodec cyclone(trashes);

  // Same bytes, or the comparison means nothing: the body must match Cyclone's exactly.
  const std::vector<uint8_t> our_bytes = ours.encode();
  const std::vector<uint8_t> cyclone_body = cyclone.encode_body();
  if (our_bytes.size() < 4 + cyclone_body.size() ||
      !std::equal(cyclone_body.begin(), cyclone_body.end(), our_bytes.begin() + 4) ||
      our_bytes.size() - 4 - cyclone_body.size() > 3) {
    std::fprintf(stderr, "bench_cdr_roundtrip: our bytes differ from Cyclone's\n");
    return 1;
  }
  if (!ours.round_trip() || !ours.decoded_equals_sample() || !cyclone.round_trip(true) ||
      !cyclone.decoded_equals(trashes)) {
    std::fprintf(stderr, "bench_cdr_roundtrip: a round trip did not restore the message\n");
    return 1;
  }

  std::vector<double> our_ns;
  std::vector<double> cyclone_ns;
  std::vector<double> cyclone_validated_ns;
  bool ok = true;
  // Interleaved rounds, so drift on a shared machine hits all three alike.
  for (int round = -2; round < rounds; ++round) {
    for (int i = 0; i < kPerRound; ++i) {
      const double t = time_ns([&] { ok &= ours.round_trip(); });
      if (round >= 0) {
        our_ns.push_back(t);
      }
    }
    for (int i = 0; i < kPerRound; ++i) {
      const double t = time_ns([&] { ok &= cyclone.round_trip(false); });
      if (round >= 0) {
        cyclone_ns.push_back(t);
      }
    }
    for (int i = 0; i < kPerRound; ++i) {
      const double t = time_ns([&] { ok &= cyclone.round_trip(true); });
      if (round >= 0) {
        cyclone_validated_ns.push_back(t);
      }
    }
  }
  if (!ok) {
    std::fprintf(stderr, "bench_cdr_roundtrip: a round trip failed\n");
    return 1;
  }
  const double ours_median = median(our_ns);
  const double cyclone_median = median(cyclone_ns);
  std::printf("BENCH cdr_roundtrip_trashes100_ns %.0f ns\n", ours_median);
  std::printf("BENCH cdr_roundtrip_trashes100_cyclone_ns %.0f ns\n", cyclone_median);
  std::printf(
      "BENCH cdr_roundtrip_trashes100_cyclone_validated_ns %.0f ns\n",
      median(cyclone_validated_ns));
  std::printf(
      "BENCH cdr_roundtrip_trashes100_ratio_to_cyclone %.2f x\n", ours_median / cyclone_median);
  return 0;
}

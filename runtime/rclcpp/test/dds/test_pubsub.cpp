// Topic traffic through the DDS layer: in one process between two participants, and across a
// process boundary (where samples travel as UDP fragments over loopback).
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "sensor_msgs/msg/detail/joint_state__rosidl_typesupport_introspection_cpp.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/detail/int32__rosidl_typesupport_introspection_cpp.hpp"
#include "std_msgs/msg/detail/string__rosidl_typesupport_introspection_cpp.hpp"
#include "std_msgs/msg/int32.hpp"
#include "std_msgs/msg/string.hpp"
#ifdef DDS_TEST_HAVE_QUORVEL_PROTOCOL
#include "quorvel_protocol/msg/detail/trashes__rosidl_typesupport_introspection_cpp.hpp"
#include "quorvel_protocol/msg/trashes.hpp"
#endif

#include "dds_test_util.hpp"

extern char ** environ;

namespace
{

using namespace rclcpp::dds;
using namespace dds_test;

sensor_msgs::msg::JointState make_joint_state(size_t joints, int seed)
{
  sensor_msgs::msg::JointState js;
  js.header.stamp.sec = 1700000000 + seed;
  js.header.stamp.nanosec = 123456789u;
  js.header.frame_id = "base_link";
  for (size_t i = 0; i < joints; ++i) {
    js.name.push_back("joint_" + std::to_string(i));
    js.position.push_back(0.5 * static_cast<double>(i) + seed);
    js.velocity.push_back(-0.25 * static_cast<double>(i));
  }
  // effort stays empty: an empty sequence between two non-empty ones must not shift anything.
  return js;
}

/// Takes from `reader` until a sample was decoded or `timeout` passed; returns the last result.
template <typename Message>
TakeResult take_within(Reader & reader, Message & msg, std::chrono::milliseconds timeout = 5000ms)
{
  WaitSet waitset;
  waitset.attach(reader.read_condition(), 1);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  TakeResult r;
  for (;;) {
    r = reader.take(&msg);
    if (r.status != TakeStatus::Empty && r.status != TakeStatus::Skipped) {
      return r;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      return r;
    }
    waitset.wait(deadline - now);
  }
}

class InProcess : public ::testing::Test
{
protected:
  void start(uint32_t domain_id)
  {
    a = Participant::create(loopback_domain(domain_id));
    b = Participant::create(loopback_domain(domain_id));
  }
  std::shared_ptr<Participant> a;
  std::shared_ptr<Participant> b;
};

TEST_F(InProcess, JointStateRoundTripKeepsEveryField)
{
  start(100);
  const MessageMembers * members = DDS_TEST_MEMBERS(sensor_msgs, JointState);
  Writer writer(a, "rt/joint_states", members, keep_last(10));
  Reader reader(b, "rt/joint_states", members, keep_last(10));
  ASSERT_TRUE(
      wait_until([&] { return writer.matched_count() == 1 && reader.matched_count() == 1; }));

  const auto sent = make_joint_state(7, 3);
  ASSERT_TRUE(writer.write(&sent));
  sensor_msgs::msg::JointState got;
  const TakeResult r = take_within(reader, got);
  ASSERT_EQ(r.status, TakeStatus::Taken) << r.error;
  EXPECT_EQ(got, sent);
  EXPECT_EQ(r.publication_handle, writer.instance_handle());
  EXPECT_GT(r.source_timestamp, 0);
  EXPECT_EQ(reader.take(&got).status, TakeStatus::Empty);

  // The raw form is what goes on the wire: little-endian CDR header, padded to 4 bytes.
  ASSERT_TRUE(writer.write(&sent));
  std::vector<uint8_t> bytes;
  ASSERT_EQ(reader.take_serialized(bytes).status, TakeStatus::Taken);
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes[0], 0x00);
  EXPECT_EQ(bytes[1], 0x01);
  EXPECT_EQ(bytes.size() % 4, 0u);
  // ...and written back unchanged it decodes to the same message.
  ASSERT_TRUE(writer.write_serialized(bytes.data(), bytes.size()));
  sensor_msgs::msg::JointState again;
  ASSERT_EQ(take_within(reader, again).status, TakeStatus::Taken);
  EXPECT_EQ(again, sent);
}

#ifdef DDS_TEST_HAVE_QUORVEL_PROTOCOL
TEST_F(InProcess, NestedSequencesOfStructsRoundTrip)
{
  start(101);
  const MessageMembers * members = DDS_TEST_MEMBERS(quorvel_protocol, Trashes);
  Writer writer(a, "rt/trashes", members, keep_last(10));
  Reader reader(b, "rt/trashes", members, keep_last(10));
  ASSERT_TRUE(
      wait_until([&] { return writer.matched_count() == 1 && reader.matched_count() == 1; }));

  quorvel_protocol::msg::Trashes sent;
  sent.header.frame_id = "camera";
  for (int i = 0; i < 5; ++i) {
    quorvel_protocol::msg::TrashObject t;
    t.header.frame_id = std::string(static_cast<size_t>(i), 'f');  // includes the empty string
    t.value_a = -i;
    t.value_b = 1000 * i;
    t.text = "bottle #" + std::to_string(i);
    t.flag = static_cast<uint8_t>(i & 1);
    t.value_c = 7;
    t.data.assign(static_cast<size_t>(i * 3), static_cast<uint8_t>(0xa0 + i));
    t.x = 0.1f * static_cast<float>(i);
    t.y = -2.5f;
    sent.trashes.push_back(t);
  }
  ASSERT_TRUE(writer.write(&sent));
  quorvel_protocol::msg::Trashes got;
  const TakeResult r = take_within(reader, got);
  ASSERT_EQ(r.status, TakeStatus::Taken) << r.error;
  EXPECT_EQ(got, sent);
}
#endif

TEST_F(InProcess, KeepLastDepthKeepsOnlyTheNewestOfABurst)
{
  start(102);
  const MessageMembers * members = DDS_TEST_MEMBERS(std_msgs, Int32);
  Writer writer(a, "rt/burst", members, keep_last(100));
  Reader reader(b, "rt/burst", members, keep_last(3));
  ASSERT_TRUE(
      wait_until([&] { return writer.matched_count() == 1 && reader.matched_count() == 1; }));

  std_msgs::msg::Int32 msg;
  for (int i = 0; i < 20; ++i) {
    msg.data = i;
    ASSERT_TRUE(writer.write(&msg));
  }
  ASSERT_TRUE(writer.wait_for_acks(std::chrono::seconds(5)));
  std::vector<int32_t> taken;
  while (reader.take(&msg).status == TakeStatus::Taken) {
    taken.push_back(msg.data);
  }
  EXPECT_EQ(taken, (std::vector<int32_t>{17, 18, 19}));
}

TEST_F(InProcess, UndecodableSamplesAreReportedAndLaterSamplesStillArrive)
{
  start(103);
  const MessageMembers * members = DDS_TEST_MEMBERS(std_msgs, String);
  Writer writer(a, "rt/corrupt", members, keep_last(10));
  Reader reader(b, "rt/corrupt", members, keep_last(10));
  ASSERT_TRUE(
      wait_until([&] { return writer.matched_count() == 1 && reader.matched_count() == 1; }));

  const std::vector<std::vector<uint8_t>> garbage = {
      {0x00, 0x01, 0x00, 0x00, 0xff, 0xff, 0xff, 0x7f, 'a', 0x00, 0x00, 0x00},  // huge length
      {0x00, 0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 'a', 'b', 'c', 0x00},    // no NUL in 3 bytes
      {0x00, 0x01, 0x00, 0x00, 0x08, 0x00},                                     // cut short
      {0x00, 0x01},                                                             // header cut short
  };
  for (const auto & bytes : garbage) {
    ASSERT_TRUE(writer.write_serialized(bytes.data(), bytes.size()));
  }
  std_msgs::msg::String good;
  good.data = "still alive";
  ASSERT_TRUE(writer.write(&good));

  std_msgs::msg::String got;
  for (size_t i = 0; i < garbage.size(); ++i) {
    const TakeResult r = take_within(reader, got);
    EXPECT_EQ(r.status, TakeStatus::DecodeFailed) << "garbage sample " << i;
    EXPECT_FALSE(r.error.empty()) << "garbage sample " << i;
  }
  const TakeResult r = take_within(reader, got);
  ASSERT_EQ(r.status, TakeStatus::Taken) << r.error;
  EXPECT_EQ(got.data, "still alive");
}

/// The echo helper process, stopped and reaped when this goes out of scope.
class EchoProcess
{
public:
  explicit EchoProcess(uint32_t domain_id)
  {
    const std::string id = std::to_string(domain_id);
    char * const argv[] = {
        const_cast<char *>(DDS_TEST_ECHO), const_cast<char *>(id.c_str()), nullptr};
    if (posix_spawn(&pid_, DDS_TEST_ECHO, nullptr, nullptr, argv, environ) != 0) {
      pid_ = -1;
    }
  }
  ~EchoProcess() { stop(); }
  bool running() const { return pid_ > 0; }

  /// SIGTERM, then SIGKILL if it has not exited within 5 s. Returns the exit status.
  int stop()
  {
    if (pid_ <= 0) {
      return status_;
    }
    kill(pid_, SIGTERM);
    const bool exited =
        wait_until([&] { return waitpid(pid_, &status_, WNOHANG) == pid_; }, 5000ms);
    if (!exited) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status_, 0);
    }
    pid_ = -1;
    return status_;
  }

private:
  pid_t pid_ = -1;
  int status_ = -1;
};

TEST(TwoProcesses, SmallAndFragmentedSamplesCrossTheProcessBoundary)
{
  const DomainConfig config = loopback_domain(105);
  EchoProcess echo(105);
  ASSERT_TRUE(echo.running());
  auto participant = Participant::create(config);
  const MessageMembers * members = DDS_TEST_MEMBERS(sensor_msgs, JointState);
  Writer ping(participant, "rt/dds_test_ping", members, keep_last(10));
  Reader pong(participant, "rt/dds_test_pong", members, keep_last(10));
  ASSERT_TRUE(
      wait_until([&] { return ping.matched_count() == 1 && pong.matched_count() == 1; }, 10000ms))
      << "the echo process was not discovered over loopback";

  // Each process discovers the other on its own schedule, and volatile samples sent to a side
  // that has not matched yet are lost: only an echoed probe shows that all four ends match.
  sensor_msgs::msg::JointState probe;
  probe.header.frame_id = "probe";
  bool echoed = false;
  for (int attempt = 0; attempt < 100 && !echoed; ++attempt) {
    ASSERT_TRUE(ping.write(&probe));
    sensor_msgs::msg::JointState got;
    echoed = take_within(pong, got, 100ms).status == TakeStatus::Taken;
  }
  ASSERT_TRUE(echoed) << "no probe came back within 10 s";

  // ~350 kB: far above one UDP datagram, so it arrives as a chain of fragments.
  const std::vector<sensor_msgs::msg::JointState> sent = {
      make_joint_state(2, 1), make_joint_state(20000, 2), make_joint_state(0, 3)};
  for (const auto & msg : sent) {
    ASSERT_TRUE(ping.write(&msg));
  }
  for (const auto & expected : sent) {
    sensor_msgs::msg::JointState got;
    TakeResult r;
    do {  // late echoes of surplus probes may still come first
      r = take_within(pong, got, 10000ms);
    } while (r.status == TakeStatus::Taken && got.header.frame_id == "probe");
    ASSERT_EQ(r.status, TakeStatus::Taken) << r.error;
    EXPECT_EQ(got, expected);
  }
  const int status = echo.stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "echo status " << status;
}

}  // namespace

// Test helper process: echoes every sensor_msgs/JointState taken from "rt/dds_test_ping" back on
// "rt/dds_test_pong", in domain argv[1], until SIGTERM (or its parent dies, or 60 s pass).
#include <sys/prctl.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "sensor_msgs/msg/detail/joint_state__rosidl_typesupport_introspection_cpp.hpp"
#include "sensor_msgs/msg/joint_state.hpp"

#include "dds_test_util.hpp"

namespace
{

volatile std::sig_atomic_t g_stop = 0;

void on_signal(int) { g_stop = 1; }

}  // namespace

int main(int argc, char ** argv)
{
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DOMAIN_ID\n", argv[0]);
    return 2;
  }
  std::signal(SIGTERM, on_signal);
  std::signal(SIGINT, on_signal);
  prctl(PR_SET_PDEATHSIG, SIGTERM);

  using namespace rclcpp::dds;
  try {
    const auto domain_id = static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 10));
    auto participant = Participant::create(dds_test::loopback_domain(domain_id));
    const MessageMembers * members = DDS_TEST_MEMBERS(sensor_msgs, JointState);
    Reader ping(participant, "rt/dds_test_ping", members, dds_test::keep_last(10));
    Writer pong(participant, "rt/dds_test_pong", members, dds_test::keep_last(10));
    WaitSet waitset;
    waitset.attach(ping.read_condition(), 1);

    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!g_stop && std::chrono::steady_clock::now() < give_up) {
      // Bounded so that a signal is noticed; the test helper needs no faster reaction.
      waitset.wait(std::chrono::milliseconds(50));
      sensor_msgs::msg::JointState msg;
      for (;;) {
        const TakeResult r = ping.take(&msg);
        if (r.status == TakeStatus::Empty) {
          break;
        }
        if (r.status == TakeStatus::Taken) {
          pong.write(&msg);
        }
      }
    }
    pong.wait_for_acks(std::chrono::seconds(1));
  } catch (const std::exception & e) {
    std::fprintf(stderr, "dds_test_echo: %s\n", e.what());
    return 1;
  }
  return 0;
}

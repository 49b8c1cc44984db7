// Prints figures of the DDS layer alone (no rclcpp on top): the round trip of a small message
// to the echo helper process and back over loopback, and the CPU used while idly waiting.
// Usage: dds_bench_roundtrip [ROUND_TRIPS] (domain 127).
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "sensor_msgs/msg/detail/joint_state__rosidl_typesupport_introspection_cpp.hpp"
#include "sensor_msgs/msg/joint_state.hpp"

#include "dds_test_util.hpp"

extern char ** environ;

namespace
{

using namespace rclcpp::dds;
using namespace dds_test;
using Clock = std::chrono::steady_clock;

double cpu_seconds()
{
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
}

/// Waits for one sample on `reader`; false after `timeout`.
bool receive(
    Reader & reader,
    WaitSet & waitset,
    sensor_msgs::msg::JointState & msg,
    std::chrono::milliseconds timeout)
{
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (reader.take(&msg).status == TakeStatus::Taken) {
      return true;
    }
    const auto now = Clock::now();
    if (now >= deadline) {
      return false;
    }
    waitset.wait(deadline - now);
  }
}

}  // namespace

int main(int argc, char ** argv)
{
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 2000;
  constexpr uint32_t kDomain = 127;
  const DomainConfig config = loopback_domain(kDomain);

  const std::string id = std::to_string(kDomain);
  char * const child_argv[] = {
      const_cast<char *>(DDS_TEST_ECHO), const_cast<char *>(id.c_str()), nullptr};
  pid_t child = -1;
  if (posix_spawn(&child, DDS_TEST_ECHO, nullptr, nullptr, child_argv, environ) != 0) {
    std::fprintf(stderr, "cannot start %s\n", DDS_TEST_ECHO);
    return 1;
  }

  int rc = 0;
  {
    auto participant = Participant::create(config);
    const MessageMembers * members = DDS_TEST_MEMBERS(sensor_msgs, JointState);
    Writer ping(participant, "rt/dds_test_ping", members, keep_last(10));
    Reader pong(participant, "rt/dds_test_pong", members, keep_last(10));
    WaitSet waitset;
    waitset.attach(pong.read_condition(), 1);

    sensor_msgs::msg::JointState msg;
    msg.name = {"j1"};
    msg.position = {1.0};
    sensor_msgs::msg::JointState got;
    bool echoed = false;
    for (int i = 0; i < 100 && !echoed; ++i) {
      ping.write(&msg);
      echoed = receive(pong, waitset, got, std::chrono::milliseconds(100));
    }
    while (pong.take(&got).status != TakeStatus::Empty) {
    }

    std::vector<double> us;
    us.reserve(static_cast<size_t>(rounds));
    for (int i = 0; echoed && i < rounds; ++i) {
      const auto t0 = Clock::now();
      ping.write(&msg);
      if (!receive(pong, waitset, got, std::chrono::milliseconds(2000))) {
        std::fprintf(stderr, "round trip %d lost\n", i);
        rc = 1;
        break;
      }
      us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    }
    if (!us.empty()) {
      std::sort(us.begin(), us.end());
      std::printf(
          "round trip, 2 processes, small JointState: n=%zu median %.1f us, p90 %.1f us, "
          "p99 %.1f us\n",
          us.size(),
          us[us.size() / 2],
          us[us.size() * 9 / 10],
          us[us.size() * 99 / 100]);
    } else {
      rc = 1;
    }

    const double cpu0 = cpu_seconds();
    const auto t0 = Clock::now();
    waitset.wait(std::chrono::seconds(3));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf(
        "idle wait with a live participant: %.3f %% CPU over %.1f s\n",
        100.0 * (cpu_seconds() - cpu0) / wall,
        wall);
  }

  kill(child, SIGTERM);
  int status = 0;
  const auto give_up = Clock::now() + std::chrono::seconds(5);
  while (waitpid(child, &status, WNOHANG) != child) {
    if (Clock::now() >= give_up) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      break;
    }
    struct timespec pause
    {
      0, 10 * 1000 * 1000
    };
    nanosleep(&pause, nullptr);
  }
  return rc;
}

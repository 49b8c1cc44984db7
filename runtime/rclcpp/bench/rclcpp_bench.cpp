// Benchmark roles for the runtime; scripts/bench.d/20-rclcpp.sh drives them.
//   topic_rtt N PAIRS     spawn PAIRS ping/pong process pairs, N round trips each; print median us
//   service_rtt N PAIRS   same with a service; the first call of each pair is not counted
//   pong                  echo bench_ping -> bench_pong
//   server                serve bench_service
//   ping N FD / client N FD  (children of the drivers) write their round-trip times to FD
//   idle                  a node with 4 subscriptions, 4 clients, 6 publishers on a 16-thread
//                         executor, doing nothing until SIGINT
//   startup N             spawn N "startup_child" processes; print the median ms from fork to
//                         the first spin
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "quorvel_interfaces/srv/arm_grab.hpp"
#include "rclcpp/rclcpp.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/int32.hpp"

namespace
{
using Clock = std::chrono::steady_clock;

/// Starts this program with `args`; only `keep_fd` (if >= 0) of the parent's pipes survives the
/// exec, so a reader sees end-of-file exactly when that child ends.
pid_t spawn(const char * self, const std::vector<std::string> & args, int keep_fd = -1)
{
  const pid_t pid = fork();
  if (pid == 0) {
    if (keep_fd >= 0) {
      fcntl(keep_fd, F_SETFD, 0);
    }
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(self));
    std::vector<std::string> copy = args;
    for (auto & a : copy) {
      argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    execv("/proc/self/exe", argv.data());
    _exit(127);
  }
  return pid;
}

void stop(pid_t pid)
{
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
}

void put(int fd, const void * data, size_t size)
{
  if (write(fd, data, size) != static_cast<ssize_t>(size)) {
    std::perror("rclcpp_bench: write");
  }
}

double median(std::vector<double> v)
{
  if (v.empty()) {
    return -1.0;
  }
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::vector<double> read_samples(int fd)
{
  std::vector<double> samples;
  double value;
  while (read(fd, &value, sizeof(value)) == static_cast<ssize_t>(sizeof(value))) {
    samples.push_back(value);
  }
  return samples;
}

/// Runs `pairs` fresh pairs of (server role, client role) and pools the client's samples.
double run_pairs(const char * self, const std::string & server, const std::string & client,
  int n, int pairs)
{
  std::vector<double> all;
  for (int p = 0; p < pairs; ++p) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      return -1.0;
    }
    const pid_t server_pid = spawn(self, {server});
    const pid_t client_pid =
      spawn(self, {client, std::to_string(n), std::to_string(fds[1])}, fds[1]);
    close(fds[1]);
    auto samples = read_samples(fds[0]);
    close(fds[0]);
    waitpid(client_pid, nullptr, 0);
    stop(server_pid);
    all.insert(all.end(), samples.begin(), samples.end());
  }
  return median(all);
}

int ping(int n, int fd)
{
  auto node = std::make_shared<rclcpp::Node>("bench_ping");
  std::mutex mutex;
  std::condition_variable cv;
  int received = -1;
  Clock::time_point received_at;
  auto pub = node->create_publisher<std_msgs::msg::Int32>("bench_ping", 10);
  // The round trip ends in the echo's callback, like the figures this is compared with.
  auto sub = node->create_subscription<std_msgs::msg::Int32>(
    "bench_pong", 10, [&](const std_msgs::msg::Int32 & m) {
      const auto now = Clock::now();
      std::lock_guard<std::mutex> lock(mutex);
      received = m.data;
      received_at = now;
      cv.notify_one();
    });
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread spinner([&executor]() {executor.spin();});
  // Warm up until the pong answers (both directions matched).
  for (int i = -1000; i < n; ++i) {
    std_msgs::msg::Int32 m;
    m.data = i;
    const auto t0 = Clock::now();
    pub->publish(m);
    std::unique_lock<std::mutex> lock(mutex);
    const bool got = cv.wait_for(lock, std::chrono::milliseconds(i < 0 ? 20 : 1000),
        [&]() {return received == i;});
    const double us = std::chrono::duration<double, std::micro>(received_at - t0).count();
    if (i < 0) {
      if (got) {
        i = std::max(i, -10);  // answered: only a few more warm-up rounds
      }
      continue;
    }
    if (got) {
      put(fd, &us, sizeof(us));
    }
  }
  executor.cancel();
  spinner.join();
  return 0;
}

int pong()
{
  auto node = std::make_shared<rclcpp::Node>("bench_pong");
  auto pub = node->create_publisher<std_msgs::msg::Int32>("bench_pong", 10);
  auto sub = node->create_subscription<std_msgs::msg::Int32>(
    "bench_ping", 10, [pub](const std_msgs::msg::Int32 & m) {pub->publish(m);});
  rclcpp::spin(node);
  return 0;
}

using ArmGrab = quorvel_interfaces::srv::ArmGrab;

int server()
{
  auto node = std::make_shared<rclcpp::Node>("bench_server");
  auto service = node->create_service<ArmGrab>(
    "bench_service", [](std::shared_ptr<ArmGrab::Request> req, std::shared_ptr<ArmGrab::Response> resp) {
      resp->status = req->cmd;
    });
  rclcpp::spin(node);
  return 0;
}

int client(int n, int fd)
{
  auto node = std::make_shared<rclcpp::Node>("bench_client");
  auto cli = node->create_client<ArmGrab>("bench_service");
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread spinner([&executor]() {executor.spin();});
  if (!cli->wait_for_service(std::chrono::seconds(10))) {
    executor.cancel();
    spinner.join();
    return 1;
  }
  std::mutex mutex;
  std::condition_variable cv;
  for (int i = -1; i < n; ++i) {
    auto req = std::make_shared<ArmGrab::Request>();
    req->cmd = i;
    bool done = false;
    Clock::time_point done_at;
    const auto t0 = Clock::now();
    cli->async_send_request(req, [&](rclcpp::Client<ArmGrab>::SharedFuture) {
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        done_at = now;
        cv.notify_one();
      });
    std::unique_lock<std::mutex> lock(mutex);
    const bool got = cv.wait_for(lock, std::chrono::seconds(2), [&]() {return done;});
    const double us = std::chrono::duration<double, std::micro>(done_at - t0).count();
    if (got && i >= 0) {
      put(fd, &us, sizeof(us));
    }
  }
  executor.cancel();
  spinner.join();
  return 0;
}

int idle()
{
  auto node = std::make_shared<rclcpp::Node>("bench_idle");
  std::vector<rclcpp::SubscriptionBase::SharedPtr> subs;
  std::vector<rclcpp::ClientBase::SharedPtr> clients;
  std::vector<rclcpp::PublisherBase::SharedPtr> pubs;
  for (int i = 0; i < 4; ++i) {
    auto group = node->create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive);
    rclcpp::SubscriptionOptions options;
    options.callback_group = group;
    subs.push_back(node->create_subscription<std_msgs::msg::Bool>(
        "idle_sub_" + std::to_string(i), 1, [](const std_msgs::msg::Bool &) {}, options));
    clients.push_back(node->create_client<ArmGrab>("idle_service_" + std::to_string(i)));
  }
  for (int i = 0; i < 6; ++i) {
    pubs.push_back(node->create_publisher<std_msgs::msg::Bool>("idle_pub_" + std::to_string(i), 1));
  }
  rclcpp::executors::MultiThreadedExecutor executor(rclcpp::ExecutorOptions(), 16, true);
  executor.add_node(node);
  std::printf("ready\n");
  std::fflush(stdout);
  executor.spin();
  return 0;
}

int startup_child(int fd)
{
  auto node = std::make_shared<rclcpp::Node>("bench_startup");
  std::vector<std::shared_ptr<void>> keep;
  for (int i = 0; i < 4; ++i) {
    keep.push_back(node->create_publisher<std_msgs::msg::Bool>("start_pub_" + std::to_string(i), 1));
    keep.push_back(node->create_subscription<std_msgs::msg::Bool>(
        "start_sub_" + std::to_string(i), 1, [](const std_msgs::msg::Bool &) {}));
  }
  keep.push_back(node->create_client<ArmGrab>("start_client"));
  keep.push_back(node->create_service<ArmGrab>(
      "start_service", [](std::shared_ptr<ArmGrab::Request>, std::shared_ptr<ArmGrab::Response>) {}));
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  const char byte = 1;
  put(fd, &byte, 1);
  close(fd);
  executor.spin();
  return 0;
}

double startup(const char * self, int n)
{
  std::vector<double> ms;
  for (int i = 0; i < n; ++i) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      return -1.0;
    }
    const auto t0 = Clock::now();
    const pid_t pid = spawn(self, {"startup_child", std::to_string(fds[1])}, fds[1]);
    close(fds[1]);
    char byte;
    if (read(fds[0], &byte, 1) == 1) {
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    close(fds[0]);
    stop(pid);
  }
  return median(ms);
}
}  // namespace

int main(int argc, char ** argv)
{
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s topic_rtt|service_rtt|idle|startup ...\n", argv[0]);
    return 2;
  }
  const std::string role = argv[1];
  const int a = argc > 2 ? std::atoi(argv[2]) : 0;
  const int b = argc > 3 ? std::atoi(argv[3]) : 0;
  if (role == "topic_rtt") {
    std::printf("BENCH topic_rtt_us %.1f us\n", run_pairs(argv[0], "pong", "ping", a, b));
    return 0;
  }
  if (role == "service_rtt") {
    std::printf("BENCH service_rtt_us %.1f us\n", run_pairs(argv[0], "server", "client", a, b));
    return 0;
  }
  if (role == "startup") {
    std::printf("BENCH startup_ms %.1f ms\n", startup(argv[0], a));
    return 0;
  }
  // The remaining roles are processes with a node.
  rclcpp::init(1, argv);
  int rc = 2;
  if (role == "ping") {
    rc = ping(a, b);
  } else if (role == "pong") {
    rc = pong();
  } else if (role == "server") {
    rc = server();
  } else if (role == "client") {
    rc = client(a, b);
  } else if (role == "idle") {
    rc = idle();
  } else if (role == "startup_child") {
    rc = startup_child(a);
  }
  rclcpp::shutdown();
  return rc;
}

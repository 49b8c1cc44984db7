// Action round-trip figures between two processes, over fresh process pairs:
//   action_goal_accept_us  just before async_send_goal -> goal response callback
//   action_result_us       goal response callback -> result callback, the server succeeding the
//                          goal at once from a worker thread
// Each pair's server first finishes a few dozen goals, so it holds them (and lists them in every
// status array) while the measured goals run.
//
//   action_bench [--pairs N] [--goals N] [--preload N]   prints the BENCH lines
//   action_bench --server <action>                       one server, until interrupted
//   action_bench --client <action> <goals> <preload>     one client, prints "sample <a> <r>"
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "quorvel_interfaces/action/arm_task.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_action/rclcpp_action.hpp"

extern char ** environ;

namespace
{

using ArmTask = quorvel_interfaces::action::ArmTask;
using Clock = std::chrono::steady_clock;
using ServerHandle = rclcpp_action::ServerGoalHandle<ArmTask>;
using ClientHandle = rclcpp_action::ClientGoalHandle<ArmTask>;

constexpr auto kTimeout = std::chrono::seconds(10);

double micros(Clock::duration d)
{
  return std::chrono::duration<double, std::micro>(d).count();
}

int run_server(const std::string & action)
{
  auto node = std::make_shared<rclcpp::Node>("action_bench_server");
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::shared_ptr<ServerHandle>> queue;
  bool stopping = false;
  std::thread worker([&]() {
      std::unique_lock<std::mutex> lock(mutex);
      while (true) {
        wake.wait(lock, [&]() {return stopping || !queue.empty();});
        if (queue.empty()) {
          return;
        }
        auto handle = std::move(queue.front());
        queue.pop_front();
        lock.unlock();
        handle->succeed(std::make_shared<ArmTask::Result>());
        handle.reset();
        lock.lock();
      }
    });
  auto server = rclcpp_action::create_server<ArmTask>(
    node, action,
    [](const rclcpp_action::GoalUUID &, std::shared_ptr<const ArmTask::Goal>) {
      return rclcpp_action::GoalResponse::ACCEPT_AND_EXECUTE;
    },
    [](std::shared_ptr<ServerHandle>) {return rclcpp_action::CancelResponse::ACCEPT;},
    [&](std::shared_ptr<ServerHandle> handle) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        queue.push_back(std::move(handle));
      }
      wake.notify_one();
    });
  rclcpp::spin(node);
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  wake.notify_one();
  worker.join();
  return 0;
}

int run_client(const std::string & action, int goals, int preload)
{
  auto node = std::make_shared<rclcpp::Node>("action_bench_client");
  auto client = rclcpp_action::create_client<ArmTask>(node, action);
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread spinner([&executor]() {executor.spin();});
  int code = 0;
  if (!client->wait_for_action_server(kTimeout)) {
    std::fprintf(stderr, "action_bench: no action server\n");
    code = 1;
  }

  std::mutex mutex;
  std::condition_variable done;
  Clock::time_point accepted_at;
  Clock::time_point result_at;
  bool finished = false;
  rclcpp_action::Client<ArmTask>::SendGoalOptions options;
  options.goal_response_callback = [&](ClientHandle::SharedPtr) {
      const auto now = Clock::now();
      std::lock_guard<std::mutex> lock(mutex);
      accepted_at = now;
    };
  options.result_callback = [&](const ClientHandle::WrappedResult &) {
      const auto now = Clock::now();
      {
        std::lock_guard<std::mutex> lock(mutex);
        result_at = now;
        finished = true;
      }
      done.notify_one();
    };
  for (int i = 0; code == 0 && i < preload + goals; ++i) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      finished = false;
    }
    const auto sent_at = Clock::now();
    client->async_send_goal(ArmTask::Goal(), options);
    std::unique_lock<std::mutex> lock(mutex);
    if (!done.wait_for(lock, kTimeout, [&]() {return finished;})) {
      std::fprintf(stderr, "action_bench: goal %d got no result\n", i);
      code = 1;
      break;
    }
    if (i >= preload) {
      std::printf(
        "sample %.1f %.1f\n", micros(accepted_at - sent_at), micros(result_at - accepted_at));
    }
  }
  std::fflush(stdout);
  executor.cancel();
  spinner.join();
  return code;
}

/// A child process of the driver, killed and reaped if it outlives its use.
class Child
{
public:
  Child(const std::string & self, const std::vector<std::string> & args, bool capture)
  {
    int fds[2] = {-1, -1};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (capture && pipe(fds) == 0) {
      posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
      posix_spawn_file_actions_addclose(&actions, fds[0]);
      posix_spawn_file_actions_addclose(&actions, fds[1]);
    }
    std::vector<std::string> owned{self};
    owned.insert(owned.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto & arg : owned) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, self.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    if (fds[1] >= 0) {
      close(fds[1]);
    }
    fd_ = fds[0];
  }

  ~Child()
  {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) {
      close(fd_);
    }
  }

  bool started() const {return pid_ > 0;}

  /// Everything the child writes until it closes its output, or the deadline.
  std::string read_all(Clock::time_point deadline)
  {
    std::string text;
    char buffer[4096];
    while (fd_ >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - Clock::now()).count();
      pollfd p{fd_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) {
        break;
      }
      const ssize_t n = read(fd_, buffer, sizeof(buffer));
      if (n <= 0) {
        break;
      }
      text.append(buffer, static_cast<size_t>(n));
    }
    return text;
  }

  /// Interrupts the child and waits for it to exit; true when it exited with code 0 in time.
  bool stop(std::chrono::milliseconds timeout)
  {
    if (pid_ <= 0) {
      return false;
    }
    kill(pid_, SIGINT);
    return wait(timeout);
  }

  bool wait(std::chrono::milliseconds timeout)
  {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

private:
  pid_t pid_ = -1;
  int fd_ = -1;
  bool reaped_ = false;
};

double median(std::vector<double> values)
{
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double percentile(std::vector<double> values, double p)
{
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(p * static_cast<double>(values.size() - 1))];
}

int run_driver(int pairs, int goals, int preload)
{
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) {
    std::fprintf(stderr, "action_bench: cannot find its own executable\n");
    return 1;
  }
  self[length] = '\0';
  std::vector<double> accept_us;
  std::vector<double> result_us;
  for (int pair = 0; pair < pairs; ++pair) {
    const std::string action =
      "action_bench_" + std::to_string(getpid()) + "_" + std::to_string(pair);
    Child server(self, {"--server", action}, false);
    Child client(
      self, {"--client", action, std::to_string(goals), std::to_string(preload)}, true);
    if (!server.started() || !client.started()) {
      std::fprintf(stderr, "action_bench: cannot start the processes\n");
      return 1;
    }
    std::istringstream lines(client.read_all(Clock::now() + std::chrono::seconds(60)));
    const bool client_ok = client.wait(std::chrono::seconds(5));
    const bool server_ok = server.stop(std::chrono::seconds(5));
    if (!client_ok || !server_ok) {
      std::fprintf(
        stderr, "action_bench: pair %d: client %s, server %s\n", pair,
        client_ok ? "ok" : "failed", server_ok ? "ok" : "did not exit cleanly");
    }
    std::string word;
    double a = 0.0;
    double r = 0.0;
    while (lines >> word >> a >> r) {
      accept_us.push_back(a);
      result_us.push_back(r);
    }
  }
  if (accept_us.empty()) {
    std::fprintf(stderr, "action_bench: no samples\n");
    return 1;
  }
  std::printf("BENCH action_goal_accept_us %.1f us\n", median(accept_us));
  std::printf("BENCH action_result_us %.1f us\n", median(result_us));
  std::fflush(stdout);
  std::fprintf(
    stderr, "# %zu goals over %d process pairs, servers holding %d finished goals first; "
    "p90 accept %.1f us, p90 result %.1f us\n", accept_us.size(), pairs, preload,
    percentile(accept_us, 0.9), percentile(result_us, 0.9));
  return 0;
}

}  // namespace

int main(int argc, char ** argv)
{
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "--server" || args[0] == "--client")) {
    rclcpp::init(argc, argv);
    int code = 64;
    if (args[0] == "--server" && args.size() == 2) {
      code = run_server(args[1]);
    } else if (args[0] == "--client" && args.size() == 4) {
      code = run_client(args[1], std::atoi(args[2].c_str()), std::atoi(args[3].c_str()));
    }
    rclcpp::shutdown();
    return code;
  }
  int pairs = 6;
  int goals = 50;
  int preload = 40;
  for (size_t i = 0; i + 1 < args.size(); i += 2) {
    const int value = std::atoi(args[i + 1].c_str());
    if (args[i] == "--pairs") {
      pairs = value;
    } else if (args[i] == "--goals") {
      goals = value;
    } else if (args[i] == "--preload") {
      preload = value;
    }
  }
  if (pairs < 1 || goals < 1 || preload < 0) {
    std::fprintf(stderr, "usage: action_bench [--pairs N] [--goals N] [--preload N]\n");
    return 64;
  }
  return run_driver(pairs, goals, preload);
}

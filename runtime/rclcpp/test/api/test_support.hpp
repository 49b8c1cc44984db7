// Helpers for the API tests: bounded waits, a private DDS domain per test binary, and peer
// processes (the test_api_peer program) that are always stopped.
#ifndef TEST_SUPPORT_HPP_
#define TEST_SUPPORT_HPP_

#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace test_support
{

/// Polls `predicate` until it holds or `timeout` passes.
inline bool wait_until(
  const std::function<bool()> & predicate,
  std::chrono::milliseconds timeout = std::chrono::milliseconds(5000))
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

/// Every test binary talks on its own domain, on loopback only.
inline void use_domain(int domain_id)
{
  setenv("ROS_DOMAIN_ID", std::to_string(domain_id).c_str(), 1);
  unsetenv("CYCLONEDDS_URI");
  setenv("ROS_LOCALHOST_ONLY", "1", 1);
}

/// A peer process running test_api_peer with the given role arguments. Killed (SIGKILL) and
/// reaped on destruction if still running.
class Peer
{
public:
  explicit Peer(const std::vector<std::string> & args)
  {
    int fds[2];
    if (pipe(fds) != 0) {
      return;
    }
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], STDOUT_FILENO);
      dup2(fds[1], STDERR_FILENO);
      close(fds[0]);
      close(fds[1]);
      std::vector<char *> argv;
      std::string program = TEST_API_PEER_PATH;
      argv.push_back(program.data());
      std::vector<std::string> copy = args;
      for (auto & a : copy) {
        argv.push_back(a.data());
      }
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(fds[1]);
    output_fd_ = fds[0];
    fcntl(output_fd_, F_SETFL, O_NONBLOCK);
  }
  ~Peer()
  {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (output_fd_ >= 0) {
      close(output_fd_);
    }
  }
  Peer(const Peer &) = delete;
  Peer & operator=(const Peer &) = delete;

  void signal(int signum) {kill(pid_, signum);}
  /// Whether wait_exit saw the process end.
  bool exited() const {return exited_;}

  /// Everything the peer wrote to stdout and stderr so far.
  const std::string & output()
  {
    drain(0);
    return output_;
  }

  /// Waits until the peer's output contains `text`.
  bool wait_for_output(const std::string & text, std::chrono::milliseconds timeout)
  {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) {
        return false;
      }
      drain(static_cast<int>(left.count()));
    }
    return true;
  }

  /// Waits for the process to end; returns its exit status, or -1 on timeout / abnormal end.
  int wait_exit(std::chrono::milliseconds timeout)
  {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      const pid_t r = waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return -1;
  }

private:
  void drain(int timeout_ms)
  {
    if (output_fd_ < 0) {
      return;
    }
    pollfd pfd{output_fd_, POLLIN, 0};
    if (poll(&pfd, 1, timeout_ms) <= 0) {
      return;
    }
    char buffer[4096];
    ssize_t n;
    while ((n = read(output_fd_, buffer, sizeof(buffer))) > 0) {
      output_.append(buffer, static_cast<size_t>(n));
    }
  }

  int output_fd_ = -1;
  std::string output_;
  pid_t pid_ = -1;
  bool exited_ = false;
};

}  // namespace test_support

#endif  // TEST_SUPPORT_HPP_

// The installed-style arm_supervisor program as a child process, with its standard output and
// standard error captured. The child is always stopped: killed, if need be, on destruction.
#ifndef NODE__SUPERVISOR_PROCESS_HPP_
#define NODE__SUPERVISOR_PROCESS_HPP_

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quorvel_arm_supervisor::node_test
{

class SupervisorProcess
{
public:
  // Starts the program with `arguments`. `environment` changes the inherited environment: a
  // value sets the variable, nullopt removes it.
  explicit SupervisorProcess(
      const std::vector<std::string> & arguments,
      const std::map<std::string, std::optional<std::string>> & environment = {});
  ~SupervisorProcess();
  SupervisorProcess(const SupervisorProcess &) = delete;
  SupervisorProcess & operator=(const SupervisorProcess &) = delete;

  std::string Stdout() const;
  std::string Stderr() const;
  // Both streams, standard output first.
  std::string Output() const;
  // Waits until `text` appears in either stream.
  bool WaitForOutput(const std::string & text, std::chrono::milliseconds timeout) const;
  // How often `text` appears in either stream.
  std::size_t Count(const std::string & text) const;
  // Waits until `text` appears at least `count` times.
  bool WaitForCount(
      const std::string & text, std::size_t count, std::chrono::milliseconds timeout) const;
  void Interrupt() const;
  // The exit status once the child has ended (128 + signal number when a signal ended it);
  // nullopt while it still runs after `timeout`.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);

private:
  std::string directory_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// True when each text appears in `output`, each after the previous one.
bool AppearInOrder(const std::string & output, const std::vector<std::string> & texts);

}  // namespace quorvel_arm_supervisor::node_test

#endif  // NODE__SUPERVISOR_PROCESS_HPP_

#include "action_server_wait.hpp"

#include <chrono>
#include <iostream>

namespace quorvel_tools
{

ExitCode wait_for_action_server(
    rclcpp_action::ClientBase & client,
    const std::string & action_name,
    double timeout_s,
    const std::string & command,
    Session & session,
    Progress & progress)
{
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(timeout_s));
  const int interrupts = session.interrupts();
  progress.restart();
  while (!client.action_server_is_ready()) {
    if (session.interrupts() != interrupts) {
      progress.clear();
      std::cerr << command << ": interrupted while looking for " << action_name << std::endl;
      return ExitCode::kInterrupted;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      progress.clear();
      std::cerr << command << ": no action server " << action_name << " within " << timeout_s
                << " s (is arm_supervisor running? see: quorvel status)" << std::endl;
      return ExitCode::kTimeout;
    }
    // Short steps: a signal does not end the wait.
    client.wait_for_action_server(std::chrono::milliseconds(100));
    progress.update("looking for action server " + action_name);
  }
  progress.clear();
  return ExitCode::kOk;
}

}  // namespace quorvel_tools

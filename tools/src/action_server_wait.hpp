// Finding an action server before talking to it.
#ifndef QUORVEL_TOOLS__ACTION_SERVER_WAIT_HPP_
#define QUORVEL_TOOLS__ACTION_SERVER_WAIT_HPP_

#include <string>

#include <rclcpp_action/rclcpp_action.hpp>

#include "cli.hpp"
#include "progress.hpp"
#include "session.hpp"

namespace quorvel_tools
{

// Waits up to `timeout_s` for the server behind `client`, showing progress. Returns kOk when
// it is there; otherwise says why on standard error (prefixed by `command`) and returns
// kTimeout, or kInterrupted when Ctrl-C came first. Blocks; main thread.
ExitCode wait_for_action_server(
    rclcpp_action::ClientBase & client,
    const std::string & action_name,
    double timeout_s,
    const std::string & command,
    Session & session,
    Progress & progress);

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__ACTION_SERVER_WAIT_HPP_

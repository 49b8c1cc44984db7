// The quorvel program behind main: picks the sub-command, parses its arguments, runs it.
#ifndef QUORVEL_TOOLS__DISPATCH_HPP_
#define QUORVEL_TOOLS__DISPATCH_HPP_

#include "cli.hpp"

namespace quorvel_tools
{

// Runs "quorvel <command> [arguments] [--ros-args ...]". Wrong arguments print the usage on
// standard error and give kUsage before anything touches the ROS graph; --help prints it on
// standard output. Never throws.
ExitCode run_cli(int argc, char ** argv);

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__DISPATCH_HPP_

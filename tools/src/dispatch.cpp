#include "dispatch.hpp"

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "commands.hpp"
#include "session.hpp"

namespace quorvel_tools
{

namespace
{

const char kUsage[] =
    "usage: quorvel <command> [options] [--ros-args ...]\n"
    "\n"
    "Desk tool for the arm task supervisor, for hosts without the ros2 command line.\n"
    "\n"
    "commands:\n"
    "  task       send an ArmTask goal, print its feedback and result (Ctrl-C cancels the goal)\n"
    "  cancel     cancel every goal of the action server\n"
    "  pub        publish arm-state, env-enable, joints or env-object\n"
    "  echo       print voice, gripper, recover messages or the task events\n"
    "  status     show which of the supervisor's endpoints are up\n"
    "  dashboard  serve a live page of the supervisor on http://127.0.0.1:8765/ (or play a bag)\n"
    "  fleet      serve one page for many arms, each on a domain of its own, on port 8766\n"
    "  record     record the task events and the arm's topics into a ROS 2 bag\n"
    "  bag        what a recorded bag holds (info, events), the rebuild of its metadata (reindex),\n"
    "             two recorded tasks step by step (compare)\n"
    "  scene      an arm_sim scene that plays a recorded task again (scene --from BAG)\n"
    "\n"
    "'quorvel <command> --help' describes a command. Arguments after --ros-args go to the\n"
    "ROS client library; ROS_DOMAIN_ID and ROS_LOCALHOST_ONLY choose the network as for any\n"
    "ROS 2 program.\n";

template <typename OptionsT>
ExitCode run_command(
    const std::string & command,
    const std::vector<std::string> & args,
    OptionsT (*parse)(const std::vector<std::string> &),
    const char * usage,
    ExitCode (*run)(const OptionsT &, Session &),
    int argc,
    char ** argv)
{
  const std::string program = "quorvel " + command;
  OptionsT options;
  try {
    options = parse(args);
  } catch (const UsageError & error) {
    std::cerr << program << ": " << error.what() << "\n\n" << usage;
    return ExitCode::kUsage;
  }
  if (options.help) {
    std::cout << usage;
    return ExitCode::kOk;
  }
  try {
    Session session(argc, argv, "quorvel_" + command);
    return run(options, session);
  } catch (const std::exception & error) {
    std::cerr << program << ": " << error.what() << std::endl;
    return ExitCode::kFailure;
  }
}

// A command that reads files only: no client library, no node.
template <typename OptionsT>
ExitCode run_offline_command(
    const std::string & command,
    const std::vector<std::string> & args,
    OptionsT (*parse)(const std::vector<std::string> &),
    const char * usage,
    ExitCode (*run)(const OptionsT &))
{
  const std::string program = "quorvel " + command;
  OptionsT options;
  try {
    options = parse(args);
  } catch (const UsageError & error) {
    std::cerr << program << ": " << error.what() << "\n\n" << usage;
    return ExitCode::kUsage;
  }
  if (options.help) {
    std::cout << usage;
    return ExitCode::kOk;
  }
  try {
    return run(options);
  } catch (const std::exception & error) {
    std::cerr << program << ": " << error.what() << std::endl;
    return ExitCode::kFailure;
  }
}

}  // namespace

ExitCode run_cli(int argc, char ** argv)
{
  std::vector<std::string> args;
  try {
    args = rclcpp::remove_ros_arguments(argc, argv);
  } catch (const std::exception & error) {
    std::cerr << "quorvel: " << error.what() << "\n\n" << kUsage;
    return ExitCode::kUsage;
  }
  if (args.size() < 2) {
    std::cerr << kUsage;
    return ExitCode::kUsage;
  }
  const std::string command = args[1];
  const std::vector<std::string> rest(args.begin() + 2, args.end());
  if (command == "-h" || command == "--help" || command == "help") {
    std::cout << kUsage;
    return ExitCode::kOk;
  }
  if (command == "task") {
    return run_command(command, rest, parse_task, kTaskUsage, run_task, argc, argv);
  }
  if (command == "cancel") {
    return run_command(command, rest, parse_cancel, kCancelUsage, run_cancel, argc, argv);
  }
  if (command == "pub") {
    return run_command(command, rest, parse_pub, kPubUsage, run_pub, argc, argv);
  }
  if (command == "echo") {
    return run_command(command, rest, parse_echo, kEchoUsage, run_echo, argc, argv);
  }
  if (command == "status") {
    return run_command(command, rest, parse_status, kStatusUsage, run_status, argc, argv);
  }
  if (command == "dashboard" && dashboard_replays(rest)) {
    return run_offline_command(
        command, rest, parse_dashboard, kDashboardUsage, run_dashboard_replay);
  }
  if (command == "dashboard") {
    return run_command(command, rest, parse_dashboard, kDashboardUsage, run_dashboard, argc, argv);
  }
  if (command == "fleet") {
    FleetOptions options;
    try {
      options = parse_fleet(rest);
    } catch (const UsageError & error) {
      std::cerr << "quorvel fleet: " << error.what() << "\n\n" << kFleetUsage;
      return ExitCode::kUsage;
    }
    if (options.help) {
      std::cout << kFleetUsage;
      return ExitCode::kOk;
    }
    try {
      return run_fleet(options, argc, argv);
    } catch (const std::exception & error) {
      std::cerr << "quorvel fleet: " << error.what() << std::endl;
      return ExitCode::kFailure;
    }
  }
  if (command == "record") {
    RecordOptions options;
    try {
      options = parse_record(rest);
    } catch (const UsageError & error) {
      std::cerr << "quorvel record: " << error.what() << "\n\n" << kRecordUsage;
      return ExitCode::kUsage;
    }
    if (!options.help && !options.domains.empty()) {
      try {
        return run_record_domains(options, argc, argv);
      } catch (const std::exception & error) {
        std::cerr << "quorvel record: " << error.what() << std::endl;
        return ExitCode::kFailure;
      }
    }
    return run_command(command, rest, parse_record, kRecordUsage, run_record, argc, argv);
  }
  if (command == "bag") {
    return run_offline_command(command, rest, parse_bag, kBagUsage, run_bag);
  }
  if (command == "scene") {
    return run_scene(rest);
  }
  std::cerr << "quorvel: unknown command '" << command << "'\n\n" << kUsage;
  return ExitCode::kUsage;
}

}  // namespace quorvel_tools

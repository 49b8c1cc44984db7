// quorvel dashboard: a live page of the supervisor on loopback.
#include <csignal>

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <future>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <action_msgs/srv/cancel_goal.hpp>
#include <rclcpp/rclcpp.hpp>
#include <rclcpp_action/rclcpp_action.hpp>

#include "commands.hpp"
#include "dashboard/arm_watcher.hpp"
#include "dashboard/hub.hpp"
#include "dashboard/server.hpp"
#include "endpoint_probes.hpp"
#include "quorvel_interfaces/action/arm_task.hpp"
#include "quorvel_protocol/msg/trashes.hpp"
#include "quorvel_server_watch/goal_result_watch.hpp"
#include "quorvel_task_events/msg/task_event.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/int32.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"

namespace quorvel_tools
{

const char kDashboardUsage[] =
    "usage: quorvel dashboard [--port N] [--bind ADDRESS] [--action NAME]\n"
    "                         [--detect-service NAME]\n"
    "       quorvel dashboard --bag DIR [--port N] [--bind ADDRESS]\n"
    "\n"
    "Serves a live page of the supervisor, by default on http://127.0.0.1:8765/, and prints\n"
    "its address with an access token:\n"
    "  dashboard: http://127.0.0.1:8765/?token=<32 hex digits>\n"
    "Open exactly that address. The page shows the workspace from above (reach, stop\n"
    "distance, detected trashes, the chosen one, given-up spots, objects around the robot),\n"
    "the running task (phase, steps, time, its events), the arm (abnormal flag, gripper,\n"
    "joints and their target), a plot of the joint angles over the task with its motion\n"
    "targets and recovery positions, the announcements, how the last tasks ended and which\n"
    "of the supervisor's endpoints are up. Its two buttons send a task (cmd 1) and cancel\n"
    "tasks.\n"
    "\n"
    "With --bag DIR it plays a bag recorded by quorvel record (or ros2 bag record) on the same\n"
    "page instead: pick one of its tasks, play it at 1x, 4x or 16x, step from event to event\n"
    "or drag the slider; the page shows everything as it stood at that moment. It reads the\n"
    "bag whole before serving, and refuses a damaged bag as quorvel bag info does (exit 1).\n"
    "A recording has no buttons, and no ROS graph is used.\n"
    "\n"
    "It listens on loopback only unless --bind says otherwise, answers only requests that\n"
    "name its own address (127.0.0.1, localhost, [::1] or the --bind address, with the\n"
    "port), and carries out a button only with the token. Ctrl-C stops it.\n"
    "\n"
    "options:\n"
    "  --port N                 TCP port (default 8765)\n"
    "  --bind ADDRESS           IP address to listen on (default 127.0.0.1); another machine\n"
    "                           reaches the page only through an address given here\n"
    "  --action NAME            the action (default /quorvel_action/arm_task)\n"
    "  --detect-service NAME    the detection service shown among the endpoints\n"
    "                           (default /quorvel_service/detect_trash)\n"
    "  --bag DIR                play this recorded bag instead of the live topics\n"
    "\n"
    "exit status: 0 stopped by Ctrl-C; 1 could not start (port in use, address not\n"
    "available, a bad bag, ROS error); 2 wrong arguments.\n";

DashboardOptions parse_dashboard(const std::vector<std::string> & args)
{
  DashboardOptions options;
  std::string live_only;  // an option that makes no sense with --bag
  ArgReader reader(args);
  std::string name;
  std::optional<std::string> value;
  while (reader.has_more()) {
    if (!reader.next_option(name, value)) {
      throw UsageError("unexpected argument '" + reader.next_positional() + "'");
    }
    if (name == "help") {
      options.help = true;
    } else if (name == "port") {
      const std::string text = reader.option_value(name, value);
      const std::int32_t port = parse_int32(text, "--port");
      if (port < 1 || port > 65535) {
        throw UsageError("--port: '" + text + "' is not a port number from 1 to 65535");
      }
      options.port = port;
    } else if (name == "bind") {
      options.bind = reader.option_value(name, value);
      if (!is_ip_literal(options.bind)) {
        throw UsageError(
            "--bind: '" + options.bind + "' is not an IP address (such as 127.0.0.1 or ::1)");
      }
    } else if (name == "action") {
      options.action = check_ros_name(reader.option_value(name, value), "--action");
      live_only = "--action";
    } else if (name == "detect-service") {
      options.detect_service = check_ros_name(reader.option_value(name, value), "--detect-service");
      live_only = "--detect-service";
    } else if (name == "bag") {
      options.bag = reader.option_value(name, value);
      if (options.bag.empty()) {
        throw UsageError("--bag: give the bag's directory");
      }
    } else {
      throw_unknown_option(name);
    }
  }
  if (!options.bag.empty() && !live_only.empty()) {
    throw UsageError(
        live_only + " is for the live page; a recording (--bag) talks to no supervisor");
  }
  return options;
}

namespace
{

// What the ROS thread waits for between two looks at the buttons.
constexpr auto kStepPeriod = std::chrono::milliseconds(50);

}  // namespace

ExitCode run_dashboard(const DashboardOptions & options, Session & session)
{
  // A page that goes away mid-write must not end the program.
  std::signal(SIGPIPE, SIG_IGN);

  DashboardHub hub;
  ArmWatcher watcher(session.node(), hub, options.action, options.detect_service);
  const std::string token = make_token();
  DashboardServer server(hub, token, [&watcher](ButtonAction action, std::int32_t cmd) {
    return watcher.ask(action, cmd);
  });
  const std::string bind_error = server.bind(options.bind, options.port);
  if (!bind_error.empty()) {
    std::cerr << "quorvel dashboard: " << bind_error << std::endl;
    return ExitCode::kFailure;
  }

  server.start();
  std::cout << "dashboard: " << page_url(options.bind, options.port, token) << std::endl;
  std::cerr << "quorvel dashboard: serving on " << options.bind << " port " << options.port
            << "; Ctrl-C stops" << std::endl;
  if (options.bind != "127.0.0.1" && options.bind != "::1") {
    std::cerr << "quorvel dashboard: " << options.bind
              << " is not loopback: other machines may reach the page (the buttons still "
                 "need the token)"
              << std::endl;
  }
  while (session.interrupts() == 0) {
    session.spin_until([&watcher] { return watcher.has_presses(); }, kStepPeriod);
    watcher.step();
  }
  watcher.close();
  server.stop();
  std::cerr << "quorvel dashboard: stopped" << std::endl;
  return ExitCode::kOk;
}

}  // namespace quorvel_tools

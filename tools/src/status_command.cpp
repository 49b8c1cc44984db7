// quorvel status: which of the supervisor's endpoints are there.
#include <chrono>
#include <iomanip>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "commands.hpp"
#include "endpoint_probes.hpp"

namespace quorvel_tools
{

const char kStatusUsage[] =
    "usage: quorvel status [--wait S] [--action NAME] [--detect-service NAME]\n"
    "\n"
    "Shows which of the supervisor's endpoints are up:\n"
    "  its action server (up while arm_supervisor runs),\n"
    "  the four services it calls (up while the arm controller and the detection node,\n"
    "  or arm_service_mock, serve them),\n"
    "  the four topics it listens to (up while something subscribes to them, normally\n"
    "  arm_supervisor itself).\n"
    "arm_service_mock serves detection as /quorvel_service/detect_trash_test: pass that to\n"
    "--detect-service when the supervisor was started with it.\n"
    "\n"
    "options:\n"
    "  --wait S                 how long to give discovery (default 2)\n"
    "  --action NAME            the action (default /quorvel_action/arm_task)\n"
    "  --detect-service NAME    the detection service (default /quorvel_service/detect_trash)\n"
    "\n"
    "exit status: 0 everything up; 1 something down; 2 wrong arguments; 130 stopped by Ctrl-C.\n";

StatusOptions parse_status(const std::vector<std::string> & args)
{
  StatusOptions options;
  ArgReader reader(args);
  std::string name;
  std::optional<std::string> value;
  while (reader.has_more()) {
    if (!reader.next_option(name, value)) {
      throw UsageError("unexpected argument '" + reader.next_positional() + "'");
    }
    if (name == "help") {
      options.help = true;
    } else if (name == "wait") {
      options.wait_s = parse_positive(reader.option_value(name, value), "--wait");
    } else if (name == "action") {
      options.action = check_ros_name(reader.option_value(name, value), "--action");
    } else if (name == "detect-service") {
      options.detect_service = check_ros_name(reader.option_value(name, value), "--detect-service");
    } else {
      throw_unknown_option(name);
    }
  }
  return options;
}

ExitCode run_status(const StatusOptions & options, Session & session)
{
  const std::vector<EndpointProbe> probes =
      make_supervisor_probes(session.node(), options.action, options.detect_service);

  const auto all_up = [&probes] {
    for (const EndpointProbe & probe : probes) {
      if (!probe.is_up()) {
        return false;
      }
    }
    return true;
  };
  // Discovery has no end signal: what is not up once the wait is over counts as down.
  session.spin_until(
      all_up,
      std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::duration<double>(options.wait_s)));
  if (session.interrupts() > 0) {
    std::cerr << "quorvel status: interrupted" << std::endl;
    return ExitCode::kInterrupted;
  }

  bool every_up = true;
  std::cout << std::left << std::setw(36) << "ENDPOINT" << std::setw(18) << "KIND"
            << "STATE\n";
  for (const EndpointProbe & probe : probes) {
    const bool up = probe.is_up();
    every_up = every_up && up;
    std::cout << std::setw(36) << probe.name << std::setw(18) << probe.kind << (up ? "up" : "down")
              << "\n";
  }
  std::cout << std::flush;
  return every_up ? ExitCode::kOk : ExitCode::kFailure;
}

}  // namespace quorvel_tools

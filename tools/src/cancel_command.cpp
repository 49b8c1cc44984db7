// quorvel cancel: ask the action server to cancel every goal it runs.
#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include <action_msgs/srv/cancel_goal.hpp>
#include <rclcpp_action/rclcpp_action.hpp>

#include "action_server_wait.hpp"
#include "commands.hpp"
#include "progress.hpp"
#include "quorvel_interfaces/action/arm_task.hpp"

namespace quorvel_tools
{

const char kCancelUsage[] =
    "usage: quorvel cancel [--server-timeout S] [--action NAME]\n"
    "\n"
    "Asks the action server to cancel all its goals, whoever sent them, and prints the answer.\n"
    "The supervisor accepts every cancel request and ends the task as canceled once its pick\n"
    "cycles run out; the client that sent the goal gets that result.\n"
    "\n"
    "options:\n"
    "  --server-timeout S   how long to look for the action server (default 10)\n"
    "  --action NAME        the action (default /quorvel_action/arm_task)\n"
    "\n"
    "exit status: 0 answered; 2 wrong arguments; 3 no server or no answer in time;\n"
    "130 stopped by Ctrl-C.\n";

CancelOptions parse_cancel(const std::vector<std::string> & args)
{
  CancelOptions options;
  ArgReader reader(args);
  std::string name;
  std::optional<std::string> value;
  while (reader.has_more()) {
    if (!reader.next_option(name, value)) {
      throw UsageError("unexpected argument '" + reader.next_positional() + "'");
    }
    if (name == "help") {
      options.help = true;
    } else if (name == "server-timeout") {
      options.server_timeout_s =
          parse_positive(reader.option_value(name, value), "--server-timeout");
    } else if (name == "action") {
      options.action = check_ros_name(reader.option_value(name, value), "--action");
    } else {
      throw_unknown_option(name);
    }
  }
  return options;
}

namespace
{

using ArmTask = quorvel_interfaces::action::ArmTask;
using CancelResponse = action_msgs::srv::CancelGoal::Response;

constexpr char kCommand[] = "quorvel cancel";
constexpr auto kAnswerLimit = std::chrono::seconds(10);

const char * describe(int8_t return_code)
{
  switch (return_code) {
    case CancelResponse::ERROR_NONE:
      return "accepted";
    case CancelResponse::ERROR_REJECTED:
      return "rejected (no goal to cancel, or the server refused)";
    case CancelResponse::ERROR_UNKNOWN_GOAL_ID:
      return "unknown goal";
    case CancelResponse::ERROR_GOAL_TERMINATED:
      return "the goals had already ended";
    default:
      return "unexpected answer";
  }
}

}  // namespace

ExitCode run_cancel(const CancelOptions & options, Session & session)
{
  auto client = rclcpp_action::create_client<ArmTask>(session.node(), options.action);
  Progress progress(std::cout, Progress::stdout_is_terminal());
  const ExitCode found = wait_for_action_server(
      *client, options.action, options.server_timeout_s, kCommand, session, progress);
  if (found != ExitCode::kOk) {
    return found;
  }

  auto answer = client->async_cancel_all_goals();
  const auto answered = [&answer] {
    return answer.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  };
  if (!session.spin_until(answered, kAnswerLimit)) {
    if (session.interrupts() > 0) {
      std::cerr << kCommand << ": interrupted before the answer came" << std::endl;
      return ExitCode::kInterrupted;
    }
    std::cerr << kCommand << ": " << options.action << " did not answer within "
              << kAnswerLimit.count() << " s" << std::endl;
    return ExitCode::kTimeout;
  }
  const CancelResponse::SharedPtr response = answer.get();
  std::cout << "cancel: " << describe(response->return_code) << ", "
            << response->goals_canceling.size() << " goal(s) canceling" << std::endl;
  for (const auto & goal : response->goals_canceling) {
    std::cout << "  " << rclcpp_action::to_string(goal.goal_id.uuid) << std::endl;
  }
  return ExitCode::kOk;
}

}  // namespace quorvel_tools

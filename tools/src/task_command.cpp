// quorvel task: send one ArmTask goal and follow it to its end.
#include <chrono>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include <action_msgs/srv/cancel_goal.hpp>
#include <rclcpp_action/rclcpp_action.hpp>

#include "action_server_wait.hpp"
#include "codes.hpp"
#include "commands.hpp"
#include "event_text.hpp"
#include "progress.hpp"
#include "quorvel_bag/event_copies.hpp"
#include "quorvel_interfaces/action/arm_task.hpp"
#include "quorvel_server_watch/goal_result_watch.hpp"

namespace quorvel_tools
{

const char kTaskUsage[] =
    "usage: quorvel task [--cmd N] [--timeout S] [--server-timeout S] [--action NAME]\n"
    "                    [--no-events] [--events-topic NAME]\n"
    "\n"
    "Sends one ArmTask goal, prints each feedback (step_count) and each of the goal's task events\n"
    "(\"event: ...\": what the supervisor saw, chose, asked, got and decided) as they come, then\n"
    "the result: how the goal ended, how long it took, its error_code and the trashes the task\n"
    "gave up on. While it waits, its progress line says what the task is doing now.\n"
    "\n"
    "Ctrl-C while the goal runs asks the supervisor to cancel it and keeps waiting for the\n"
    "final result (the supervisor ends a canceled task once its pick cycles run out); a second\n"
    "Ctrl-C stops waiting and leaves the goal to the supervisor.\n"
    "\n"
    "When the action server goes away while the goal runs (a network cut, a restart of the\n"
    "supervisor), it says so and waits; once a server is back it asks for the goal's result\n"
    "again and reports its end with how long the server was gone, or that the goal was lost\n"
    "with the supervisor's restart.\n"
    "\n"
    "options:\n"
    "  --cmd N              the goal's cmd, a 32-bit integer (default 1)\n"
    "  --timeout S          stop waiting for the result after S seconds (default: no limit)\n"
    "  --server-timeout S   how long to look for the action server (default 10)\n"
    "  --action NAME        the action (default /quorvel_action/arm_task)\n"
    "  --no-events          do not print the task events\n"
    "  --events-topic NAME  the supervisor's task events (default\n"
    "                       /quorvel/arm_supervisor/task_events)\n"
    "\n"
    "exit status: 0 the goal ended (succeeded, canceled or aborted); 1 rejected or failed;\n"
    "2 wrong arguments; 3 no server within --server-timeout or no result within --timeout;\n"
    "4 the goal was lost with the supervisor's restart; 130 stopped by Ctrl-C before the goal\n"
    "ended.\n";

TaskOptions parse_task(const std::vector<std::string> & args)
{
  TaskOptions options;
  ArgReader reader(args);
  std::string name;
  std::optional<std::string> value;
  while (reader.has_more()) {
    if (!reader.next_option(name, value)) {
      throw UsageError("unexpected argument '" + reader.next_positional() + "'");
    }
    if (name == "help") {
      options.help = true;
    } else if (name == "cmd") {
      options.cmd = parse_int32(reader.option_value(name, value), "--cmd");
    } else if (name == "timeout") {
      options.timeout_s = parse_positive(reader.option_value(name, value), "--timeout");
    } else if (name == "server-timeout") {
      options.server_timeout_s =
          parse_positive(reader.option_value(name, value), "--server-timeout");
    } else if (name == "action") {
      options.action = check_ros_name(reader.option_value(name, value), "--action");
    } else if (name == "no-events") {
      options.events = false;
    } else if (name == "events-topic") {
      options.events_topic = check_ros_name(reader.option_value(name, value), "--events-topic");
    } else {
      throw_unknown_option(name);
    }
  }
  return options;
}

namespace
{

using ArmTask = quorvel_interfaces::action::ArmTask;
using GoalHandle = rclcpp_action::ClientGoalHandle<ArmTask>;
using CancelResponse = action_msgs::srv::CancelGoal::Response;

constexpr char kCommand[] = "quorvel task";
// What a cancel does, for every message that mentions one.
constexpr char kCancelTakesEffect[] =
    "quorvel cancel asks the supervisor to end it; a cancel takes effect when the task's pick "
    "cycles run out";
constexpr auto kGoalAnswerLimit = std::chrono::seconds(10);
constexpr auto kLastEventGrace = std::chrono::milliseconds(1000);

const char * result_code_name(rclcpp_action::ResultCode code)
{
  switch (code) {
    case rclcpp_action::ResultCode::SUCCEEDED:
      return "succeeded";
    case rclcpp_action::ResultCode::CANCELED:
      return "canceled";
    case rclcpp_action::ResultCode::ABORTED:
      return "aborted";
    case rclcpp_action::ResultCode::UNKNOWN:
      return "unknown (the server no longer knows the goal)";
  }
  return "unknown";
}

const char * cancel_code_name(int8_t code)
{
  switch (code) {
    case CancelResponse::ERROR_NONE:
      return "accepted";
    case CancelResponse::ERROR_REJECTED:
      return "rejected";
    case CancelResponse::ERROR_UNKNOWN_GOAL_ID:
      return "unknown goal";
    case CancelResponse::ERROR_GOAL_TERMINATED:
      return "goal already ended";
    default:
      return "unexpected answer";
  }
}

std::string seconds_text(const double seconds)
{
  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << seconds;
  return text.str();
}

double seconds_since(
    const std::chrono::steady_clock::time_point from,
    const std::chrono::steady_clock::time_point to)
{
  return std::chrono::duration<double>(to - from).count();
}

void print_result(const GoalHandle::WrappedResult & wrapped, std::chrono::duration<double> took)
{
  std::cout << "result: " << result_code_name(wrapped.code) << "\n";
  std::ostringstream seconds;
  seconds << std::fixed << std::setprecision(1) << took.count();
  std::cout << "duration: " << seconds.str() << " s (goal sent to result)\n";
  if (!wrapped.result) {
    std::cout << std::flush;
    return;
  }
  const ArmTask::Result & result = *wrapped.result;
  std::cout << "error_code: "
            << with_meaning(result.error_code, task_error_meaning(result.error_code)) << "\n";
  std::cout << "unable_grab_trashes: " << result.unable_grab_trashes.size() << "\n";
  for (const auto & trash : result.unable_grab_trashes) {
    const auto & p = trash.grab_pose.position;
    std::cout << "  type " << static_cast<unsigned>(trash.type) << ", grab position (" << p.x
              << ", " << p.y << ", " << p.z << ")\n";
  }
  std::cout << std::flush;
}

}  // namespace

ExitCode run_task(const TaskOptions & options, Session & session)
{
  auto client = rclcpp_action::create_client<ArmTask>(session.node(), options.action);
  Progress progress(std::cout, Progress::stdout_is_terminal());

  const ExitCode found = wait_for_action_server(
      *client, options.action, options.server_timeout_s, kCommand, session, progress);
  if (found != ExitCode::kOk) {
    return found;
  }

  std::optional<GoalHandle::WrappedResult> result;
  std::int32_t last_step = 0;

  // The goal's task events. They may come before the goal's id is known (and events of earlier
  // tasks come first from the supervisor's history), so they wait until then.
  std::optional<rclcpp_action::GoalUUID> goal_id;
  std::vector<TaskEvent> early_events;
  std::string phase;
  bool events_seen = false;
  bool task_ended_seen = false;
  const auto show_event = [&](const TaskEvent & event) {
    progress.clear();
    std::cout << "event: " << event.summary << std::endl;
    phase = phase_after(event);
    events_seen = true;
    task_ended_seen = task_ended_seen || event.kind == TaskEvent::TASK_ENDED;
  };
  rclcpp::Subscription<TaskEvent>::SharedPtr events;
  // After a cut longer than the lease the supervisor's event history comes again.
  quorvel_bag::EventCopyFilter copies;
  if (options.events) {
    events = session.node()->create_subscription<TaskEvent>(
        options.events_topic,
        rclcpp::QoS(rclcpp::KeepLast(2000)).reliable().transient_local(),
        [&goal_id, &early_events, &show_event, &copies](
            const std::shared_ptr<const TaskEvent> event) {
          if (!copies.take(*event)) {
            return;
          }
          if (!goal_id) {
            early_events.push_back(*event);
          } else if (event->goal_id.uuid == *goal_id) {
            show_event(*event);
          }
        });
  }
  rclcpp_action::Client<ArmTask>::SendGoalOptions send_options;
  send_options.feedback_callback = [&progress, &last_step](
                                       GoalHandle::SharedPtr,
                                       const std::shared_ptr<const ArmTask::Feedback> feedback) {
    progress.clear();
    last_step = feedback->step_count;
    std::cout << "feedback: step_count " << feedback->step_count << std::endl;
  };
  send_options.result_callback = [&result](const GoalHandle::WrappedResult & wrapped) {
    result = wrapped;
  };
  ArmTask::Goal goal;
  goal.cmd = options.cmd;
  const auto sent = std::chrono::steady_clock::now();
  auto goal_future = client->async_send_goal(goal, send_options);

  progress.restart();
  const auto answer_deadline = std::chrono::steady_clock::now() + kGoalAnswerLimit;
  const auto answered = [&goal_future] {
    return goal_future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  };
  while (!session.spin_until(answered, std::chrono::milliseconds(100))) {
    if (session.interrupts() > 0) {
      progress.clear();
      std::cerr << kCommand
                << ": interrupted before the goal was answered; if it was accepted it runs on ("
                << kCancelTakesEffect << ")" << std::endl;
      return ExitCode::kInterrupted;
    }
    if (std::chrono::steady_clock::now() >= answer_deadline) {
      progress.clear();
      std::cerr << kCommand << ": " << options.action << " did not answer the goal request within "
                << kGoalAnswerLimit.count() << " s" << std::endl;
      return ExitCode::kTimeout;
    }
    progress.update("waiting for the goal to be accepted");
  }
  progress.clear();
  const GoalHandle::SharedPtr goal_handle = goal_future.get();
  if (!goal_handle) {
    std::cerr << kCommand << ": goal rejected by " << options.action
              << " (the supervisor runs one task at a time: is one still running?)" << std::endl;
    return ExitCode::kFailure;
  }
  std::cout << "goal accepted: cmd " << options.cmd << ", id "
            << rclcpp_action::to_string(goal_handle->get_goal_id()) << std::endl;
  goal_id = goal_handle->get_goal_id();
  for (const TaskEvent & event : early_events) {
    if (event.goal_id.uuid == *goal_id) {
      show_event(event);
    }
  }
  early_events.clear();

  const auto start = std::chrono::steady_clock::now();
  // Follows the action server while the goal runs: a server that went away and came back is
  // asked for the goal's result again.
  // The tool's node has no namespace: a relative action name is resolved from the root.
  quorvel_server_watch::GoalResultWatch<ArmTask> keeper(
      *session.node(),
      options.action.front() == '/' ? options.action : "/" + options.action,
      goal_handle->get_goal_id());
  keeper.start(start);
  std::optional<ExitCode> lost;
  std::string server_note;
  int handled_interrupts = session.interrupts();
  bool cancel_requested = false;
  const auto has_result = [&result, &lost] { return result.has_value() || lost.has_value(); };
  progress.restart();
  while (!session.spin_until(has_result, std::chrono::milliseconds(100))) {
    const auto now = std::chrono::steady_clock::now();
    const auto report = keeper.poll(client->action_server_is_ready(), now);
    using Kind = quorvel_server_watch::GoalResultWatch<ArmTask>::Report::Kind;
    if (report.kind == Kind::kGone) {
      progress.clear();
      if (report.replaced) {
        std::cout << options.action << " has a new server (the supervisor restarted)" << std::endl;
      } else {
        std::cout << options.action
                  << " is gone (a network cut or a restart of the supervisor): waiting for it "
                     "to come back; the goal stays with the supervisor"
                  << std::endl;
      }
    } else if (report.kind == Kind::kAskedAgain) {
      progress.clear();
      if (report.replaced) {
        std::cout << "asking the new server of " << options.action << " for the goal's result"
                  << std::endl;
      } else {
        std::cout << options.action << " is back after " << seconds_text(report.gone_s)
                  << " s: asking for the goal's result again" << std::endl;
      }
    } else if (report.kind == Kind::kAnswered) {
      if (quorvel_server_watch::goal_unknown(*report.answer)) {
        progress.clear();
        std::cerr << kCommand
                  << ": the goal was lost with the supervisor's restart: " << options.action
                  << " is back but no longer knows goal "
                  << rclcpp_action::to_string(goal_handle->get_goal_id()) << std::endl;
        lost = ExitCode::kGoalLost;
        break;
      }
      GoalHandle::WrappedResult wrapped;
      wrapped.goal_id = goal_handle->get_goal_id();
      wrapped.code = static_cast<rclcpp_action::ResultCode>(report.answer->status);
      wrapped.result = std::make_shared<ArmTask::Result>(report.answer->result);
      result = wrapped;
      break;
    }
    if (session.interrupts() != handled_interrupts) {
      handled_interrupts = session.interrupts();
      progress.clear();
      if (cancel_requested) {
        std::cerr << kCommand << ": stopped waiting; the goal stays with the supervisor ("
                  << kCancelTakesEffect << ")" << std::endl;
        return ExitCode::kInterrupted;
      }
      cancel_requested = true;
      std::cout << "Ctrl-C: asking the supervisor to cancel the goal; it ends the task once "
                   "its pick cycles run out (Ctrl-C again stops waiting)"
                << std::endl;
      try {
        client->async_cancel_goal(goal_handle, [&progress](CancelResponse::SharedPtr answer) {
          progress.clear();
          std::cout << "cancel request " << cancel_code_name(answer->return_code) << std::endl;
        });
      } catch (const std::exception & error) {
        std::cerr << kCommand << ": could not send the cancel request: " << error.what()
                  << std::endl;
      }
    }
    if (options.timeout_s && now - start > std::chrono::duration<double>(*options.timeout_s)) {
      progress.clear();
      std::cerr << kCommand << ": no result within " << *options.timeout_s
                << " s; the goal stays with the supervisor (" << kCancelTakesEffect << ")"
                << std::endl;
      return ExitCode::kTimeout;
    }
    std::ostringstream detail;
    detail << ", step " << last_step;
    if (const auto gone = keeper.gone_since()) {
      detail << ": the action server is gone since " << seconds_text(seconds_since(*gone, now))
             << " s";
    } else if (!phase.empty()) {
      detail << ": " << phase;
    }
    if (cancel_requested) {
      detail << ", cancel requested";
    }
    progress.update("waiting for the result", detail.str());
  }
  if (lost) {
    return *lost;
  }
  const auto took = std::chrono::steady_clock::now() - sent;
  // The events travel beside the result, on a topic of their own: give the task's last event
  // a moment to arrive, so that the story is complete before the result is printed.
  if (events_seen) {
    session.spin_until([&task_ended_seen] { return task_ended_seen; }, kLastEventGrace);
  }
  progress.clear();
  print_result(*result, took);
  if (keeper.gone_total_s() > 0.0) {
    std::cout << "action server gone for " << seconds_text(keeper.gone_total_s())
              << " s while the goal ran" << std::endl;
  }
  return result->code == rclcpp_action::ResultCode::UNKNOWN ? ExitCode::kFailure : ExitCode::kOk;
}

}  // namespace quorvel_tools

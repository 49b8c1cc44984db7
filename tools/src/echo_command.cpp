// quorvel echo: print what the supervisor announces, commands to the gripper, or recover
// requests.
#include <chrono>
#include <iostream>
#include <optional>
#include <string>

#include "codes.hpp"
#include "commands.hpp"
#include "event_text.hpp"
#include "quorvel_bag/event_copies.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/int32.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"

namespace quorvel_tools
{

const char kEchoUsage[] =
    "usage: quorvel echo voice|gripper|recover|events [--count N] [--topic NAME]\n"
    "\n"
    "Prints the messages the supervisor publishes, one line each:\n"
    "  voice     std_msgs/Int32 on /arm/voice_broadcast, with the code's meaning: 1 common\n"
    "            failure, 2 arm controller failure code, 3 failure family 1020xxxxx,\n"
    "            4 environment stop; other codes are arm statuses passed through\n"
    "  gripper   std_msgs/Int32MultiArray on /robot/ctrl_io_topic: [100, 0] open, [100, 1] close\n"
    "  recover   std_msgs/Bool on /robot/recover_topic\n"
    "  events    the supervisor's task events (quorvel_task_events/TaskEvent on\n"
    "            /quorvel/arm_supervisor/task_events): one line per step of a task, with its\n"
    "            number, its time since the task started and its step count; the running\n"
    "            task's events are printed from its start, also when it started earlier\n"
    "\n"
    "options:\n"
    "  --count N     stop after N messages (default: until Ctrl-C)\n"
    "  --topic NAME  listen on NAME instead of the default topic\n"
    "\n"
    "exit status: 0 after N messages or Ctrl-C; 2 wrong arguments.\n";

namespace
{

const char * default_topic(EchoKind kind)
{
  switch (kind) {
    case EchoKind::kVoice:
      return kVoiceTopic;
    case EchoKind::kGripper:
      return kGripperTopic;
    case EchoKind::kRecover:
      return kRecoverTopic;
    case EchoKind::kEvents:
      return kTaskEventsTopic;
  }
  return "";
}

std::string format(const std_msgs::msg::Int32 & message)
{
  return "voice: " + with_meaning(message.data, voice_code_meaning(message.data));
}

std::string format(const std_msgs::msg::Int32MultiArray & message)
{
  std::string text = "gripper: [";
  for (std::size_t i = 0; i < message.data.size(); ++i) {
    text += (i == 0 ? "" : ", ") + std::to_string(message.data[i]);
  }
  text += "]";
  const std::string meaning = gripper_command_meaning(message.data);
  if (!meaning.empty()) {
    text += " " + meaning;
  }
  return text;
}

std::string format(const std_msgs::msg::Bool & message)
{
  return std::string("recover: ") + (message.data ? "true" : "false");
}

template <typename MessageT>
ExitCode echo(Session & session, const EchoOptions & options)
{
  std::int64_t received = 0;
  // Lines are flushed one by one so that a pipe sees each message as it comes.
  auto subscription = session.node()->create_subscription<MessageT>(
      options.topic, rclcpp::QoS(10), [&received](const std::shared_ptr<const MessageT> message) {
        ++received;
        std::cout << format(*message) << std::endl;
      });
  std::cerr << "listening on " << options.topic << " (Ctrl-C stops)" << std::endl;
  const auto enough = [&received, &options] { return options.count && received >= *options.count; };
  while (session.interrupts() == 0 && !enough()) {
    session.spin_until(enough, std::chrono::milliseconds(500));
  }
  return ExitCode::kOk;
}

// Events are read the way the supervisor keeps them: reliable and transient local, so that a
// viewer started during a task still sees it from its start.
ExitCode echo_events(Session & session, const EchoOptions & options)
{
  std::int64_t received = 0;
  std::optional<builtin_interfaces::msg::Time> task_start;
  // After a cut longer than the lease the supervisor's event history comes again: shown once.
  quorvel_bag::EventCopyFilter copies;
  auto subscription = session.node()->create_subscription<TaskEvent>(
      options.topic,
      rclcpp::QoS(rclcpp::KeepLast(2000)).reliable().transient_local(),
      [&received, &task_start, &options, &copies](const std::shared_ptr<const TaskEvent> event) {
        if (options.count && received >= *options.count) {
          return;
        }
        if (!copies.take(*event)) {
          return;
        }
        ++received;
        if (event->kind == TaskEvent::TASK_STARTED) {
          task_start = event->stamp;
        }
        std::optional<double> since;
        if (task_start) {
          since = seconds_between(*task_start, event->stamp);
        }
        std::cout << format_event_line(*event, since) << std::endl;
      });
  std::cerr << "listening on " << options.topic << " (Ctrl-C stops)" << std::endl;
  const auto enough = [&received, &options] { return options.count && received >= *options.count; };
  while (session.interrupts() == 0 && !enough()) {
    session.spin_until(enough, std::chrono::milliseconds(500));
  }
  return ExitCode::kOk;
}

}  // namespace

EchoOptions parse_echo(const std::vector<std::string> & args)
{
  EchoOptions options;
  ArgReader reader(args);
  std::string name;
  std::optional<std::string> value;
  std::vector<std::string> words;
  std::optional<std::string> topic;
  while (reader.has_more()) {
    if (!reader.next_option(name, value)) {
      words.push_back(reader.next_positional());
      continue;
    }
    if (name == "help") {
      options.help = true;
    } else if (name == "count") {
      options.count = parse_positive_count(reader.option_value(name, value), "--count");
    } else if (name == "topic") {
      topic = check_ros_name(reader.option_value(name, value), "--topic");
    } else {
      throw_unknown_option(name);
    }
  }
  if (options.help) {
    return options;
  }
  if (words.size() != 1) {
    throw UsageError(
        words.empty() ? "which output? voice, gripper, recover or events"
                      : "one output at a time: voice, gripper, recover or events");
  }
  if (words[0] == "voice") {
    options.kind = EchoKind::kVoice;
  } else if (words[0] == "gripper") {
    options.kind = EchoKind::kGripper;
  } else if (words[0] == "recover") {
    options.kind = EchoKind::kRecover;
  } else if (words[0] == "events") {
    options.kind = EchoKind::kEvents;
  } else {
    throw UsageError("unknown output '" + words[0] + "' (voice, gripper, recover or events)");
  }
  options.topic = topic ? *topic : default_topic(options.kind);
  return options;
}

ExitCode run_echo(const EchoOptions & options, Session & session)
{
  switch (options.kind) {
    case EchoKind::kVoice:
      return echo<std_msgs::msg::Int32>(session, options);
    case EchoKind::kGripper:
      return echo<std_msgs::msg::Int32MultiArray>(session, options);
    case EchoKind::kRecover:
      return echo<std_msgs::msg::Bool>(session, options);
    case EchoKind::kEvents:
      return echo_events(session, options);
  }
  return ExitCode::kFailure;
}

}  // namespace quorvel_tools

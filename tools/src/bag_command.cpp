// quorvel bag: what a recorded bag holds, and the rebuild of its lost metadata.
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "bag_text.hpp"
#include "commands.hpp"
#include "event_text.hpp"
#include "quorvel_bag/bag_error.hpp"
#include "quorvel_bag/decode.hpp"
#include "quorvel_bag/reader.hpp"
#include "quorvel_bag/reindex.hpp"
#include "quorvel_bag/tasks.hpp"

namespace quorvel_tools
{

const char kBagUsage[] =
    "usage: quorvel bag info DIR\n"
    "       quorvel bag events DIR\n"
    "       quorvel bag reindex DIR\n"
    "       quorvel bag compare A B [--task N | --goal ID] [--task-b N]\n"
    "\n"
    "Reads a ROS 2 Humble bag (sqlite3 storage), as quorvel record or ros2 bag record write\n"
    "them:\n"
    "  info     what ros2 bag info prints (files, size, duration, start, end, messages, topics\n"
    "           with type, count and serialization format), then the tasks found in the\n"
    "           supervisor's task events: goal id, start, duration, outcome, error code,\n"
    "           steps, given-up trashes. Every message is checked: a bag that is damaged in\n"
    "           any way is refused, naming what is wrong.\n"
    "  events   the recorded task events, one line each as quorvel echo events prints them\n"
    "  reindex  rebuilds DIR/metadata.yaml from the database files, for a recording that did\n"
    "           not end cleanly (killed, power lost), as ros2 bag reindex does\n"
    "  compare  compares a task of bag A with a task of bag B step by step (kind, service,\n"
    "           target name, status, flags, outcome, error codes, items chosen and given up;\n"
    "           not times): prints \"same N steps\" or the first step where they part, both\n"
    "           sides side by side. --task N (from 1, as info lists them) or --goal ID (or a\n"
    "           unique beginning of it) picks A's task, --task-b N B's; by default the last\n"
    "           task that ended in each\n"
    "\n"
    "exit status: 0 done; 1 the bag is missing, damaged or cannot be rebuilt; 2 wrong arguments.\n"
    "compare: 0 the same steps; 1 the tasks part; 2 wrong arguments, or a bag or task that\n"
    "cannot be read.\n";

namespace
{

ExitCode bag_info(const std::string & directory)
{
  quorvel_bag::BagReader reader(directory);
  reader.check_counts();
  // One pass over everything: each message of a known type must decode, and the task events
  // are kept for the tasks.
  std::vector<quorvel_bag::RecordedEvent> events;
  const std::string event_type = rosidl_generator_traits::name<quorvel_bag::TaskEvent>();
  quorvel_bag::MessageCursor cursor = reader.messages();
  quorvel_bag::BagMessage message;
  while (cursor.next(message)) {
    if (message.topic->type == event_type) {
      events.push_back(
          {message.timestamp_ns,
           quorvel_bag::decode<quorvel_bag::TaskEvent>(message, reader.label())});
    } else {
      quorvel_bag::check_decodes(message, reader.label());
    }
  }
  const quorvel_bag::BagMetadata & metadata = reader.metadata();
  const std::int64_t end =
      metadata.message_count > 0 ? metadata.starting_time_ns + metadata.duration_ns : 0;
  const auto tasks = quorvel_bag::tasks_from_events(std::move(events), end);
  std::cout << format_bag_summary(reader) << format_undecoded_topics(reader) << format_tasks(tasks)
            << std::flush;
  return ExitCode::kOk;
}

ExitCode bag_events(const std::string & directory)
{
  quorvel_bag::BagReader reader(directory);
  reader.check_counts();
  std::optional<builtin_interfaces::msg::Time> task_start;
  for (const quorvel_bag::RecordedEvent & recorded : quorvel_bag::read_task_events(reader)) {
    const quorvel_bag::TaskEvent & event = recorded.event;
    if (event.kind == quorvel_bag::TaskEvent::TASK_STARTED) {
      task_start = event.stamp;
    }
    std::optional<double> since;
    if (task_start) {
      since = seconds_between(*task_start, event.stamp);
    }
    std::cout << format_event_line(event, since) << "\n";
  }
  std::cout << std::flush;
  return ExitCode::kOk;
}

ExitCode bag_reindex(const std::string & directory)
{
  const quorvel_bag::BagMetadata metadata = quorvel_bag::reindex(directory);
  std::cout << "bag '" << quorvel_bag::bag_label(directory) << "': metadata.yaml rebuilt from "
            << metadata.relative_file_paths.size()
            << " database file(s): " << metadata.message_count << " messages on "
            << metadata.topics_with_message_count.size() << " topics" << std::endl;
  return ExitCode::kOk;
}

}  // namespace

BagOptions parse_bag(const std::vector<std::string> & args)
{
  BagOptions options;
  ArgReader reader(args);
  std::string name;
  std::optional<std::string> value;
  std::vector<std::string> words;
  while (reader.has_more()) {
    if (!reader.next_option(name, value)) {
      words.push_back(reader.next_positional());
      continue;
    }
    if (name == "help") {
      options.help = true;
    } else if (name == "task" || name == "task-b") {
      const std::string text = reader.option_value(name, value);
      const auto number = static_cast<std::size_t>(parse_positive_count(text, "--" + name));
      (name == "task" ? options.task : options.other_task) = number;
    } else if (name == "goal") {
      options.goal = reader.option_value(name, value);
      if (options.goal.empty()) {
        throw UsageError("--goal needs a goal id (or its beginning)");
      }
    } else {
      throw_unknown_option(name);
    }
  }
  if (options.help) {
    return options;
  }
  if (words.empty()) {
    throw UsageError("what to do? info, events or reindex, then the bag directory");
  }
  if (words[0] == "info") {
    options.action = BagAction::kInfo;
  } else if (words[0] == "events") {
    options.action = BagAction::kEvents;
  } else if (words[0] == "reindex") {
    options.action = BagAction::kReindex;
  } else if (words[0] == "compare") {
    options.action = BagAction::kCompare;
  } else {
    throw UsageError("unknown action '" + words[0] + "' (info, events, reindex or compare)");
  }
  if (options.action == BagAction::kCompare) {
    if (words.size() != 3) {
      throw UsageError("compare needs two bags: quorvel bag compare A B");
    }
    if (options.task && !options.goal.empty()) {
      throw UsageError("give --task or --goal, not both");
    }
    options.directory = words[1];
    options.other_directory = words[2];
    return options;
  }
  if (options.task || options.other_task || !options.goal.empty()) {
    throw UsageError("--task, --task-b and --goal go with compare");
  }
  if (words.size() != 2) {
    throw UsageError(words.size() < 2 ? "which bag? give its directory" : "one bag at a time");
  }
  options.directory = words[1];
  return options;
}

ExitCode run_bag(const BagOptions & options)
{
  try {
    switch (options.action) {
      case BagAction::kInfo:
        return bag_info(options.directory);
      case BagAction::kEvents:
        return bag_events(options.directory);
      case BagAction::kReindex:
        return bag_reindex(options.directory);
      case BagAction::kCompare:
        return run_bag_compare(options);
    }
  } catch (const quorvel_bag::BagError & error) {
    std::cerr << "quorvel bag: " << error.what() << std::endl;
  }
  return ExitCode::kFailure;
}

}  // namespace quorvel_tools

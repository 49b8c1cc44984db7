#include "bag_text.hpp"

#include <ctime>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "codes.hpp"
#include "quorvel_bag/decode.hpp"

namespace quorvel_tools
{

namespace
{

// Values start in this column, as in ros2 bag info.
constexpr int kIndent = 19;

std::string label(const std::string & name)
{
  std::string text = name + ":";
  text.resize(kIndent, ' ');
  return text;
}

std::string seconds_text(std::int64_t ns)
{
  std::ostringstream out;
  out << ns / 1000000000 << "." << std::setw(3) << std::setfill('0') << (ns % 1000000000) / 1000000;
  return out.str();
}

}  // namespace

std::string format_bag_size(std::uintmax_t bytes)
{
  static const char * const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024.0;
    ++unit;
  }
  std::ostringstream out;
  if (unit == 0) {
    out << bytes << " B";
  } else {
    out << std::fixed << std::setprecision(1) << value << " " << kUnits[unit];
  }
  return out.str();
}

std::string format_bag_time(std::int64_t ns_since_epoch)
{
  const std::time_t seconds = static_cast<std::time_t>(ns_since_epoch / 1000000000);
  std::tm local{};
  localtime_r(&seconds, &local);
  std::ostringstream out;
  out << std::put_time(&local, "%b %e %Y %H:%M:%S") << "." << std::setw(3) << std::setfill('0')
      << (ns_since_epoch % 1000000000) / 1000000 << " (" << seconds_text(ns_since_epoch) << ")";
  return out.str();
}

std::string format_bag_summary(const quorvel_bag::BagReader & reader)
{
  const quorvel_bag::BagMetadata & metadata = reader.metadata();
  std::ostringstream out;
  out << "\n" << label("Files");
  for (std::size_t i = 0; i < metadata.relative_file_paths.size(); ++i) {
    out << (i == 0 ? "" : std::string(kIndent, ' ')) << metadata.relative_file_paths[i] << "\n";
  }
  out << label("Bag size") << format_bag_size(reader.size_bytes()) << "\n";
  out << label("Storage id") << metadata.storage_identifier << "\n";
  out << label("Duration") << seconds_text(metadata.duration_ns) << "s\n";
  if (metadata.message_count == 0) {
    out << label("Start") << "none (no messages)\n" << label("End") << "none\n";
  } else {
    out << label("Start") << format_bag_time(metadata.starting_time_ns) << "\n";
    out << label("End") << format_bag_time(metadata.starting_time_ns + metadata.duration_ns)
        << "\n";
  }
  out << label("Messages") << metadata.message_count << "\n";
  out << label("Topic information");
  bool first = true;
  for (const quorvel_bag::BagTopic & topic : reader.topics()) {
    out << (first ? "" : std::string(kIndent, ' ')) << "Topic: " << topic.name
        << " | Type: " << topic.type << " | Count: " << topic.message_count
        << " | Serialization Format: " << topic.serialization_format << "\n";
    first = false;
  }
  if (first) {
    out << "\n";
  }
  return out.str();
}

std::string format_undecoded_topics(const quorvel_bag::BagReader & reader)
{
  std::ostringstream out;
  for (const quorvel_bag::BagTopic & topic : reader.topics()) {
    if (topic.serialization_format != quorvel_bag::kSerializationFormat) {
      out << "note: " << topic.name << " is serialized as '" << topic.serialization_format
          << "', not CDR: its " << topic.message_count << " messages are listed, not read\n";
    } else if (!quorvel_bag::is_known_type(topic.type)) {
      out << "note: " << topic.name << " (" << topic.type << ") is of a type this tool does not "
          << "decode: its " << topic.message_count << " messages are listed, not read\n";
    }
  }
  return out.str();
}

std::string format_tasks(const std::vector<quorvel_bag::TaskRecord> & tasks)
{
  std::ostringstream out;
  out << "\n" << label("Tasks") << tasks.size();
  if (tasks.empty()) {
    out << " (no task events in the bag)";
  }
  out << "\n";
  const std::string indent(4, ' ');
  const auto field = [&](const std::string & name) {
    std::string text = indent + name + ":";
    text.resize(kIndent, ' ');
    return text;
  };
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    const quorvel_bag::TaskRecord & task = tasks[i];
    out << "  task " << i + 1 << ": goal " << task.goal_id << "\n";
    out << field("start")
        << (task.start_stamp_ns ? format_bag_time(*task.start_stamp_ns)
                                : "not recorded (the recording holds only its later events)")
        << "\n";
    if (const auto duration = task.duration_s()) {
      std::ostringstream seconds;
      seconds << std::fixed << std::setprecision(1) << *duration << " s";
      out << field("duration") << seconds.str() << "\n";
    } else {
      out << field("duration") << "unknown\n";
    }
    out << field("outcome")
        << (task.finished() ? task.outcome : "unfinished (the recording ends before the task)")
        << "\n";
    out << field("error code")
        << (task.error_code ? with_meaning(*task.error_code, task_error_meaning(*task.error_code))
                            : "none yet")
        << "\n";
    out << field("steps") << task.steps << "\n";
    out << field("given up") << task.given_up.size() << "\n";
    for (const auto & trash : task.given_up) {
      const auto & p = trash.grab_pose.position;
      out << indent << "  type " << static_cast<unsigned>(trash.type) << ", grab position (" << p.x
          << ", " << p.y << ", " << p.z << ")\n";
    }
    if (task.missing_events > 0) {
      out << field("events") << task.events.size() << " (" << task.missing_events
          << " of the supervisor's events missing in between)\n";
    }
  }
  return out.str();
}

}  // namespace quorvel_tools

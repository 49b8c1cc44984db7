#include "quorvel_bag/tasks.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "quorvel_bag/bag_error.hpp"
#include "quorvel_bag/decode.hpp"

namespace quorvel_bag
{

namespace
{

std::int64_t stamp_ns(const builtin_interfaces::msg::Time & stamp)
{
  return static_cast<std::int64_t>(stamp.sec) * 1000000000LL +
         static_cast<std::int64_t>(stamp.nanosec);
}

TaskRecord build_task(std::vector<RecordedEvent> events, std::int64_t recording_end_ns)
{
  std::stable_sort(
      events.begin(), events.end(), [](const RecordedEvent & a, const RecordedEvent & b) {
        return a.event.seq < b.event.seq;
      });
  // A recorder can receive an event twice (two recordings merged, a republished history).
  events.erase(
      std::unique(
          events.begin(),
          events.end(),
          [](const RecordedEvent & a, const RecordedEvent & b) {
            return a.event.seq == b.event.seq;
          }),
      events.end());

  TaskRecord task;
  task.goal_id = goal_id_text(events.front().event.goal_id);
  std::int64_t first_received = events.front().received_ns;
  std::int64_t last_received = events.front().received_ns;
  std::optional<std::int64_t> end_received;
  for (const RecordedEvent & recorded : events) {
    const TaskEvent & event = recorded.event;
    first_received = std::min(first_received, recorded.received_ns);
    last_received = std::max(last_received, recorded.received_ns);
    if (event.kind == TaskEvent::TASK_STARTED && !task.start_stamp_ns) {
      task.start_stamp_ns = stamp_ns(event.stamp);
      task.cmd = event.cmd;
    } else if (event.kind == TaskEvent::TASK_ENDED && !task.end_stamp_ns) {
      task.end_stamp_ns = stamp_ns(event.stamp);
      task.outcome = event.outcome;
      task.error_code = event.error_code;
      task.given_up = event.items;
      end_received = recorded.received_ns;
    }
  }
  task.steps = events.back().event.step_count;
  const std::uint64_t span = events.back().event.seq - events.front().event.seq + 1;
  task.missing_events = span - events.size();
  task.begin_ns =
      task.start_stamp_ns ? std::min(*task.start_stamp_ns, first_received) : first_received;
  task.end_ns = end_received ? *end_received : std::max(recording_end_ns, last_received);
  task.events = std::move(events);
  return task;
}

}  // namespace

std::optional<double> TaskRecord::duration_s() const
{
  if (!start_stamp_ns || !end_stamp_ns) {
    return std::nullopt;
  }
  return static_cast<double>(*end_stamp_ns - *start_stamp_ns) / 1e9;
}

std::string goal_id_text(const TaskEvent::_goal_id_type & goal_id)
{
  std::string text;
  char hex[3];
  for (const auto byte : goal_id.uuid) {
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned>(byte));
    text += hex;
  }
  return text;
}

std::vector<TaskRecord> tasks_from_events(
    std::vector<RecordedEvent> events, std::int64_t recording_end_ns)
{
  std::map<std::string, std::vector<RecordedEvent>> by_goal;
  for (RecordedEvent & recorded : events) {
    by_goal[goal_id_text(recorded.event.goal_id)].push_back(std::move(recorded));
  }
  std::vector<TaskRecord> tasks;
  for (auto & entry : by_goal) {
    tasks.push_back(build_task(std::move(entry.second), recording_end_ns));
  }
  // In the order the tasks started, by the supervisor's clock; a task whose start is not
  // recorded sorts by its first event.
  const auto first_stamp = [](const TaskRecord & task) {
    return task.start_stamp_ns ? *task.start_stamp_ns : stamp_ns(task.events.front().event.stamp);
  };
  std::stable_sort(tasks.begin(), tasks.end(), [&](const TaskRecord & a, const TaskRecord & b) {
    return first_stamp(a) < first_stamp(b);
  });
  return tasks;
}

std::size_t select_task(
    const std::vector<TaskRecord> & tasks,
    const std::string & bag_label,
    std::optional<std::size_t> number,
    const std::string & goal)
{
  const std::string bag = "bag '" + bag_label + "'";
  if (tasks.empty()) {
    throw BagError(
        bag + " holds no task: none of its messages is a task event of the supervisor (the "
              "task events were not recorded, or no task ran while recording)");
  }
  if (number) {
    if (*number == 0 || *number > tasks.size()) {
      throw BagError(
          bag + " holds " + std::to_string(tasks.size()) + " task(s); there is no task " +
          std::to_string(*number));
    }
    return *number - 1;
  }
  if (!goal.empty()) {
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
      if (tasks[i].goal_id.rfind(goal, 0) == 0) {
        if (found) {
          throw BagError(
              "more than one task of " + bag + " has a goal id starting with '" + goal + "'");
        }
        found = i;
      }
    }
    if (!found) {
      throw BagError(
          "no task of " + bag + " has the goal id '" + goal + "' (quorvel bag info lists them)");
    }
    return *found;
  }
  for (std::size_t i = tasks.size(); i-- > 0;) {
    if (tasks[i].finished()) {
      return i;
    }
  }
  throw BagError(
      "no task of " + bag + " ended in the recording; name one with --task N (quorvel bag info "
      "lists its " + std::to_string(tasks.size()) + ")");
}

std::vector<RecordedEvent> read_task_events(const BagReader & reader)
{
  std::vector<RecordedEvent> events;
  const std::string type = rosidl_generator_traits::name<TaskEvent>();
  for (const BagTopic & topic : reader.topics()) {
    if (topic.type != type) {
      continue;
    }
    MessageFilter filter;
    filter.topics.push_back(topic.name);
    MessageCursor cursor = reader.messages(filter);
    BagMessage message;
    while (cursor.next(message)) {
      events.push_back(
          RecordedEvent{message.timestamp_ns, decode<TaskEvent>(message, reader.label())});
    }
  }
  return events;
}

std::vector<TaskRecord> find_tasks(const BagReader & reader)
{
  const BagMetadata & metadata = reader.metadata();
  const std::int64_t end =
      metadata.message_count > 0 ? metadata.starting_time_ns + metadata.duration_ns : 0;
  return tasks_from_events(read_task_events(reader), end);
}

}  // namespace quorvel_bag

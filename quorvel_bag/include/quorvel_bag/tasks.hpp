// The tasks a bag holds, found in the supervisor's task events: one record per goal, with its
// outcome, its events and the stretch of the recording that belongs to it.
#ifndef QUORVEL_BAG__TASKS_HPP_
#define QUORVEL_BAG__TASKS_HPP_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <quorvel_interfaces/msg/trash.hpp>
#include <quorvel_task_events/msg/task_event.hpp>

#include "quorvel_bag/reader.hpp"

namespace quorvel_bag
{

using TaskEvent = quorvel_task_events::msg::TaskEvent;

/// A task event and when the recorder received it (ns since the epoch).
struct RecordedEvent
{
  std::int64_t received_ns = 0;
  TaskEvent event;
};

/// One task. Times named `_stamp_ns` are the supervisor's event stamps; `received_` ones the
/// recorder's receive times; both are ns since the epoch.
struct TaskRecord
{
  std::string goal_id;                         // 32 lower-case hex digits
  std::optional<std::int64_t> start_stamp_ns;  // its TASK_STARTED, when recorded
  std::optional<std::int64_t> end_stamp_ns;    // its TASK_ENDED, when recorded
  std::int32_t cmd = 0;
  /// "succeeded" or "canceled" from TASK_ENDED; empty when the recording has no end of it.
  std::string outcome;
  std::optional<std::int32_t> error_code;                // from TASK_ENDED
  std::int32_t steps = 0;                                // step_count of its last event
  std::vector<quorvel_interfaces::msg::Trash> given_up;  // TASK_ENDED's items
  std::vector<RecordedEvent> events;                     // in seq order, duplicates dropped
  /// Events the supervisor numbered between the first and the last one here but that are not
  /// in the bag (a gap in seq).
  std::uint64_t missing_events = 0;
  /// The stretch of the recording that belongs to the task, in receive time: from its start
  /// (its TASK_STARTED stamp, or its first event's receive time when earlier or unknown) to the
  /// receive time of its TASK_ENDED, or to the end of the recording when it has none. Messages
  /// of the other topics received in [begin_ns, end_ns] happened during the task.
  std::int64_t begin_ns = 0;
  std::int64_t end_ns = 0;

  bool finished() const { return end_stamp_ns.has_value(); }
  /// TASK_STARTED to TASK_ENDED by the supervisor's stamps, when both are recorded.
  std::optional<double> duration_s() const;
};

/// The tasks in `events` (any order), in the order they started. `recording_end_ns` bounds a
/// task the recording does not see end. Pure: no bag involved.
std::vector<TaskRecord> tasks_from_events(
    std::vector<RecordedEvent> events, std::int64_t recording_end_ns);

/// The task events of every topic of type quorvel_task_events/msg/TaskEvent in the bag, decoded.
/// Throws BagError as the reader and decode() do.
std::vector<RecordedEvent> read_task_events(const BagReader & reader);

/// tasks_from_events over read_task_events, bounded by the bag's end.
std::vector<TaskRecord> find_tasks(const BagReader & reader);

/// The task of `tasks` a command names: the `number`-th (from 1, in the order above), else the
/// one whose goal id starts with `goal` (when not empty), else the last one that ended. Returns
/// its index. Throws BagError naming the bag (`bag_label`) when none fits: no task at all, no
/// such number, no such goal or more than one, no task that ended.
std::size_t select_task(
    const std::vector<TaskRecord> & tasks,
    const std::string & bag_label,
    std::optional<std::size_t> number,
    const std::string & goal);

/// "5f0c1d2e..." for a goal's UUID.
std::string goal_id_text(const TaskEvent::_goal_id_type & goal_id);

}  // namespace quorvel_bag

#endif  // QUORVEL_BAG__TASKS_HPP_

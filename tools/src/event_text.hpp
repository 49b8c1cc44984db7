// The supervisor's task events in words: one line per event, and what the task is doing now.
#ifndef QUORVEL_TOOLS__EVENT_TEXT_HPP_
#define QUORVEL_TOOLS__EVENT_TEXT_HPP_

#include <cstdint>
#include <optional>
#include <string>

#include <quorvel_task_events/msg/task_event.hpp>

namespace quorvel_tools
{

using TaskEvent = quorvel_task_events::msg::TaskEvent;

// The kind's constant name ("MOTION_ANSWERED"), or "KIND_<n>" for a kind this tool does not
// know (a newer supervisor).
std::string event_kind_name(std::uint8_t kind);

// Seconds from `from` to `to` (the events' wall-clock stamps).
double seconds_between(const builtin_interfaces::msg::Time & from, const builtin_interfaces::msg::Time & to);

// "#12  +1.23 s  step 2  MOTION_ANSWERED  arm_grab answered 102100000 (success)"; the time is
// counted from the task's start when it is known.
std::string format_event_line(const TaskEvent & event, std::optional<double> since_start_s);

// What the task is doing once `event` has happened, in a few words: "detecting", "moving to
// grab_pose", "held: an object at 1.20", "recovering: waiting for a normal arm (3 of 11 s)",
// "finished: succeeded, error_code 102300000".
std::string phase_after(const TaskEvent & event);

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__EVENT_TEXT_HPP_

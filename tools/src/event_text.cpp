#include "event_text.hpp"

#include <cstdio>

#include "quorvel_bag/steps.hpp"

namespace quorvel_tools
{

namespace
{

std::string fixed(const double value, const int decimals)
{
  char text[48];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

}  // namespace

std::string event_kind_name(const std::uint8_t kind)
{
  // One list of names for the live lines and for the steps a bag comparison prints.
  return quorvel_bag::kind_name(kind);
}

double seconds_between(
    const builtin_interfaces::msg::Time & from, const builtin_interfaces::msg::Time & to)
{
  return static_cast<double>(to.sec - from.sec) +
         (static_cast<double>(to.nanosec) - static_cast<double>(from.nanosec)) / 1e9;
}

std::string format_event_line(const TaskEvent & event, const std::optional<double> since_start_s)
{
  std::string line = "#" + std::to_string(event.seq);
  line += since_start_s ? "  +" + fixed(*since_start_s, 2) + " s" : std::string("  +? s");
  line += "  step " + std::to_string(event.step_count);
  line += "  " + event_kind_name(event.kind);
  line += "  " + event.summary;
  return line;
}

std::string phase_after(const TaskEvent & event)
{
  switch (event.kind) {
    case TaskEvent::TASK_STARTED:
      return "starting";
    case TaskEvent::DETECT_REQUESTED:
      return "detecting";
    case TaskEvent::DETECT_ANSWERED:
      return event.chosen_index >= 0 ? "target chosen" : "nothing left to choose";
    case TaskEvent::DETECT_TIMED_OUT:
      return "detection timed out";
    case TaskEvent::DETECT_LATE_ANSWER:
      return "a late detection answer dropped";
    case TaskEvent::SPOT_GIVEN_UP:
      return "spot given up";
    case TaskEvent::MOTION_SENT:
      return "moving to " + event.target_name;
    case TaskEvent::MOTION_ANSWERED:
      return event.target_name + " answered " + std::to_string(event.status) + " (" +
             event.status_meaning + ")";
    case TaskEvent::GRIPPER_OPENED:
      return "opening the gripper";
    case TaskEvent::GRIPPER_CLOSED:
      return "closing the gripper";
    case TaskEvent::ENV_STOP_HELD:
      return "held: an object at " + fixed(event.distance, 2);
    case TaskEvent::ENV_STOP_RELEASED:
      return "going on after the environment stop";
    case TaskEvent::RECOVERY_STARTED:
      return "recovering (" + event.target_name + ")";
    case TaskEvent::RECOVERY_ARM_ABNORMAL:
      return "recovering: waiting for a normal arm (" + std::to_string(event.count) + " of " +
             std::to_string(event.threshold) + " s)";
    case TaskEvent::RECOVERY_POSITION:
      return "recovering: " + event.target_name + " " + event.outcome;
    case TaskEvent::RECOVERY_TIME_LIMIT:
      return "recovering: time limit passed";
    case TaskEvent::RECOVERY_ENDED:
      return "recovery " + event.outcome;
    case TaskEvent::TASK_ENDED:
      return "finished: " + event.outcome + ", error_code " + std::to_string(event.error_code);
    case TaskEvent::SERVER_GONE:
      return "waiting for " + event.service + ": its server is " +
             (event.outcome == "replaced" ? "replaced by a new one" : "gone");
    case TaskEvent::SERVER_BACK:
      return "moving to " + event.target_name + " (request sent again)";
    case TaskEvent::MOTION_LATE_ANSWER:
      return "a late " + event.service + " answer dropped";
    default:
      return event.summary;
  }
}

}  // namespace quorvel_tools

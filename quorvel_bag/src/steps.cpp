#include "quorvel_bag/steps.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace quorvel_bag
{

namespace
{

// The supervisor sends back the positions it was given; this only absorbs a trip through text.
constexpr double kSamePosition = 1e-6;

StepItem to_item(const quorvel_interfaces::msg::Trash & trash)
{
  const auto & p = trash.grab_pose.position;
  return StepItem{trash.type, p.x, p.y, p.z};
}

bool same_item(const StepItem & a, const StepItem & b)
{
  return a.type == b.type && std::abs(a.x - b.x) <= kSamePosition &&
         std::abs(a.y - b.y) <= kSamePosition && std::abs(a.z - b.z) <= kSamePosition;
}

bool same_items(const std::vector<StepItem> & a, const std::vector<StepItem> & b)
{
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), same_item);
}

bool has_status(std::uint8_t kind)
{
  return kind == TaskEvent::DETECT_ANSWERED || kind == TaskEvent::DETECT_LATE_ANSWER ||
         kind == TaskEvent::MOTION_ANSWERED || kind == TaskEvent::MOTION_LATE_ANSWER;
}

bool has_error_code(std::uint8_t kind)
{
  return kind == TaskEvent::DETECT_TIMED_OUT || kind == TaskEvent::RECOVERY_ENDED ||
         kind == TaskEvent::TASK_ENDED;
}

std::string item_text(const StepItem & item)
{
  std::ostringstream text;
  text << "type " << static_cast<unsigned>(item.type) << " at (" << item.x << ", " << item.y
       << ", " << item.z << ")";
  return text.str();
}

}  // namespace

std::string kind_name(std::uint8_t kind)
{
  switch (kind) {
    case TaskEvent::TASK_STARTED:
      return "TASK_STARTED";
    case TaskEvent::DETECT_REQUESTED:
      return "DETECT_REQUESTED";
    case TaskEvent::DETECT_ANSWERED:
      return "DETECT_ANSWERED";
    case TaskEvent::DETECT_TIMED_OUT:
      return "DETECT_TIMED_OUT";
    case TaskEvent::DETECT_LATE_ANSWER:
      return "DETECT_LATE_ANSWER";
    case TaskEvent::SPOT_GIVEN_UP:
      return "SPOT_GIVEN_UP";
    case TaskEvent::MOTION_SENT:
      return "MOTION_SENT";
    case TaskEvent::MOTION_ANSWERED:
      return "MOTION_ANSWERED";
    case TaskEvent::GRIPPER_OPENED:
      return "GRIPPER_OPENED";
    case TaskEvent::GRIPPER_CLOSED:
      return "GRIPPER_CLOSED";
    case TaskEvent::ENV_STOP_HELD:
      return "ENV_STOP_HELD";
    case TaskEvent::ENV_STOP_RELEASED:
      return "ENV_STOP_RELEASED";
    case TaskEvent::RECOVERY_STARTED:
      return "RECOVERY_STARTED";
    case TaskEvent::RECOVERY_ARM_ABNORMAL:
      return "RECOVERY_ARM_ABNORMAL";
    case TaskEvent::RECOVERY_POSITION:
      return "RECOVERY_POSITION";
    case TaskEvent::RECOVERY_TIME_LIMIT:
      return "RECOVERY_TIME_LIMIT";
    case TaskEvent::RECOVERY_ENDED:
      return "RECOVERY_ENDED";
    case TaskEvent::TASK_ENDED:
      return "TASK_ENDED";
    case TaskEvent::SERVER_GONE:
      return "SERVER_GONE";
    case TaskEvent::SERVER_BACK:
      return "SERVER_BACK";
    case TaskEvent::MOTION_LATE_ANSWER:
      return "MOTION_LATE_ANSWER";
    default:
      return "KIND_" + std::to_string(kind);
  }
}

std::vector<Step> task_steps(const TaskRecord & task)
{
  std::vector<Step> steps;
  steps.reserve(task.events.size());
  for (const RecordedEvent & recorded : task.events) {
    const TaskEvent & event = recorded.event;
    Step step;
    step.seq = event.seq;
    step.kind = event.kind;
    step.service = event.service;
    step.target_name = event.target_name;
    step.status = event.status;
    step.flags = event.flags;
    step.outcome = event.outcome;
    step.error_code = event.error_code;
    if (event.kind == TaskEvent::DETECT_ANSWERED && event.chosen_index >= 0 &&
        static_cast<std::size_t>(event.chosen_index) < event.items.size()) {
      step.chosen = to_item(event.items[static_cast<std::size_t>(event.chosen_index)]);
    }
    if (event.kind == TaskEvent::SPOT_GIVEN_UP || event.kind == TaskEvent::TASK_ENDED) {
      for (const auto & trash : event.items) {
        step.given_up.push_back(to_item(trash));
      }
    }
    steps.push_back(std::move(step));
  }
  return steps;
}

std::vector<std::string> step_differences(const Step & a, const Step & b)
{
  std::vector<std::string> fields;
  if (a.kind != b.kind) {
    // Steps of different kinds: their other fields mean different things.
    return {"kind"};
  }
  if (a.service != b.service) {
    fields.push_back("service");
  }
  if (a.target_name != b.target_name) {
    fields.push_back("target name");
  }
  if (a.status != b.status) {
    fields.push_back("status");
  }
  if (a.flags != b.flags) {
    fields.push_back("flags");
  }
  if (a.outcome != b.outcome) {
    fields.push_back("outcome");
  }
  if (a.error_code != b.error_code) {
    fields.push_back("error code");
  }
  if (a.chosen.has_value() != b.chosen.has_value() ||
      (a.chosen && !same_item(*a.chosen, *b.chosen))) {
    fields.push_back("item chosen");
  }
  if (!same_items(a.given_up, b.given_up)) {
    fields.push_back("items given up");
  }
  return fields;
}

std::optional<std::size_t> first_parting(const std::vector<Step> & a, const std::vector<Step> & b)
{
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (!step_differences(a[i], b[i]).empty()) {
      return i;
    }
  }
  if (a.size() != b.size()) {
    return common;
  }
  return std::nullopt;
}

std::string describe_step(const Step & step)
{
  std::ostringstream text;
  text << kind_name(step.kind);
  for (const std::string * word : {&step.service, &step.target_name}) {
    if (!word->empty()) {
      text << " " << *word;
    }
  }
  if (has_status(step.kind) || step.status != 0) {
    text << " " << step.status;
  }
  if (!step.flags.empty()) {
    text << " [";
    for (std::size_t i = 0; i < step.flags.size(); ++i) {
      text << (i == 0 ? "" : ", ") << step.flags[i];
    }
    text << "]";
  }
  if (!step.outcome.empty()) {
    text << " " << step.outcome;
  }
  if (has_error_code(step.kind) || step.error_code != 0) {
    text << " error_code " << step.error_code;
  }
  if (step.kind == TaskEvent::DETECT_ANSWERED) {
    text << (step.chosen ? ", chose " + item_text(*step.chosen) : std::string(", none chosen"));
  }
  if (step.kind == TaskEvent::SPOT_GIVEN_UP) {
    for (const StepItem & item : step.given_up) {
      text << " " << item_text(item);
    }
  } else if (step.kind == TaskEvent::TASK_ENDED) {
    text << ", " << step.given_up.size() << " given up";
  }
  return text.str();
}

}  // namespace quorvel_bag

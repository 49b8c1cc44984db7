// The task events the steps of a task emit: building them and handing them to the event log.
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"
#include "quorvel_arm_supervisor/point3f.hpp"

namespace quorvel_arm_supervisor
{

namespace
{

std::string Number(const double value)
{
  char text[32];
  std::snprintf(text, sizeof(text), "%.3g", value);
  return text;
}

}  // namespace

ArmSupervisorNode::TaskEvent ArmSupervisorNode::NewEvent(
    const std::uint8_t kind, std::string summary)
{
  TaskEvent event;
  event.kind = kind;
  event.summary = std::move(summary);
  return event;
}

void ArmSupervisorNode::EmitEvent(TaskEvent event)
{
  if (EventsOn()) {
    task_events_->Emit(std::move(event));
  }
}

void ArmSupervisorNode::EmitGripper(const bool open, const char * step, const char * why)
{
  if (!EventsOn()) {
    return;
  }
  TaskEvent event = NewEvent(
      open ? TaskEvent::GRIPPER_OPENED : TaskEvent::GRIPPER_CLOSED,
      std::string(open ? "gripper opened" : "gripper closed") + " (" + why + ")");
  event.target_name = step;
  EmitEvent(std::move(event));
}

void ArmSupervisorNode::EmitDetectAnswer(
    const DetectTrash::Response & response, const std::optional<std::size_t> chosen)
{
  if (!EventsOn()) {
    return;
  }
  std::string summary;
  if (response.status == 0) {
    summary = "detection failed: " + (response.errmsg.empty() ? "no reason given" : response.errmsg);
  } else if (chosen) {
    const auto & p = response.trash_list[*chosen].grab_pose.position;
    summary = "detection: " + std::to_string(response.trash_list.size()) + " item(s), chose #" +
              std::to_string(*chosen + 1) + " (type " +
              std::to_string(static_cast<unsigned>(response.trash_list[*chosen].type)) +
              ") at distance " + Number(norm(to_point3f(p)));
  } else {
    summary = "detection: " + std::to_string(response.trash_list.size()) +
              " item(s), none to choose";
  }
  TaskEvent event = NewEvent(TaskEvent::DETECT_ANSWERED, std::move(summary));
  event.service = "detect_trash";
  event.status = response.status;
  event.errmsg = response.errmsg;
  event.items = response.trash_list;
  event.distances.reserve(response.trash_list.size());
  for (const Trash & trash : response.trash_list) {
    event.distances.push_back(norm(to_point3f(trash.grab_pose.position)));
  }
  event.chosen_index = chosen ? static_cast<std::int32_t>(*chosen) : -1;
  EmitEvent(std::move(event));
}

void ArmSupervisorNode::EmitRecoveryPosition(
    const char * target_name, const JointArray & target, const JointArray & current,
    const bool reached)
{
  if (!EventsOn()) {
    return;
  }
  TaskEvent event = NewEvent(
      TaskEvent::RECOVERY_POSITION,
      std::string(target_name) + (reached ? " reached" : " not reached"));
  event.target_name = target_name;
  event.target_joints = target.data;
  event.current_joints = current.data;
  event.outcome = reached ? "reached" : "not reached";
  EmitEvent(std::move(event));
}

}  // namespace quorvel_arm_supervisor

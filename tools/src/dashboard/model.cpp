#include "dashboard/model.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <limits>
#include <sstream>

#include <action_msgs/msg/goal_status.hpp>

#include "codes.hpp"

namespace quorvel_tools
{

namespace
{

constexpr std::int32_t kArmSuccess = 102100000;

bool is_frequent(Section section)
{
  return section == Section::kArm || section == Section::kSurroundings || section == Section::kPlot;
}

std::int64_t stamp_ms(const TaskEvent & event)
{
  return static_cast<std::int64_t>(event.stamp.sec) * 1000 +
         static_cast<std::int64_t>(event.stamp.nanosec / 1000000U);
}

// Rounded for the page; NaN and infinities, which JSON cannot carry, become null.
nlohmann::json number(double value, int decimals = 4)
{
  if (!std::isfinite(value)) {
    return nullptr;
  }
  const double scale = std::pow(10.0, decimals);
  const double rounded = std::round(value * scale) / scale;
  return rounded == 0.0 ? 0.0 : rounded;  // no "-0"
}

// "5", "1.5", "0.25": at most `decimals` places, no trailing zeros.
std::string short_number(double value, int decimals = 2)
{
  if (!std::isfinite(value)) {
    return "?";
  }
  std::ostringstream out;
  out << std::fixed << std::setprecision(decimals) << value;
  std::string text = out.str();
  if (text.find('.') != std::string::npos) {
    while (!text.empty() && text.back() == '0') {
      text.pop_back();
    }
    if (!text.empty() && text.back() == '.') {
      text.pop_back();
    }
  }
  return text == "-0" ? "0" : text;
}

std::string fixed_number(double value, int decimals)
{
  if (!std::isfinite(value)) {
    return "?";
  }
  std::ostringstream out;
  out << std::fixed << std::setprecision(decimals) << value;
  return out.str();
}

std::string pose_words(const std::string & target_name)
{
  if (target_name == "grab_pose") {
    return "grab pose";
  }
  if (target_name == "release_joints") {
    return "release pose";
  }
  if (target_name == "observe_joints") {
    return "observe pose";
  }
  return target_name.empty() ? "the target" : target_name;
}

std::string service_words(const std::string & service)
{
  if (service == "arm_grab") {
    return "grab";
  }
  if (service == "arm_release") {
    return "release";
  }
  if (service == "arm_movejoints") {
    return "joint move";
  }
  if (service == "detect_trash") {
    return "detection";
  }
  return service.empty() ? "motion" : service;
}

bool is_recovery_target(const std::string & target_name)
{
  return target_name.rfind("recover", 0) == 0;
}

const char * kind_name(std::uint8_t kind)
{
  switch (kind) {
    case TaskEvent::TASK_STARTED:
      return "task started";
    case TaskEvent::DETECT_REQUESTED:
      return "detect requested";
    case TaskEvent::DETECT_ANSWERED:
      return "detect answered";
    case TaskEvent::DETECT_TIMED_OUT:
      return "detect timed out";
    case TaskEvent::DETECT_LATE_ANSWER:
      return "late detect answer";
    case TaskEvent::SPOT_GIVEN_UP:
      return "spot given up";
    case TaskEvent::MOTION_SENT:
      return "motion sent";
    case TaskEvent::MOTION_ANSWERED:
      return "motion answered";
    case TaskEvent::GRIPPER_OPENED:
      return "gripper opened";
    case TaskEvent::GRIPPER_CLOSED:
      return "gripper closed";
    case TaskEvent::ENV_STOP_HELD:
      return "environment stop";
    case TaskEvent::ENV_STOP_RELEASED:
      return "stop released";
    case TaskEvent::RECOVERY_STARTED:
      return "recovery started";
    case TaskEvent::RECOVERY_ARM_ABNORMAL:
      return "arm abnormal";
    case TaskEvent::RECOVERY_POSITION:
      return "recovery position";
    case TaskEvent::RECOVERY_TIME_LIMIT:
      return "recovery time limit";
    case TaskEvent::RECOVERY_ENDED:
      return "recovery ended";
    case TaskEvent::TASK_ENDED:
      return "task ended";
    case TaskEvent::SERVER_GONE:
      return "server gone";
    case TaskEvent::SERVER_BACK:
      return "sent again";
    case TaskEvent::MOTION_LATE_ANSWER:
      return "late answer";
    default:
      return "event";
  }
}

// How the page colours the event: "ok", "info", "warn" or "error".
std::string event_level(const TaskEvent & event)
{
  switch (event.kind) {
    case TaskEvent::DETECT_TIMED_OUT:
    case TaskEvent::RECOVERY_TIME_LIMIT:
    case TaskEvent::SERVER_GONE:
      return "error";
    case TaskEvent::SERVER_BACK:
    case TaskEvent::MOTION_LATE_ANSWER:
      return "warn";
    case TaskEvent::DETECT_ANSWERED:
      return event.status == 0 ? "warn" : "info";
    case TaskEvent::MOTION_ANSWERED:
      if (event.status == kArmSuccess) {
        return "info";
      }
      return event.flags.empty() ? "warn" : "error";
    case TaskEvent::ENV_STOP_HELD:
    case TaskEvent::SPOT_GIVEN_UP:
    case TaskEvent::DETECT_LATE_ANSWER:
    case TaskEvent::RECOVERY_STARTED:
    case TaskEvent::RECOVERY_ARM_ABNORMAL:
      return "warn";
    case TaskEvent::RECOVERY_POSITION:
      return event.outcome == "reached" ? "info" : "warn";
    case TaskEvent::RECOVERY_ENDED:
      return event.outcome == "recovered" ? "ok" : "error";
    case TaskEvent::TASK_ENDED:
      if (event.outcome != "succeeded") {
        return "warn";
      }
      if (event.error_code == 102300001 || event.error_code == 102300005) {
        return "error";
      }
      return event.error_code == 102300003 ? "warn" : "ok";
    default:
      return "info";
  }
}

double item_distance(const TaskEvent & event, std::size_t index)
{
  if (index < event.distances.size()) {
    return event.distances[index];
  }
  const auto & p = event.items[index].grab_pose.position;
  return std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
}

nlohmann::json point_json(double x, double y, double z)
{
  return {{"x", number(x)}, {"y", number(y)}, {"z", number(z)}};
}

nlohmann::json numbers_json(const std::vector<double> & values)
{
  nlohmann::json out = nlohmann::json::array();
  for (const double value : values) {
    out.push_back(number(value));
  }
  return out;
}

nlohmann::json optional_ms(const std::optional<std::int64_t> & ms)
{
  return ms ? nlohmann::json(*ms) : nlohmann::json(nullptr);
}

}  // namespace

const char * section_name(Section section)
{
  switch (section) {
    case Section::kTask:
      return "task";
    case Section::kTimeline:
      return "timeline";
    case Section::kWorkspace:
      return "workspace";
    case Section::kSurroundings:
      return "surroundings";
    case Section::kArm:
      return "arm";
    case Section::kVoice:
      return "voice";
    case Section::kOutcomes:
      return "outcomes";
    case Section::kEndpoints:
      return "endpoints";
    case Section::kPlot:
      return "plot";
  }
  return "unknown";
}

std::string goal_id_text(const TaskEvent & event)
{
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(32);
  for (const std::uint8_t byte : event.goal_id.uuid) {
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0x0F]);
  }
  return text;
}

std::string phase_after(const TaskEvent & event, const std::string & previous)
{
  switch (event.kind) {
    case TaskEvent::TASK_STARTED:
      return "starting";
    case TaskEvent::DETECT_REQUESTED:
      if (event.threshold > 1) {
        return "detecting (frame " + std::to_string(event.count) + " of " +
               std::to_string(event.threshold) + ")";
      }
      return "detecting";
    case TaskEvent::DETECT_ANSWERED: {
      if (event.status == 0) {
        return "detection failed";
      }
      const std::int32_t chosen = event.chosen_index;
      if (chosen >= 0 && static_cast<std::size_t>(chosen) < event.items.size()) {
        return "target chosen: trash " + std::to_string(chosen + 1) + " at " +
               fixed_number(item_distance(event, static_cast<std::size_t>(chosen)), 2) + " m";
      }
      return "nothing to grab";
    }
    case TaskEvent::DETECT_TIMED_OUT:
      return "detection timed out after " + short_number(event.seconds) + " s";
    case TaskEvent::MOTION_SENT:
      if (is_recovery_target(event.target_name)) {
        return "recovering: moving to " + event.target_name;
      }
      if (event.service == "arm_grab") {
        return "moving to grab pose";
      }
      if (event.service == "arm_release") {
        return "moving to release pose";
      }
      return "moving to " + pose_words(event.target_name);
    case TaskEvent::MOTION_ANSWERED: {
      if (event.status == kArmSuccess) {
        const std::string where = event.service == "arm_grab"      ? "grab pose"
                                  : event.service == "arm_release" ? "release pose"
                                                                   : pose_words(event.target_name);
        return (is_recovery_target(event.target_name) ? "recovering: at " : "at the ") + where;
      }
      std::string text = service_words(event.service) + " failed: " + std::to_string(event.status);
      if (!event.status_meaning.empty()) {
        text += " (" + event.status_meaning + ")";
      }
      return text;
    }
    case TaskEvent::GRIPPER_OPENED:
      if (event.target_name == "release") {
        return "dropping the trash";
      }
      if (event.target_name == "recovery") {
        return "recovering: opening the gripper";
      }
      return "opening the gripper";
    case TaskEvent::GRIPPER_CLOSED:
      return "closing the gripper";
    case TaskEvent::ENV_STOP_HELD:
      return "waiting: someone is near (" + fixed_number(event.distance, 1) + " m)";
    case TaskEvent::ENV_STOP_RELEASED:
      if (event.outcome == "disabled") {
        return "going on: environment stop switched off";
      }
      return "going on: nothing near any more";
    case TaskEvent::RECOVERY_STARTED:
      return "recovering after a failed " + service_words(event.service);
    case TaskEvent::RECOVERY_ARM_ABNORMAL:
      return "recovering: waiting for a normal arm " + std::to_string(event.count) + " of " +
             std::to_string(event.threshold);
    case TaskEvent::RECOVERY_POSITION:
      if (event.outcome == "reached") {
        return "recovering: at " + pose_words(event.target_name);
      }
      return "recovering: " + pose_words(event.target_name) + " not reached yet";
    case TaskEvent::RECOVERY_TIME_LIMIT:
      return "recovering: time limit of " + short_number(event.seconds) + " s passed";
    case TaskEvent::RECOVERY_ENDED:
      return event.outcome == "recovered" ? "recovered: detecting again" : "recovery failed";
    case TaskEvent::TASK_ENDED:
      return "finished: " + (event.outcome.empty() ? std::string("ended") : event.outcome);
    case TaskEvent::SERVER_GONE:
      return "waiting: the " + service_words(event.service) + " server " +
             (event.outcome == "replaced" ? "was replaced by a new one" : "is gone") +
             ", the request goes out again when it is back";
    case TaskEvent::SERVER_BACK:
      return "sent again: " + service_words(event.service) + " to " + pose_words(event.target_name);
    default:
      // DETECT_LATE_ANSWER, SPOT_GIVEN_UP and kinds newer than this tool: the task goes on
      // with what it was doing.
      return previous;
  }
}

std::string event_summary(const TaskEvent & event)
{
  if (!event.summary.empty()) {
    return event.summary;
  }
  const std::string phase = phase_after(event, "");
  return phase.empty() ? std::string(kind_name(event.kind)) : phase;
}

std::string json_text(const nlohmann::json & value)
{
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

DashboardModel::DashboardModel(ModelLimits limits) : limits_(limits) {}

void DashboardModel::touch(Section section)
{
  revisions_[static_cast<std::size_t>(section)] = ++revision_;
}

std::string DashboardModel::clip(const std::string & text) const
{
  if (text.size() <= limits_.text_bytes) {
    return text;
  }
  std::size_t end = limits_.text_bytes;
  // Do not leave half a UTF-8 sequence at the cut.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
    --end;
  }
  return text.substr(0, end) + "\xe2\x80\xa6";  // an ellipsis
}

void DashboardModel::on_task_event(const TaskEvent & event)
{
  // After a cut longer than the lease the supervisor's event history comes again.
  if (!copies_.take(event)) {
    return;
  }
  // A restarted supervisor counts from 1 again: only a jump forward is a loss.
  if (seq_known_ && event.seq > last_seq_ + 1) {
    events_missed_ += event.seq - last_seq_ - 1;
  }
  seq_known_ = true;
  last_seq_ = event.seq;

  const std::string goal = goal_id_text(event);
  if (event.kind == TaskEvent::TASK_STARTED) {
    begin_task(event, true);
  } else if (!task_.known || goal != task_.goal_id) {
    // The dashboard came after the start of this task (or missed its start).
    begin_task(event, false);
  }
  add_timeline_entry(event);
  plot_event(event);
  task_.phase = phase_after(event, task_.phase);
  task_.step_count = event.step_count;
  task_.last_event_ms = stamp_ms(event);
  apply_details(event);
  touch(Section::kTask);
  touch(Section::kTimeline);
}

void DashboardModel::begin_task(const TaskEvent & event, bool start_seen)
{
  // The supervisor forgets its given-up spots when a task ends, except when it was canceled.
  if (last_end_outcome_ != "canceled") {
    given_up_.clear();
  }
  last_end_outcome_.clear();
  task_ = Task{};
  task_.known = true;
  task_.serial = ++task_serial_;
  task_.goal_id = goal_id_text(event);
  task_.goal_uuid = event.goal_id.uuid;
  task_.start_seen = start_seen;
  task_.started_ms = stamp_ms(event);
  if (start_seen) {
    task_.cmd = event.cmd;
    if (std::isfinite(event.distance) && event.distance > 0.0F) {
      stop_distance_ = event.distance;
      stop_distance_known_ = true;
    }
  }
  timeline_.clear();
  timeline_first_ = 0;
  plot_samples_.clear();
  plot_motions_.clear();
  plot_positions_.clear();
  plot_recoveries_.clear();
  plot_abnormal_.clear();
  plot_period_ms_ = limits_.plot_period_ms;
  // The plot starts where the arm stands, before any new angle arrives.
  add_plot_sample(task_.started_ms);
  if (abnormal_.value_or(false)) {
    plot_abnormal_.push_back(PlotSpan{task_.started_ms, std::nullopt, ""});
  }
  touch(Section::kPlot);
  detection_ = Detection{};
  target_.reset();
  grab_target_.reset();
  picked_.clear();
  touch(Section::kWorkspace);
}

void DashboardModel::add_timeline_entry(const TaskEvent & event)
{
  TimelineEntry entry;
  entry.seq = event.seq;
  entry.kind = event.kind;
  entry.stamp_ms = stamp_ms(event);
  entry.step_count = event.step_count;
  entry.summary = clip(event_summary(event));
  entry.level = event_level(event);
  timeline_.push_back(std::move(entry));
  while (timeline_.size() > limits_.timeline_entries) {
    timeline_.pop_front();
    ++timeline_first_;
  }
}

void DashboardModel::apply_details(const TaskEvent & event)
{
  switch (event.kind) {
    case TaskEvent::DETECT_ANSWERED: {
      detection_ = Detection{};
      detection_.known = true;
      detection_.stamp_ms = stamp_ms(event);
      detection_.status = event.status;
      detection_.errmsg = clip(event.errmsg);
      detection_.chosen_index = event.chosen_index;
      detection_.total_items = event.items.size();
      const std::size_t shown = std::min(event.items.size(), limits_.detection_items);
      for (std::size_t i = 0; i < shown; ++i) {
        const auto & p = event.items[i].grab_pose.position;
        nlohmann::json item = point_json(p.x, p.y, p.z);
        item["index"] = i;
        item["type"] = event.items[i].type;
        item["distance"] = number(item_distance(event, i));
        item["chosen"] = static_cast<std::int64_t>(i) == event.chosen_index;
        detection_.items.push_back(std::move(item));
      }
      target_.reset();
      if (event.chosen_index >= 0 &&
          static_cast<std::size_t>(event.chosen_index) < event.items.size()) {
        const auto & p =
            event.items[static_cast<std::size_t>(event.chosen_index)].grab_pose.position;
        target_ = Point3{p.x, p.y, p.z};
      }
      touch(Section::kWorkspace);
      break;
    }
    case TaskEvent::SPOT_GIVEN_UP: {
      const auto & p = event.target_position;
      given_up_.push_back(Point3{p.x, p.y, p.z});
      if (given_up_.size() > limits_.given_up_spots) {
        given_up_.erase(given_up_.begin());
      }
      ++task_.given_up;
      touch(Section::kWorkspace);
      break;
    }
    case TaskEvent::MOTION_SENT:
      if (!event.target_joints.empty()) {
        const std::size_t n = std::min(event.target_joints.size(), limits_.joints);
        joint_target_.assign(event.target_joints.begin(), event.target_joints.begin() + n);
        joint_target_name_ = clip(event.target_name);
        joint_target_ms_ = stamp_ms(event);
        touch(Section::kArm);
      }
      if (event.service == "arm_grab") {
        const auto & p = event.target_position;
        target_ = Point3{p.x, p.y, p.z};
        grab_target_ = target_;
        touch(Section::kWorkspace);
      }
      break;
    case TaskEvent::GRIPPER_OPENED:
      if (event.target_name == "release") {
        ++task_.picked;
        if (grab_target_ && picked_.size() < limits_.picked_spots) {
          picked_.push_back(*grab_target_);
          touch(Section::kWorkspace);
        }
        grab_target_.reset();
      }
      gripper_ = "open";
      gripper_ms_ = stamp_ms(event);
      touch(Section::kArm);
      break;
    case TaskEvent::GRIPPER_CLOSED:
      gripper_ = "closed";
      gripper_ms_ = stamp_ms(event);
      touch(Section::kArm);
      break;
    case TaskEvent::ENV_STOP_HELD:
      task_.env_stop_held = true;
      task_.env_stop_distance = event.distance;
      touch(Section::kWorkspace);
      break;
    case TaskEvent::ENV_STOP_RELEASED:
      task_.env_stop_held = false;
      touch(Section::kWorkspace);
      break;
    case TaskEvent::TASK_ENDED:
      task_.server_gone.reset();
      end_task(event);
      break;
    case TaskEvent::SERVER_GONE:
      task_.server_gone =
          ServerGone{clip(event.service), stamp_ms(event), event.outcome == "replaced"};
      break;
    case TaskEvent::SERVER_BACK:
    case TaskEvent::MOTION_ANSWERED:
      task_.server_gone.reset();
      break;
    default:
      break;
  }
}

void DashboardModel::end_task(const TaskEvent & event)
{
  const std::int64_t ended = stamp_ms(event);
  task_.ended_ms = ended;
  task_.outcome = clip(event.outcome);
  task_.error_code = event.error_code;
  task_.env_stop_held = false;
  last_end_outcome_ = event.outcome;
  record_outcome(ended, event.error_code, event.items.size());
}

void DashboardModel::record_outcome(
    std::int64_t ended, std::int32_t error_code, std::size_t given_up)
{
  nlohmann::json outcome = {
      {"goal_id", task_.goal_id},
      {"outcome", task_.outcome},
      {"error_code", error_code},
      {"error_meaning", task_error_meaning(error_code)},
      {"given_up", given_up},
      {"picked", task_.picked},
      {"ended_ms", ended},
  };
  outcome["duration_s"] = task_.start_seen
                              ? number(static_cast<double>(ended - task_.started_ms) / 1000.0, 1)
                              : nlohmann::json(nullptr);
  outcomes_.push_front(std::move(outcome));
  while (outcomes_.size() > limits_.outcomes) {
    outcomes_.pop_back();
  }
  touch(Section::kOutcomes);
  touch(Section::kWorkspace);
}

void DashboardModel::on_arm_state(bool abnormal, std::int64_t now_ms)
{
  if (abnormal_ && *abnormal_ == abnormal) {
    return;
  }
  abnormal_ = abnormal;
  abnormal_ms_ = now_ms;
  touch(Section::kArm);
  if (task_.known && !task_.ended_ms) {
    if (abnormal) {
      plot_abnormal_.push_back(PlotSpan{now_ms, std::nullopt, ""});
      if (plot_abnormal_.size() > limits_.plot_marks) {
        plot_abnormal_.pop_front();
      }
    } else if (!plot_abnormal_.empty() && !plot_abnormal_.back().to_ms) {
      plot_abnormal_.back().to_ms = now_ms;
    }
    touch(Section::kPlot);
  }
}

void DashboardModel::on_gripper_command(const std::vector<std::int32_t> & data, std::int64_t now_ms)
{
  const std::string meaning = gripper_command_meaning(data);
  if (meaning == "open") {
    gripper_ = "open";
  } else if (meaning == "close") {
    gripper_ = "closed";
  } else {
    std::string text = "command [";
    for (std::size_t i = 0; i < data.size() && i < 8; ++i) {
      text += (i == 0 ? "" : ", ") + std::to_string(data[i]);
    }
    gripper_ = text + (data.size() > 8 ? ", ...]" : "]");
  }
  gripper_ms_ = now_ms;
  touch(Section::kArm);
}

void DashboardModel::on_joint_state(
    const std::vector<std::string> & names,
    const std::vector<double> & positions,
    std::int64_t now_ms)
{
  // As the supervisor does, a message without positions changes nothing.
  if (positions.empty()) {
    return;
  }
  const std::size_t n = std::min(positions.size(), limits_.joints);
  joints_.assign(positions.begin(), positions.begin() + n);
  joint_names_.clear();
  for (std::size_t i = 0; i < n && i < names.size(); ++i) {
    joint_names_.push_back(clip(names[i]));
  }
  joints_ms_ = now_ms;
  touch(Section::kArm);
  add_plot_sample(now_ms);
}

void DashboardModel::add_plot_sample(std::int64_t at_ms)
{
  if (!task_.known || task_.ended_ms || joints_.empty()) {
    return;
  }
  if (!plot_samples_.empty() && at_ms - plot_samples_.back().first < plot_period_ms_) {
    return;
  }
  plot_samples_.emplace_back(at_ms, joints_);
  if (plot_samples_.size() > limits_.plot_samples) {
    // Every other sample, the first and the newest kept, at twice the period from now on.
    std::vector<std::pair<std::int64_t, std::vector<double>>> kept;
    kept.reserve(plot_samples_.size() / 2 + 1);
    for (std::size_t i = 0; i < plot_samples_.size(); i += 2) {
      kept.push_back(std::move(plot_samples_[i]));
    }
    if (plot_samples_.size() % 2 == 0) {
      kept.push_back(std::move(plot_samples_.back()));
    }
    plot_samples_ = std::move(kept);
    plot_period_ms_ *= 2;
    ++plot_layout_;
  }
  touch(Section::kPlot);
}

void DashboardModel::plot_event(const TaskEvent & event)
{
  const std::int64_t at = stamp_ms(event);
  const auto bounded = [this](auto & marks) {
    if (marks.size() > limits_.plot_marks) {
      marks.pop_front();
    }
  };
  switch (event.kind) {
    case TaskEvent::MOTION_SENT: {
      PlotMotion motion;
      motion.sent_ms = at;
      motion.service = clip(event.service);
      motion.name = clip(event.target_name);
      const std::size_t n = std::min(event.target_joints.size(), limits_.joints);
      motion.positions.assign(event.target_joints.begin(), event.target_joints.begin() + n);
      plot_motions_.push_back(std::move(motion));
      bounded(plot_motions_);
      break;
    }
    case TaskEvent::MOTION_ANSWERED:
      for (auto it = plot_motions_.rbegin(); it != plot_motions_.rend(); ++it) {
        if (!it->answered_ms && it->service == clip(event.service)) {
          it->answered_ms = at;
          it->status = event.status;
          break;
        }
      }
      break;
    case TaskEvent::RECOVERY_POSITION: {
      PlotPosition position;
      position.at_ms = at;
      position.name = clip(event.target_name);
      const std::size_t n = std::min(event.target_joints.size(), limits_.joints);
      position.positions.assign(event.target_joints.begin(), event.target_joints.begin() + n);
      position.reached = event.outcome == "reached";
      plot_positions_.push_back(std::move(position));
      bounded(plot_positions_);
      break;
    }
    case TaskEvent::RECOVERY_STARTED:
      plot_recoveries_.push_back(PlotSpan{at, std::nullopt, clip(event.target_name)});
      bounded(plot_recoveries_);
      break;
    case TaskEvent::RECOVERY_ENDED:
      if (!plot_recoveries_.empty() && !plot_recoveries_.back().to_ms) {
        plot_recoveries_.back().to_ms = at;
        plot_recoveries_.back().what +=
            (plot_recoveries_.back().what.empty() ? "" : ": ") + clip(event.outcome);
      }
      break;
    case TaskEvent::TASK_ENDED:
      // The curves run to the end of the task; what is still open ends with it.
      if (!joints_.empty() && (plot_samples_.empty() || plot_samples_.back().first < at)) {
        plot_samples_.emplace_back(at, joints_);
      }
      for (auto * spans : {&plot_recoveries_, &plot_abnormal_}) {
        if (!spans->empty() && !spans->back().to_ms) {
          spans->back().to_ms = at;
        }
      }
      break;
    default:
      return;
  }
  touch(Section::kPlot);
}

void DashboardModel::on_voice(std::int32_t code, std::int64_t now_ms)
{
  std::string meaning = voice_code_meaning(code);
  if (meaning.empty()) {
    meaning = "arm status passed through";
  }
  voice_.push_front({{"code", code}, {"meaning", meaning}, {"received_ms", now_ms}});
  while (voice_.size() > limits_.voice) {
    voice_.pop_back();
  }
  touch(Section::kVoice);
}

void DashboardModel::on_env_objects(
    const std::string & frame_id, const std::vector<EnvObject> & objects, std::int64_t now_ms)
{
  objects_known_ = true;
  objects_frame_ = clip(frame_id);
  objects_ms_ = now_ms;
  objects_total_ = objects.size();
  objects_.assign(objects.begin(), objects.begin() + std::min(objects.size(), limits_.env_objects));
  touch(Section::kSurroundings);
}

void DashboardModel::on_endpoints(
    const std::vector<EndpointState> & endpoints,
    std::size_t task_event_publishers,
    std::int64_t now_ms)
{
  endpoints_ms_ = now_ms;
  bool same = endpoints_known_ && endpoints.size() == endpoints_.size() &&
              task_event_publishers == task_event_publishers_;
  for (std::size_t i = 0; same && i < endpoints.size(); ++i) {
    same = endpoints[i].name == endpoints_[i].name && endpoints[i].up == endpoints_[i].up;
  }
  if (same) {
    return;
  }
  endpoints_known_ = true;
  endpoints_ = endpoints;
  task_event_publishers_ = task_event_publishers;
  touch(Section::kEndpoints);
}

void DashboardModel::on_cancel_requested(std::int64_t /*now_ms*/)
{
  if (task_.known && !task_.ended_ms) {
    task_.cancel_requested = true;
    touch(Section::kTask);
  }
}

std::optional<std::array<std::uint8_t, 16>> DashboardModel::running_goal() const
{
  if (!task_.known || task_.ended_ms) {
    return std::nullopt;
  }
  return task_.goal_uuid;
}

void DashboardModel::on_action_server_gone(bool replaced, std::int64_t since_ms)
{
  if (!task_.known || task_.ended_ms) {
    return;
  }
  task_.supervisor_gone_since_ms = since_ms;
  task_.supervisor_replaced = replaced;
  touch(Section::kTask);
}

void DashboardModel::on_action_server_back(double gone_s)
{
  task_.supervisor_gone_since_ms.reset();
  task_.supervisor_gone_s += gone_s;
  touch(Section::kTask);
}

void DashboardModel::on_goal_result(
    std::int8_t status, std::int32_t error_code, std::size_t given_up, std::int64_t now_ms)
{
  if (!task_.known || task_.ended_ms) {
    return;
  }
  // The task's own end did not reach the page (it was sent while the supervisor was cut off):
  // the action server's answer ends it.
  task_.ended_ms = now_ms;
  task_.outcome = status == action_msgs::msg::GoalStatus::STATUS_SUCCEEDED  ? "succeeded"
                  : status == action_msgs::msg::GoalStatus::STATUS_CANCELED ? "canceled"
                                                                            : "aborted";
  task_.error_code = error_code;
  task_.env_stop_held = false;
  task_.server_gone.reset();
  last_end_outcome_ = task_.outcome;
  record_outcome(now_ms, error_code, given_up);
  touch(Section::kTask);
}

void DashboardModel::on_goal_lost(std::int64_t now_ms)
{
  if (!task_.known || task_.ended_ms) {
    return;
  }
  task_.ended_ms = now_ms;
  task_.outcome = "lost with the supervisor's restart";
  task_.lost_with_restart = true;
  task_.error_code = 0;
  task_.env_stop_held = false;
  task_.server_gone.reset();
  task_.supervisor_gone_since_ms.reset();
  last_end_outcome_ = task_.outcome;
  record_outcome(now_ms, 0, 0);
  touch(Section::kTask);
}

nlohmann::json DashboardModel::timeline_json(std::size_t from) const
{
  nlohmann::json entries = nlohmann::json::array();
  for (std::size_t i = from; i < timeline_.size(); ++i) {
    const TimelineEntry & e = timeline_[i];
    entries.push_back({
        {"n", timeline_first_ + i},
        {"seq", e.seq},
        {"kind", e.kind},
        {"kind_name", kind_name(e.kind)},
        {"stamp_ms", e.stamp_ms},
        {"offset_s", number(static_cast<double>(e.stamp_ms - task_.started_ms) / 1000.0, 3)},
        {"step_count", e.step_count},
        {"summary", e.summary},
        {"level", e.level},
    });
  }
  return {
      {"task", task_.serial},
      {"goal_id", task_.goal_id},
      {"reset", from == 0},
      {"entries", std::move(entries)},
  };
}

nlohmann::json DashboardModel::plot_json(std::size_t from) const
{
  const std::int64_t origin = task_.started_ms;
  const auto offset = [origin](std::int64_t ms) { return ms - origin; };
  const auto optional_offset = [&offset](const std::optional<std::int64_t> & ms) {
    return ms ? nlohmann::json(offset(*ms)) : nlohmann::json(nullptr);
  };
  nlohmann::json samples = nlohmann::json::array();
  for (std::size_t i = from; i < plot_samples_.size(); ++i) {
    nlohmann::json sample = nlohmann::json::array({offset(plot_samples_[i].first)});
    for (const double value : plot_samples_[i].second) {
      sample.push_back(number(value));
    }
    samples.push_back(std::move(sample));
  }
  nlohmann::json motions = nlohmann::json::array();
  for (const PlotMotion & m : plot_motions_) {
    motions.push_back({
        {"sent_ms", offset(m.sent_ms)},
        {"answered_ms", optional_offset(m.answered_ms)},
        {"service", m.service},
        {"name", m.name},
        {"positions", numbers_json(m.positions)},
        {"recovery", is_recovery_target(m.name)},
        {"status", m.status ? nlohmann::json(*m.status) : nlohmann::json(nullptr)},
    });
  }
  nlohmann::json positions = nlohmann::json::array();
  for (const PlotPosition & p : plot_positions_) {
    positions.push_back({
        {"at_ms", offset(p.at_ms)},
        {"name", p.name},
        {"positions", numbers_json(p.positions)},
        {"reached", p.reached},
    });
  }
  const auto spans_json = [&](const std::deque<PlotSpan> & spans) {
    nlohmann::json out = nlohmann::json::array();
    for (const PlotSpan & span : spans) {
      out.push_back({
          {"from_ms", offset(span.from_ms)},
          {"to_ms", optional_offset(span.to_ms)},
          {"what", span.what},
      });
    }
    return out;
  };
  return {
      {"task", task_.serial},
      {"goal_id", task_.goal_id},
      {"started_ms", task_.started_ms},
      {"ended_ms", optional_ms(task_.ended_ms)},
      {"names", joint_names_},
      {"period_ms", plot_period_ms_},
      {"reset", from == 0},
      {"first", from},
      {"samples", std::move(samples)},
      {"motions", std::move(motions)},
      {"recovery_positions", std::move(positions)},
      {"recoveries", spans_json(plot_recoveries_)},
      {"abnormal", spans_json(plot_abnormal_)},
  };
}

nlohmann::json DashboardModel::section(Section section) const
{
  switch (section) {
    case Section::kTask:
      return {
          {"known", task_.known},
          {"serial", task_.serial},
          {"goal_id", task_.goal_id},
          {"cmd", task_.cmd},
          {"running", task_.known && !task_.ended_ms},
          {"start_seen", task_.start_seen},
          {"started_ms", task_.started_ms},
          {"ended_ms", optional_ms(task_.ended_ms)},
          {"last_event_ms", task_.last_event_ms},
          {"phase", task_.phase},
          {"step_count", task_.step_count},
          {"picked", task_.picked},
          {"given_up", task_.given_up},
          {"outcome", task_.outcome},
          {"error_code", task_.error_code},
          {"error_meaning", task_.ended_ms ? task_error_meaning(task_.error_code) : ""},
          {"cancel_requested", task_.cancel_requested},
          {"supervisor_gone",
           task_.supervisor_gone_since_ms
               ? nlohmann::json{{"since_ms", *task_.supervisor_gone_since_ms},
                                {"replaced", task_.supervisor_replaced}}
               : nlohmann::json(nullptr)},
          {"supervisor_gone_s", number(task_.supervisor_gone_s)},
          {"lost_with_restart", task_.lost_with_restart},
          {"server_gone",
           task_.server_gone
               ? nlohmann::json{{"service", task_.server_gone->service},
                                {"since_ms", task_.server_gone->since_ms},
                                {"replaced", task_.server_gone->replaced}}
               : nlohmann::json(nullptr)},
          {"events_missed", events_missed_},
          {"event_count", timeline_first_ + timeline_.size()},
      };
    case Section::kTimeline:
      return timeline_json(0);
    case Section::kWorkspace: {
      nlohmann::json workspace = {
          {"reach_limit", number(TaskEvent::REACH_LIMIT)},
          {"stop_distance", number(stop_distance_)},
          {"stop_distance_known", stop_distance_known_},
          {"env_stop",
           {{"held", task_.env_stop_held}, {"distance", number(task_.env_stop_distance)}}},
          {"detection", nullptr},
          {"target", nullptr},
          {"given_up", nlohmann::json::array()},
          {"picked", nlohmann::json::array()},
      };
      if (detection_.known) {
        workspace["detection"] = {
            {"stamp_ms", detection_.stamp_ms},
            {"status", detection_.status},
            {"errmsg", detection_.errmsg},
            {"chosen_index", detection_.chosen_index},
            {"total_items", detection_.total_items},
            {"items", detection_.items},
        };
      }
      if (target_) {
        workspace["target"] = point_json(target_->x, target_->y, target_->z);
      }
      for (const Point3 & p : given_up_) {
        workspace["given_up"].push_back(point_json(p.x, p.y, p.z));
      }
      for (const Point3 & p : picked_) {
        workspace["picked"].push_back(point_json(p.x, p.y, p.z));
      }
      return workspace;
    }
    case Section::kSurroundings: {
      nlohmann::json objects = nlohmann::json::array();
      double nearest = std::numeric_limits<double>::infinity();
      for (const EnvObject & o : objects_) {
        const double d = std::hypot(static_cast<double>(o.x), static_cast<double>(o.y));
        if (std::isfinite(d)) {
          nearest = std::min(nearest, d);
        }
        objects.push_back({{"x", number(o.x)}, {"y", number(o.y)}, {"distance", number(d)}});
      }
      return {
          {"known", objects_known_},
          {"frame", objects_frame_},
          {"received_ms", objects_ms_},
          {"total", objects_total_},
          {"objects", std::move(objects)},
          {"nearest", number(nearest)},
      };
    }
    case Section::kArm: {
      nlohmann::json arm = {
          {"abnormal", abnormal_ ? nlohmann::json(*abnormal_) : nlohmann::json(nullptr)},
          {"abnormal_ms", abnormal_ms_},
          {"gripper", gripper_.empty() ? nlohmann::json(nullptr) : nlohmann::json(gripper_)},
          {"gripper_ms", gripper_ms_},
          {"joints",
           {{"names", joint_names_},
            {"positions", numbers_json(joints_)},
            {"received_ms", joints_ms_}}},
          {"target", nullptr},
      };
      if (!joint_target_.empty()) {
        arm["target"] = {
            {"name", joint_target_name_},
            {"positions", numbers_json(joint_target_)},
            {"stamp_ms", joint_target_ms_},
        };
      }
      return arm;
    }
    case Section::kVoice:
      return {{"items", nlohmann::json(voice_)}};
    case Section::kOutcomes:
      return {{"items", nlohmann::json(outcomes_)}};
    case Section::kEndpoints: {
      nlohmann::json items = nlohmann::json::array();
      for (const EndpointState & e : endpoints_) {
        items.push_back({{"name", e.name}, {"kind", e.kind}, {"up", e.up}});
      }
      return {
          {"known", endpoints_known_},
          {"checked_ms", endpoints_ms_},
          {"items", std::move(items)},
          {"task_event_publishers", task_event_publishers_},
      };
    }
    case Section::kPlot:
      return plot_json(0);
  }
  return nullptr;
}

nlohmann::json DashboardModel::snapshot(std::int64_t now_ms) const
{
  nlohmann::json out = {{"server_ms", now_ms}};
  for (std::size_t i = 0; i < kSectionCount; ++i) {
    const auto s = static_cast<Section>(i);
    out[section_name(s)] = section(s);
  }
  return out;
}

bool DashboardModel::has_changes(const StreamCursor & cursor, bool urgent_only) const
{
  if (!cursor.started) {
    return true;
  }
  for (std::size_t i = 0; i < kSectionCount; ++i) {
    if (revisions_[i] != cursor.sent[i] && !(urgent_only && is_frequent(static_cast<Section>(i)))) {
      return true;
    }
  }
  return false;
}

std::vector<StreamMessage> DashboardModel::changes_since(
    StreamCursor & cursor, bool include_frequent, std::int64_t now_ms) const
{
  std::vector<StreamMessage> messages;
  if (!cursor.started) {
    messages.push_back({"snapshot", snapshot(now_ms)});
    cursor.started = true;
    cursor.sent = revisions_;
    cursor.timeline_task = task_.serial;
    cursor.timeline_next = timeline_first_ + timeline_.size();
    cursor.plot_task = task_.serial;
    cursor.plot_layout = plot_layout_;
    cursor.plot_next = plot_samples_.size();
    return messages;
  }
  // The timeline first: it is what a person watches for.
  static constexpr Section kOrder[] = {
      Section::kTimeline,
      Section::kTask,
      Section::kWorkspace,
      Section::kOutcomes,
      Section::kVoice,
      Section::kArm,
      Section::kSurroundings,
      Section::kPlot,
      Section::kEndpoints,
  };
  for (const Section s : kOrder) {
    const auto i = static_cast<std::size_t>(s);
    if (revisions_[i] == cursor.sent[i] || (is_frequent(s) && !include_frequent)) {
      continue;
    }
    if (s == Section::kTimeline) {
      const bool reset =
          cursor.timeline_task != task_.serial || cursor.timeline_next < timeline_first_;
      const std::size_t from = reset ? 0 : cursor.timeline_next - timeline_first_;
      if (reset || from < timeline_.size()) {
        nlohmann::json data = timeline_json(from);
        data["reset"] = reset;
        messages.push_back({section_name(s), std::move(data)});
      }
      cursor.timeline_task = task_.serial;
      cursor.timeline_next = timeline_first_ + timeline_.size();
    } else if (s == Section::kPlot) {
      // The samples only grow within a task and a layout: send the new ones.
      const bool reset = cursor.plot_task != task_.serial || cursor.plot_layout != plot_layout_ ||
                         cursor.plot_next > plot_samples_.size();
      messages.push_back({section_name(s), plot_json(reset ? 0 : cursor.plot_next)});
      cursor.plot_task = task_.serial;
      cursor.plot_layout = plot_layout_;
      cursor.plot_next = plot_samples_.size();
    } else {
      messages.push_back({section_name(s), section(s)});
    }
    cursor.sent[i] = revisions_[i];
  }
  return messages;
}

}  // namespace quorvel_tools

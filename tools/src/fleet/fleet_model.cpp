#include "fleet/fleet_model.hpp"

#include <algorithm>
#include <tuple>
#include <utility>

#include "codes.hpp"

namespace quorvel_tools
{

namespace
{

constexpr std::int64_t kHourMs = 3600 * 1000;
constexpr std::int64_t kBucketMs = 5 * 60 * 1000;  // the activity line: tasks per 5 minutes

template <typename T>
T value_or(const nlohmann::json & object, const char * key, T fallback)
{
  const auto found = object.find(key);
  if (found == object.end() || found->is_null()) {
    return fallback;
  }
  try {
    return found->get<T>();
  } catch (const nlohmann::json::exception &) {
    return fallback;
  }
}

bool failed_code(std::int32_t code) { return code == 102300001 || code == 102300005; }

}  // namespace

const char * urgency_name(Urgency urgency)
{
  switch (urgency) {
    case Urgency::kAlarm:
      return "alarm";
    case Urgency::kWarning:
      return "warning";
    case Urgency::kWorking:
      return "working";
    case Urgency::kIdle:
      return "idle";
    case Urgency::kUnknown:
      return "unknown";
  }
  return "unknown";
}

namespace
{

auto comparable(const ArmState & s)
{
  return std::tie(
      s.supervisor_up, s.task_known, s.running, s.goal_id, s.phase, s.step_count, s.started_ms,
      s.last_event_ms, s.picked, s.given_up, s.abnormal, s.env_stop, s.server_gone,
      s.supervisor_gone, s.lost_with_restart, s.outcome, s.error_code, s.error_meaning,
      s.ended_ms);
}

}  // namespace

bool same_but_heard(const ArmState & a, const ArmState & b)
{
  return comparable(a) == comparable(b) &&
         a.last_heard_ms.has_value() == b.last_heard_ms.has_value();
}

ArmState arm_state_from_snapshot(const nlohmann::json & snapshot)
{
  ArmState state;
  const nlohmann::json task = snapshot.value("task", nlohmann::json::object());
  const nlohmann::json arm = snapshot.value("arm", nlohmann::json::object());
  const nlohmann::json workspace = snapshot.value("workspace", nlohmann::json::object());
  const nlohmann::json endpoints = snapshot.value("endpoints", nlohmann::json::object());

  state.task_known = value_or(task, "known", false);
  state.running = value_or(task, "running", false);
  state.goal_id = value_or(task, "goal_id", std::string());
  state.phase = value_or(task, "phase", std::string());
  state.step_count = value_or(task, "step_count", 0);
  state.started_ms = value_or<std::int64_t>(task, "started_ms", 0);
  state.last_event_ms = value_or<std::int64_t>(task, "last_event_ms", 0);
  state.picked = value_or(task, "picked", 0);
  state.given_up = value_or(task, "given_up", 0);
  state.outcome = value_or(task, "outcome", std::string());
  state.error_code = value_or(task, "error_code", 0);
  state.error_meaning = value_or(task, "error_meaning", std::string());
  state.lost_with_restart = value_or(task, "lost_with_restart", false);
  if (task.contains("ended_ms") && task["ended_ms"].is_number()) {
    state.ended_ms = task["ended_ms"].get<std::int64_t>();
  }
  state.server_gone = task.contains("server_gone") && task["server_gone"].is_object();
  state.supervisor_gone = task.contains("supervisor_gone") && task["supervisor_gone"].is_object();

  if (arm.contains("abnormal") && arm["abnormal"].is_boolean()) {
    state.abnormal = arm["abnormal"].get<bool>();
  }
  if (workspace.contains("env_stop")) {
    state.env_stop = value_or(workspace["env_stop"], "held", false);
  }
  for (const auto & item : endpoints.value("items", nlohmann::json::array())) {
    const std::string kind = value_or(item, "kind", std::string());
    if (kind.find("action") != std::string::npos) {
      state.supervisor_up = state.supervisor_up || value_or(item, "up", false);
    }
  }

  // Heard from: the newest message of the arm's programs (joint angles come ten times a
  // second from a running controller, task events with every step of the supervisor).
  std::int64_t heard = 0;
  heard = std::max(heard, state.last_event_ms);
  heard = std::max(heard, value_or<std::int64_t>(arm, "abnormal_ms", 0));
  heard = std::max(heard, value_or<std::int64_t>(arm, "gripper_ms", 0));
  if (arm.contains("joints")) {
    heard = std::max(heard, value_or<std::int64_t>(arm["joints"], "received_ms", 0));
  }
  if (heard > 0) {
    state.last_heard_ms = heard;
  }
  return state;
}

FleetModel::FleetModel(FleetConfig config) : config_(std::move(config)), arms_(config_.arms.size())
{
}

void FleetModel::update(std::size_t index, const ArmState & state, std::int64_t now_ms)
{
  if (index >= arms_.size()) {
    return;
  }
  Arm & arm = arms_[index];
  arm.state = state;
  // A task that ended (or was lost) is counted once, when its end is first seen.
  if (state.task_known && !state.running && state.ended_ms && !state.goal_id.empty() &&
      state.goal_id != arm.last_goal_ended) {
    arm.last_goal_ended = state.goal_id;
    arm.ended.push_back(Ended{*state.ended_ms, state.lost_with_restart ? -1 : state.error_code});
  }
  while (!arm.ended.empty() && arm.ended.front().at_ms < now_ms - kHourMs) {
    arm.ended.pop_front();
  }
}

nlohmann::json FleetModel::tile(std::size_t index, std::int64_t now_ms, Urgency & urgency) const
{
  const FleetArm & config = config_.arms[index];
  const Arm & arm = arms_[index];
  const ArmState & s = arm.state;
  std::vector<std::string> alarms;
  std::vector<std::string> warnings;
  const double silent_s =
      s.last_heard_ms ? static_cast<double>(now_ms - *s.last_heard_ms) / 1000.0 : -1.0;
  const bool silent = s.last_heard_ms && silent_s > config_.alarms.silent_s;
  if (s.running && s.server_gone) {
    alarms.push_back("the server of the call it waits for is gone");
  }
  if (s.running && s.supervisor_gone) {
    alarms.push_back("its supervisor is unreachable");
  }
  if (s.abnormal.value_or(false)) {
    alarms.push_back("arm abnormal");
  }
  const double waited_s = s.running && s.last_event_ms > 0
                              ? static_cast<double>(now_ms - s.last_event_ms) / 1000.0
                              : 0.0;
  if (s.running && waited_s > config_.alarms.wait_s) {
    alarms.push_back("no step for " + std::to_string(static_cast<long>(waited_s)) + " s");
  }
  if (!s.running && s.task_known && s.lost_with_restart) {
    alarms.push_back("last task lost with its supervisor's restart");
  } else if (!s.running && s.task_known && failed_code(s.error_code) && s.ended_ms) {
    alarms.push_back("last task failed: " + std::to_string(s.error_code));
  }
  if (silent) {
    warnings.push_back("not heard from for " + std::to_string(static_cast<long>(silent_s)) + " s");
  }
  if (s.env_stop) {
    warnings.push_back("held: someone is near");
  }
  if (s.last_heard_ms && !s.supervisor_up) {
    warnings.push_back("no supervisor");
  }

  if (!alarms.empty()) {
    urgency = Urgency::kAlarm;
  } else if (!warnings.empty()) {
    urgency = Urgency::kWarning;
  } else if (!s.last_heard_ms) {
    urgency = Urgency::kUnknown;
  } else if (s.running) {
    urgency = Urgency::kWorking;
  } else {
    urgency = Urgency::kIdle;
  }

  // Tasks per 5 minutes over the last hour, oldest first, and results by code.
  std::vector<int> activity(kHourMs / kBucketMs, 0);
  std::map<std::int32_t, int> results;
  for (const Ended & e : arm.ended) {
    const std::int64_t age = now_ms - e.at_ms;
    if (age < 0 || age >= kHourMs) {
      continue;
    }
    activity[activity.size() - 1 - static_cast<std::size_t>(age / kBucketMs)] += 1;
    results[e.error_code] += 1;
  }
  nlohmann::json by_code = nlohmann::json::object();
  for (const auto & [code, count] : results) {
    by_code[code < 0 ? std::string("lost") : std::to_string(code)] = count;
  }

  nlohmann::json out = {
      {"index", index},
      {"name", config.name},
      {"domain", config.domain},
      {"host", config.host},
      {"urgency", urgency_name(urgency)},
      {"alarms", alarms},
      {"warnings", warnings},
      {"live", s.last_heard_ms && !silent},
      {"heard_ms", s.last_heard_ms ? nlohmann::json(*s.last_heard_ms) : nlohmann::json(nullptr)},
      {"supervisor_up", s.supervisor_up},
      {"running", s.running},
      {"phase", s.task_known ? s.phase : std::string()},
      {"step_count", s.step_count},
      {"started_ms", s.started_ms},
      {"event_ms", s.last_event_ms},
      {"waited_s", waited_s},
      {"picked", s.picked},
      {"given_up", s.given_up},
      {"abnormal", s.abnormal ? nlohmann::json(*s.abnormal) : nlohmann::json(nullptr)},
      {"env_stop", s.env_stop},
      {"last_result", nullptr},
      {"hour", {{"tasks", arm.ended.size()}, {"results", by_code}, {"activity", activity}}},
  };
  if (s.task_known && !s.running) {
    out["last_result"] = {
        {"outcome", s.outcome},
        {"error_code", s.error_code},
        {"meaning", s.lost_with_restart ? std::string() : task_error_meaning(s.error_code)},
        {"ended_ms", s.ended_ms ? nlohmann::json(*s.ended_ms) : nlohmann::json(nullptr)},
    };
  }
  return out;
}

nlohmann::json FleetModel::snapshot(std::int64_t now_ms) const
{
  struct Ordered
  {
    Urgency urgency;
    std::string name;
    nlohmann::json tile;
  };
  std::vector<Ordered> tiles;
  tiles.reserve(arms_.size());
  for (std::size_t i = 0; i < arms_.size(); ++i) {
    Urgency urgency = Urgency::kUnknown;
    nlohmann::json t = tile(i, now_ms, urgency);
    tiles.push_back(Ordered{urgency, config_.arms[i].name, std::move(t)});
  }
  std::stable_sort(tiles.begin(), tiles.end(), [](const Ordered & a, const Ordered & b) {
    return a.urgency != b.urgency ? a.urgency < b.urgency : a.name < b.name;
  });
  nlohmann::json list = nlohmann::json::array();
  int tasks = 0;
  int recoveries = 0;
  int live = 0;
  int alarms = 0;
  std::map<std::string, int> results;
  for (const Ordered & o : tiles) {
    tasks += o.tile["hour"]["tasks"].get<int>();
    for (const auto & [code, count] : o.tile["hour"]["results"].items()) {
      results[code] += count.get<int>();
      if (code == "102300003" || code == "102300005") {
        recoveries += count.get<int>();
      }
    }
    live += o.tile["live"].get<bool>() ? 1 : 0;
    alarms += o.urgency == Urgency::kAlarm ? 1 : 0;
    list.push_back(o.tile);
  }
  nlohmann::json codes = nlohmann::json::array();
  for (const auto & [code, count] : results) {
    std::string meaning = "lost with its supervisor's restart";
    if (code != "lost") {
      meaning = task_error_meaning(static_cast<std::int32_t>(std::stol(code)));
    }
    codes.push_back({{"code", code}, {"count", count}, {"meaning", meaning}});
  }
  return {
      {"server_ms", now_ms},
      {"arms", list},
      {"fleet",
       {{"arms", arms_.size()},
        {"live", live},
        {"alarms", alarms},
        {"hour",
         {{"tasks", tasks},
          {"results", results},
          {"codes", codes},
          {"recoveries", recoveries}}}}},
      {"alarm_thresholds",
       {{"wait_s", config_.alarms.wait_s}, {"silent_s", config_.alarms.silent_s}}},
  };
}

}  // namespace quorvel_tools

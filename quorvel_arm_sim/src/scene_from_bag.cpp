#include "quorvel_arm_sim/scene_from_bag.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include <quorvel_protocol/msg/trashes.hpp>
#include <sensor_msgs/msg/joint_state.hpp>
#include <std_msgs/msg/bool.hpp>
#include <std_msgs/msg/int32.hpp>

#include "quorvel_arm_sim/joint_motion.hpp"
#include "quorvel_arm_sim/table.hpp"
#include "quorvel_bag/decode.hpp"
#include "quorvel_bag/steps.hpp"

namespace quorvel_arm_sim
{

namespace
{

using quorvel_bag::RecordedEvent;
using quorvel_bag::TaskEvent;
using quorvel_bag::TaskRecord;

constexpr std::int64_t kSecondNs = 1000000000;
constexpr std::int32_t kArmSuccess = kStatusSuccess;
constexpr std::int32_t kDetectOk = kDetectSuccess;
// Items reported within this of each other are one item seen again (the supervisor's default
// position_radius_threshold: it takes them for one spot too).
constexpr double kSameItem = 0.01;
// A joint this far off its target was meant to be off: the supervisor copies targets exactly.
constexpr double kJointOff = 1e-6;
// The shipped observe posture, for a recording without joint angles.
const Joints kShippedObserve{{0.0, -0.5236, 1.0472, -0.5236, 0.0}};
// A motion whose answer took this much longer than arm_sim would take gets its time of its own.
constexpr double kSlowMotionMargin = 0.25;

constexpr char kArmStateTopic[] = "/robot/unnormal_flag";
constexpr char kJointTopic[] = "/robot/joint_angle";
constexpr char kEnvTopic[] = "/quorvel/env_detect_topic";
constexpr char kRecoverTopic[] = "/robot/recover_topic";
constexpr char kVoiceTopic[] = "/arm/voice_broadcast";

std::int64_t stamp_ns(const RecordedEvent & recorded)
{
  return static_cast<std::int64_t>(recorded.event.stamp.sec) * kSecondNs +
         static_cast<std::int64_t>(recorded.event.stamp.nanosec);
}

double seconds(std::int64_t ns) { return static_cast<double>(ns) / 1e9; }

std::string ref(const RecordedEvent & recorded)
{
  return quorvel_bag::kind_name(recorded.event.kind) + " #" + std::to_string(recorded.event.seq);
}

std::string fixed(double value, int decimals)
{
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// `value` rounded to `digits` significant digits.
double significant(double value, int digits)
{
  if (value == 0.0 || !std::isfinite(value)) {
    return value;
  }
  const double scale = std::pow(10.0, digits - 1 - static_cast<int>(std::floor(std::log10(std::abs(value)))));
  return std::round(value * scale) / scale;
}

// `value` to `decimals` places, without trailing zeros: "0.9972".
std::string rounded(double value, int decimals)
{
  const double scale = std::pow(10.0, decimals);
  return number_text(std::round(value * scale) / scale);
}

double median(std::vector<double> values)
{
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

std::optional<Service> event_service(const std::string & name)
{
  if (name == "detect_trash") {
    return Service::kDetect;
  }
  if (name == "arm_grab") {
    return Service::kGrab;
  }
  if (name == "arm_release") {
    return Service::kRelease;
  }
  if (name == "arm_movejoints") {
    return Service::kMoveJoints;
  }
  return std::nullopt;
}

std::string call_text(Service service, int number)
{
  return std::string(service_name(service)) + " call " + std::to_string(number);
}

template <typename Sample>
std::string message_ref(const char * topic, const Sample & sample)
{
  return std::string(topic) + " message " + std::to_string(sample.id);
}

// Index of the last sample received at or before `t`, if any.
template <typename Samples>
std::optional<std::size_t> last_at_or_before(const Samples & samples, std::int64_t t)
{
  const auto it = std::upper_bound(
      samples.begin(), samples.end(), t, [](std::int64_t value, const auto & sample) {
        return value < sample.t;
      });
  if (it == samples.begin()) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(it - samples.begin() - 1);
}

// The speed of `timed` motions (travel, time) under time = travel / speed + delay, the delay
// being what every answer takes beyond the motion (a controller's, a simulator's tick): a
// least-squares line through them. Nothing when the travels are too alike to tell the two
// apart, or the line makes no sense (no positive speed, a negative delay).
std::optional<double> fit_speed(const std::vector<std::pair<double, double>> & timed)
{
  if (timed.size() < 3) {
    return std::nullopt;
  }
  double mean_d = 0.0;
  double mean_t = 0.0;
  for (const auto & [d, t] : timed) {
    mean_d += d;
    mean_t += t;
  }
  mean_d /= static_cast<double>(timed.size());
  mean_t /= static_cast<double>(timed.size());
  double sdd = 0.0;
  double sdt = 0.0;
  for (const auto & [d, t] : timed) {
    sdd += (d - mean_d) * (d - mean_d);
    sdt += (d - mean_d) * (t - mean_t);
  }
  if (sdd < 1e-6 * static_cast<double>(timed.size())) {
    return std::nullopt;
  }
  const double per_rad = sdt / sdd;
  const double delay = mean_t - per_rad * mean_d;
  if (!(per_rad > 0.0) || delay < -0.005) {
    return std::nullopt;
  }
  return 1.0 / per_rad;
}

bool same_effects(const Fault & a, const Fault & b)
{
  const auto same_abnormal = [](const std::optional<Abnormality> & x,
                                const std::optional<Abnormality> & y) {
    return x.has_value() == y.has_value() &&
           (!x || (x->kind == y->kind && x->seconds == y->seconds && x->recovers == y->recovers));
  };
  const auto same_stop = [](const std::optional<StopShortFault> & x,
                            const std::optional<StopShortFault> & y) {
    return x.has_value() == y.has_value() && (!x || (x->joint == y->joint && x->by == y->by));
  };
  const auto same_feedback = [](const std::optional<ShortFeedbackFault> & x,
                                const std::optional<ShortFeedbackFault> & y) {
    return x.has_value() == y.has_value() &&
           (!x || (x->values == y->values && x->seconds == y->seconds));
  };
  return a.status == b.status && a.errmsg == b.errmsg && a.latency == b.latency &&
         a.never_answer == b.never_answer && same_abnormal(a.abnormal, b.abnormal) &&
         same_stop(a.stop_short, b.stop_short) && same_feedback(a.short_feedback, b.short_feedback) &&
         !a.env_object && !b.env_object;
}

// One call the supervisor made, as the events tell it.
struct Call
{
  Service service = Service::kDetect;
  int number = 0;
  std::size_t sent = 0;  // index of its DETECT_REQUESTED / MOTION_SENT
  std::optional<std::size_t> answered;
  std::optional<std::size_t> timed_out;
  std::optional<std::size_t> late;
  bool refused = false;  // answered at once without moving
};

// A fault in the making, with the note its line gets.
struct Planned
{
  Fault fault;
  std::string note;
  std::size_t order = 0;  // index of the event it belongs to
  std::string last_ref;   // of the last call it covers, once merged
};

// One derivation with a given set of stuck items. When an item that left the table is found
// again at its spot, the derivation stops and names it: it is then run again with that item
// stuck.
class Deriver
{
public:
  Deriver(
      const TaskRecord & task,
      const ArmRecording & arm,
      const TaskSource & source,
      const std::set<std::size_t> & stuck,
      const std::map<std::size_t, std::string> & stuck_notes)
      : task_(task),
        events_(task.events),
        arm_(arm),
        source_(source),
        stuck_(stuck),
        stuck_notes_(stuck_notes),
        table_({}, false)
  {
  }

  DerivedScene run();

  std::optional<std::size_t> newly_stuck;
  std::string newly_stuck_note;

private:
  void walk();
  void on_detect_answer(std::size_t i);
  void on_motion_sent(std::size_t i);
  void on_motion_answered(std::size_t i);
  void build_table(std::size_t i);
  void detection_faults();
  void motion_faults();
  void abnormal_faults();
  void abnormal_from_flag();
  void abnormal_from_waits();
  void position_faults();
  void feedback_faults();
  void env_faults();
  void arm_values();
  void supervisor_settings();
  void expectation();
  void header_lines();
  std::vector<Fault> finish_faults();

  Planned & on_call(const Call & call, std::size_t order);
  void add_time_fault(Fault fault, std::string note, std::size_t order);
  void problem(const RecordedEvent & at, const std::string & what)
  {
    out_.problems.push_back(ref(at) + ": " + what);
  }
  void note(const std::string & key, const std::string & text) { out_.notes[key] = text; }
  void setting(const std::string & name, long long value, const std::string & why);
  void setting(const std::string & name, double value, const std::string & why);
  /// Keeps the first value derived for a setting: later sightings only confirm it.
  void add_setting(SupervisorSetting setting, const std::string & why);
  // The last call sent at or before event index `i`.
  const Call * call_before(std::size_t i) const;
  std::optional<std::size_t> first_request() const;
  // Seconds from the first detection request (arm_sim's time zero) to receive time `t`.
  double since_start(std::int64_t t) const;

  const TaskRecord & task_;
  const std::vector<RecordedEvent> & events_;
  const ArmRecording & arm_;
  const TaskSource & source_;
  std::set<std::size_t> stuck_;
  std::map<std::size_t, std::string> stuck_notes_;

  DerivedScene out_;
  std::vector<Call> calls_;
  std::map<Service, int> counts_;
  std::optional<std::size_t> pending_motion_;  // index into calls_
  std::map<std::pair<Service, int>, std::size_t> by_call_;
  std::vector<Planned> planned_;
  std::map<std::pair<Service, int>, std::size_t> planned_by_call_;

  // The table as arm_sim will keep it.
  Table table_;
  bool table_built_ = false;
  std::vector<std::string> item_notes_;
  std::vector<double> item_drift_;
  std::optional<std::size_t> chosen_;     // table item chosen by the last detection
  std::optional<std::size_t> grab_item_;  // table item of the grab under way
  std::vector<std::string> picked_refs_;
  std::vector<std::string> dropped_refs_;

  std::optional<std::size_t> started_;
  std::optional<std::size_t> ended_;
  float stop_distance_ = 2.0F;
  bool movejoints_flag_ = false;
  std::vector<std::size_t> held_;  // ENV_STOP_HELD indices
  std::vector<std::pair<std::string, std::string>> settings_text_;
};

const Call * Deriver::call_before(std::size_t i) const
{
  const Call * last = nullptr;
  for (const Call & call : calls_) {
    if (call.sent <= i) {
      last = &call;
    }
  }
  return last;
}

std::optional<std::size_t> Deriver::first_request() const
{
  for (const Call & call : calls_) {
    if (call.service == Service::kDetect) {
      return call.sent;
    }
  }
  return std::nullopt;
}

double Deriver::since_start(std::int64_t t) const
{
  const auto first = first_request();
  return first ? std::max(0.0, seconds(t - events_[*first].received_ns)) : 0.0;
}

Planned & Deriver::on_call(const Call & call, std::size_t order)
{
  const auto key = std::make_pair(call.service, call.number);
  const auto found = planned_by_call_.find(key);
  if (found != planned_by_call_.end()) {
    return planned_[found->second];
  }
  Planned planned;
  planned.fault.service = call.service;
  planned.fault.call = call.number;
  planned.order = order;
  planned.last_ref = ref(events_[call.sent]);
  planned_.push_back(planned);
  planned_by_call_[key] = planned_.size() - 1;
  return planned_.back();
}

void Deriver::add_time_fault(Fault fault, std::string note, std::size_t order)
{
  Planned planned;
  planned.fault = std::move(fault);
  planned.note = std::move(note);
  planned.order = order;
  planned_.push_back(std::move(planned));
}

void append_note(Planned & planned, const std::string & text)
{
  planned.note += (planned.note.empty() ? "" : "; ") + text;
}

void Deriver::setting(const std::string & name, long long value, const std::string & why)
{
  SupervisorSetting s;
  s.name = name;
  s.integer = true;
  s.int_value = value;
  add_setting(std::move(s), why);
}

void Deriver::setting(const std::string & name, double value, const std::string & why)
{
  SupervisorSetting s;
  s.name = name;
  s.integer = false;
  s.double_value = value;
  add_setting(std::move(s), why);
}

void Deriver::add_setting(SupervisorSetting setting, const std::string & why)
{
  for (const SupervisorSetting & known : out_.scene.supervisor) {
    if (known.name == setting.name) {
      return;
    }
  }
  const std::string key = "supervisor." + setting.name;
  out_.scene.supervisor.push_back(std::move(setting));
  note(key, why);
}

void Deriver::walk()
{
  for (std::size_t i = 0; i < events_.size() && !newly_stuck; ++i) {
    const TaskEvent & e = events_[i].event;
    switch (e.kind) {
      case TaskEvent::TASK_STARTED:
        if (!started_) {
          started_ = i;
          stop_distance_ = e.distance;
        }
        break;
      case TaskEvent::DETECT_REQUESTED: {
        Call call;
        call.service = Service::kDetect;
        call.number = ++counts_[Service::kDetect];
        call.sent = i;
        calls_.push_back(call);
        by_call_[{call.service, call.number}] = calls_.size() - 1;
        break;
      }
      case TaskEvent::DETECT_ANSWERED:
        on_detect_answer(i);
        break;
      case TaskEvent::DETECT_TIMED_OUT:
        for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
          if (it->service == Service::kDetect && !it->answered && !it->timed_out) {
            it->timed_out = i;
            break;
          }
        }
        break;
      case TaskEvent::DETECT_LATE_ANSWER:
        for (Call & call : calls_) {
          if (call.service == Service::kDetect && call.timed_out && !call.late) {
            call.late = i;
            break;
          }
        }
        break;
      case TaskEvent::MOTION_SENT:
        on_motion_sent(i);
        break;
      case TaskEvent::MOTION_ANSWERED:
        on_motion_answered(i);
        break;
      case TaskEvent::GRIPPER_CLOSED:
        table_.gripper_closed();
        break;
      case TaskEvent::GRIPPER_OPENED:
        if (const auto fate = table_.gripper_opened()) {
          if (fate->fate == ItemFate::kPicked) {
            picked_refs_.push_back(ref(events_[i]));
          } else if (fate->fate == ItemFate::kDropped) {
            dropped_refs_.push_back(ref(events_[i]));
          }
          if (fate->fate == ItemFate::kPicked || fate->fate == ItemFate::kDropped) {
            item_notes_[fate->item] += std::string("; ") +
                                        (fate->fate == ItemFate::kPicked ? "picked" : "dropped") +
                                        " at " + ref(events_[i]);
          }
        }
        break;
      case TaskEvent::ENV_STOP_HELD:
        held_.push_back(i);
        break;
      case TaskEvent::RECOVERY_STARTED:
        if (e.target_name == "recover") {
          // The flag a move failure leaves set is what starts a recovery after a good answer;
          // the recovery clears it.
          const bool after_good_move = i > 0 &&
                                       events_[i - 1].event.kind == TaskEvent::MOTION_ANSWERED &&
                                       events_[i - 1].event.service == "arm_movejoints" &&
                                       events_[i - 1].event.flags.empty();
          if (after_good_move && !movejoints_flag_) {
            problem(
                events_[i],
                "a recovery after the good answer of " + ref(events_[i - 1]) +
                    " follows a move failure that an earlier task left set in the supervisor; "
                    "a supervisor started afresh does not recover here (replay the tasks before "
                    "it on the same supervisor)");
          }
          movejoints_flag_ = false;
        }
        break;
      case TaskEvent::ENV_STOP_RELEASED:
      case TaskEvent::RECOVERY_ARM_ABNORMAL:
      case TaskEvent::RECOVERY_POSITION:
      case TaskEvent::RECOVERY_TIME_LIMIT:
      case TaskEvent::RECOVERY_ENDED:
      case TaskEvent::SPOT_GIVEN_UP:
        break;
      case TaskEvent::TASK_ENDED:
        if (!ended_) {
          ended_ = i;
        }
        break;
      case TaskEvent::SERVER_GONE:
      case TaskEvent::SERVER_BACK:
      case TaskEvent::MOTION_LATE_ANSWER:
        problem(
            events_[i],
            "the arm controller's server went away during this call (a restart or a network "
            "cut) and the supervisor sent the request again: a scene cannot play that; the "
            "call is played as one slow answer");
        break;
      default:
        problem(events_[i], "an event of a kind this tool does not know: not played");
        break;
    }
  }
}

void Deriver::build_table(std::size_t i)
{
  const TaskEvent & e = events_[i].event;
  std::vector<Item> items;
  for (std::size_t k = 0; k < e.items.size(); ++k) {
    const auto & trash = e.items[k];
    Item item;
    item.name = "item" + std::to_string(k + 1);
    item.type = trash.type;
    const auto & p = trash.grab_pose.position;
    item.grab = {{p.x, p.y, p.z}};
    const auto & q = trash.grab_pose.orientation;
    item.grab_orientation = {{q.x, q.y, q.z, q.w}};
    const auto & o = trash.obb_pose.position;
    if (o.x != p.x || o.y != p.y || o.z != p.z) {
      item.obb_position = std::array<double, 3>{{o.x, o.y, o.z}};
    }
    const auto & oq = trash.obb_pose.orientation;
    item.obb_orientation = {{oq.x, oq.y, oq.z, oq.w}};
    item.obb_size = {{trash.obb_size.x, trash.obb_size.y, trash.obb_size.z}};
    item.stuck = stuck_.count(k) != 0;
    items.push_back(item);
    const double distance = std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
    std::string text = ref(events_[i]) + ": type " + std::to_string(static_cast<unsigned>(item.type)) +
                       ", " + fixed(distance, 3) + " from the arm's origin";
    if (!(distance < TaskEvent::REACH_LIMIT)) {
      text += ", out of reach";
    }
    if (item.stuck) {
      text += "; stuck: " + stuck_notes_[k];
    }
    item_notes_.push_back(text);
  }
  item_drift_.assign(items.size(), 0.0);
  table_ = Table(std::move(items), false);
  table_built_ = true;
  note(
      "table.items",
      "the items of " + ref(events_[i]) + ", the first detection that found any, in the "
      "detector's order");
}

void Deriver::on_detect_answer(std::size_t i)
{
  const TaskEvent & e = events_[i].event;
  Call * call = nullptr;
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
    if (it->service == Service::kDetect && !it->answered && !it->timed_out) {
      call = &*it;
      break;
    }
  }
  if (call == nullptr) {
    problem(events_[i], "an answer whose request is not in the recording: not played");
    return;
  }
  call->answered = i;
  chosen_.reset();
  if (e.status == 0) {
    return;
  }
  if (!table_built_) {
    build_table(i);
  }
  // What arm_sim's table holds now, against what the detector reported.
  const std::vector<std::size_t> expected = table_.detect();
  const auto & items = table_.items();
  const auto matches = [&](const quorvel_interfaces::msg::Trash & trash, std::size_t item) {
    const auto & p = trash.grab_pose.position;
    const auto & g = items[item].grab;
    return trash.type == items[item].type &&
           std::hypot(p.x - g[0], p.y - g[1], p.z - g[2]) < kSameItem;
  };
  std::vector<std::optional<std::size_t>> of_reported(e.items.size());
  bool as_expected = e.items.size() == expected.size();
  for (std::size_t k = 0; as_expected && k < e.items.size(); ++k) {
    as_expected = matches(e.items[k], expected[k]);
    if (as_expected) {
      of_reported[k] = expected[k];
    }
  }
  if (!as_expected) {
    // An item that left the table and is reported again at its spot never moved: stuck.
    const std::set<std::size_t> present(expected.begin(), expected.end());
    for (std::size_t k = 0; k < e.items.size(); ++k) {
      for (std::size_t item = 0; item < items.size(); ++item) {
        if (present.count(item) == 0 && !items[item].stuck && matches(e.items[k], item)) {
          newly_stuck = item;
          const std::string & history = item_notes_[item];
          newly_stuck_note = "detected again at its spot by " + ref(events_[i]) +
                             " after it left the table (" +
                             history.substr(history.rfind(';') + 2) + ")";
          return;
        }
      }
    }
    std::string reported;
    for (const auto & trash : e.items) {
      const auto & p = trash.grab_pose.position;
      reported += (reported.empty() ? "" : ", ") + std::string("type ") +
                  std::to_string(static_cast<unsigned>(trash.type)) + " at (" + fixed(p.x, 3) +
                  ", " + fixed(p.y, 3) + ", " + fixed(p.z, 3) + ")";
    }
    std::string held;
    for (const std::size_t item : expected) {
      held += (held.empty() ? "" : ", ") + items[item].name;
    }
    problem(
        events_[i],
        "the detector reported " + std::to_string(e.items.size()) + " item(s) (" +
            (reported.empty() ? "none" : reported) + ") where the table holds " +
            std::to_string(expected.size()) + " (" + (held.empty() ? "none" : held) +
            "): items that appear, vanish or move between detections cannot be played");
    for (std::size_t k = 0; k < e.items.size(); ++k) {
      for (const std::size_t item : expected) {
        if (matches(e.items[k], item)) {
          of_reported[k] = item;
        }
      }
    }
  }
  for (std::size_t k = 0; k < e.items.size(); ++k) {
    if (of_reported[k]) {
      const auto & p = e.items[k].grab_pose.position;
      const auto & g = items[*of_reported[k]].grab;
      item_drift_[*of_reported[k]] =
          std::max(item_drift_[*of_reported[k]], std::hypot(p.x - g[0], p.y - g[1], p.z - g[2]));
    }
  }
  if (e.chosen_index >= 0 && static_cast<std::size_t>(e.chosen_index) < of_reported.size()) {
    chosen_ = of_reported[static_cast<std::size_t>(e.chosen_index)];
  }
}

void Deriver::on_motion_sent(std::size_t i)
{
  const TaskEvent & e = events_[i].event;
  const std::optional<Service> service = event_service(e.service);
  if (!service || *service == Service::kDetect) {
    problem(events_[i], "a motion of an unknown service '" + e.service + "': not played");
    return;
  }
  if (pending_motion_) {
    const Call & open = calls_[*pending_motion_];
    problem(
        events_[open.sent],
        call_text(open.service, open.number) +
            " was never answered; arm_sim answers every motion");
  }
  Call call;
  call.service = *service;
  call.number = ++counts_[*service];
  call.sent = i;
  calls_.push_back(call);
  by_call_[{call.service, call.number}] = calls_.size() - 1;
  pending_motion_ = calls_.size() - 1;
  if (*service == Service::kGrab) {
    table_.grab_started();
    grab_item_ = chosen_;
    if (!grab_item_ && table_built_) {
      const auto & p = e.target_position;
      grab_item_ = table_.item_at(p.x, p.y, p.z);
    }
  } else {
    table_.arm_moved_away();
  }
}

void Deriver::on_motion_answered(std::size_t i)
{
  const TaskEvent & e = events_[i].event;
  if (!pending_motion_) {
    problem(events_[i], "an answer whose request is not in the recording: not played");
    return;
  }
  Call & call = calls_[*pending_motion_];
  pending_motion_.reset();
  call.answered = i;
  const bool success = e.status == kArmSuccess;
  // arm_sim's own refusals: the arm did not move.
  call.refused = e.status == kStatusCommonFailure &&
                 (e.errmsg.rfind("busy", 0) == 0 || e.errmsg.rfind("arm abnormal", 0) == 0);
  switch (call.service) {
    case Service::kGrab:
      table_.grab_answered(grab_item_, success);
      break;
    case Service::kRelease:
      table_.release_answered(success);
      break;
    case Service::kMoveJoints:
      if (std::find(e.flags.begin(), e.flags.end(), "is_movejoints_need_to_recover_") !=
          e.flags.end()) {
        movejoints_flag_ = true;
      }
      break;
    case Service::kDetect:
      break;
  }
}

void Deriver::detection_faults()
{
  std::vector<double> latencies;
  for (const Call & call : calls_) {
    if (call.service == Service::kDetect && call.answered) {
      latencies.push_back(seconds(stamp_ns(events_[*call.answered]) - stamp_ns(events_[call.sent])));
    }
  }
  double latency = 0.0;
  if (!latencies.empty()) {
    latency = std::round(median(latencies) * 1000.0) / 1000.0;
    note(
        "detect_latency",
        "request to answer, the median of " + std::to_string(latencies.size()) +
            " detection(s) (" + fixed(*std::min_element(latencies.begin(), latencies.end()), 3) +
            " to " + fixed(*std::max_element(latencies.begin(), latencies.end()), 3) + " s)");
  } else {
    note("detect_latency", "no detection was answered in time");
  }
  out_.scene.detect_latency = std::max(0.0, latency);

  for (const Call & call : calls_) {
    if (call.service != Service::kDetect) {
      continue;
    }
    const RecordedEvent & asked = events_[call.sent];
    if (call.answered) {
      const TaskEvent & answer = events_[*call.answered].event;
      const double took = seconds(stamp_ns(events_[*call.answered]) - stamp_ns(asked));
      if (answer.status != kDetectOk) {
        Planned & p = on_call(call, call.sent);
        p.fault.status = answer.status;
        p.fault.errmsg = answer.errmsg;
        append_note(
            p, ref(events_[*call.answered]) + ": answered status " + std::to_string(answer.status) +
                   (answer.status == 0 ? " (detection failed)" : ""));
      }
      if (std::abs(took - out_.scene.detect_latency) > std::max(kSlowMotionMargin, 0.5 * out_.scene.detect_latency)) {
        Planned & p = on_call(call, call.sent);
        p.fault.latency = std::round(took * 1000.0) / 1000.0;
        append_note(p, ref(events_[*call.answered]) + ": answered after " + fixed(took, 3) + " s");
      }
    } else if (call.timed_out) {
      Planned & p = on_call(call, call.sent);
      const TaskEvent & timeout = events_[*call.timed_out].event;
      if (call.late) {
        const TaskEvent & late = events_[*call.late].event;
        const double took = seconds(stamp_ns(events_[*call.late]) - stamp_ns(asked));
        p.fault.latency = std::round(took * 1000.0) / 1000.0;
        if (late.status != kDetectOk) {
          p.fault.status = late.status;
        }
        append_note(
            p, ref(events_[*call.late]) + ": answered after " + fixed(took, 3) +
                   " s, past the " + fixed(timeout.seconds, 3) + " s limit (" +
                   ref(events_[*call.timed_out]) + ")");
      } else {
        p.fault.never_answer = true;
        append_note(
            p, ref(events_[*call.timed_out]) + ": no answer within " + fixed(timeout.seconds, 3) +
                   " s, none later in the recording");
      }
    }
  }
}

void Deriver::position_faults()
{
  for (std::size_t i = 0; i < events_.size(); ++i) {
    const TaskEvent & e = events_[i].event;
    if (e.kind != TaskEvent::RECOVERY_POSITION || e.outcome != "not reached") {
      continue;
    }
    const Call * move = nullptr;
    for (const Call & call : calls_) {
      if (call.service == Service::kMoveJoints && call.sent < i) {
        move = &call;
      }
    }
    if (move == nullptr || e.target_joints.size() < kJointCount) {
      continue;
    }
    if (e.current_joints.size() < kJointCount) {
      // Joint feedback cut short: played from the joint angles when they were recorded.
      if (!arm_.joints) {
        Planned & p = on_call(*move, move->sent);
        if (!p.fault.short_feedback) {
          ShortFeedbackFault cut;
          cut.values = e.current_joints.size();
          // Until the next check that saw five values.
          for (std::size_t j = i + 1; j < events_.size(); ++j) {
            const TaskEvent & later = events_[j].event;
            if (later.kind == TaskEvent::RECOVERY_POSITION &&
                later.current_joints.size() >= kJointCount) {
              const double gap = seconds(stamp_ns(events_[j]) - stamp_ns(events_[move->sent]));
              cut.seconds = std::max(0.01, gap - 0.05);
              break;
            }
          }
          p.fault.short_feedback = cut;
          append_note(
              p, ref(events_[i]) + ": " + e.target_name + " not reached, the joint feedback held " +
                     std::to_string(e.current_joints.size()) + " value(s)");
        }
      }
      continue;
    }
    bool first = true;
    for (std::size_t j = 0; j < kJointCount; ++j) {
      const double off = e.current_joints[j] - e.target_joints[j];
      if (!(std::abs(off) > kJointOff)) {
        continue;
      }
      const std::string text = ref(events_[i]) + ": " + e.target_name + " not reached, joint" +
                               std::to_string(j + 1) + " at " + rounded(e.current_joints[j], 6) +
                               " for " + rounded(e.target_joints[j], 6);
      // To the nanoradian: what the arm missed by, without the last bits of the subtraction.
      StopShortFault stop{j, std::round(std::abs(off) * 1e9) / 1e9};
      Planned * p = nullptr;
      if (first) {
        p = &on_call(*move, move->sent);
        if (p->fault.stop_short) {
          p = nullptr;
        }
      }
      if (p == nullptr) {
        Planned extra;
        extra.fault.service = move->service;
        extra.fault.call = move->number;
        extra.order = move->sent;
        extra.last_ref = ref(events_[move->sent]);
        planned_.push_back(extra);
        p = &planned_.back();
      }
      p->fault.stop_short = stop;
      append_note(*p, text);
      first = false;
    }
  }
}

void Deriver::abnormal_faults()
{
  if (arm_.arm_state) {
    abnormal_from_flag();
  } else {
    abnormal_from_waits();
  }
}

void Deriver::abnormal_from_flag()
{
  const auto & flags = *arm_.arm_state;
  const std::int64_t begin = task_.begin_ns;
  const std::int64_t end = task_.end_ns;
  // Episodes: from the first "abnormal" to the next "normal", in receive time.
  struct Episode
  {
    std::int64_t start = 0;
    std::int64_t start_id = 0;
    bool before_task = false;
    std::optional<std::int64_t> stop;
    std::int64_t stop_id = 0;
  };
  std::vector<Episode> episodes;
  std::optional<Episode> open;
  if (const auto last = last_at_or_before(flags, begin); last && flags[*last].value) {
    open = Episode{begin, flags[*last].id, true, std::nullopt, 0};
  }
  for (const auto & sample : flags) {
    if (sample.t <= begin || sample.t > end) {
      continue;
    }
    if (sample.value && !open) {
      open = Episode{sample.t, sample.id, false, std::nullopt, 0};
    } else if (!sample.value && open) {
      open->stop = sample.t;
      open->stop_id = sample.id;
      episodes.push_back(*open);
      open.reset();
    }
  }
  if (open) {
    episodes.push_back(*open);
  }

  const auto first = first_request();
  for (const Episode & episode : episodes) {
    // The call it comes with: the last one sent before it began.
    const Call * anchor = nullptr;
    for (const Call & call : calls_) {
      if (!episode.before_task && events_[call.sent].received_ns <= episode.start) {
        anchor = &call;
      }
    }
    std::int64_t anchor_t = first ? events_[*first].received_ns : begin;
    if (anchor != nullptr) {
      anchor_t = anchor->service == Service::kDetect || !anchor->answered
                     ? events_[anchor->sent].received_ns
                     : events_[*anchor->answered].received_ns;
    }
    Abnormality abnormal;
    std::string how;
    int recovers = 0;
    std::string counted_from;
    if (episode.stop) {
      if (arm_.recover) {
        for (const auto & message : *arm_.recover) {
          recovers += message.t >= episode.start && message.t <= *episode.stop ? 1 : 0;
        }
        counted_from = std::string(kRecoverTopic);
      } else {
        // Each wait sends its recover message a second before its event.
        for (const RecordedEvent & recorded : events_) {
          const std::int64_t sent = recorded.received_ns - kSecondNs - kSecondNs / 10;
          recovers += recorded.event.kind == TaskEvent::RECOVERY_ARM_ABNORMAL &&
                              sent >= episode.start && sent <= *episode.stop
                          ? 1
                          : 0;
        }
        counted_from = "the recovery's waits";
      }
    }
    const std::string began = episode.before_task
                                  ? std::string("abnormal when the task started (") +
                                        kArmStateTopic + " message " +
                                        std::to_string(episode.start_id) + ")"
                                  : std::string(kArmStateTopic) + " message " +
                                        std::to_string(episode.start_id) + ": abnormal";
    if (!episode.stop) {
      abnormal.kind = Abnormality::Kind::kForever;
      how = began + ", still so when the task ended";
    } else if (recovers > 0) {
      abnormal.kind = Abnormality::Kind::kUntilRecovers;
      abnormal.recovers = recovers;
      how = began + "; message " + std::to_string(episode.stop_id) + ": normal again, after " +
            std::to_string(recovers) + " recover message(s) (counted on " + counted_from + ")";
    } else {
      abnormal.kind = Abnormality::Kind::kFor;
      abnormal.seconds =
          std::max(0.01, std::round(seconds(*episode.stop - anchor_t) * 1000.0) / 1000.0);
      how = began + ", normal again by itself after " + fixed(seconds(*episode.stop - episode.start), 3) +
            " s (message " + std::to_string(episode.stop_id) + ")";
    }
    if (anchor != nullptr) {
      Planned & p = on_call(*anchor, anchor->sent);
      if (p.fault.abnormal) {
        Planned extra;
        extra.fault.service = anchor->service;
        extra.fault.call = anchor->number;
        extra.order = anchor->sent;
        extra.last_ref = ref(events_[anchor->sent]);
        extra.fault.abnormal = abnormal;
        extra.note = how;
        planned_.push_back(extra);
      } else {
        p.fault.abnormal = abnormal;
        append_note(p, how);
      }
    } else {
      Fault fault;
      fault.at = 0.0;
      fault.abnormal = abnormal;
      add_time_fault(fault, how, first ? *first : 0);
    }
    // arm_sim refuses every motion while the arm is abnormal.
    for (const Call & call : calls_) {
      const std::int64_t sent = events_[call.sent].received_ns;
      if (call.service == Service::kDetect || &call == anchor || !call.answered ||
          sent <= episode.start || (episode.stop && sent >= *episode.stop)) {
        continue;
      }
      const TaskEvent & answer = events_[*call.answered].event;
      if (answer.status != kStatusCommonFailure) {
        problem(
            events_[call.sent],
            call_text(call.service, call.number) + " was sent while the arm reported abnormal (" +
                began + ") and answered " + std::to_string(answer.status) +
                "; arm_sim refuses every motion while the arm is abnormal (" +
                std::to_string(kStatusCommonFailure) + ")");
      }
    }
  }
}

void Deriver::abnormal_from_waits()
{
  for (std::size_t i = 0; i < events_.size(); ++i) {
    if (events_[i].event.kind != TaskEvent::RECOVERY_ARM_ABNORMAL ||
        (i > 0 && events_[i - 1].event.kind == TaskEvent::RECOVERY_ARM_ABNORMAL)) {
      continue;
    }
    std::size_t last = i;
    while (last + 1 < events_.size() &&
           events_[last + 1].event.kind == TaskEvent::RECOVERY_ARM_ABNORMAL) {
      ++last;
    }
    const int waits = static_cast<int>(last - i + 1);
    const bool failed = last + 1 < events_.size() &&
                        events_[last + 1].event.kind == TaskEvent::RECOVERY_ENDED &&
                        events_[last + 1].event.outcome == "failed";
    Abnormality abnormal;
    std::string how = ref(events_[i]) + " to " + ref(events_[last]) + ": " +
                      std::to_string(waits) + " wait(s) for a normal arm";
    if (failed) {
      abnormal.kind = Abnormality::Kind::kForever;
      how += ", then the recovery gave up (" + ref(events_[last + 1]) + ")";
    } else {
      abnormal.kind = Abnormality::Kind::kUntilRecovers;
      abnormal.recovers = waits;
    }
    how += " (" + std::string(kArmStateTopic) + " was not recorded)";
    const Call * anchor = call_before(i);
    if (anchor != nullptr) {
      Planned & p = on_call(*anchor, anchor->sent);
      if (!p.fault.abnormal) {
        p.fault.abnormal = abnormal;
        append_note(p, how);
        continue;
      }
      Planned extra;
      extra.fault.service = anchor->service;
      extra.fault.call = anchor->number;
      extra.order = anchor->sent;
      extra.last_ref = ref(events_[anchor->sent]);
      extra.fault.abnormal = abnormal;
      extra.note = how;
      planned_.push_back(extra);
    } else {
      Fault fault;
      fault.at = 0.0;
      fault.abnormal = abnormal;
      add_time_fault(fault, how, i);
    }
  }
}

void Deriver::feedback_faults()
{
  if (!arm_.joints) {
    return;
  }
  const auto first = first_request();
  if (!first) {
    return;
  }
  const auto & samples = *arm_.joints;
  const std::int64_t zero = events_[*first].received_ns;
  std::size_t k = 0;
  while (k < samples.size()) {
    const std::size_t values = samples[k].value.size();
    if (values >= kJointCount) {
      ++k;
      continue;
    }
    const std::size_t start = k;
    while (k < samples.size() && samples[k].value.size() == values) {
      ++k;
    }
    const bool ends = k < samples.size();
    const std::int64_t stop = ends ? samples[k].t : task_.end_ns;
    if ((ends && stop <= zero) || samples[start].t > task_.end_ns) {
      continue;
    }
    Fault fault;
    fault.at = std::round(since_start(samples[start].t) * 1000.0) / 1000.0;
    ShortFeedbackFault cut;
    cut.values = values;
    std::string text = message_ref(kJointTopic, samples[start]) + ": " + std::to_string(values) +
                       " value(s)";
    if (ends && stop <= task_.end_ns) {
      const std::int64_t from = std::max(samples[start].t, zero);
      cut.seconds = std::max(0.01, std::round(seconds(stop - from) * 1000.0) / 1000.0);
      text += " until " + message_ref(kJointTopic, samples[k]);
    } else {
      text += " until the task ended";
    }
    fault.short_feedback = cut;
    // Placed among the faults by the event it comes before.
    std::size_t order = events_.size();
    for (std::size_t i = 0; i < events_.size(); ++i) {
      if (events_[i].received_ns >= samples[start].t) {
        order = i;
        break;
      }
    }
    add_time_fault(fault, text, order);
  }
}

void Deriver::env_faults()
{
  const auto first = first_request();
  for (const std::size_t h : held_) {
    const RecordedEvent & held = events_[h];
    std::optional<std::size_t> released;
    for (std::size_t j = h + 1; j < events_.size(); ++j) {
      if (events_[j].event.kind == TaskEvent::ENV_STOP_RELEASED) {
        released = j;
        break;
      }
    }
    if (released && events_[*released].event.outcome == "disabled") {
      problem(
          events_[*released],
          "the environment stop was switched off (/quorvel_topic/env_enable false); a scene "
          "cannot switch it off: the replay waits for the object to leave");
    }
    // Where the object stood, and when it left.
    const auto near = [this](const std::array<float, 2> & o) {
      return std::sqrt(o[0] * o[0] + o[1] * o[1]) < stop_distance_;
    };
    EnvObjectFault object;
    object.x = float_as_written(held.event.distance);
    object.y = 0.0;
    std::string where = ref(held) + ": an object at " + fixed(held.event.distance, 2);
    std::optional<std::int64_t> left;
    std::string left_text;
    if (arm_.environment) {
      const auto & samples = *arm_.environment;
      if (const auto at = last_at_or_before(samples, held.received_ns)) {
        for (std::size_t k = *at + 1; k-- > 0;) {
          const auto & objects = samples[k].value;
          const auto nearest = std::min_element(
              objects.begin(), objects.end(), [](const auto & a, const auto & b) {
                return std::hypot(a[0], a[1]) < std::hypot(b[0], b[1]);
              });
          if (nearest != objects.end() && near(*nearest)) {
            object.x = float_as_written((*nearest)[0]);
            object.y = float_as_written((*nearest)[1]);
            where += " (" + message_ref(kEnvTopic, samples[k]) + ")";
            break;
          }
        }
      }
      for (const auto & sample : samples) {
        if (sample.t > held.received_ns &&
            std::none_of(sample.value.begin(), sample.value.end(), near)) {
          left = sample.t;
          left_text = "gone by " + message_ref(kEnvTopic, sample);
          break;
        }
      }
    } else if (released) {
      left = std::max(held.received_ns + kSecondNs / 20, events_[*released].received_ns - kSecondNs / 2);
      left_text = "gone within the second before " + ref(events_[*released]);
    }
    // The object must come after the check before the stop and before the stop's own check: with
    // the call made in between, or, when there is none, in the middle of that stretch.
    const std::uint8_t before = h > 0 ? events_[h - 1].event.kind : TaskEvent::TASK_STARTED;
    const bool call_between =
        before == TaskEvent::MOTION_ANSWERED ||
        (before == TaskEvent::GRIPPER_OPENED && events_[h - 1].event.target_name != "release");
    const Call * anchor = call_between ? call_before(h) : nullptr;
    Fault fault;
    std::int64_t appear = 0;
    if (anchor != nullptr) {
      appear = events_[anchor->sent].received_ns;
    } else {
      std::size_t from = h > 0 ? h - 1 : 0;
      if (before == TaskEvent::RECOVERY_ARM_ABNORMAL || before == TaskEvent::RECOVERY_STARTED) {
        // The check before it came right after the answer that started the recovery.
        while (from > 0 && events_[from].event.kind != TaskEvent::MOTION_ANSWERED) {
          --from;
        }
      }
      appear = (events_[from].received_ns + held.received_ns) / 2;
      fault.at = std::round(since_start(appear) * 1000.0) / 1000.0;
    }
    if (left) {
      object.seconds = std::max(0.05, std::round(seconds(*left - appear) * 1000.0) / 1000.0);
      where += ", " + left_text;
    } else {
      where += ", still there when the task ended";
    }
    fault.env_object = object;
    if (anchor != nullptr) {
      // Its own fault: an object's time is no part of the call's other effects.
      Planned extra;
      extra.fault = fault;
      extra.fault.service = anchor->service;
      extra.fault.call = anchor->number;
      extra.order = anchor->sent;
      extra.last_ref = ref(events_[anchor->sent]);
      extra.note = where + "; appears with " + call_text(anchor->service, anchor->number);
      planned_.push_back(extra);
    } else if (first) {
      add_time_fault(fault, where + "; appears between the checks around " + ref(events_[h > 0 ? h - 1 : h]), h);
    } else {
      problem(held, "an environment stop in a task without a detection request: not played");
    }
  }
}

void Deriver::motion_faults()
{
  for (const Call & call : calls_) {
    if (call.service == Service::kDetect || !call.answered) {
      continue;
    }
    const TaskEvent & answer = events_[*call.answered].event;
    if (answer.status == kArmSuccess) {
      continue;
    }
    Planned & p = on_call(call, call.sent);
    p.fault.status = answer.status;
    p.fault.errmsg = answer.errmsg;
    std::string text = ref(events_[*call.answered]) + ": " + answer.service + " (" +
                       answer.target_name + ") answered " + std::to_string(answer.status);
    if (!answer.status_meaning.empty()) {
      text += " (" + answer.status_meaning + ")";
    }
    append_note(p, text);
  }
}

void Deriver::arm_values()
{
  Scene & scene = out_.scene;
  // Where the arm stood: the last five joint angles before the task, else the first in it.
  scene.start_joints = kShippedObserve;
  bool found = false;
  if (arm_.joints) {
    const auto & samples = *arm_.joints;
    std::optional<std::size_t> pick;
    for (std::size_t k = 0; k < samples.size(); ++k) {
      if (samples[k].value.size() < kJointCount) {
        continue;
      }
      if (samples[k].t <= task_.begin_ns || !pick) {
        pick = k;
      }
      if (samples[k].t > task_.begin_ns) {
        break;
      }
    }
    if (pick) {
      std::copy_n(samples[*pick].value.begin(), kJointCount, scene.start_joints.begin());
      note(
          "arm.start_joints",
          message_ref(kJointTopic, samples[*pick]) +
              (samples[*pick].t <= task_.begin_ns ? " (the last before the task started)"
                                                  : " (the first of the task)"));
      found = true;
    }
  }
  if (!found) {
    note("arm.start_joints", "no joint angles recorded: the shipped observe posture");
  }

  // The arm as arm_sim moves it, call by call, to tell how far each motion went.
  std::map<std::pair<Service, int>, std::vector<const Fault *>> stops;
  for (const Planned & p : planned_) {
    if (p.fault.service && p.fault.stop_short) {
      stops[{*p.fault.service, p.fault.call}].push_back(&p.fault);
    }
  }
  Joints at = scene.start_joints;
  struct Travel
  {
    const Call * call;
    double distance;
    double took;
  };
  std::vector<Travel> travels;
  std::vector<double> speeds;
  std::vector<std::pair<double, double>> timed;  // travel, time
  for (const Call & call : calls_) {
    if (call.service == Service::kDetect || !call.answered) {
      continue;
    }
    const TaskEvent & sent = events_[call.sent].event;
    std::optional<Joints> target;
    if (call.service == Service::kGrab) {
      target = grab_posture(sent.target_position.x, sent.target_position.y, sent.target_position.z);
    } else if (!joint_target_problem(sent.target_joints)) {
      target = to_joints(sent.target_joints);
    }
    if (!target || call.refused) {
      travels.push_back({&call, 0.0, 0.0});
      continue;
    }
    for (const Fault * stop : stops[{call.service, call.number}]) {
      *target = stop_short(at, *target, stop->stop_short->joint, stop->stop_short->by);
    }
    double distance = 0.0;
    for (std::size_t j = 0; j < kJointCount; ++j) {
      distance = std::max(distance, std::abs((*target)[j] - at[j]));
    }
    at = *target;
    const double took = seconds(stamp_ns(events_[*call.answered]) - stamp_ns(events_[call.sent]));
    travels.push_back({&call, distance, took});
    // Measured on the recorded joint angles where there are some, else on arm_sim's postures.
    double measured = distance;
    if (arm_.joints) {
      const auto & samples = *arm_.joints;
      const auto full_before = [&samples](std::int64_t t) -> std::optional<std::size_t> {
        for (auto k = last_at_or_before(samples, t); k; k = *k > 0 ? std::optional<std::size_t>(*k - 1) : std::nullopt) {
          if (samples[*k].value.size() >= kJointCount) {
            return k;
          }
        }
        return std::nullopt;
      };
      const auto from = full_before(events_[call.sent].received_ns);
      const auto to = full_before(events_[*call.answered].received_ns);
      if (from && to) {
        measured = 0.0;
        for (std::size_t j = 0; j < kJointCount; ++j) {
          measured = std::max(measured, std::abs(samples[*to].value[j] - samples[*from].value[j]));
        }
      }
    }
    if (measured >= 0.05 && took > 0.0 && events_[*call.answered].event.status == kArmSuccess) {
      speeds.push_back(measured / took);
      timed.push_back({measured, took});
    }
  }
  if (speeds.empty()) {
    scene.joint_speed = 2.0;
    note("arm.joint_speed", "no motion long enough to time: the shipped scenes' speed");
  } else if (const auto fitted = fit_speed(timed); fitted) {
    scene.joint_speed = significant(*fitted, 3);
    note(
        "arm.joint_speed",
        "rad/s, fitted to " + std::to_string(timed.size()) +
            " successful motions: time = farthest joint's travel / speed + the answer's delay");
  } else {
    scene.joint_speed = significant(median(speeds), 3);
    note(
        "arm.joint_speed",
        "rad/s, the median of " + std::to_string(speeds.size()) +
            " successful motion(s), each its farthest joint's travel over its time");
  }
  // A motion whose answer came much later than arm_sim's would keeps its own time.
  for (const Travel & travel : travels) {
    const double expected = travel.distance / scene.joint_speed;
    if (travel.took > expected + kSlowMotionMargin && travel.took > 1.25 * expected) {
      Planned & p = on_call(*travel.call, travel.call->sent);
      p.fault.latency = std::round(travel.took * 1000.0) / 1000.0;
      append_note(
          p, ref(events_[*travel.call->answered]) + ": answered after " + fixed(travel.took, 3) +
                 " s, arm_sim would take " + fixed(expected, 3) + " s");
    }
  }
}

void Deriver::supervisor_settings()
{
  const auto ms = [](double s) {
    const double rounded = std::round(s * 100.0) * 10.0;
    return static_cast<long long>(rounded < 5.0 ? 0.0 : rounded);
  };
  if (started_) {
    const RecordedEvent & start = events_[*started_];
    const double distance = start.event.distance;
    setting(
        "env_stop_threshold", distance - 0.5,
        ref(start) + ": objects nearer than " + number_text(distance) +
            " stop the arm (any value above " + number_text(distance - 1.0) + " and up to " +
            number_text(distance) + " does the same)");
  }
  for (std::size_t i = 0; i < events_.size(); ++i) {
    const TaskEvent & e = events_[i].event;
    switch (e.kind) {
      case TaskEvent::DETECT_REQUESTED:
        if (e.threshold > 0) {
          setting(
              "detect_frame_num", static_cast<long long>(e.threshold),
              ref(events_[i]) + ": " + std::to_string(e.threshold) + " request(s) per detection");
        }
        break;
      case TaskEvent::DETECT_TIMED_OUT:
        setting("detect_timeout_threshold", e.seconds, ref(events_[i]) + ": the limit that passed");
        break;
      case TaskEvent::RECOVERY_ARM_ABNORMAL:
        if (e.threshold > 0) {
          setting(
              "arm_recover_count_threshold", static_cast<long long>(e.threshold) - 1,
              ref(events_[i]) + ": at most " + std::to_string(e.threshold) + " waits");
        }
        break;
      case TaskEvent::RECOVERY_TIME_LIMIT:
        setting(
            "arm_movejoints_time_threshold", e.seconds, ref(events_[i]) + ": the limit that passed");
        break;
      case TaskEvent::SPOT_GIVEN_UP:
        setting(
            "grab_count_threshold", static_cast<long long>(e.count),
            ref(events_[i]) + ": given up on choice " + std::to_string(e.count));
        break;
      default:
        break;
    }
  }
  // Waits, measured between the events around them.
  struct Gap
  {
    const char * name;
    std::function<bool(const TaskEvent &)> from;
    std::function<bool(const TaskEvent &)> to;
    double minus;
  };
  const std::vector<Gap> gaps{
      {"init_detect_delay",
       [](const TaskEvent & e) { return e.kind == TaskEvent::TASK_STARTED; },
       [](const TaskEvent & e) { return e.kind == TaskEvent::DETECT_REQUESTED; }, 0.0},
      {"gripper_open_delay",
       [](const TaskEvent & e) {
         return e.kind == TaskEvent::GRIPPER_OPENED && e.target_name == "grab";
       },
       [](const TaskEvent & e) { return e.kind == TaskEvent::MOTION_SENT && e.service == "arm_grab"; },
       0.0},
      {"gripper_close_delay",
       [](const TaskEvent & e) { return e.kind == TaskEvent::GRIPPER_CLOSED; },
       [](const TaskEvent & e) {
         return e.kind == TaskEvent::MOTION_SENT && e.service == "arm_release";
       },
       0.0},
      {"gripper_release_delay",
       [](const TaskEvent & e) {
         return e.kind == TaskEvent::GRIPPER_OPENED && e.target_name == "release";
       },
       [](const TaskEvent & e) {
         return e.kind == TaskEvent::MOTION_SENT && e.target_name == "observe_joints";
       },
       0.0},
      {"arm_voice_broadcast_delay",
       [](const TaskEvent & e) { return e.kind == TaskEvent::RECOVERY_STARTED; },
       [](const TaskEvent & e) { return e.kind == TaskEvent::MOTION_SENT; }, 0.0},
      {"arm_voice_broadcast_delay",
       [](const TaskEvent & e) { return e.kind == TaskEvent::RECOVERY_STARTED; },
       [](const TaskEvent & e) { return e.kind == TaskEvent::RECOVERY_ARM_ABNORMAL; }, 1.0},
  };
  // A wait is a sleep: whatever else the gap holds (scheduling, a busy machine) only adds to it,
  // so the shortest gap is the best measure of the setting.
  struct Shortest
  {
    double seconds = 0.0;
    std::string pair;
    std::size_t count = 0;
  };
  std::map<std::string, Shortest> measured;
  for (const Gap & gap : gaps) {
    for (std::size_t i = 0; i + 1 < events_.size(); ++i) {
      if (gap.from(events_[i].event) && gap.to(events_[i + 1].event)) {
        const double took = seconds(stamp_ns(events_[i + 1]) - stamp_ns(events_[i])) - gap.minus;
        Shortest & m = measured[gap.name];
        if (m.count == 0 || took < m.seconds) {
          m.seconds = took;
          m.pair = ref(events_[i]) + " to " + ref(events_[i + 1]);
        }
        ++m.count;
      }
    }
  }
  for (const auto & [name, m] : measured) {
    setting(
        name, ms(m.seconds),
        "ms, measured: " + m.pair +
            (m.count > 1 ? ", the shortest of " + std::to_string(m.count) : ""));
  }
}

void Deriver::expectation()
{
  Expectation & expect = out_.scene.expect;
  if (ended_) {
    const RecordedEvent & end = events_[*ended_];
    expect.error_code = end.event.error_code;
    expect.unable_grab_trashes = end.event.items.size();
    note("expect.error_code", ref(end) + ": " + end.event.outcome);
    note("expect.unable_grab_trashes", ref(end));
  } else {
    note("expect.error_code", "the recording ends before the task does");
  }
  const std::int64_t from = task_.begin_ns;
  const std::int64_t until = task_.end_ns + kSecondNs / 5;
  if (arm_.voice) {
    std::vector<std::int32_t> codes;
    std::size_t count = 0;
    for (const auto & message : *arm_.voice) {
      if (message.t >= from && message.t <= until) {
        ++count;
        if (std::find(codes.begin(), codes.end(), message.value) == codes.end()) {
          codes.push_back(message.value);
        }
      }
    }
    std::sort(codes.begin(), codes.end());
    expect.voice = codes;
    note("expect.voice", std::string(kVoiceTopic) + ": " + std::to_string(count) + " announcement(s) during the task");
  }
  if (arm_.recover) {
    int count = 0;
    for (const auto & message : *arm_.recover) {
      count += message.t >= from && message.t <= until ? 1 : 0;
    }
    expect.recover_messages = count;
    note("expect.recover_messages", std::string(kRecoverTopic) + " during the task");
  }
  if (table_built_ || !events_.empty()) {
    expect.picked = static_cast<int>(table_.picked());
    expect.dropped = static_cast<int>(table_.dropped());
    const auto list = [](const std::vector<std::string> & refs) {
      std::string text;
      for (const std::string & r : refs) {
        text += (text.empty() ? "" : ", ") + r;
      }
      return text.empty() ? std::string("none") : text;
    };
    note("expect.picked", "the gripper let go over the bin after a good release: " + list(picked_refs_));
    note("expect.dropped", "the gripper let go after a failed release: " + list(dropped_refs_));
  }
}

std::vector<Fault> Deriver::finish_faults()
{
  std::stable_sort(planned_.begin(), planned_.end(), [](const Planned & a, const Planned & b) {
    return a.order < b.order;
  });
  // Consecutive calls of one service with the same effects become one fault with `times`.
  std::vector<Planned> merged;
  for (Planned & p : planned_) {
    if (!merged.empty()) {
      Planned & last = merged.back();
      if (last.fault.service && p.fault.service && *last.fault.service == *p.fault.service &&
          p.fault.call == last.fault.call + last.fault.times && same_effects(last.fault, p.fault)) {
        ++last.fault.times;
        last.last_ref = p.last_ref;
        continue;
      }
    }
    merged.push_back(p);
  }
  std::vector<Fault> faults;
  for (std::size_t i = 0; i < merged.size(); ++i) {
    Planned & p = merged[i];
    p.fault.number = i + 1;
    std::string text = p.note;
    if (p.fault.times > 1) {
      text += "; the same for the next " + std::to_string(p.fault.times - 1) +
              " call(s), to " + p.last_ref;
    }
    note("faults[" + std::to_string(i) + "]", text);
    faults.push_back(p.fault);
  }
  return faults;
}

void Deriver::header_lines()
{
  std::vector<std::string> & h = out_.header;
  std::string when;
  if (task_.start_stamp_ns) {
    const std::time_t start = static_cast<std::time_t>(*task_.start_stamp_ns / kSecondNs);
    std::tm local{};
    localtime_r(&start, &local);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    when = std::string(", started ") + text;
  }
  h.push_back(
      "Derived by quorvel scene from task " + std::to_string(source_.number) + " of " +
      std::to_string(source_.count) + " in bag '" + source_.bag + "' (goal " + task_.goal_id +
      when + ").");
  h.push_back(
      "Each derived line names the event (KIND #seq, as quorvel bag events lists them) or the");
  h.push_back("message (topic and row id in the bag) it comes from.");
  for (const std::string & text : arm_.notes) {
    h.push_back(text);
  }
  const std::pair<const char *, bool> topics[] = {
      {kArmStateTopic, arm_.arm_state.has_value()},
      {kJointTopic, arm_.joints.has_value()},
      {kEnvTopic, arm_.environment.has_value()},
      {kRecoverTopic, arm_.recover.has_value()},
      {kVoiceTopic, arm_.voice.has_value()},
  };
  for (const auto & [topic, recorded] : topics) {
    if (!recorded) {
      h.push_back(std::string(topic) + " was not recorded: what it would tell is taken from the events.");
    }
  }
  h.push_back("");
  std::string arguments;
  for (const SupervisorSetting & s : out_.scene.supervisor) {
    arguments += (arguments.empty() ? "" : " ") + std::string("-p ") + s.argument();
  }
  h.push_back("The supervisor's settings the recording shows (the supervisor: block below, which");
  h.push_back("scripts/demo --scene passes on); by hand, start arm_supervisor with");
  h.push_back("  --params-file <the shipped arm_supervisor_params.yaml> " + arguments);
  h.push_back("position_radius_threshold and angle_delta_threshold do not show in a recording: the");
  h.push_back("replay uses the parameter file's.");
  if (!out_.problems.empty()) {
    h.push_back("");
    h.push_back("Not played (the scene was written with --partial):");
    for (const std::string & text : out_.problems) {
      h.push_back("  - " + text);
    }
  }
}

DerivedScene Deriver::run()
{
  Scene & scene = out_.scene;
  scene.name = "derived";
  if (events_.empty()) {
    return out_;
  }
  walk();
  if (newly_stuck) {
    return out_;
  }
  if (!started_) {
    problem(
        events_.front(),
        "the recording holds the task from here on, without its TASK_STARTED: the calls made "
        "before are not in the bag, so the call numbers count from here");
  }
  if (task_.missing_events > 0) {
    problem(
        events_.back(),
        std::to_string(task_.missing_events) +
            " of the supervisor's events of this task are not in the bag (a gap in seq): calls "
            "among them are not counted");
  }
  if (!ended_) {
    problem(events_.back(), "the recording ends before the task does");
  } else if (events_[*ended_].event.outcome == "canceled") {
    problem(
        events_[*ended_],
        "the task was canceled; a scene cannot send a cancel request: the replay runs until "
        "the task ends by itself");
  }
  if (pending_motion_) {
    const Call & open = calls_[*pending_motion_];
    problem(
        events_[open.sent],
        call_text(open.service, open.number) +
            " was never answered; arm_sim answers every motion");
  }

  position_faults();
  detection_faults();
  motion_faults();
  abnormal_faults();
  feedback_faults();
  env_faults();
  arm_values();
  scene.faults = finish_faults();

  scene.items = table_.items();
  for (std::size_t k = 0; k < scene.items.size(); ++k) {
    std::string text = item_notes_[k];
    if (item_drift_[k] > 1e-9) {
      text += "; seen up to " + fixed(item_drift_[k], 4) + " from here in later detections";
    }
    note("table.items[" + std::to_string(k) + "]", text);
  }
  supervisor_settings();
  expectation();

  std::string outcome = ended_ ? events_[*ended_].event.outcome : std::string("unfinished");
  scene.description = "task " + std::to_string(source_.number) + " of bag '" + source_.bag +
                      "' (goal " + task_.goal_id.substr(0, 8) + "): " + outcome;
  if (ended_) {
    scene.description += ", error_code " + std::to_string(scene.expect.error_code) + ", " +
                         std::to_string(scene.expect.unable_grab_trashes) + " given up";
  }
  Origin origin;
  origin.bag = source_.bag;
  origin.task = static_cast<int>(source_.number);
  origin.goal = task_.goal_id;
  scene.origin = origin;
  note("origin", "replays compare with this task: quorvel bag compare");
  header_lines();
  return out_;
}

template <typename MessageT, typename Convert>
auto read_topic(
    const quorvel_bag::BagReader & reader,
    const char * name,
    const quorvel_bag::MessageFilter & range,
    ArmRecording & arm,
    Convert convert)
{
  using Value = decltype(convert(std::declval<const MessageT &>()));
  std::optional<std::vector<ArmRecording::Sample<Value>>> samples;
  const quorvel_bag::BagTopic * topic = reader.find_topic(name);
  if (topic == nullptr) {
    return samples;
  }
  const std::string wanted = rosidl_generator_traits::name<MessageT>();
  if (topic->type != wanted) {
    arm.notes.push_back(
        std::string(name) + " holds " + topic->type + ", not " + wanted + ": not read.");
    return samples;
  }
  quorvel_bag::MessageFilter filter = range;
  filter.topics = {name};
  samples.emplace();
  quorvel_bag::MessageCursor cursor = reader.messages(filter);
  quorvel_bag::BagMessage message;
  while (cursor.next(message)) {
    const MessageT decoded = quorvel_bag::decode<MessageT>(message, reader.label());
    samples->push_back({message.timestamp_ns, message.id, convert(decoded)});
  }
  return samples;
}

}  // namespace

ArmRecording read_arm_recording(
    const quorvel_bag::BagReader & reader,
    std::optional<std::int64_t> from_ns,
    std::optional<std::int64_t> until_ns)
{
  quorvel_bag::MessageFilter range;
  range.from_ns = from_ns;
  range.until_ns = until_ns;
  ArmRecording arm;
  arm.arm_state = read_topic<std_msgs::msg::Bool>(
      reader, kArmStateTopic, range, arm, [](const std_msgs::msg::Bool & m) { return m.data; });
  arm.joints = read_topic<sensor_msgs::msg::JointState>(
      reader, kJointTopic, range, arm,
      [](const sensor_msgs::msg::JointState & m) { return m.position; });
  arm.environment = read_topic<quorvel_protocol::msg::Trashes>(
      reader, kEnvTopic, range, arm, [](const quorvel_protocol::msg::Trashes & m) {
        ArmRecording::Objects objects;
        for (const auto & object : m.trashes) {
          objects.push_back({{object.x, object.y}});
        }
        return objects;
      });
  arm.recover = read_topic<std_msgs::msg::Bool>(
      reader, kRecoverTopic, range, arm, [](const std_msgs::msg::Bool & m) { return m.data; });
  arm.voice = read_topic<std_msgs::msg::Int32>(
      reader, kVoiceTopic, range, arm, [](const std_msgs::msg::Int32 & m) { return m.data; });
  return arm;
}

DerivedScene derive_scene(const TaskRecord & task, const ArmRecording & arm, const TaskSource & source)
{
  std::set<std::size_t> stuck;
  std::map<std::size_t, std::string> stuck_notes;
  while (true) {
    Deriver deriver(task, arm, source, stuck, stuck_notes);
    DerivedScene derived = deriver.run();
    if (!deriver.newly_stuck || stuck.count(*deriver.newly_stuck) != 0) {
      return derived;
    }
    stuck.insert(*deriver.newly_stuck);
    stuck_notes[*deriver.newly_stuck] = deriver.newly_stuck_note;
  }
}

}  // namespace quorvel_arm_sim

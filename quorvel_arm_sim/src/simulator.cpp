#include "quorvel_arm_sim/simulator.hpp"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <limits>
#include <sstream>

namespace quorvel_arm_sim
{

namespace
{

constexpr double kForever = std::numeric_limits<double>::infinity();

std::string fixed(double value, int decimals)
{
  std::ostringstream text;
  text << std::fixed << std::setprecision(decimals) << value;
  return text.str();
}

std::string position_text(double x, double y, double z)
{
  return "(" + fixed(x, 2) + ", " + fixed(y, 2) + ", " + fixed(z, 2) + ")";
}

std::string joints_text(const Joints & joints)
{
  std::ostringstream text;
  text << "[";
  for (std::size_t i = 0; i < joints.size(); ++i) {
    text << (i == 0 ? "" : ", ") << joints[i];
  }
  text << "]";
  return text.str();
}

std::string status_text(Service service, std::int32_t status)
{
  return std::to_string(status) + " (" + status_meaning(service, status) + ")";
}

std::string duration_text(const std::optional<double> & seconds)
{
  return seconds ? "for " + fixed(*seconds, 2) + " s" : "for good";
}

std::string abnormal_text(const Abnormality & detail)
{
  switch (detail.kind) {
    case Abnormality::Kind::kFor:
      return "for " + fixed(detail.seconds, 2) + " s";
    case Abnormality::Kind::kUntilRecovers:
      return "until " + std::to_string(detail.recovers) + " recover message" +
             (detail.recovers == 1 ? "" : "s");
    case Abnormality::Kind::kForever:
      return "for good";
  }
  return "";
}

}  // namespace

Simulator::Simulator(Scene scene, Chaos chaos)
    : scene_(std::move(scene)),
      chaos_(chaos),
      plan_(scene_.faults),
      table_(scene_.items, scene_.restock),
      joints_(scene_.start_joints)
{
}

void Simulator::detect_requested(double now, Ticket ticket)
{
  if (!task_start_) {
    task_start_ = now;
  }
  const FaultPlan::Call call = plan_.count_call(Service::kDetect);
  const std::string label = "detect #" + std::to_string(call.number);
  double latency = scene_.detect_latency;
  PendingDetect pending{ticket, label, 0.0, kDetectSuccess, ""};
  bool never = false;
  for (const Fault * fault : call.faults) {
    const std::string origin = "fault " + std::to_string(fault->number) + ": " + label;
    if (fault->never_answer) {
      never = true;
      event(origin + " is never answered");
    }
    if (fault->latency) {
      latency = *fault->latency;
      event(origin + " answers after " + fixed(latency, 2) + " s");
    }
    if (fault->status) {
      pending.status = *fault->status;
      pending.errmsg = fault->errmsg;
      event(origin + " answers status " + std::to_string(*fault->status));
    }
    // Detection has no answer that an arm fault could come with: it starts with the call.
    apply_effects(now, *fault, true);
  }
  if (never) {
    unanswered_.push_back(ticket);
    return;
  }
  pending.due = now + latency;
  event(label + ": received -> answering in " + fixed(latency, 2) + " s");
  // Answered in the order they fall due: a slow answer holds no later one up.
  const auto later = std::upper_bound(
      detections_.begin(), detections_.end(), pending.due, [](double due, const PendingDetect & p) {
        return due < p.due;
      });
  detections_.insert(later, pending);
}

void Simulator::grab_requested(double now, Ticket ticket, double x, double y, double z)
{
  const FaultPlan::Call call = plan_.count_call(Service::kGrab);
  const std::string label = "grab #" + std::to_string(call.number);
  const std::optional<std::size_t> item = table_.item_at(x, y, z);
  const std::string what = (item ? "item '" + table_.items()[*item].name + "'" : "nothing") +
                           " at " + position_text(x, y, z);
  const std::optional<Joints> posture = grab_posture(x, y, z);
  if (!posture) {
    refuse(
        ticket,
        Service::kGrab,
        label + ": " + what,
        kStatusGrabInvalidTarget,
        "invalid target: target_pose position is not a finite point");
    return;
  }
  const bool was_moving = moving();
  start_motion(now, ticket, Service::kGrab, call, label, what, *posture);
  if (!was_moving && moving()) {
    grab_item_ = item;
    table_.grab_started();
  }
}

void Simulator::joints_requested(
    double now, Ticket ticket, Service service, const std::vector<double> & target)
{
  const FaultPlan::Call call = plan_.count_call(service);
  const std::string label = std::string(service_name(service)) + " #" + std::to_string(call.number);
  if (const auto problem = joint_target_problem(target)) {
    refuse(
        ticket,
        service,
        label + ": " + std::to_string(target.size()) + " target values",
        service == Service::kRelease ? kStatusReleaseInvalidTarget : kStatusMoveJointsInvalidTarget,
        "invalid target: " + *problem);
    return;
  }
  const Joints joints = to_joints(target);
  const bool was_moving = moving();
  start_motion(now, ticket, service, call, label, "to " + joints_text(joints), joints);
  if (!was_moving && moving()) {
    table_.arm_moved_away();
  }
}

void Simulator::start_motion(
    double now,
    Ticket ticket,
    Service service,
    const FaultPlan::Call & call,
    const std::string & label,
    const std::string & what,
    Joints target)
{
  if (motion_ && motion_->answer_due(now)) {
    // Its answer is due and goes out before this request's.
    finish_motion();
  }
  const auto refused = [&](std::int32_t status, const std::string & why) {
    refuse(ticket, service, label + ": " + what, status, why);
    for (const Fault * fault : call.faults) {
      event(
          "fault " + std::to_string(fault->number) + " of " + label +
          " not played: the call was refused");
    }
  };
  if (motion_) {
    refused(
        kStatusCommonFailure,
        "busy: " + motion_->label + " is still moving (one motion at a time)");
    return;
  }
  if (abnormal(now)) {
    refused(kStatusCommonFailure, "arm abnormal: recover it first");
    return;
  }
  const Joints start = position(now);
  Motion motion{
      ticket,
      service,
      label,
      JointMotion(start, target, scene_.joint_speed, now),
      kStatusSuccess,
      "",
      {}};
  bool faulted = false;
  for (const Fault * fault : call.faults) {
    const std::string origin = "fault " + std::to_string(fault->number) + ": " + label;
    if (fault->status) {
      faulted = true;
      motion.status = *fault->status;
      motion.errmsg = fault->errmsg;
      event(origin + " will answer " + status_text(service, *fault->status));
    }
    if (fault->stop_short) {
      target = stop_short(start, target, fault->stop_short->joint, fault->stop_short->by);
      motion.motion = JointMotion(start, target, scene_.joint_speed, now);
      event(
          origin + ": joint" + std::to_string(fault->stop_short->joint + 1) + " stops " +
          fixed(fault->stop_short->by, 3) + " short of its target");
    }
    if (fault->latency) {
      motion.not_before = std::max(motion.not_before, now + *fault->latency);
      event(origin + " answers no sooner than " + fixed(*fault->latency, 2) + " s after the request");
    }
    if (fault->abnormal) {
      motion.abnormal_after.push_back(*fault->abnormal);
    }
    apply_effects(now, *fault, false);
  }
  if (!faulted) {
    if (const auto status = chaos_.draw(service)) {
      motion.status = *status;
      motion.errmsg = "chaos: random failure";
      event("chaos: " + label + " will answer " + status_text(service, *status));
    }
  }
  event(
      label + ": " + what + " -> moving, arrives in " +
      fixed(motion.motion.arrival_time() - now, 2) + " s");
  motion_ = std::move(motion);
}

void Simulator::refuse(
    Ticket ticket,
    Service service,
    const std::string & call,
    std::int32_t status,
    const std::string & why)
{
  event(call + " -> refused (" + why + "), answered " + status_text(service, status));
  ready_.push_back(Answer{ticket, service, status, why, {}});
}

void Simulator::finish_motion()
{
  Motion & motion = *motion_;
  joints_ = motion.motion.target();
  const bool success = motion.status == kStatusSuccess;
  switch (motion.service) {
    case Service::kGrab:
      table_.grab_answered(grab_item_, success);
      grab_item_.reset();
      break;
    case Service::kRelease:
      table_.release_answered(success);
      break;
    case Service::kMoveJoints:
    case Service::kDetect:
      break;
  }
  event(
      motion.label + ": arrived at " + joints_text(joints_) + " -> answered " +
      status_text(motion.service, motion.status));
  ready_.push_back(Answer{motion.ticket, motion.service, motion.status, motion.errmsg, {}});
  const double now = motion.answer_time();
  const std::string cause = "after " + motion.label;
  std::vector<Abnormality> abnormal = std::move(motion.abnormal_after);
  motion_.reset();
  for (const Abnormality & detail : abnormal) {
    start_abnormal(now, detail, cause);
  }
}

std::vector<Answer> Simulator::advance(double now)
{
  if (task_start_) {
    for (const Fault * fault : plan_.due(now - *task_start_)) {
      event(
          "fault " + std::to_string(fault->number) + ": at " + fixed(*fault->at, 2) +
          " s after the task started");
      apply_effects(now, *fault, true);
    }
  }
  while (!detections_.empty() && detections_.front().due <= now) {
    const PendingDetect pending = detections_.front();
    detections_.pop_front();
    Answer answer{pending.ticket, Service::kDetect, pending.status, pending.errmsg, {}};
    std::string names;
    if (pending.status != 0) {
      for (const std::size_t index : table_.detect()) {
        answer.items.push_back(table_.items()[index]);
        names += (names.empty() ? ": " : ", ") + table_.items()[index].name;
      }
    }
    event(
        pending.label + ": answered status " + std::to_string(pending.status) + " with " +
        std::to_string(answer.items.size()) + " item" + (answer.items.size() == 1 ? "" : "s") +
        names);
    if (table_.restocked()) {
      event("table restocked: " + std::to_string(table_.on_table()) + " items back");
    }
    ready_.push_back(std::move(answer));
  }
  if (motion_ && motion_->answer_due(now)) {
    finish_motion();
  }
  expire(now);
  std::vector<Answer> due;
  due.swap(ready_);
  return due;
}

std::vector<Ticket> Simulator::take_unanswered()
{
  std::vector<Ticket> tickets;
  tickets.swap(unanswered_);
  return tickets;
}

void Simulator::gripper_command(double now, const std::vector<std::int32_t> & data)
{
  (void)now;
  const bool well_formed = data.size() == 2 && data[0] == 100 && (data[1] == 0 || data[1] == 1);
  if (!well_formed) {
    std::string values;
    for (const std::int32_t value : data) {
      values += (values.empty() ? "" : ", ") + std::to_string(value);
    }
    event("gripper: ignored an unknown command [" + values + "]");
    return;
  }
  if (data[1] == 1) {
    event("gripper closes");
    table_.gripper_closed();
    return;
  }
  event("gripper opens");
  const std::optional<ItemEvent> happened = table_.gripper_opened();
  if (!happened) {
    return;
  }
  const std::string item = "item '" + table_.items()[happened->item].name + "'";
  const std::string left = " (" + std::to_string(table_.on_table()) + " left on the table)";
  switch (happened->fate) {
    case ItemFate::kPicked:
      event(item + " picked" + left);
      break;
    case ItemFate::kDropped:
      event(item + " dropped where the gripper opened, without a good release" + left);
      break;
    case ItemFate::kLeft:
      event(item + " left on the table: the gripper opened at the grab pose");
      break;
    case ItemFate::kStuck:
      event(item + " stays on the table: it is stuck");
      break;
  }
}

void Simulator::recover_message(double now)
{
  ++recover_messages_;
  std::string state = "arm normal";
  if (abnormal(now)) {
    state = "arm abnormal";
    int least = std::numeric_limits<int>::max();
    for (const Episode & episode : episodes_) {
      if (episode.detail.kind == Abnormality::Kind::kUntilRecovers) {
        const int seen = static_cast<int>(recover_messages_ - episode.recovers_at_start);
        least = std::min(least, std::max(0, episode.detail.recovers - seen));
      }
    }
    if (least != std::numeric_limits<int>::max()) {
      state += ", " + std::to_string(least) + " more to go";
    }
  }
  event("recover message #" + std::to_string(recover_messages_) + " counted (" + state + ")");
  expire(now);
}

void Simulator::apply_effects(double now, const Fault & fault, bool with_abnormal)
{
  const std::string origin = "fault " + std::to_string(fault.number);
  if (fault.env_object) {
    const EnvObjectFault & detail = *fault.env_object;
    env_.push_back(
        Env{EnvObject{detail.x, detail.y}, detail.seconds ? now + *detail.seconds : kForever});
    event(
        "environment: object at (" + fixed(detail.x, 2) + ", " + fixed(detail.y, 2) + "), " +
        fixed(std::hypot(detail.x, detail.y), 2) + " m away, appears " +
        duration_text(detail.seconds) + " (" + origin + ")");
  }
  if (fault.short_feedback) {
    const ShortFeedbackFault & detail = *fault.short_feedback;
    feedback_.push_back(Feedback{detail.values, detail.seconds ? now + *detail.seconds : kForever});
    event(
        origin + ": joint feedback cut to " + std::to_string(detail.values) + " values " +
        duration_text(detail.seconds));
  }
  if (fault.abnormal && with_abnormal) {
    start_abnormal(now, *fault.abnormal, origin);
  }
}

void Simulator::start_abnormal(double now, const Abnormality & detail, const std::string & cause)
{
  episodes_.push_back(Episode{detail, now, recover_messages_});
  event("arm abnormal " + abnormal_text(detail) + " (" + cause + ")");
  reported_abnormal_ = true;
}

bool Simulator::episode_over(const Episode & episode, double now) const
{
  switch (episode.detail.kind) {
    case Abnormality::Kind::kFor:
      return now >= episode.start + episode.detail.seconds;
    case Abnormality::Kind::kUntilRecovers:
      return recover_messages_ - episode.recovers_at_start >=
             static_cast<std::size_t>(episode.detail.recovers);
    case Abnormality::Kind::kForever:
      return false;
  }
  return true;
}

bool Simulator::abnormal(double now) const
{
  return std::any_of(episodes_.begin(), episodes_.end(), [this, now](const Episode & episode) {
    return !episode_over(episode, now);
  });
}

void Simulator::expire(double now)
{
  episodes_.erase(
      std::remove_if(
          episodes_.begin(),
          episodes_.end(),
          [this, now](const Episode & episode) { return episode_over(episode, now); }),
      episodes_.end());
  if (reported_abnormal_ && episodes_.empty()) {
    reported_abnormal_ = false;
    event("arm normal again");
  }
  const auto feedback_end = std::remove_if(
      feedback_.begin(), feedback_.end(), [now](const Feedback & f) { return f.until <= now; });
  if (feedback_end != feedback_.end()) {
    feedback_.erase(feedback_end, feedback_.end());
    if (feedback_.empty()) {
      event("joint feedback has all five values again");
    }
  }
  for (auto it = env_.begin(); it != env_.end();) {
    if (it->until <= now) {
      event(
          "environment: object at (" + fixed(it->object.x, 2) + ", " + fixed(it->object.y, 2) +
          ") leaves");
      it = env_.erase(it);
    } else {
      ++it;
    }
  }
}

Joints Simulator::position(double now) const
{
  return motion_ ? motion_->motion.position_at(now) : joints_;
}

std::vector<double> Simulator::joint_feedback(double now) const
{
  const Joints joints = position(now);
  std::size_t count = kJointCount;
  for (const Feedback & feedback : feedback_) {
    if (feedback.until > now) {
      count = std::min(count, feedback.values);
    }
  }
  return std::vector<double>(joints.begin(), joints.begin() + static_cast<std::ptrdiff_t>(count));
}

std::vector<EnvObject> Simulator::environment(double now) const
{
  std::vector<EnvObject> objects;
  for (const Env & env : env_) {
    if (env.until > now) {
      objects.push_back(env.object);
    }
  }
  return objects;
}

std::vector<std::string> Simulator::take_events()
{
  std::vector<std::string> events;
  events.swap(events_);
  return events;
}

}  // namespace quorvel_arm_sim

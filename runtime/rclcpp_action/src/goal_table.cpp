#include "rclcpp_action/detail/goal_table.hpp"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>

#include "rclcpp/logging.hpp"
#include "rclcpp_action/exceptions.hpp"

namespace rclcpp_action
{
namespace detail
{

using action_msgs::msg::GoalStatus;
using CancelResponse = action_msgs::srv::CancelGoal::Response;

struct GoalRecord
{
  explicit GoalRecord(const GoalUUID & id) : uuid(id) {}

  const GoalUUID uuid;
  // Everything below is guarded by the table's mutex.
  builtin_interfaces::msg::Time stamp;
  int8_t state = GoalStatus::STATUS_UNKNOWN;  // UNKNOWN while claimed and not yet accepted
  bool listed = false;
  std::shared_ptr<const void> result;
  GoalTable::TimePoint expiry = GoalTable::TimePoint::max();
  std::vector<rmw_request_id_t> waiting;
  std::weak_ptr<void> handle;
};

namespace
{

bool is_zero(const GoalUUID & uuid)
{
  return std::all_of(uuid.begin(), uuid.end(), [](uint8_t b) {return b == 0;});
}

bool is_zero(const builtin_interfaces::msg::Time & stamp)
{
  return stamp.sec == 0 && stamp.nanosec == 0;
}

bool not_after(const builtin_interfaces::msg::Time & a, const builtin_interfaces::msg::Time & b)
{
  return a.sec < b.sec || (a.sec == b.sec && a.nanosec <= b.nanosec);
}

GoalTable::TimePoint saturating_add(GoalTable::TimePoint t, std::chrono::nanoseconds d)
{
  if (d > GoalTable::TimePoint::max() - t) {
    return GoalTable::TimePoint::max();
  }
  return t + std::chrono::duration_cast<GoalTable::TimePoint::duration>(d);
}

}  // namespace

GoalTable::GoalTable(
  const rclcpp::Logger & logger, std::chrono::nanoseconds result_timeout, SteadyNow steady_now)
: logger_(logger), result_timeout_(result_timeout), steady_now_(std::move(steady_now))
{
  if (result_timeout_ < std::chrono::nanoseconds(0)) {
    throw std::invalid_argument("action server result_timeout must not be negative");
  }
  if (!steady_now_) {
    steady_now_ = []() {return std::chrono::steady_clock::now();};
  }
}

GoalTable::~GoalTable() = default;

void GoalTable::set_outputs(ResultSender send_result, StatusPublisher publish_status)
{
  std::lock_guard<std::mutex> out(output_mutex_);
  send_result_ = std::move(send_result);
  publish_status_ = std::move(publish_status);
}

std::shared_ptr<GoalRecord> GoalTable::reserve(const GoalUUID & uuid)
{
  Lock lock(mutex_);
  drop_expired(steady_now_());
  if (by_id_.count(uuid) != 0) {
    return nullptr;
  }
  auto goal = std::make_shared<GoalRecord>(uuid);
  by_id_.emplace(uuid, goal);
  return goal;
}

void GoalTable::release(const std::shared_ptr<GoalRecord> & goal)
{
  Lock lock(mutex_);
  if (goal->listed) {
    return;
  }
  auto it = by_id_.find(goal->uuid);
  if (it != by_id_.end() && it->second == goal) {
    by_id_.erase(it);
  }
  emit(lock, std::move(goal->waiting), GoalStatus::STATUS_UNKNOWN, nullptr, false);
}

void GoalTable::accept(
  const std::shared_ptr<GoalRecord> & goal, const builtin_interfaces::msg::Time & stamp,
  bool execute, std::weak_ptr<void> handle)
{
  Lock lock(mutex_);
  drop_expired(steady_now_());
  goal->stamp = stamp;
  goal->state = execute ? GoalStatus::STATUS_EXECUTING : GoalStatus::STATUS_ACCEPTED;
  goal->handle = std::move(handle);
  goal->listed = true;
  listed_.push_back(goal);
  emit(lock, {}, GoalStatus::STATUS_UNKNOWN, nullptr, true);
}

void GoalTable::request_result(const GoalUUID & uuid, const rmw_request_id_t & request_id)
{
  Lock lock(mutex_);
  drop_expired(steady_now_());
  auto it = by_id_.find(uuid);
  if (it == by_id_.end()) {
    emit(lock, {request_id}, GoalStatus::STATUS_UNKNOWN, nullptr, false);
    return;
  }
  GoalRecord & goal = *it->second;
  if (is_terminal_state(goal.state)) {
    const auto result = goal.result;
    emit(lock, {request_id}, goal.state, result, false);
    return;
  }
  goal.waiting.push_back(request_id);
}

int8_t GoalTable::select_for_cancel(
  const GoalInfo & request, std::vector<CancelCandidate> & candidates)
{
  const bool by_id = !is_zero(request.goal_id.uuid);
  const bool by_time = !is_zero(request.stamp);
  // Only handles that are still owned somewhere are taken, and each one taken is handed to the
  // caller: releasing the last reference here would run the handle's destructor, which needs
  // this lock.
  const auto take = [&candidates](const std::shared_ptr<GoalRecord> & goal) {
      auto handle = goal->handle.lock();
      if (!handle) {
        return false;
      }
      candidates.push_back(CancelCandidate{goal, std::move(handle)});
      return true;
    };

  Lock lock(mutex_);
  drop_expired(steady_now_());
  if (by_id && !by_time) {
    auto it = by_id_.find(request.goal_id.uuid);
    if (it == by_id_.end() || !it->second->listed) {
      return CancelResponse::ERROR_UNKNOWN_GOAL_ID;
    }
    if (!is_cancelable_state(it->second->state) || !take(it->second)) {
      return CancelResponse::ERROR_GOAL_TERMINATED;
    }
    return CancelResponse::ERROR_NONE;
  }
  for (const auto & goal : listed_) {
    if (!is_cancelable_state(goal->state)) {
      continue;
    }
    const bool named = by_id && goal->uuid == request.goal_id.uuid;
    if (!by_time || named || not_after(goal->stamp, request.stamp)) {
      take(goal);
    }
  }
  return CancelResponse::ERROR_NONE;
}

bool GoalTable::start_canceling(const std::shared_ptr<GoalRecord> & goal)
{
  Lock lock(mutex_);
  const int8_t next = transition(goal->state, GoalEvent::CancelGoal);
  if (next == GoalStatus::STATUS_UNKNOWN) {
    return false;
  }
  goal->state = next;
  return true;
}

CancelResponse GoalTable::finish_cancel(
  int8_t return_code, size_t candidates,
  const std::vector<std::shared_ptr<GoalRecord>> & canceling)
{
  CancelResponse response;
  response.return_code = return_code;
  if (candidates > 0 && canceling.empty()) {
    response.return_code = CancelResponse::ERROR_REJECTED;
  }
  Lock lock(mutex_);
  response.goals_canceling.reserve(canceling.size());
  for (const auto & goal : canceling) {
    GoalInfo info;
    info.goal_id.uuid = goal->uuid;
    info.stamp = goal->stamp;
    response.goals_canceling.push_back(info);
  }
  if (!canceling.empty()) {
    emit(lock, {}, GoalStatus::STATUS_UNKNOWN, nullptr, true);
  }
  return response;
}

void GoalTable::apply(
  const std::shared_ptr<GoalRecord> & goal, GoalEvent event, std::shared_ptr<const void> result)
{
  const auto now = steady_now_();
  Lock lock(mutex_);
  drop_expired(now);
  const int8_t from = goal->state;
  const int8_t to = transition(from, event);
  if (to == GoalStatus::STATUS_UNKNOWN || !goal->listed) {
    throw exceptions::InvalidGoalTransitionError(
      goal->uuid, from, event_name(event),
      "goal " + to_string(goal->uuid) + ": cannot " + event_name(event) + " while " +
      state_name(from) + " (allowed from " + allowed_from(event) + ")");
  }
  if (!is_terminal_state(to)) {
    goal->state = to;
    emit(lock, {}, to, nullptr, true);
    return;
  }
  finish(*goal, to, std::move(result), now);
  std::vector<rmw_request_id_t> waiting;
  waiting.swap(goal->waiting);
  const auto stored = goal->result;
  emit(lock, std::move(waiting), to, stored, true);
}

void GoalTable::abandon(const std::shared_ptr<GoalRecord> & goal) noexcept
{
  try {
    const auto now = steady_now_();
    Lock lock(mutex_);
    if (!goal->listed || !is_active_state(goal->state)) {
      return;
    }
    RCLCPP_WARN(
      logger_, "goal %s was dropped by its owner while %s: aborting it",
      to_string(goal->uuid).c_str(), state_name(goal->state));
    finish(*goal, GoalStatus::STATUS_ABORTED, nullptr, now);
    std::vector<rmw_request_id_t> waiting;
    waiting.swap(goal->waiting);
    emit(lock, std::move(waiting), GoalStatus::STATUS_ABORTED, nullptr, true);
  } catch (...) {
    // Runs from a destructor; whatever failed has been logged by the output layer.
  }
}

int8_t GoalTable::state_of(const std::shared_ptr<GoalRecord> & goal) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return goal->state;
}

const GoalUUID & GoalTable::id_of(const std::shared_ptr<GoalRecord> & goal)
{
  return goal->uuid;
}

action_msgs::msg::GoalStatusArray GoalTable::status()
{
  std::lock_guard<std::mutex> lock(mutex_);
  drop_expired(steady_now_());
  return status_locked();
}

size_t GoalTable::size()
{
  std::lock_guard<std::mutex> lock(mutex_);
  drop_expired(steady_now_());
  return listed_.size();
}

void GoalTable::finish(
  GoalRecord & goal, int8_t state, std::shared_ptr<const void> result, TimePoint now)
{
  goal.state = state;
  goal.result = std::move(result);
  goal.expiry = saturating_add(now, result_timeout_);
  next_expiry_ = std::min(next_expiry_, goal.expiry);
}

void GoalTable::drop_expired(TimePoint now)
{
  if (now <= next_expiry_) {
    return;
  }
  next_expiry_ = TimePoint::max();
  const auto expired = [this, now](const std::shared_ptr<GoalRecord> & goal) {
      if (!is_terminal_state(goal->state)) {
        return false;
      }
      if (now <= goal->expiry) {
        next_expiry_ = std::min(next_expiry_, goal->expiry);
        return false;
      }
      by_id_.erase(goal->uuid);
      return true;
    };
  listed_.erase(std::remove_if(listed_.begin(), listed_.end(), expired), listed_.end());
}

action_msgs::msg::GoalStatusArray GoalTable::status_locked() const
{
  action_msgs::msg::GoalStatusArray array;
  array.status_list.resize(listed_.size());
  for (size_t i = 0; i < listed_.size(); ++i) {
    auto & status = array.status_list[i];
    status.goal_info.goal_id.uuid = listed_[i]->uuid;
    status.goal_info.stamp = listed_[i]->stamp;
    status.status = listed_[i]->state;
  }
  return array;
}

void GoalTable::emit(
  Lock & lock, std::vector<rmw_request_id_t> waiting, int8_t status,
  const std::shared_ptr<const void> & result, bool publish)
{
  action_msgs::msg::GoalStatusArray array;
  if (publish) {
    array = status_locked();
  }
  std::lock_guard<std::mutex> out(output_mutex_);
  lock.unlock();
  if (send_result_) {
    for (const auto & request_id : waiting) {
      try {
        send_result_(request_id, status, result);
      } catch (const std::exception & e) {
        RCLCPP_WARN(logger_, "failed to send a goal result: %s", e.what());
      }
    }
  }
  if (publish && publish_status_) {
    try {
      publish_status_(array);
    } catch (const std::exception & e) {
      RCLCPP_WARN(logger_, "failed to publish the goal status array: %s", e.what());
    }
  }
}

}  // namespace detail
}  // namespace rclcpp_action

// The part of an action server that does not depend on the action type: which goals exist and in
// which state, their stored results, the result requests waiting for them, which goals a cancel
// request names, when finished goals expire, and the order in which results and status arrays
// leave the server.
#ifndef RCLCPP_ACTION__DETAIL__GOAL_TABLE_HPP_
#define RCLCPP_ACTION__DETAIL__GOAL_TABLE_HPP_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "action_msgs/msg/goal_status_array.hpp"
#include "action_msgs/srv/cancel_goal.hpp"
#include "builtin_interfaces/msg/time.hpp"
#include "rclcpp/logger.hpp"
#include "rclcpp_action/detail/goal_state_machine.hpp"
#include "rclcpp_action/types.hpp"
#include "rmw/types.h"

namespace rclcpp_action
{
namespace detail
{

/// One goal as the server knows it. Shared by the table and the goal's handle, so a handle stays
/// usable after its goal expired from the table. Its contents are the table's business.
struct GoalRecord;

/// Thread-safe: service callbacks on executor threads and goal handles on user threads call it
/// at once. It never calls user code. Calls that change what clients see send the consequences
/// (result replies, then the status array) before returning, in the order the changes were made.
class GoalTable
{
public:
  using TimePoint = std::chrono::steady_clock::time_point;
  using SteadyNow = std::function<TimePoint ()>;
  /// Answers one get_result request with a status and a result (null: a default result).
  using ResultSender = std::function<
    void (const rmw_request_id_t &, int8_t, const std::shared_ptr<const void> &)>;
  using StatusPublisher = std::function<void (const action_msgs::msg::GoalStatusArray &)>;

  struct CancelCandidate
  {
    std::shared_ptr<GoalRecord> goal;
    /// The goal's ServerGoalHandle, kept alive while its owner is asked.
    std::shared_ptr<void> handle;
  };

  /// `result_timeout` is how long a goal that reached a terminal state stays listed (and its
  /// result available); throws std::invalid_argument when negative. `steady_now` replaces the
  /// steady clock (tests).
  GoalTable(
    const rclcpp::Logger & logger, std::chrono::nanoseconds result_timeout,
    SteadyNow steady_now = SteadyNow());
  ~GoalTable();
  GoalTable(const GoalTable &) = delete;
  GoalTable & operator=(const GoalTable &) = delete;

  /// Where results and status arrays go; empty functions send nothing (a server that is gone).
  /// Waits for an output in progress to finish.
  void set_outputs(ResultSender send_result, StatusPublisher publish_status);
  const rclcpp::Logger & logger() const {return logger_;}

  /// Claims `uuid` for a goal request being decided, so that a second request with the same id
  /// is refused. Null when the id is known already.
  std::shared_ptr<GoalRecord> reserve(const GoalUUID & uuid);
  /// Gives a claim up (goal rejected). Result requests that came in meanwhile get STATUS_UNKNOWN.
  void release(const std::shared_ptr<GoalRecord> & goal);
  /// Makes a claimed goal known: stamped `stamp`, ACCEPTED (EXECUTING when `execute`), `handle`
  /// offered to cancel requests. Publishes the status array.
  void accept(
    const std::shared_ptr<GoalRecord> & goal, const builtin_interfaces::msg::Time & stamp,
    bool execute, std::weak_ptr<void> handle);

  /// A get_result request: answered now when the goal is terminal or unknown, otherwise when it
  /// reaches a terminal state. Any number may wait for one goal.
  void request_result(const GoalUUID & uuid, const rmw_request_id_t & request_id);

  /// The goals a cancel request names that can still be cancelled, with their handles, in
  /// acceptance order. Returns the return code as it stands before anyone is consulted:
  /// ERROR_NONE, ERROR_UNKNOWN_GOAL_ID or ERROR_GOAL_TERMINATED.
  int8_t select_for_cancel(const GoalInfo & request, std::vector<CancelCandidate> & candidates);
  /// Moves a goal whose cancellation was agreed to CANCELING. False, changing nothing, when it
  /// left the cancelable states meanwhile.
  bool start_canceling(const std::shared_ptr<GoalRecord> & goal);
  /// The reply to a cancel request that had `candidates` candidates, of which `canceling` were
  /// moved to CANCELING. Publishes the status array first when any were.
  action_msgs::srv::CancelGoal::Response finish_cancel(
    int8_t return_code, size_t candidates,
    const std::vector<std::shared_ptr<GoalRecord>> & canceling);

  /// A goal handle call. Throws exceptions::InvalidGoalTransitionError, changing nothing, when
  /// the goal's state does not allow `event`. On reaching a terminal state the result (null: a
  /// default result) is stored and every waiting result request answered; then the status array
  /// is published.
  void apply(
    const std::shared_ptr<GoalRecord> & goal, GoalEvent event,
    std::shared_ptr<const void> result = nullptr);
  /// The goal's handle is being destroyed: a goal still active ends ABORTED with a default
  /// result, as if abort() had been called. Never throws.
  void abandon(const std::shared_ptr<GoalRecord> & goal) noexcept;

  int8_t state_of(const std::shared_ptr<GoalRecord> & goal) const;
  static const GoalUUID & id_of(const std::shared_ptr<GoalRecord> & goal);

  /// The status array as it would be published now.
  action_msgs::msg::GoalStatusArray status();
  /// Goals listed, including finished ones not expired yet.
  size_t size();

private:
  using Lock = std::unique_lock<std::mutex>;

  void drop_expired(TimePoint now);
  void finish(GoalRecord & goal, int8_t state, std::shared_ptr<const void> result, TimePoint now);
  action_msgs::msg::GoalStatusArray status_locked() const;
  /// Sends `waiting` their result and, when `publish`, the status array as it is now. Takes the
  /// output lock before releasing `lock`, so outputs leave in the order the changes were made.
  void emit(
    Lock & lock, std::vector<rmw_request_id_t> waiting, int8_t status,
    const std::shared_ptr<const void> & result, bool publish);

  rclcpp::Logger logger_;
  const std::chrono::nanoseconds result_timeout_;
  SteadyNow steady_now_;

  mutable std::mutex mutex_;
  std::unordered_map<GoalUUID, std::shared_ptr<GoalRecord>> by_id_;  // claimed and listed
  std::vector<std::shared_ptr<GoalRecord>> listed_;  // acceptance order
  TimePoint next_expiry_ = TimePoint::max();

  std::mutex output_mutex_;  // taken before mutex_ is released; never the other way round
  ResultSender send_result_;
  StatusPublisher publish_status_;
};

}  // namespace detail
}  // namespace rclcpp_action

#endif  // RCLCPP_ACTION__DETAIL__GOAL_TABLE_HPP_

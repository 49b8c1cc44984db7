// Client goal handles: what an action client's user code holds for one goal the server accepted.
#ifndef RCLCPP_ACTION__CLIENT_GOAL_HANDLE_HPP_
#define RCLCPP_ACTION__CLIENT_GOAL_HANDLE_HPP_

#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <utility>

#include "action_msgs/msg/goal_status.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/time.hpp"
#include "rclcpp_action/detail/goal_state_machine.hpp"
#include "rclcpp_action/exceptions.hpp"
#include "rclcpp_action/types.hpp"

namespace rclcpp_action
{

/// How a goal ended, as its result reply says.
enum class ResultCode : int8_t
{
  UNKNOWN = action_msgs::msg::GoalStatus::STATUS_UNKNOWN,
  SUCCEEDED = action_msgs::msg::GoalStatus::STATUS_SUCCEEDED,
  CANCELED = action_msgs::msg::GoalStatus::STATUS_CANCELED,
  ABORTED = action_msgs::msg::GoalStatus::STATUS_ABORTED,
};

template<typename ActionT>
class Client;

/// A goal accepted by the server, created by Client::async_send_goal. Its status follows the
/// server's status topic and result reply. Thread-safe; the callbacks run on the executor
/// spinning the client, never with a lock held.
template<typename ActionT>
class ClientGoalHandle
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(ClientGoalHandle)

  struct WrappedResult
  {
    GoalUUID goal_id;
    /// UNKNOWN when the server no longer (or never) knew the goal.
    ResultCode code;
    typename ActionT::Result::SharedPtr result;
  };

  using Feedback = typename ActionT::Feedback;
  using Result = typename ActionT::Result;
  using FeedbackCallback = std::function<void (
        typename ClientGoalHandle<ActionT>::SharedPtr, const std::shared_ptr<const Feedback>)>;
  using ResultCallback = std::function<void (const WrappedResult & result)>;

  virtual ~ClientGoalHandle() = default;

  const GoalUUID & get_goal_id() const {return info_.goal_id.uuid;}

  /// The stamp of the server's accept reply (zero from Humble servers).
  rclcpp::Time get_goal_stamp() const {return rclcpp::Time(info_.stamp);}

  /// The last status heard for this goal (GoalStatus::STATUS_*), ACCEPTED at first.
  int8_t get_status()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
  }

  /// True when a feedback callback was given for this goal.
  bool is_feedback_aware()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<bool>(feedback_callback_);
  }

  /// True once the client asked the server for this goal's result.
  bool is_result_aware()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return is_result_aware_;
  }

private:
  friend class Client<ActionT>;

  ClientGoalHandle(
    const GoalInfo & info, FeedbackCallback feedback_callback, ResultCallback result_callback)
  : info_(info), result_future_(result_promise_.get_future()),
    feedback_callback_(std::move(feedback_callback)), result_callback_(std::move(result_callback))
  {}

  std::shared_future<WrappedResult> async_get_result()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (invalidation_) {
      std::rethrow_exception(invalidation_);
    }
    return result_future_;
  }

  /// Returns the previous awareness.
  bool set_result_awareness(bool aware)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool previous = is_result_aware_;
    is_result_aware_ = aware;
    return previous;
  }

  /// Replaces the result callback; when the result is already in, the new callback gets it at
  /// once (on the calling thread) rather than never.
  void set_result_callback(ResultCallback callback)
  {
    std::unique_lock<std::mutex> lock(mutex_);
    result_callback_ = callback;
    if (!has_result_ || invalidation_ || !callback) {
      return;
    }
    const WrappedResult result = result_future_.get();
    lock.unlock();
    callback(result);
  }

  void set_status(int8_t status)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Status arrays and the result reply travel separately; an array older than the result
    // must not make a finished goal look active again.
    if (!has_result_ && !detail::is_terminal_state(status_)) {
      status_ = status;
    }
  }

  void set_result(const WrappedResult & result)
  {
    ResultCallback callback;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (has_result_) {
        return;
      }
      has_result_ = true;
      status_ = static_cast<int8_t>(result.code);
      result_promise_.set_value(result);
      callback = result_callback_;
    }
    if (callback) {
      callback(result);
    }
  }

  /// The result can no longer arrive: its future reports `error` instead.
  void invalidate(const exceptions::UnawareGoalHandleError & error)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (has_result_) {
      return;
    }
    has_result_ = true;
    status_ = GoalStatus::STATUS_UNKNOWN;
    invalidation_ = std::make_exception_ptr(error);
    result_promise_.set_exception(invalidation_);
  }

  bool is_invalidated()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<bool>(invalidation_);
  }

  void call_feedback_callback(
    const typename ClientGoalHandle<ActionT>::SharedPtr & self,
    const std::shared_ptr<const Feedback> & feedback)
  {
    FeedbackCallback callback;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      callback = feedback_callback_;
    }
    if (callback) {
      callback(self, feedback);
    }
  }

  const GoalInfo info_;
  std::mutex mutex_;
  int8_t status_ = GoalStatus::STATUS_ACCEPTED;
  bool is_result_aware_ = false;
  bool has_result_ = false;
  std::exception_ptr invalidation_;
  std::promise<WrappedResult> result_promise_;
  const std::shared_future<WrappedResult> result_future_;
  FeedbackCallback feedback_callback_;
  ResultCallback result_callback_;
};

}  // namespace rclcpp_action

#endif  // RCLCPP_ACTION__CLIENT_GOAL_HANDLE_HPP_

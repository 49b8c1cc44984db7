// Server goal handles: what an action server's user code holds for one accepted goal, to report
// feedback and the outcome and to learn whether a client asked to cancel.
#ifndef RCLCPP_ACTION__SERVER_GOAL_HANDLE_HPP_
#define RCLCPP_ACTION__SERVER_GOAL_HANDLE_HPP_

#include <atomic>
#include <memory>
#include <utility>

#include "rclcpp/logger.hpp"
#include "rclcpp/logging.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/publisher.hpp"
#include "rclcpp_action/detail/goal_table.hpp"
#include "rclcpp_action/exceptions.hpp"
#include "rclcpp_action/types.hpp"

namespace rclcpp_action
{

template<typename ActionT>
class Server;

/// The part of a server goal handle that does not depend on the action type. Every member may be
/// called from any thread at any time (the executor handles cancel requests while the user's
/// task thread runs the goal); none blocks longer than it takes to send the consequences.
class ServerGoalHandleBase
{
public:
  ServerGoalHandleBase(const ServerGoalHandleBase &) = delete;
  ServerGoalHandleBase & operator=(const ServerGoalHandleBase &) = delete;

  /// True while a client's cancel request for this goal is accepted and the goal has not ended.
  bool is_canceling() const;
  /// True until the goal reaches a terminal state (SUCCEEDED, CANCELED, ABORTED).
  bool is_active() const;
  /// True while the goal is EXECUTING (not ACCEPTED-and-deferred, not CANCELING).
  bool is_executing() const;

  /// A goal that is still active when its last handle goes away ends ABORTED with a default
  /// result: the code that ran it is gone and cannot report anything better.
  virtual ~ServerGoalHandleBase();

protected:
  ServerGoalHandleBase(
    std::shared_ptr<detail::GoalTable> table, std::shared_ptr<detail::GoalRecord> goal);

  /// State changes; each throws exceptions::InvalidGoalTransitionError, changing nothing, when
  /// the goal's state does not allow it.
  void _execute();
  void _succeed(std::shared_ptr<const void> result);
  void _abort(std::shared_ptr<const void> result);
  void _canceled(std::shared_ptr<const void> result);

  const GoalUUID & uuid() const {return detail::GoalTable::id_of(goal_);}
  const rclcpp::Logger & logger() const {return table_->logger();}

private:
  int8_t state() const {return table_->state_of(goal_);}

  std::shared_ptr<detail::GoalTable> table_;
  std::shared_ptr<detail::GoalRecord> goal_;
};

/// A goal accepted by a Server<ActionT>, handed to the server's handle_accepted and
/// handle_cancel callbacks. Thread-safe; it keeps working (without sending anything) after its
/// server is destroyed.
template<typename ActionT>
class ServerGoalHandle : public ServerGoalHandleBase
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(ServerGoalHandle)

  /// Publishes feedback for this goal on the action's feedback topic, whatever the goal's state.
  /// Non-blocking. A failure to publish (e.g. after shutdown) is logged once and ignored.
  void publish_feedback(std::shared_ptr<typename ActionT::Feedback> feedback_msg)
  {
    auto publisher = feedback_publisher_.lock();
    if (!publisher || !feedback_msg) {
      return;
    }
    typename ActionT::Impl::FeedbackMessage message;
    message.goal_id.uuid = uuid();
    message.feedback = *feedback_msg;
    try {
      publisher->publish(message);
    } catch (const std::exception & e) {
      if (!feedback_failed_.exchange(true)) {
        RCLCPP_WARN(
          logger(), "goal %s: feedback not published: %s", to_string(uuid()).c_str(), e.what());
      }
    }
  }

  /// Ends the goal ABORTED with `result_msg` (null: a default result), sent to every client
  /// waiting for it, then publishes the status. Allowed while EXECUTING or CANCELING; otherwise
  /// throws exceptions::InvalidGoalTransitionError and changes nothing.
  void abort(typename ActionT::Result::SharedPtr result_msg)
  {
    _abort(copy(result_msg));
  }

  /// As abort(), ending the goal SUCCEEDED.
  void succeed(typename ActionT::Result::SharedPtr result_msg)
  {
    _succeed(copy(result_msg));
  }

  /// As abort(), ending the goal CANCELED. Allowed only while CANCELING (after the server's
  /// handle_cancel accepted a cancel request).
  void canceled(typename ActionT::Result::SharedPtr result_msg)
  {
    _canceled(copy(result_msg));
  }

  /// Starts a goal accepted with ACCEPT_AND_DEFER (ACCEPTED -> EXECUTING) and publishes the
  /// status. Throws exceptions::InvalidGoalTransitionError in any other state.
  void execute()
  {
    _execute();
  }

  /// The goal as the client sent it.
  const std::shared_ptr<const typename ActionT::Goal> get_goal() const {return goal_msg_;}

  const GoalUUID & get_goal_id() const {return uuid();}

  ~ServerGoalHandle() override = default;

private:
  friend class Server<ActionT>;

  using FeedbackPublisher = rclcpp::Publisher<typename ActionT::Impl::FeedbackMessage>;

  ServerGoalHandle(
    std::shared_ptr<detail::GoalTable> table, std::shared_ptr<detail::GoalRecord> goal,
    std::shared_ptr<const typename ActionT::Goal> goal_msg,
    std::weak_ptr<FeedbackPublisher> feedback_publisher)
  : ServerGoalHandleBase(std::move(table), std::move(goal)), goal_msg_(std::move(goal_msg)),
    feedback_publisher_(std::move(feedback_publisher))
  {}

  // The caller may go on using its result object, so the server keeps its own copy.
  static std::shared_ptr<const void> copy(const typename ActionT::Result::SharedPtr & result)
  {
    if (!result) {
      return nullptr;
    }
    return std::make_shared<const typename ActionT::Result>(*result);
  }

  const std::shared_ptr<const typename ActionT::Goal> goal_msg_;
  const std::weak_ptr<FeedbackPublisher> feedback_publisher_;
  std::atomic_bool feedback_failed_{false};
};

}  // namespace rclcpp_action

#endif  // RCLCPP_ACTION__SERVER_GOAL_HANDLE_HPP_

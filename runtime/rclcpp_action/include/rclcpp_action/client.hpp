// Action clients: send goals to an action server, follow their feedback and status, fetch their
// results and ask to cancel them. Built from three service clients (send_goal, cancel_goal,
// get_result) and two subscriptions (feedback, status) under "<action>/_action/".
#ifndef RCLCPP_ACTION__CLIENT_HPP_
#define RCLCPP_ACTION__CLIENT_HPP_

#include <chrono>
#include <cstdint>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/client.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/logger.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/subscription.hpp"
#include "rclcpp/subscription_options.hpp"
#include "rclcpp/time.hpp"
#include "rclcpp_action/client_goal_handle.hpp"
#include "rclcpp_action/exceptions.hpp"
#include "rclcpp_action/types.hpp"

namespace rclcpp_action
{

/// The part of an action client that does not depend on the action type.
class ClientBase : public std::enable_shared_from_this<ClientBase>
{
public:
  ClientBase(const ClientBase &) = delete;
  ClientBase & operator=(const ClientBase &) = delete;
  virtual ~ClientBase();

  /// True when the server's three services are matched in both directions and a publisher is
  /// matched on each of its feedback and status topics. Non-blocking; any thread.
  bool action_server_is_ready() const;

  /// Blocks until action_server_is_ready(), the timeout passes (negative: no limit) or the
  /// context shuts down; returns action_server_is_ready(). Needs no spinning; any thread.
  template<typename RepT = int64_t, typename RatioT = std::milli>
  bool wait_for_action_server(
    std::chrono::duration<RepT, RatioT> timeout = std::chrono::duration<RepT, RatioT>(-1))
  {
    return wait_for_action_server_nanoseconds(
      std::chrono::duration_cast<std::chrono::nanoseconds>(timeout));
  }

protected:
  explicit ClientBase(rclcpp::Node & node);

  /// Hands over the entities (once, from the constructor of the typed client).
  void set_entities(
    std::shared_ptr<rclcpp::ClientBase> goal_client,
    std::shared_ptr<rclcpp::ClientBase> cancel_client,
    std::shared_ptr<rclcpp::ClientBase> result_client,
    std::shared_ptr<rclcpp::SubscriptionBase> feedback_subscription,
    std::shared_ptr<rclcpp::SubscriptionBase> status_subscription);

  /// 16 random bytes for a new goal. Thread-safe.
  GoalUUID generate_goal_id();

  const rclcpp::Logger & get_logger() const {return logger_;}

private:
  bool wait_for_action_server_nanoseconds(std::chrono::nanoseconds timeout);

  rclcpp::Logger logger_;
  rclcpp::Context::SharedPtr context_;
  std::vector<std::shared_ptr<rclcpp::ClientBase>> service_clients_;
  std::vector<std::shared_ptr<rclcpp::SubscriptionBase>> subscriptions_;
  std::mutex random_mutex_;
  std::mt19937_64 random_;
};

/// An action client for ActionT. Create it with create_client(). Every member may be called from
/// any thread; the callbacks given to it run on the executor spinning the client's callback
/// group. Goals are sent only after wait_for_action_server() (or the request may go unheard).
template<typename ActionT>
class Client : public ClientBase
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(Client)

  using Goal = typename ActionT::Goal;
  using Feedback = typename ActionT::Feedback;
  using GoalHandle = ClientGoalHandle<ActionT>;
  using WrappedResult = typename GoalHandle::WrappedResult;
  using GoalResponseCallback = std::function<void (typename GoalHandle::SharedPtr)>;
  using FeedbackCallback = typename GoalHandle::FeedbackCallback;
  using ResultCallback = typename GoalHandle::ResultCallback;
  using CancelRequest = typename ActionT::Impl::CancelGoalService::Request;
  using CancelResponse = typename ActionT::Impl::CancelGoalService::Response;
  using CancelCallback = std::function<void (typename CancelResponse::SharedPtr)>;

  struct SendGoalOptions
  {
    SendGoalOptions()
    : goal_response_callback(nullptr), feedback_callback(nullptr), result_callback(nullptr) {}

    /// Gets the new goal handle, or nullptr when the server rejected the goal.
    GoalResponseCallback goal_response_callback;
    /// Gets each feedback message for the goal.
    FeedbackCallback feedback_callback;
    /// Gets the result; giving one makes the client request the result as soon as the goal is
    /// accepted.
    ResultCallback result_callback;
  };

  /// Creates the client's service clients and subscriptions on `node`, in `group` (null: the
  /// node's default group). Throws what rclcpp throws for an invalid name.
  Client(
    rclcpp::Node & node, const std::string & action_name,
    const rcl_action_client_options_t & options = rcl_action_client_get_default_options(),
    rclcpp::CallbackGroup::SharedPtr group = nullptr)
  : ClientBase(node), goals_(std::make_shared<Goals>())
  {
    const std::string prefix = action_name + "/_action/";
    rclcpp::SubscriptionOptions subscription_options;
    subscription_options.callback_group = group;
    // The subscriptions are created first: a server that has matched this client's service
    // endpoints has then matched its feedback reader too, so feedback for an accepted goal
    // is not lost to discovery.
    feedback_subscription_ = node.create_subscription<FeedbackMessage>(
      prefix + "feedback",
      rclcpp::QoS(rclcpp::QoSInitialization::from_rmw(options.feedback_topic_qos),
      options.feedback_topic_qos),
      [goals = std::weak_ptr<Goals>(goals_)](std::shared_ptr<FeedbackMessage> message) {
        if (auto registry = goals.lock()) {
          registry->on_feedback(std::move(message));
        }
      },
      subscription_options);
    status_subscription_ = node.create_subscription<GoalStatusArray>(
      prefix + "status",
      rclcpp::QoS(rclcpp::QoSInitialization::from_rmw(options.status_topic_qos),
      options.status_topic_qos),
      [goals = std::weak_ptr<Goals>(goals_)](std::shared_ptr<GoalStatusArray> message) {
        if (auto registry = goals.lock()) {
          registry->on_status(std::move(message));
        }
      },
      subscription_options);
    goal_client_ = node.create_client<SendGoalService>(
      prefix + "send_goal", options.goal_service_qos, group);
    result_client_ = node.create_client<GetResultService>(
      prefix + "get_result", options.result_service_qos, group);
    cancel_client_ = node.create_client<CancelGoalService>(
      prefix + "cancel_goal", options.cancel_service_qos, group);
    set_entities(
      goal_client_, cancel_client_, result_client_, feedback_subscription_, status_subscription_);
  }

  /// Sends a goal with a fresh id. The future (and options.goal_response_callback) gets the goal
  /// handle once the server accepted, or nullptr when it rejected. Non-blocking; throws
  /// rclcpp::exceptions::RCLError when the request cannot be sent.
  std::shared_future<typename GoalHandle::SharedPtr> async_send_goal(
    const Goal & goal, const SendGoalOptions & options = SendGoalOptions())
  {
    auto request = std::make_shared<typename SendGoalService::Request>();
    request->goal_id.uuid = generate_goal_id();
    request->goal = goal;
    auto promise = std::make_shared<std::promise<typename GoalHandle::SharedPtr>>();
    std::shared_future<typename GoalHandle::SharedPtr> future(promise->get_future());
    goals_->expect(request->goal_id.uuid);
    goal_client_->async_send_request(
      request,
      [weak_self = weak_from_this(), promise, options, uuid = request->goal_id.uuid](
        typename rclcpp::Client<SendGoalService>::SharedFuture response_future)
      {
        const auto response = response_future.get();
        auto self = std::static_pointer_cast<Client>(weak_self.lock());
        if (!response->accepted) {
          if (self) {
            self->goals_->forget_expected(uuid);
          }
          promise->set_value(nullptr);
          if (options.goal_response_callback) {
            options.goal_response_callback(nullptr);
          }
          return;
        }
        GoalInfo info;
        info.goal_id.uuid = uuid;
        info.stamp = response->stamp;
        typename GoalHandle::SharedPtr handle(
          new GoalHandle(info, options.feedback_callback, options.result_callback));
        if (self) {
          self->goals_->add(handle);
        }
        // Result-aware before anyone sees the handle; the request itself goes out after the
        // goal response callback, so that callback always runs before the result callback.
        const bool request_result = self && options.result_callback &&
          !handle->set_result_awareness(true);
        promise->set_value(handle);
        if (options.goal_response_callback) {
          options.goal_response_callback(handle);
        }
        if (self) {
          self->goals_->deliver_early_feedback(handle);
        }
        if (request_result) {
          self->send_result_request(handle);
        }
      });
    return future;
  }

  /// Asks the server for the goal's result, unless already asked; `result_callback` (if given)
  /// replaces the handle's result callback, and is called at once when the result is already
  /// in. A goal that finished earlier still gets its result while the server keeps it. Throws
  /// exceptions::UnknownGoalHandleError for a handle this client did not create.
  std::shared_future<WrappedResult> async_get_result(
    typename GoalHandle::SharedPtr goal_handle, ResultCallback result_callback = nullptr)
  {
    if (!goals_->contains(goal_handle->get_goal_id())) {
      throw exceptions::UnknownGoalHandleError();
    }
    auto future = goal_handle->async_get_result();
    if (result_callback) {
      goal_handle->set_result_callback(std::move(result_callback));
    }
    make_result_aware(goal_handle);
    return future;
  }

  /// Asks the server to cancel one goal. The future (and `cancel_callback`) gets the server's
  /// reply. Throws exceptions::UnknownGoalHandleError for a handle this client did not create.
  std::shared_future<typename CancelResponse::SharedPtr> async_cancel_goal(
    typename GoalHandle::SharedPtr goal_handle, CancelCallback cancel_callback = nullptr)
  {
    if (!goals_->contains(goal_handle->get_goal_id())) {
      throw exceptions::UnknownGoalHandleError();
    }
    auto request = std::make_shared<CancelRequest>();
    request->goal_info.goal_id.uuid = goal_handle->get_goal_id();
    return async_cancel(std::move(request), std::move(cancel_callback));
  }

  /// Asks the server to cancel every goal it runs, from any client.
  std::shared_future<typename CancelResponse::SharedPtr> async_cancel_all_goals(
    CancelCallback cancel_callback = nullptr)
  {
    return async_cancel(std::make_shared<CancelRequest>(), std::move(cancel_callback));
  }

  /// Asks the server to cancel every goal it accepted at or before `stamp`, from any client.
  std::shared_future<typename CancelResponse::SharedPtr> async_cancel_goals_before(
    const rclcpp::Time & stamp, CancelCallback cancel_callback = nullptr)
  {
    auto request = std::make_shared<CancelRequest>();
    request->goal_info.stamp = stamp;
    return async_cancel(std::move(request), std::move(cancel_callback));
  }

  /// Result futures of goals still waiting for their result report
  /// exceptions::UnawareGoalHandleError from now on.
  ~Client() override
  {
    goals_->invalidate_all();
  }

private:
  using SendGoalService = typename ActionT::Impl::SendGoalService;
  using GetResultService = typename ActionT::Impl::GetResultService;
  using CancelGoalService = typename ActionT::Impl::CancelGoalService;
  using FeedbackMessage = typename ActionT::Impl::FeedbackMessage;
  using GoalStatusArray = typename ActionT::Impl::GoalStatusMessage;

  /// The goals this client tracks, by id. Shared with the subscription callbacks, which may
  /// still run while the client is being destroyed. Handles are held weakly, and only dropping
  /// one ends its tracking (a pending result request keeps its handle alive until answered):
  /// feedback travels apart from the result reply and may be taken after it, and is still
  /// delivered then.
  class Goals
  {
  public:
    void add(const typename GoalHandle::SharedPtr & handle)
    {
      std::shared_ptr<const GoalStatusArray> last_status;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (goals_.size() >= next_sweep_) {
          for (auto it = goals_.begin(); it != goals_.end(); ) {
            it = it->second.expired() ? goals_.erase(it) : std::next(it);
          }
          next_sweep_ = 2 * goals_.size() + 16;
        }
        goals_[handle->get_goal_id()] = handle;
        last_status = last_status_;
      }
      // The server announces a goal right after accepting it and may finish it at once; those
      // status arrays can be taken before the accept reply, when no handle could match them.
      if (last_status) {
        for (const auto & status : last_status->status_list) {
          if (status.goal_info.goal_id.uuid == handle->get_goal_id()) {
            handle->set_status(status.status);
          }
        }
      }
    }

    bool contains(const GoalUUID & uuid)
    {
      std::lock_guard<std::mutex> lock(mutex_);
      return goals_.count(uuid) != 0;
    }

    /// A goal was sent: its feedback may be taken before the accept reply (they travel on
    /// different topics), so it is kept until the handle exists instead of being lost.
    void expect(const GoalUUID & uuid)
    {
      std::lock_guard<std::mutex> lock(mutex_);
      early_feedback_[uuid];
    }

    void forget_expected(const GoalUUID & uuid)
    {
      std::lock_guard<std::mutex> lock(mutex_);
      early_feedback_.erase(uuid);
    }

    /// Hands the feedback kept for the goal to its handle, in arrival order, and stops keeping.
    void deliver_early_feedback(const typename GoalHandle::SharedPtr & handle)
    {
      while (true) {
        std::vector<std::shared_ptr<FeedbackMessage>> kept;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          auto it = early_feedback_.find(handle->get_goal_id());
          if (it == early_feedback_.end()) {
            return;
          }
          if (it->second.empty()) {
            early_feedback_.erase(it);
            return;
          }
          kept.swap(it->second);
        }
        for (auto & message : kept) {
          handle->call_feedback_callback(
            handle, std::shared_ptr<const Feedback>(message, &message->feedback));
        }
      }
    }

    void on_feedback(std::shared_ptr<FeedbackMessage> message)
    {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = early_feedback_.find(message->goal_id.uuid);
        if (it != early_feedback_.end()) {
          // Bounded: a server flooding feedback for a goal not yet answered loses the oldest.
          if (it->second.size() >= kMaxEarlyFeedback) {
            it->second.erase(it->second.begin());
          }
          it->second.push_back(std::move(message));
          return;
        }
      }
      typename GoalHandle::SharedPtr handle = find(message->goal_id.uuid);
      if (handle) {
        handle->call_feedback_callback(
          handle, std::shared_ptr<const Feedback>(message, &message->feedback));
      }
    }

    void on_status(std::shared_ptr<const GoalStatusArray> message)
    {
      std::vector<std::pair<typename GoalHandle::SharedPtr, int8_t>> updates;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        last_status_ = message;
        for (const auto & status : message->status_list) {
          auto it = goals_.find(status.goal_info.goal_id.uuid);
          if (it == goals_.end()) {
            continue;
          }
          if (auto handle = it->second.lock()) {
            updates.emplace_back(std::move(handle), status.status);
          }
        }
      }
      for (const auto & update : updates) {
        update.first->set_status(update.second);
      }
    }

    void invalidate_all() noexcept
    {
      std::vector<typename GoalHandle::SharedPtr> handles;
      try {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto & entry : goals_) {
          if (auto handle = entry.second.lock()) {
            handles.push_back(std::move(handle));
          }
        }
        goals_.clear();
      } catch (...) {
        return;
      }
      for (const auto & handle : handles) {
        try {
          handle->invalidate(exceptions::UnawareGoalHandleError("the action client was destroyed"));
        } catch (...) {
        }
      }
    }

  private:
    typename GoalHandle::SharedPtr find(const GoalUUID & uuid)
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = goals_.find(uuid);
      return it == goals_.end() ? nullptr : it->second.lock();
    }

    static constexpr size_t kMaxEarlyFeedback = 100;
    std::mutex mutex_;
    std::unordered_map<GoalUUID, typename GoalHandle::WeakPtr> goals_;
    std::unordered_map<GoalUUID, std::vector<std::shared_ptr<FeedbackMessage>>> early_feedback_;
    size_t next_sweep_ = 16;
    std::shared_ptr<const GoalStatusArray> last_status_;  // the server's latest array
  };

  void make_result_aware(const typename GoalHandle::SharedPtr & handle)
  {
    if (!handle->set_result_awareness(true)) {
      send_result_request(handle);
    }
  }

  void send_result_request(const typename GoalHandle::SharedPtr & handle)
  {
    auto request = std::make_shared<typename GetResultService::Request>();
    request->goal_id.uuid = handle->get_goal_id();
    try {
      result_client_->async_send_request(
        request,
        [handle](typename rclcpp::Client<GetResultService>::SharedFuture response_future)
        {
          const auto response = response_future.get();
          WrappedResult wrapped;
          wrapped.goal_id = handle->get_goal_id();
          wrapped.code = static_cast<ResultCode>(response->status);
          wrapped.result = typename ActionT::Result::SharedPtr(response, &response->result);
          handle->set_result(wrapped);
        });
    } catch (const std::exception & e) {
      handle->invalidate(
        exceptions::UnawareGoalHandleError(
          std::string("failed to request the goal result: ") + e.what()));
    }
  }

  std::shared_future<typename CancelResponse::SharedPtr> async_cancel(
    std::shared_ptr<CancelRequest> request, CancelCallback cancel_callback)
  {
    auto promise = std::make_shared<std::promise<typename CancelResponse::SharedPtr>>();
    std::shared_future<typename CancelResponse::SharedPtr> future(promise->get_future());
    cancel_client_->async_send_request(
      std::move(request),
      [promise, cancel_callback = std::move(cancel_callback)](
        typename rclcpp::Client<CancelGoalService>::SharedFuture response_future)
      {
        const auto response = response_future.get();
        promise->set_value(response);
        if (cancel_callback) {
          cancel_callback(response);
        }
      });
    return future;
  }

  std::shared_ptr<Goals> goals_;
  typename rclcpp::Subscription<FeedbackMessage>::SharedPtr feedback_subscription_;
  typename rclcpp::Subscription<GoalStatusArray>::SharedPtr status_subscription_;
  typename rclcpp::Client<SendGoalService>::SharedPtr goal_client_;
  typename rclcpp::Client<GetResultService>::SharedPtr result_client_;
  typename rclcpp::Client<CancelGoalService>::SharedPtr cancel_client_;
};

}  // namespace rclcpp_action

#endif  // RCLCPP_ACTION__CLIENT_HPP_

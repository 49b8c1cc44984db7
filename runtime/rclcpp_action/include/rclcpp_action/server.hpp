// Action servers: accept goals for one action, tell clients how the goals go, and deliver their
// results. Built from three services (send_goal, cancel_goal, get_result) and two publishers
// (feedback, status) under "<action>/_action/", as every ROS 2 Humble action server is.
#ifndef RCLCPP_ACTION__SERVER_HPP_
#define RCLCPP_ACTION__SERVER_HPP_

#include <cstdint>
#include <exception>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/clock.hpp"
#include "rclcpp/logger.hpp"
#include "rclcpp/logging.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp/publisher.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/service.hpp"
#include "rclcpp_action/detail/goal_table.hpp"
#include "rclcpp_action/server_goal_handle.hpp"
#include "rclcpp_action/types.hpp"

namespace rclcpp_action
{

/// The server's answer to a goal request.
enum class GoalResponse : int8_t
{
  REJECT = 1,
  /// Accept, and the goal is EXECUTING at once.
  ACCEPT_AND_EXECUTE = 2,
  /// Accept, and the goal stays ACCEPTED until its handle's execute() is called.
  ACCEPT_AND_DEFER = 3,
};

/// The server's answer to a request to cancel one goal.
enum class CancelResponse : int8_t
{
  REJECT = 1,
  /// The goal becomes CANCELING; the code running it ends it (usually with canceled()).
  ACCEPT = 2,
};

/// The part of an action server that does not depend on the action type.
class ServerBase
{
public:
  ServerBase(const ServerBase &) = delete;
  ServerBase & operator=(const ServerBase &) = delete;
  /// Goal handles may outlive the server; from then on they change state without sending.
  virtual ~ServerBase();

protected:
  /// Throws rclcpp::exceptions::RCLInvalidArgument for a negative options.result_timeout.
  ServerBase(const rclcpp::Logger & logger, const rcl_action_server_options_t & options);

  const std::shared_ptr<detail::GoalTable> & table() const {return table_;}

private:
  std::shared_ptr<detail::GoalTable> table_;
};

/// An action server for ActionT. Create it with create_server(). The user callbacks run on an
/// executor thread that serves the server's callback group:
/// - handle_goal(uuid, goal) decides on each goal request; the reply goes out right after;
/// - handle_accepted(goal_handle) runs after an accepted goal was recorded and announced on the
///   status topic; it must not block (start the work on another thread);
/// - handle_cancel(goal_handle) decides on each active goal a cancel request names.
/// Goal handles are thread-safe. Finished goals and their results are kept for
/// options.result_timeout after they finished, then forgotten.
template<typename ActionT>
class Server : public ServerBase
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(Server)

  using GoalCallback = std::function<GoalResponse(
        const GoalUUID &, std::shared_ptr<const typename ActionT::Goal>)>;
  using CancelCallback = std::function<CancelResponse(std::shared_ptr<ServerGoalHandle<ActionT>>)>;
  using AcceptedCallback = std::function<void (std::shared_ptr<ServerGoalHandle<ActionT>>)>;

  /// Creates the server's services and publishers on `node`, in `group` (null: the node's
  /// default group). Throws what rclcpp throws for an invalid name, and
  /// rclcpp::exceptions::RCLInvalidArgument for a negative result_timeout.
  Server(
    rclcpp::Node & node, const std::string & name, const rcl_action_server_options_t & options,
    GoalCallback handle_goal, CancelCallback handle_cancel, AcceptedCallback handle_accepted,
    rclcpp::CallbackGroup::SharedPtr group = nullptr)
  : ServerBase(node.get_logger(), options)
  {
    auto core = std::make_shared<Core>(
      table(), node.get_clock(), node.get_logger(), std::move(handle_goal),
      std::move(handle_cancel), std::move(handle_accepted));
    const std::string prefix = name + "/_action/";
    try {
      status_publisher_ = node.create_publisher<GoalStatusArray>(
        prefix + "status",
        rclcpp::QoS(rclcpp::QoSInitialization::from_rmw(options.status_topic_qos),
        options.status_topic_qos));
      feedback_publisher_ = node.create_publisher<FeedbackMessage>(
        prefix + "feedback",
        rclcpp::QoS(rclcpp::QoSInitialization::from_rmw(options.feedback_topic_qos),
        options.feedback_topic_qos));
      result_service_ = node.create_service<GetResultService>(
        prefix + "get_result",
        [core](std::shared_ptr<rmw_request_id_t> id, std::shared_ptr<GetResultRequest> request) {
          core->endpoints_ready.wait();
          core->table->request_result(request->goal_id.uuid, *id);
        },
        options.result_service_qos, group);
      cancel_service_ = node.create_service<CancelGoalService>(
        prefix + "cancel_goal",
        [core](std::shared_ptr<rmw_request_id_t> id, std::shared_ptr<CancelRequest> request) {
          core->on_cancel_request(*id, *request);
        },
        options.cancel_service_qos, group);
      goal_service_ = node.create_service<SendGoalService>(
        prefix + "send_goal",
        [core](std::shared_ptr<rmw_request_id_t> id, std::shared_ptr<SendGoalRequest> request) {
          core->on_goal_request(*id, std::move(request));
        },
        options.goal_service_qos, group);
      table()->set_outputs(
        [service = std::weak_ptr<rclcpp::Service<GetResultService>>(result_service_)](
          const rmw_request_id_t & id, int8_t status, const std::shared_ptr<const void> & result)
        {
          auto result_service = service.lock();
          if (!result_service) {
            return;
          }
          GetResultResponse response;
          response.status = status;
          if (result) {
            response.result = *std::static_pointer_cast<const typename ActionT::Result>(result);
          }
          rmw_request_id_t reply_to = id;
          result_service->send_response(reply_to, response);
        },
        [publisher = std::weak_ptr<rclcpp::Publisher<GoalStatusArray>>(status_publisher_)](
          const GoalStatusArray & status)
        {
          if (auto status_publisher = publisher.lock()) {
            status_publisher->publish(status);
          }
        });
    } catch (...) {
      // Wakes any request already waiting for the endpoints; it then finds none.
      core->set_endpoints({}, {}, {});
      throw;
    }
    core->set_endpoints(goal_service_, cancel_service_, feedback_publisher_);
  }

  ~Server() override = default;

private:
  using SendGoalService = typename ActionT::Impl::SendGoalService;
  using SendGoalRequest = typename SendGoalService::Request;
  using SendGoalResponse = typename SendGoalService::Response;
  using GetResultService = typename ActionT::Impl::GetResultService;
  using GetResultRequest = typename GetResultService::Request;
  using GetResultResponse = typename GetResultService::Response;
  using CancelGoalService = typename ActionT::Impl::CancelGoalService;
  using CancelRequest = typename CancelGoalService::Request;
  using FeedbackMessage = typename ActionT::Impl::FeedbackMessage;
  using GoalStatusArray = typename ActionT::Impl::GoalStatusMessage;
  using GoalHandle = ServerGoalHandle<ActionT>;

  /// What the service callbacks work with. They never touch the Server object, so destroying
  /// the server while an executor runs one of its callbacks is safe.
  struct Core
  {
    Core(
      std::shared_ptr<detail::GoalTable> table_, rclcpp::Clock::SharedPtr clock_,
      const rclcpp::Logger & logger_, GoalCallback handle_goal_, CancelCallback handle_cancel_,
      AcceptedCallback handle_accepted_)
    : table(std::move(table_)), clock(std::move(clock_)), logger(logger_),
      handle_goal(std::move(handle_goal_)), handle_cancel(std::move(handle_cancel_)),
      handle_accepted(std::move(handle_accepted_)), endpoints_ready(endpoints_set.get_future())
    {}

    // A request can arrive as soon as its service exists, before the constructor has wired the
    // outputs and stored the endpoints; every callback waits for that first.
    void set_endpoints(
      std::weak_ptr<rclcpp::Service<SendGoalService>> goal,
      std::weak_ptr<rclcpp::Service<CancelGoalService>> cancel,
      std::weak_ptr<rclcpp::Publisher<FeedbackMessage>> feedback)
    {
      goal_service = std::move(goal);
      cancel_service = std::move(cancel);
      feedback_publisher = std::move(feedback);
      endpoints_set.set_value();
    }

    void on_goal_request(
      const rmw_request_id_t & request_id, std::shared_ptr<SendGoalRequest> request)
    {
      endpoints_ready.wait();
      const GoalUUID uuid = request->goal_id.uuid;
      auto goal = table->reserve(uuid);
      if (!goal) {
        RCLCPP_WARN(
          logger, "refused goal %s: a goal with this id is already known", to_string(uuid).c_str());
        reply_to_goal(request_id, false);
        return;
      }
      std::shared_ptr<const typename ActionT::Goal> goal_msg(request, &request->goal);
      bool accepted = false;
      bool execute = false;
      try {
        switch (handle_goal(uuid, goal_msg)) {
          case GoalResponse::REJECT:
            break;
          case GoalResponse::ACCEPT_AND_EXECUTE:
            accepted = true;
            execute = true;
            break;
          case GoalResponse::ACCEPT_AND_DEFER:
            accepted = true;
            break;
        }
      } catch (...) {
        table->release(goal);
        reply_to_goal(request_id, false);
        throw;
      }
      if (!accepted) {
        table->release(goal);
        reply_to_goal(request_id, false);
        return;
      }
      reply_to_goal(request_id, true);
      std::shared_ptr<GoalHandle> handle(
        new GoalHandle(table, goal, std::move(goal_msg), feedback_publisher));
      table->accept(goal, clock->now(), execute, handle);
      if (handle_accepted) {
        handle_accepted(std::move(handle));
      }
    }

    void on_cancel_request(const rmw_request_id_t & request_id, const CancelRequest & request)
    {
      endpoints_ready.wait();
      std::vector<detail::GoalTable::CancelCandidate> candidates;
      const int8_t code = table->select_for_cancel(request.goal_info, candidates);
      std::vector<std::shared_ptr<detail::GoalRecord>> canceling;
      std::exception_ptr failure;
      for (const auto & candidate : candidates) {
        CancelResponse answer = CancelResponse::REJECT;
        try {
          if (handle_cancel) {
            answer = handle_cancel(std::static_pointer_cast<GoalHandle>(candidate.handle));
          }
        } catch (...) {
          // The remaining goals count as rejected; the client still gets its reply.
          failure = std::current_exception();
          break;
        }
        switch (answer) {
          case CancelResponse::REJECT:
            break;
          case CancelResponse::ACCEPT:
            if (table->start_canceling(candidate.goal)) {
              canceling.push_back(candidate.goal);
            }
            break;
        }
      }
      auto response = table->finish_cancel(code, candidates.size(), canceling);
      candidates.clear();
      if (auto service = cancel_service.lock()) {
        rmw_request_id_t reply_to = request_id;
        service->send_response(reply_to, response);
      }
      if (failure) {
        std::rethrow_exception(failure);
      }
    }

    void reply_to_goal(const rmw_request_id_t & request_id, bool accepted)
    {
      auto service = goal_service.lock();
      if (!service) {
        return;
      }
      SendGoalResponse response;
      response.accepted = accepted;  // the stamp stays zero, as Humble servers send it
      rmw_request_id_t reply_to = request_id;
      service->send_response(reply_to, response);
    }

    const std::shared_ptr<detail::GoalTable> table;
    const rclcpp::Clock::SharedPtr clock;
    const rclcpp::Logger logger;
    const GoalCallback handle_goal;
    const CancelCallback handle_cancel;
    const AcceptedCallback handle_accepted;

    std::promise<void> endpoints_set;
    const std::shared_future<void> endpoints_ready;
    // Written once by set_endpoints before endpoints_ready is satisfied; read-only afterwards.
    std::weak_ptr<rclcpp::Service<SendGoalService>> goal_service;
    std::weak_ptr<rclcpp::Service<CancelGoalService>> cancel_service;
    std::weak_ptr<rclcpp::Publisher<FeedbackMessage>> feedback_publisher;
  };

  // Declared in the order they are created; destroyed in reverse, goal requests first.
  typename rclcpp::Publisher<GoalStatusArray>::SharedPtr status_publisher_;
  typename rclcpp::Publisher<FeedbackMessage>::SharedPtr feedback_publisher_;
  typename rclcpp::Service<GetResultService>::SharedPtr result_service_;
  typename rclcpp::Service<CancelGoalService>::SharedPtr cancel_service_;
  typename rclcpp::Service<SendGoalService>::SharedPtr goal_service_;
};

}  // namespace rclcpp_action

#endif  // RCLCPP_ACTION__SERVER_HPP_

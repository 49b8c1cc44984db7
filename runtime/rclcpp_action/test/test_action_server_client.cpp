// Action server and client talking over DDS inside one process: goal acceptance, feedback,
// results, cancellation, and the failure paths a supervisor's task thread can take.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "action_msgs/srv/cancel_goal.hpp"
#include "action_test_support.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_action/rclcpp_action.hpp"

namespace
{

using action_test::ArmTask;
using action_test::eventually;
using action_test::feedback;
using action_test::goal;
using action_test::kWait;
using action_test::Latch;
using action_test::result;
using action_msgs::msg::GoalStatus;
using CancelGoal = action_msgs::srv::CancelGoal;
using ServerHandle = rclcpp_action::ServerGoalHandle<ArmTask>;
using ClientHandle = rclcpp_action::ClientGoalHandle<ArmTask>;
using Client = rclcpp_action::Client<ArmTask>;
using WrappedResult = ClientHandle::WrappedResult;
using rclcpp_action::CancelResponse;
using rclcpp_action::GoalResponse;
using rclcpp_action::GoalUUID;
using rclcpp_action::ResultCode;

GoalResponse accept_all(const GoalUUID &, std::shared_ptr<const ArmTask::Goal>)
{
  return GoalResponse::ACCEPT_AND_EXECUTE;
}

CancelResponse accept_cancel(std::shared_ptr<ServerHandle>)
{
  return CancelResponse::ACCEPT;
}

/// A result callback whose value the test waits for.
struct ResultCatcher
{
  std::shared_ptr<std::promise<WrappedResult>> promise =
    std::make_shared<std::promise<WrappedResult>>();
  std::shared_future<WrappedResult> future = promise->get_future().share();

  Client::ResultCallback callback()
  {
    return [p = promise](const WrappedResult & r) {p->set_value(r);};
  }
  bool arrived() {return future.wait_for(kWait) == std::future_status::ready;}
};

class ActionTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    name_ = std::string("arm_task_") +
      ::testing::UnitTest::GetInstance()->current_test_info()->name();
    server_node_ = std::make_shared<rclcpp::Node>("action_test_server");
    client_node_ = std::make_shared<rclcpp::Node>("action_test_client");
    executor_ = std::make_unique<rclcpp::executors::SingleThreadedExecutor>();
    executor_->add_node(server_node_);
    executor_->add_node(client_node_);
    spinner_ = std::thread([this]() {executor_->spin();});
  }

  void TearDown() override
  {
    stop_callbacks();
    client_.reset();
    server_.reset();
    executor_.reset();
  }

  /// Lets the goal threads finish (their waits are bounded), then stops the executor; no test
  /// callback runs afterwards.
  void stop_callbacks()
  {
    join_workers();
    if (spinner_.joinable()) {
      executor_->cancel();
      spinner_.join();
    }
    join_workers();  // any started by a callback that ran meanwhile
  }

  /// Calls stop_callbacks() when it goes out of scope. A test declares it after the locals its
  /// callbacks and goal threads use, so those locals outlive every callback even when an
  /// assertion ends the test early.
  struct CallbackStopper
  {
    ActionTest * test;
    ~CallbackStopper() {test->stop_callbacks();}
  };
  CallbackStopper stop_callbacks_at_end() {return CallbackStopper{this};}

  void start_server(
    rclcpp_action::Server<ArmTask>::GoalCallback handle_goal,
    rclcpp_action::Server<ArmTask>::CancelCallback handle_cancel,
    rclcpp_action::Server<ArmTask>::AcceptedCallback handle_accepted)
  {
    // A raw node pointer here, a shared pointer for the client: both forms are in use.
    server_ = rclcpp_action::create_server<ArmTask>(
      server_node_.get(), name_, std::move(handle_goal), std::move(handle_cancel),
      std::move(handle_accepted));
  }

  void start_client()
  {
    client_ = rclcpp_action::create_client<ArmTask>(client_node_, name_);
    ASSERT_TRUE(client_->wait_for_action_server(kWait));
    EXPECT_TRUE(client_->action_server_is_ready());
  }

  /// Runs a goal's work on a thread of its own, as a supervisor's task thread does. Every such
  /// thread must end on its own within the test's bounded waits.
  void run_goal(std::function<void()> work)
  {
    std::lock_guard<std::mutex> lock(workers_mutex_);
    workers_.emplace_back(std::move(work));
  }

  void join_workers()
  {
    std::vector<std::thread> workers;
    {
      std::lock_guard<std::mutex> lock(workers_mutex_);
      workers.swap(workers_);
    }
    for (auto & worker : workers) {
      worker.join();
    }
  }

  ClientHandle::SharedPtr send(int32_t cmd, const Client::SendGoalOptions & options = {})
  {
    auto future = client_->async_send_goal(goal(cmd), options);
    if (future.wait_for(kWait) != std::future_status::ready) {
      ADD_FAILURE() << "no goal response for cmd " << cmd;
      return nullptr;
    }
    return future.get();
  }

  std::string name_;
  rclcpp::Node::SharedPtr server_node_;
  rclcpp::Node::SharedPtr client_node_;
  std::unique_ptr<rclcpp::executors::SingleThreadedExecutor> executor_;
  std::thread spinner_;
  std::mutex workers_mutex_;
  std::vector<std::thread> workers_;
  rclcpp_action::Server<ArmTask>::SharedPtr server_;
  Client::SharedPtr client_;
};

TEST_F(ActionTest, RejectsOrAcceptsAndDeliversAResultSetInsideTheAcceptedCallback)
{
  std::mutex mutex;
  std::vector<GoalUUID> asked;
  const auto stopper = stop_callbacks_at_end();
  start_server(
    [&](const GoalUUID & uuid, std::shared_ptr<const ArmTask::Goal> g) {
      std::lock_guard<std::mutex> lock(mutex);
      asked.push_back(uuid);
      return g->cmd < 0 ? GoalResponse::REJECT : GoalResponse::ACCEPT_AND_EXECUTE;
    },
    accept_cancel,
    [](std::shared_ptr<ServerHandle> handle) {
      handle->succeed(result(handle->get_goal()->cmd * 10));
    });
  start_client();

  auto response_seen = std::make_shared<std::promise<ClientHandle::SharedPtr>>();
  Client::SendGoalOptions options;
  options.goal_response_callback = [response_seen](ClientHandle::SharedPtr h) {
      response_seen->set_value(h);
    };
  EXPECT_EQ(send(-1, options), nullptr);
  auto seen = response_seen->get_future();
  ASSERT_EQ(seen.wait_for(kWait), std::future_status::ready);
  EXPECT_EQ(seen.get(), nullptr) << "goal_response_callback gets nullptr on rejection";

  ResultCatcher catcher;
  options = Client::SendGoalOptions();
  options.result_callback = catcher.callback();
  auto handle = send(4, options);
  ASSERT_TRUE(handle);
  EXPECT_TRUE(handle->is_result_aware());
  ASSERT_TRUE(catcher.arrived());
  const WrappedResult & r = catcher.future.get();
  EXPECT_EQ(r.code, ResultCode::SUCCEEDED);
  EXPECT_EQ(r.result->error_code, 40);
  EXPECT_EQ(r.goal_id, handle->get_goal_id());
  EXPECT_EQ(handle->get_status(), GoalStatus::STATUS_SUCCEEDED);
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[1], handle->get_goal_id());
  EXPECT_NE(asked[0], asked[1]) << "each goal gets a fresh id";
}

TEST_F(ActionTest, GoalThatFinishedBeforeTheClientHeardOfItStillReportsStatusAndResult)
{
  Latch finished;
  const auto stopper = stop_callbacks_at_end();
  start_server(
    accept_all, accept_cancel,
    [&finished](std::shared_ptr<ServerHandle> handle) {
      handle->succeed(result(5));
      finished.open();
    });
  // This client is spun by hand, only once the server is done: the accept reply and the final
  // status array then wait side by side, and the array may be taken first.
  auto node = std::make_shared<rclcpp::Node>("action_test_idle_client");
  rclcpp::executors::SingleThreadedExecutor idle_executor;
  idle_executor.add_node(node);
  auto client = rclcpp_action::create_client<ArmTask>(node, name_);
  ASSERT_TRUE(client->wait_for_action_server(kWait));

  auto goal_future = client->async_send_goal(goal(1));
  ASSERT_TRUE(finished.wait());
  ASSERT_EQ(
    idle_executor.spin_until_future_complete(goal_future, kWait),
    rclcpp::FutureReturnCode::SUCCESS);
  auto handle = goal_future.get();
  ASSERT_TRUE(handle);
  EXPECT_FALSE(handle->is_result_aware());
  EXPECT_TRUE(eventually([&]() {
      idle_executor.spin_some();
      return handle->get_status() == GoalStatus::STATUS_SUCCEEDED;
    })) << "status " << int(handle->get_status());

  ResultCatcher catcher;
  auto future = client->async_get_result(handle, catcher.callback());
  ASSERT_EQ(
    idle_executor.spin_until_future_complete(future, kWait), rclcpp::FutureReturnCode::SUCCESS);
  EXPECT_EQ(future.get().code, ResultCode::SUCCEEDED);
  EXPECT_EQ(future.get().result->error_code, 5);
  EXPECT_TRUE(catcher.arrived());
  EXPECT_TRUE(handle->is_result_aware());
}

TEST_F(ActionTest, FeedbackReachesItsOwnGoalInOrder)
{
  std::map<int32_t, Latch> responded;  // the client knows the goal; its feedback can be routed
  responded[1];
  responded[2];
  std::mutex mutex;
  std::map<int32_t, std::vector<int32_t>> received;
  const auto stopper = stop_callbacks_at_end();
  start_server(
    accept_all, accept_cancel,
    [&](std::shared_ptr<ServerHandle> handle) {
      run_goal([&responded, handle]() {
        const int32_t cmd = handle->get_goal()->cmd;
        ASSERT_TRUE(responded.at(cmd).wait());
        for (int32_t step = 1; step <= 5; ++step) {
          handle->publish_feedback(feedback(cmd * 100 + step));
        }
        handle->succeed(result(cmd));
      });
    });
  start_client();

  std::map<int32_t, ResultCatcher> results;
  std::map<int32_t, ClientHandle::SharedPtr> handles;
  for (int32_t cmd : {1, 2}) {
    Client::SendGoalOptions options;
    options.goal_response_callback = [&responded, cmd](ClientHandle::SharedPtr) {
        responded.at(cmd).open();
      };
    options.feedback_callback =
      [&mutex, &received, cmd](
      ClientHandle::SharedPtr, std::shared_ptr<const ArmTask::Feedback> f) {
        std::lock_guard<std::mutex> lock(mutex);
        received[cmd].push_back(f->step_count);
      };
    options.result_callback = results[cmd].callback();
    handles[cmd] = send(cmd, options);
    ASSERT_TRUE(handles[cmd]);
    EXPECT_TRUE(handles[cmd]->is_feedback_aware());
  }
  for (int32_t cmd : {1, 2}) {
    ASSERT_TRUE(results[cmd].arrived());
    EXPECT_EQ(results[cmd].future.get().result->error_code, cmd) << "result routed by goal id";
  }
  const bool all_arrived = eventually([&]() {
        std::lock_guard<std::mutex> lock(mutex);
        return received[1].size() == 5 && received[2].size() == 5;
      });
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_TRUE(all_arrived);
  EXPECT_EQ(received[1], (std::vector<int32_t>{101, 102, 103, 104, 105}));
  EXPECT_EQ(received[2], (std::vector<int32_t>{201, 202, 203, 204, 205}));
}

TEST_F(ActionTest, BackToBackGoalsEndSucceededThenAborted)
{
  start_server(
    accept_all, accept_cancel,
    [this](std::shared_ptr<ServerHandle> handle) {
      run_goal([handle]() {
        if (handle->get_goal()->cmd == 1) {
          handle->succeed(result(10));
        } else {
          handle->abort(result(20));
        }
      });
    });
  start_client();

  for (const auto & [cmd, code, error] : {
      std::tuple<int32_t, ResultCode, int32_t>{1, ResultCode::SUCCEEDED, 10},
      std::tuple<int32_t, ResultCode, int32_t>{2, ResultCode::ABORTED, 20}})
  {
    ResultCatcher catcher;
    Client::SendGoalOptions options;
    options.result_callback = catcher.callback();
    auto handle = send(cmd, options);
    ASSERT_TRUE(handle);
    ASSERT_TRUE(catcher.arrived());
    EXPECT_EQ(catcher.future.get().code, code);
    EXPECT_EQ(catcher.future.get().result->error_code, error);
    EXPECT_EQ(handle->get_status(), static_cast<int8_t>(code));
  }
}

TEST_F(ActionTest, CancelWhileExecutingIsAcceptedOrRejectedByTheServer)
{
  Latch release_second;
  const auto stopper = stop_callbacks_at_end();
  start_server(
    accept_all,
    [](std::shared_ptr<ServerHandle> handle) {
      return handle->get_goal()->cmd == 1 ? CancelResponse::ACCEPT : CancelResponse::REJECT;
    },
    [&](std::shared_ptr<ServerHandle> handle) {
      run_goal([&release_second, handle]() {
        if (handle->get_goal()->cmd == 1) {
          ASSERT_TRUE(eventually([&]() {return handle->is_canceling();}));
          EXPECT_TRUE(handle->is_active());
          EXPECT_FALSE(handle->is_executing());
          handle->canceled(result(30));
        } else {
          ASSERT_TRUE(release_second.wait());
          handle->succeed(result(2));
        }
      });
    });
  start_client();

  ResultCatcher first_result;
  Client::SendGoalOptions options;
  options.result_callback = first_result.callback();
  auto first = send(1, options);
  ASSERT_TRUE(first);
  auto cancel = client_->async_cancel_goal(first);
  ASSERT_EQ(cancel.wait_for(kWait), std::future_status::ready);
  EXPECT_EQ(cancel.get()->return_code, CancelGoal::Response::ERROR_NONE);
  ASSERT_EQ(cancel.get()->goals_canceling.size(), 1u);
  EXPECT_EQ(cancel.get()->goals_canceling[0].goal_id.uuid, first->get_goal_id());
  ASSERT_TRUE(first_result.arrived());
  EXPECT_EQ(first_result.future.get().code, ResultCode::CANCELED);
  EXPECT_EQ(first_result.future.get().result->error_code, 30);

  ResultCatcher second_result;
  options.result_callback = second_result.callback();
  auto second = send(2, options);
  ASSERT_TRUE(second);
  auto refused = client_->async_cancel_goal(second);
  ASSERT_EQ(refused.wait_for(kWait), std::future_status::ready);
  EXPECT_EQ(refused.get()->return_code, CancelGoal::Response::ERROR_REJECTED);
  EXPECT_TRUE(refused.get()->goals_canceling.empty());
  release_second.open();
  ASSERT_TRUE(second_result.arrived());
  EXPECT_EQ(second_result.future.get().code, ResultCode::SUCCEEDED);
}

TEST_F(ActionTest, CancelOfUnknownOrFinishedGoalsGetsTheStandardCodes)
{
  start_server(
    accept_all, accept_cancel,
    [](std::shared_ptr<ServerHandle> handle) {handle->succeed(result(0));});
  start_client();
  auto raw = client_node_->create_client<CancelGoal>(name_ + "/_action/cancel_goal");
  ASSERT_TRUE(raw->wait_for_service(kWait));
  const auto ask = [&raw](const GoalUUID & uuid) {
      auto request = std::make_shared<CancelGoal::Request>();
      request->goal_info.goal_id.uuid = uuid;
      auto future = raw->async_send_request(request);
      return future.wait_for(kWait) == std::future_status::ready ?
             future.get() : CancelGoal::Response::SharedPtr();
    };

  ResultCatcher catcher;
  Client::SendGoalOptions options;
  options.result_callback = catcher.callback();
  auto handle = send(1, options);
  ASSERT_TRUE(handle);
  ASSERT_TRUE(catcher.arrived());

  GoalUUID unknown = handle->get_goal_id();
  unknown[0] ^= 0xff;
  auto reply = ask(unknown);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->return_code, CancelGoal::Response::ERROR_UNKNOWN_GOAL_ID);

  reply = ask(handle->get_goal_id());
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->return_code, CancelGoal::Response::ERROR_GOAL_TERMINATED);

  auto all = client_->async_cancel_all_goals();
  ASSERT_EQ(all.wait_for(kWait), std::future_status::ready);
  EXPECT_EQ(all.get()->return_code, CancelGoal::Response::ERROR_NONE);
  EXPECT_TRUE(all.get()->goals_canceling.empty());
}

TEST_F(ActionTest, GoalWhoseHandleIsDroppedUnfinishedEndsAborted)
{
  start_server(
    [](const GoalUUID &, std::shared_ptr<const ArmTask::Goal> g) {
      return g->cmd == 1 ? GoalResponse::ACCEPT_AND_EXECUTE : GoalResponse::ACCEPT_AND_DEFER;
    },
    accept_cancel,
    [](std::shared_ptr<ServerHandle>) {});
  start_client();

  for (int32_t cmd : {1, 2}) {
    ResultCatcher catcher;
    Client::SendGoalOptions options;
    options.result_callback = catcher.callback();
    ASSERT_TRUE(send(cmd, options));
    ASSERT_TRUE(catcher.arrived());
    EXPECT_EQ(catcher.future.get().code, ResultCode::ABORTED) << "cmd " << cmd;
  }
}

TEST_F(ActionTest, IllegalTerminalCallsThrowAndKeepTheFirstOutcome)
{
  std::promise<std::vector<std::string>> errors_promise;
  const auto stopper = stop_callbacks_at_end();
  start_server(
    accept_all, accept_cancel,
    [&](std::shared_ptr<ServerHandle> handle) {
      run_goal([&errors_promise, handle]() {
        std::vector<std::string> errors;
        const auto attempt = [&errors](const std::function<void()> & call) {
            try {
              call();
              errors.push_back("no exception");
            } catch (const std::runtime_error & e) {
              errors.push_back(e.what());
            }
          };
        attempt([&]() {handle->canceled(result(1));});
        handle->succeed(result(7));
        attempt([&]() {handle->succeed(result(8));});
        attempt([&]() {handle->abort(result(9));});
        errors_promise.set_value(errors);
      });
    });
  start_client();

  ResultCatcher catcher;
  Client::SendGoalOptions options;
  options.result_callback = catcher.callback();
  auto handle = send(1, options);
  ASSERT_TRUE(handle);
  ASSERT_TRUE(catcher.arrived());
  EXPECT_EQ(catcher.future.get().code, ResultCode::SUCCEEDED);
  EXPECT_EQ(catcher.future.get().result->error_code, 7);

  auto errors_future = errors_promise.get_future();
  ASSERT_EQ(errors_future.wait_for(kWait), std::future_status::ready);
  const auto errors = errors_future.get();
  ASSERT_EQ(errors.size(), 3u);
  const std::string id = rclcpp_action::to_string(handle->get_goal_id());
  EXPECT_NE(errors[0].find("EXECUTING"), std::string::npos) << errors[0];
  for (const auto & error : errors) {
    EXPECT_NE(error.find(id), std::string::npos) << error;
  }
  EXPECT_NE(errors[1].find("SUCCEEDED"), std::string::npos) << errors[1];
  EXPECT_NE(errors[2].find("SUCCEEDED"), std::string::npos) << errors[2];
}

TEST_F(ActionTest, DuplicateGoalIdIsRejectedWithoutDisturbingTheFirst)
{
  Latch finish;
  std::atomic_int asked{0};
  const auto stopper = stop_callbacks_at_end();
  start_server(
    [&asked](const GoalUUID &, std::shared_ptr<const ArmTask::Goal>) {
      ++asked;
      return GoalResponse::ACCEPT_AND_EXECUTE;
    },
    accept_cancel,
    [&](std::shared_ptr<ServerHandle> handle) {
      run_goal([&finish, handle]() {
        ASSERT_TRUE(finish.wait());
        handle->succeed(result(1));
      });
    });
  auto raw = client_node_->create_client<ArmTask::Impl::SendGoalService>(
    name_ + "/_action/send_goal");
  ASSERT_TRUE(raw->wait_for_service(kWait));
  auto request = std::make_shared<ArmTask::Impl::SendGoalService::Request>();
  request->goal_id.uuid[3] = 42;
  for (bool expected : {true, false}) {
    auto future = raw->async_send_request(request);
    ASSERT_EQ(future.wait_for(kWait), std::future_status::ready);
    const auto response = future.get();
    EXPECT_EQ(response->accepted, expected);
    EXPECT_EQ(response->stamp.sec, 0) << "Humble servers leave the stamp at zero";
  }
  finish.open();
  EXPECT_EQ(asked.load(), 1) << "a duplicate is refused before the owner is asked";
}

TEST_F(ActionTest, InvalidActionNameThrowsAndTheNodeStaysUsable)
{
  const std::string valid = name_;
  name_ = "9" + valid;  // a name token may not start with a digit
  EXPECT_THROW(start_server(accept_all, accept_cancel, nullptr), std::invalid_argument);
  EXPECT_THROW(rclcpp_action::create_client<ArmTask>(client_node_, name_), std::invalid_argument);

  name_ = valid;
  start_server(
    accept_all, accept_cancel,
    [](std::shared_ptr<ServerHandle> handle) {handle->succeed(result(3));});
  start_client();
  ResultCatcher catcher;
  Client::SendGoalOptions options;
  options.result_callback = catcher.callback();
  ASSERT_TRUE(send(1, options));
  ASSERT_TRUE(catcher.arrived());
  EXPECT_EQ(catcher.future.get().result->error_code, 3);
}

TEST_F(ActionTest, LateSubscriberGetsTheLatestStatusArray)
{
  start_server(
    accept_all, accept_cancel,
    [](std::shared_ptr<ServerHandle> handle) {handle->succeed(result(0));});
  start_client();
  ResultCatcher catcher;
  Client::SendGoalOptions options;
  options.result_callback = catcher.callback();
  auto handle = send(1, options);
  ASSERT_TRUE(handle);
  ASSERT_TRUE(catcher.arrived());

  std::mutex mutex;
  action_msgs::msg::GoalStatusArray latest;
  const auto stopper = stop_callbacks_at_end();
  auto late_node = std::make_shared<rclcpp::Node>("late_joiner");
  auto subscription = late_node->create_subscription<action_msgs::msg::GoalStatusArray>(
    name_ + "/_action/status", rclcpp_action::DefaultActionStatusQoS(),
    [&](const action_msgs::msg::GoalStatusArray & array) {
      std::lock_guard<std::mutex> lock(mutex);
      latest = array;
    });
  auto late_client = rclcpp_action::create_client<ArmTask>(late_node, name_);
  executor_->add_node(late_node);
  EXPECT_TRUE(eventually([&]() {
      std::lock_guard<std::mutex> lock(mutex);
      return latest.status_list.size() == 1 &&
      latest.status_list[0].goal_info.goal_id.uuid == handle->get_goal_id() &&
      latest.status_list[0].status == GoalStatus::STATUS_SUCCEEDED;
    }));
  EXPECT_TRUE(late_client->wait_for_action_server(kWait));
}

TEST_F(ActionTest, HandleOutlivingItsServerStaysUsableAndTheClientGivesUpCleanly)
{
  std::promise<std::shared_ptr<ServerHandle>> accepted;
  const auto stopper = stop_callbacks_at_end();
  start_server(
    accept_all, accept_cancel,
    [&accepted](std::shared_ptr<ServerHandle> handle) {accepted.set_value(handle);});
  start_client();
  auto handle = send(1);
  ASSERT_TRUE(handle);
  auto result_future = client_->async_get_result(handle);
  auto server_side = accepted.get_future();
  ASSERT_EQ(server_side.wait_for(kWait), std::future_status::ready);
  auto server_handle = server_side.get();

  server_.reset();
  EXPECT_NO_THROW(server_handle->publish_feedback(feedback(1)));
  EXPECT_NO_THROW(server_handle->succeed(result(1)));
  EXPECT_FALSE(server_handle->is_active());
  server_handle.reset();

  client_.reset();
  ASSERT_EQ(result_future.wait_for(kWait), std::future_status::ready);
  EXPECT_THROW(result_future.get(), rclcpp_action::exceptions::UnawareGoalHandleError);
}

}  // namespace

int main(int argc, char ** argv)
{
  action_test::use_private_domain(TEST_DOMAIN_ID);
  ::testing::InitGoogleTest(&argc, argv);
  rclcpp::init(argc, argv);
  const int result = RUN_ALL_TESTS();
  rclcpp::shutdown();
  return result;
}

// The other process of the action tests.
//   test_action_peer client <action> <cmd> <feedback count>
//     waits for the server, prints "accepted" once its goal is, then each feedback and the
//     result; exits 0 when the goal succeeded after the expected feedback, in order.
//   test_action_peer server <action>
//     prints "ready", runs every goal until the process is interrupted, publishing feedback;
//     a goal's task then aborts it, as a supervisor's task does on shutdown. Prints "clean exit"
//     before returning 0.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "action_test_support.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_action/rclcpp_action.hpp"

namespace
{

using action_test::ArmTask;
using ClientHandle = rclcpp_action::ClientGoalHandle<ArmTask>;
using ServerHandle = rclcpp_action::ServerGoalHandle<ArmTask>;

void say(const std::string & line)
{
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

int run_client(const std::string & action, int32_t cmd, int expected_feedback)
{
  auto node = std::make_shared<rclcpp::Node>("action_peer_client");
  auto client = rclcpp_action::create_client<ArmTask>(node, action);
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  std::thread spinner([&executor]() {executor.spin();});
  const auto finish = [&](int code) {
      executor.cancel();
      spinner.join();
      return code;
    };
  if (!client->wait_for_action_server(action_test::kWait)) {
    say("no action server");
    return finish(2);
  }

  std::mutex mutex;
  std::vector<int32_t> steps;
  std::promise<ClientHandle::WrappedResult> result;
  rclcpp_action::Client<ArmTask>::SendGoalOptions options;
  options.goal_response_callback = [](ClientHandle::SharedPtr handle) {
      say(handle ? "accepted" : "rejected");
    };
  options.feedback_callback =
    [&](ClientHandle::SharedPtr, std::shared_ptr<const ArmTask::Feedback> feedback) {
      std::lock_guard<std::mutex> lock(mutex);
      steps.push_back(feedback->step_count);
      say("feedback " + std::to_string(feedback->step_count));
    };
  options.result_callback = [&result](const ClientHandle::WrappedResult & r) {result.set_value(r);};
  auto goal_handle = client->async_send_goal(action_test::goal(cmd), options);
  if (goal_handle.wait_for(action_test::kWait) != std::future_status::ready || !goal_handle.get()) {
    return finish(3);
  }
  auto result_future = result.get_future();
  if (result_future.wait_for(action_test::kWait) != std::future_status::ready) {
    say("no result");
    return finish(4);
  }
  const auto r = result_future.get();
  const bool all_feedback = action_test::eventually([&]() {
        std::lock_guard<std::mutex> lock(mutex);
        return static_cast<int>(steps.size()) >= expected_feedback;
      });
  say("result " + std::to_string(static_cast<int>(r.code)) + " " +
    std::to_string(r.result->error_code));
  bool in_order = true;
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (size_t i = 0; i < steps.size(); ++i) {
      in_order = in_order && steps[i] == static_cast<int32_t>(i + 1);
    }
  }
  const bool ok = r.code == rclcpp_action::ResultCode::SUCCEEDED && all_feedback && in_order;
  return finish(ok ? 0 : 5);
}

int run_server(const std::string & action)
{
  auto node = std::make_shared<rclcpp::Node>("action_peer_server");
  std::mutex mutex;
  std::vector<std::thread> tasks;
  auto server = rclcpp_action::create_server<ArmTask>(
    node, action,
    [](const rclcpp_action::GoalUUID &, std::shared_ptr<const ArmTask::Goal>) {
      return rclcpp_action::GoalResponse::ACCEPT_AND_EXECUTE;
    },
    [](std::shared_ptr<ServerHandle>) {return rclcpp_action::CancelResponse::ACCEPT;},
    [&](std::shared_ptr<ServerHandle> handle) {
      std::lock_guard<std::mutex> lock(mutex);
      tasks.emplace_back([handle]() {
        int32_t step = 0;
        while (rclcpp::ok()) {
          handle->publish_feedback(action_test::feedback(++step));
          rclcpp::sleep_for(std::chrono::milliseconds(10));
        }
        handle->abort(action_test::result(-1));
      });
    });
  say("ready");
  rclcpp::spin(node);
  std::lock_guard<std::mutex> lock(mutex);
  for (auto & task : tasks) {
    task.join();
  }
  say("clean exit");
  return 0;
}

}  // namespace

int main(int argc, char ** argv)
{
  rclcpp::init(argc, argv);
  const std::string mode = argc > 2 ? argv[1] : "";
  int code = 64;
  if (mode == "client" && argc == 5) {
    code = run_client(argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
  } else if (mode == "server" && argc == 3) {
    code = run_server(argv[2]);
  } else {
    std::fprintf(
      stderr, "usage: %s client <action> <cmd> <feedback count> | server <action>\n", argv[0]);
  }
  rclcpp::shutdown();
  return code;
}

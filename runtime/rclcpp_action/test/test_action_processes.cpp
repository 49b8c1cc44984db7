// Actions across two processes: a client in another process, and a server process interrupted
// while a goal executes.
#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "action_test_support.hpp"
#include "rclcpp/rclcpp.hpp"
#include "rclcpp_action/rclcpp_action.hpp"

extern char ** environ;

namespace
{

using action_test::ArmTask;
using action_test::kWait;
using action_test::Latch;
using ServerHandle = rclcpp_action::ServerGoalHandle<ArmTask>;
using ClientHandle = rclcpp_action::ClientGoalHandle<ArmTask>;

/// The peer executable, started with its output on a pipe. Whatever happens, it is killed and
/// reaped when this object goes away.
class Peer
{
public:
  explicit Peer(const std::vector<std::string> & args)
  {
    int fds[2];
    if (pipe(fds) != 0) {
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    std::vector<char *> argv;
    std::vector<std::string> owned{ACTION_PEER_PATH};
    owned.insert(owned.end(), args.begin(), args.end());
    for (auto & arg : owned) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, ACTION_PEER_PATH, &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    fd_ = fds[0];
  }

  ~Peer()
  {
    if (pid_ > 0 && !exit_code_) {
      kill(pid_, SIGKILL);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
    if (fd_ >= 0) {
      close(fd_);
    }
  }

  bool started() const {return pid_ > 0;}
  void interrupt() {kill(pid_, SIGINT);}
  const std::string & output() const {return output_;}

  /// Reads output until it contains `text`; false when the timeout passes or the output ends.
  bool wait_for_output(const std::string & text, std::chrono::milliseconds timeout = kWait)
  {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_.find(text) == std::string::npos) {
      if (!read_some(deadline)) {
        return output_.find(text) != std::string::npos;
      }
    }
    return true;
  }

  /// The exit code once the peer has exited (reading its output meanwhile); nullopt on timeout
  /// or when it died of a signal.
  std::optional<int> wait_for_exit(std::chrono::milliseconds timeout = kWait)
  {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (read_some(deadline)) {
    }
    while (!exit_code_ && std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      const pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return exit_code_;
  }

private:
  // False at end of output or deadline.
  bool read_some(std::chrono::steady_clock::time_point deadline)
  {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || fd_ < 0) {
      return false;
    }
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) {
      return false;
    }
    char buffer[4096];
    const ssize_t n = read(fd_, buffer, sizeof(buffer));
    if (n <= 0) {
      return false;
    }
    output_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int fd_ = -1;
  std::string output_;
  std::optional<int> exit_code_;
};

class ActionProcessTest : public ::testing::Test
{
protected:
  void SetUp() override
  {
    name_ = std::string("arm_task_") +
      ::testing::UnitTest::GetInstance()->current_test_info()->name();
    node_ = std::make_shared<rclcpp::Node>("action_process_test");
    executor_.add_node(node_);
    spinner_ = std::thread([this]() {executor_.spin();});
  }

  void TearDown() override {stop_callbacks();}

  /// Stops the executor, then joins the goal threads (their waits are bounded): no test callback
  /// or goal thread runs afterwards.
  void stop_callbacks()
  {
    if (spinner_.joinable()) {
      executor_.cancel();
      spinner_.join();
    }
    for (auto & worker : workers_) {
      worker.join();
    }
    workers_.clear();
  }

  /// Calls stop_callbacks() when it goes out of scope; declared after the locals that callbacks
  /// and goal threads use, so those outlive them even when an assertion ends the test early.
  struct CallbackStopper
  {
    ActionProcessTest * test;
    ~CallbackStopper() {test->stop_callbacks();}
  };
  CallbackStopper stop_callbacks_at_end() {return CallbackStopper{this};}

  std::string name_;
  rclcpp::Node::SharedPtr node_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::thread spinner_;
  std::vector<std::thread> workers_;  // filled on the executor thread, joined after it stopped
};

TEST_F(ActionProcessTest, ClientInAnotherProcessGetsFeedbackAndResult)
{
  Latch client_knows_goal;
  const auto stopper = stop_callbacks_at_end();
  auto server = rclcpp_action::create_server<ArmTask>(
    node_, name_,
    [](const rclcpp_action::GoalUUID &, std::shared_ptr<const ArmTask::Goal>) {
      return rclcpp_action::GoalResponse::ACCEPT_AND_EXECUTE;
    },
    [](std::shared_ptr<ServerHandle>) {return rclcpp_action::CancelResponse::REJECT;},
    [&](std::shared_ptr<ServerHandle> handle) {
      workers_.emplace_back([&client_knows_goal, handle]() {
        // Feedback for a goal the client has not heard accepted yet would be dropped there.
        if (!client_knows_goal.wait()) {
          handle->abort(action_test::result(-1));
          return;
        }
        for (int32_t step = 1; step <= 3; ++step) {
          handle->publish_feedback(action_test::feedback(step));
        }
        handle->succeed(action_test::result(handle->get_goal()->cmd * 10));
      });
    });

  Peer peer({"client", name_, "7", "3"});
  ASSERT_TRUE(peer.started());
  ASSERT_TRUE(peer.wait_for_output("accepted\n")) << peer.output();
  client_knows_goal.open();
  const auto code = peer.wait_for_exit();
  ASSERT_TRUE(code) << peer.output();
  EXPECT_EQ(*code, 0) << peer.output();
  EXPECT_NE(peer.output().find("feedback 1\nfeedback 2\nfeedback 3\n"), std::string::npos)
    << peer.output();
  EXPECT_NE(peer.output().find("result 4 70"), std::string::npos) << peer.output();
}

TEST_F(ActionProcessTest, ServerInterruptedWhileAGoalExecutesExitsCleanly)
{
  Latch feedback_seen;
  const auto stopper = stop_callbacks_at_end();
  Peer peer({"server", name_});
  ASSERT_TRUE(peer.started());
  ASSERT_TRUE(peer.wait_for_output("ready\n")) << peer.output();

  auto client = rclcpp_action::create_client<ArmTask>(node_, name_);
  ASSERT_TRUE(client->wait_for_action_server(kWait));
  rclcpp_action::Client<ArmTask>::SendGoalOptions options;
  options.feedback_callback = [&feedback_seen](
    ClientHandle::SharedPtr, std::shared_ptr<const ArmTask::Feedback>) {feedback_seen.open();};
  auto handle = client->async_send_goal(action_test::goal(1), options);
  ASSERT_EQ(handle.wait_for(kWait), std::future_status::ready);
  ASSERT_TRUE(handle.get());
  ASSERT_TRUE(feedback_seen.wait()) << "the goal is executing in the peer";

  peer.interrupt();
  const auto code = peer.wait_for_exit();
  ASSERT_TRUE(code) << peer.output();
  EXPECT_EQ(*code, 0) << peer.output();
  EXPECT_NE(peer.output().find("clean exit"), std::string::npos) << peer.output();
  EXPECT_EQ(peer.output().find("terminate called"), std::string::npos) << peer.output();
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

#include "supervisor_fixture.hpp"

#include <map>
#include <string>

namespace quorvel_arm_supervisor::node_test
{

void SupervisorTest::StartFakes(const ArmControllerNames & names)
{
  detector_ = std::make_shared<ScriptedDetector>();
  arm_ = std::make_shared<ScriptedArmController>(names);
  outputs_ = std::make_shared<RobotOutputRecorder>();
  environment_ = std::make_shared<EnvironmentFeed>();
  client_ = std::make_shared<TaskClient>();
  events_ = std::make_shared<TaskEventRecorder>();
  fake_executor_ =
      std::make_unique<rclcpp::executors::MultiThreadedExecutor>(rclcpp::ExecutorOptions(), 8);
  fake_executor_->add_node(detector_);
  fake_executor_->add_node(arm_);
  fake_executor_->add_node(outputs_);
  fake_executor_->add_node(environment_);
  fake_executor_->add_node(client_);
  fake_executor_->add_node(events_);
  fake_thread_ = std::thread([this] {
    fake_executor_->spin();
    fake_spin_done_ = true;
  });
}

void SupervisorTest::StartSupervisor(const std::vector<rclcpp::Parameter> & overrides)
{
  std::map<std::string, rclcpp::Parameter> merged;
  for (const rclcpp::Parameter & parameter :
       {rclcpp::Parameter("yaml_config_path", "node_test_joints.yaml"),
        rclcpp::Parameter("init_detect_delay", 0),
        rclcpp::Parameter("gripper_open_delay", 0),
        rclcpp::Parameter("gripper_close_delay", 0),
        rclcpp::Parameter("gripper_release_delay", 0),
        rclcpp::Parameter("arm_voice_broadcast_delay", 0),
        rclcpp::Parameter("detect_timeout_threshold", 3.0),
        rclcpp::Parameter("arm_movejoints_time_threshold", 2.0),
        rclcpp::Parameter("arm_recover_count_threshold", 3)}) {
    merged.insert_or_assign(parameter.get_name(), parameter);
  }
  for (const rclcpp::Parameter & parameter : overrides) {
    merged.insert_or_assign(parameter.get_name(), parameter);
  }
  std::vector<rclcpp::Parameter> parameters;
  for (const auto & entry : merged) {
    parameters.push_back(entry.second);
  }

  supervisor_ =
      std::make_shared<ArmSupervisorNode>(rclcpp::NodeOptions().parameter_overrides(parameters));
  supervisor_executor_ = std::make_unique<rclcpp::executors::MultiThreadedExecutor>(
      rclcpp::ExecutorOptions(), 8, true);
  supervisor_executor_->add_node(supervisor_);
  supervisor_thread_ = std::thread([this] {
    supervisor_executor_->spin();
    supervisor_spin_done_ = true;
  });

  ASSERT_TRUE(client_->WaitForServer(std::chrono::seconds(10)));
  ASSERT_TRUE(arm_->WaitForSubscribers(std::chrono::seconds(10)));
  ASSERT_TRUE(outputs_->WaitForPublishers(std::chrono::seconds(10)));
  ASSERT_TRUE(environment_->WaitForSubscribers(std::chrono::seconds(10)));
}

void SupervisorTest::FollowMoves()
{
  arm_->FollowMoves([this](const std::vector<double> & target) {
    return supervisor_->CurrentJoints().data == target;
  });
}

std::shared_ptr<TaskClient::Goal> SupervisorTest::RunTask(
    std::int32_t cmd, std::chrono::milliseconds timeout)
{
  auto goal = client_->Send(cmd);
  EXPECT_EQ(goal->WaitAccepted(std::chrono::seconds(10)), std::optional<bool>(true));
  EXPECT_TRUE(goal->WaitResult(timeout));
  return goal;
}

std::vector<std::vector<double>> SupervisorTest::MoveTargets() const
{
  std::vector<std::vector<double>> targets;
  for (const auto & request : arm_->MoveJointsRequests()) {
    targets.push_back(request.target_joints.data);
  }
  return targets;
}

void SupervisorTest::AddFake(const std::shared_ptr<rclcpp::Node> & node)
{
  fake_executor_->add_node(node);
}

void SupervisorTest::RemoveFake(const std::shared_ptr<rclcpp::Node> & node)
{
  fake_executor_->remove_node(node);
}

void SupervisorTest::StopSpinning(rclcpp::Executor & executor, const std::atomic<bool> & done)
{
  // A cancel that comes before spin() has begun is lost, so it is repeated until spin returns.
  WaitFor(
      [&executor, &done] {
        executor.cancel();
        return done.load();
      },
      std::chrono::seconds(10));
}

void SupervisorTest::TearDown()
{
  if (detector_) {
    detector_->Interrupt();
  }
  if (arm_) {
    arm_->Interrupt();
  }
  if (supervisor_) {
    // A task that a failed test left running must not outlive the test's nodes and executors.
    supervisor_->StopTaskThreadForExit();
  }
  if (supervisor_executor_) {
    StopSpinning(*supervisor_executor_, supervisor_spin_done_);
    if (supervisor_thread_.joinable()) {
      supervisor_thread_.join();
    }
    supervisor_executor_->remove_node(supervisor_);
  }
  if (fake_executor_) {
    StopSpinning(*fake_executor_, fake_spin_done_);
    if (fake_thread_.joinable()) {
      fake_thread_.join();
    }
  }
  supervisor_executor_.reset();
  fake_executor_.reset();
  supervisor_.reset();
  client_.reset();
  events_.reset();
  environment_.reset();
  outputs_.reset();
  arm_.reset();
  detector_.reset();
}

}  // namespace quorvel_arm_supervisor::node_test

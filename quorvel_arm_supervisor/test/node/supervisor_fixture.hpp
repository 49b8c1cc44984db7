// The real ArmSupervisorNode in the test process, spun on its own multi-threaded executor,
// with the fakes around it on another one.
#ifndef NODE__SUPERVISOR_FIXTURE_HPP_
#define NODE__SUPERVISOR_FIXTURE_HPP_

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "fakes.hpp"
#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"

namespace quorvel_arm_supervisor::node_test
{

// The arrays of config/node_test_joints.yaml.
inline const std::vector<double> kReleaseJoints{1.0, 1.1, 1.2, 1.3, 1.4};
inline const std::vector<double> kObserveJoints{0.0, 0.1, 0.2, 0.3, 0.4};
inline const std::vector<double> kRecoverPos2{2.0, 2.1, 2.2, 2.3, 2.4};
inline const std::vector<double> kRecoverReleasePos{3.0, 3.1, 3.2, 3.3, 3.4};

inline const std::vector<std::int32_t> kGripperOpen{100, 0};
inline const std::vector<std::int32_t> kGripperClose{100, 1};

class SupervisorTest : public ::testing::Test
{
protected:
  void TearDown() override;

  // Creates and spins the fakes.
  void StartFakes(const ArmControllerNames & names = ArmControllerNames());
  // Starts the supervisor with fast settings (no configured delays, short time limits) and
  // then `overrides`, and waits until it is connected to the fakes.
  void StartSupervisor(const std::vector<rclcpp::Parameter> & overrides = {});
  // Makes the fake arm follow every joint move (unless told otherwise) and answer only once
  // the supervisor holds the new joint positions.
  void FollowMoves();
  // Sends a goal, expects it accepted, and waits for its result.
  std::shared_ptr<TaskClient::Goal> RunTask(
      std::int32_t cmd, std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Targets of the move-joints requests so far.
  std::vector<std::vector<double>> MoveTargets() const;
  // Spins `node` with the fakes from now on, or no longer.
  void AddFake(const std::shared_ptr<rclcpp::Node> & node);
  void RemoveFake(const std::shared_ptr<rclcpp::Node> & node);

  std::shared_ptr<ScriptedDetector> detector_;
  std::shared_ptr<ScriptedArmController> arm_;
  std::shared_ptr<RobotOutputRecorder> outputs_;
  std::shared_ptr<EnvironmentFeed> environment_;
  std::shared_ptr<TaskClient> client_;
  std::shared_ptr<TaskEventRecorder> events_;
  std::shared_ptr<ArmSupervisorNode> supervisor_;

private:
  static void StopSpinning(rclcpp::Executor & executor, const std::atomic<bool> & done);

  std::unique_ptr<rclcpp::executors::MultiThreadedExecutor> fake_executor_;
  std::unique_ptr<rclcpp::executors::MultiThreadedExecutor> supervisor_executor_;
  std::thread fake_thread_;
  std::thread supervisor_thread_;
  std::atomic<bool> fake_spin_done_{false};
  std::atomic<bool> supervisor_spin_done_{false};
};

}  // namespace quorvel_arm_supervisor::node_test

#endif  // NODE__SUPERVISOR_FIXTURE_HPP_

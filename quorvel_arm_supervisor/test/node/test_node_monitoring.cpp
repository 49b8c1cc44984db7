// Environment stop, joint feedback and the topics the supervisor listens on.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "supervisor_fixture.hpp"

namespace quorvel_arm_supervisor::node_test
{
namespace
{

using std::chrono::milliseconds;
using std::chrono::seconds;

class MonitoringTest : public SupervisorTest
{
protected:
  // Starts a task that stops at its first environment check, with an object at 0.7.
  std::shared_ptr<TaskClient::Goal> StartHeldTask()
  {
    environment_->PublishObjects({{0.5F, 0.5F}});
    // A detection slow enough for the stop to have arrived before the first check.
    detector_->Script({Seen({MakeTrash(0.3, 0.0, 0.1)}, milliseconds(200))});
    auto goal = client_->Send(1);
    EXPECT_EQ(goal->WaitAccepted(seconds(10)), std::optional<bool>(true));
    EXPECT_TRUE(WaitFor([this] { return CountVoice(4) >= 2; }, seconds(5)));
    return goal;
  }

  std::size_t CountVoice(std::int32_t code) const
  {
    std::size_t count = 0;
    for (const std::int32_t voice : outputs_->VoiceCodes()) {
      count += voice == code ? 1 : 0;
    }
    return count;
  }
};

TEST_F(MonitoringTest, EnvironmentStopHoldsTheTaskUntilTheObjectHasGone)
{
  ASSERT_NO_FATAL_FAILURE(StartFakes());
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  auto goal = StartHeldTask();
  // Held right after opening the gripper, announcing the stop each second.
  EXPECT_EQ(goal->Feedback(2), (std::vector<std::int32_t>{1, 2}));
  EXPECT_TRUE(arm_->GrabRequests().empty());

  environment_->PublishObjects({{1.5F, 1.5F}});  // 2.12 away: far enough
  ASSERT_TRUE(goal->WaitResult(seconds(30)));
  EXPECT_EQ(goal->Result().error_code, 102300000);
  EXPECT_EQ(arm_->GrabRequests().size(), 1u);
}

TEST_F(MonitoringTest, DisabledEnvironmentStopNoLongerHoldsTheTask)
{
  ASSERT_NO_FATAL_FAILURE(StartFakes());
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  auto goal = StartHeldTask();
  EXPECT_TRUE(arm_->GrabRequests().empty());

  environment_->PublishEnable(false);  // the object stays
  ASSERT_TRUE(goal->WaitResult(seconds(30)));
  EXPECT_EQ(goal->Result().error_code, 102300000);
  EXPECT_EQ(arm_->GrabRequests().size(), 1u);
}

TEST_F(MonitoringTest, JointFeedbackIsCopiedWholeAndEmptyMessagesAreIgnored)
{
  ASSERT_NO_FATAL_FAILURE(StartFakes());
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  const std::vector<double> seven{0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7};
  arm_->PublishJoints(seven);
  EXPECT_TRUE(
      WaitFor([this, &seven] { return supervisor_->CurrentJoints().data == seven; }, seconds(5)));

  arm_->PublishJoints({});
  EXPECT_FALSE(WaitFor(
      [this] {
        return supervisor_->CurrentJoints().data !=
               std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7};
      },
      milliseconds(500)));

  const std::vector<double> two{-1.0, 1.0};
  arm_->PublishJoints(two);
  EXPECT_TRUE(
      WaitFor([this, &two] { return supervisor_->CurrentJoints().data == two; }, seconds(5)));
  EXPECT_TRUE(supervisor_->CurrentJoints().layout.dim.empty());
}

TEST_F(MonitoringTest, RemappedArmStateTopicMovesOnlyThatSubscription)
{
  ArmControllerNames names;
  names.arm_state_topic = "/node_test/arm_state";
  ASSERT_NO_FATAL_FAILURE(StartFakes(names));
  ASSERT_NO_FATAL_FAILURE(
      StartSupervisor({rclcpp::Parameter("arm_state_topic", "/node_test/arm_state")}));

  auto probe = std::make_shared<rclcpp::Node>("topic_probe");
  auto default_arm_state = probe->create_publisher<std_msgs::msg::Bool>("/robot/unnormal_flag", 1);
  auto env_enable = probe->create_publisher<std_msgs::msg::Bool>("/quorvel_topic/env_enable", 1);
  auto joints = probe->create_publisher<sensor_msgs::msg::JointState>("/robot/joint_angle", 1);
  // The env_enable subscription is the supervisor's last; once it is seen, all are.
  ASSERT_TRUE(WaitFor(
      [&] {
        return env_enable->get_subscription_count() == 1 && joints->get_subscription_count() == 1;
      },
      seconds(10)));
  EXPECT_EQ(default_arm_state->get_subscription_count(), 0u);
  // The fake's arm-state publisher on the new name is matched (StartSupervisor waited).
}

}  // namespace
}  // namespace quorvel_arm_supervisor::node_test

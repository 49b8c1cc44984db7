// The pick cycle as a client and the arm controller see it: admission, requests, feedback,
// gripper commands, voice codes, results.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "supervisor_fixture.hpp"

namespace quorvel_arm_supervisor::node_test
{
namespace
{

using std::chrono::milliseconds;
using std::chrono::seconds;
using ResultCode = rclcpp_action::ResultCode;

constexpr std::int32_t kArmSuccess = 102100000;

class TaskTest : public SupervisorTest
{
protected:
  void SetUp() override { StartFakes(); }
};

TEST_F(TaskTest, IdleNodeAdmitsAnyCmdAndEndsAtOnceWhenNothingIsChosen)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  detector_->Script({
      Seen({}),  // seen nothing
      DetectionFailed("camera lost"),
      Seen({MakeTrash(0.9, 0.0, 0.0)}),  // out of reach
  });

  for (const std::int32_t cmd : {-7, 0, 123456}) {
    auto goal = RunTask(cmd);
    EXPECT_EQ(goal->Code(), ResultCode::SUCCEEDED) << "cmd " << cmd;
    EXPECT_EQ(goal->Result().error_code, 102300002) << "cmd " << cmd;
    EXPECT_TRUE(goal->Result().unable_grab_trashes.empty());
    EXPECT_EQ(goal->Feedback(1), std::vector<std::int32_t>{1});
  }
  const auto requests = detector_->Requests();
  ASSERT_EQ(requests.size(), 3u);
  for (const auto & request : requests) {
    EXPECT_EQ(request.cmd, 1);
    EXPECT_EQ(request.cam_choice, 1);
  }
  EXPECT_TRUE(arm_->GrabRequests().empty());
  EXPECT_TRUE(outputs_->GripperCommands().empty());
}

TEST_F(TaskTest, PickCycleCarriesTheChosenTrashToTheReleaseAndBack)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  const Trash far = MakeTrash(0.6, 0.2, 0.1, 4);
  const Trash near = MakeTrash(0.3, -0.1, 0.2, 7);
  detector_->Script({Seen({far, near}), Seen({})});

  auto goal = RunTask(5);
  EXPECT_EQ(goal->Code(), ResultCode::SUCCEEDED);
  EXPECT_EQ(goal->Result().error_code, 102300000);
  EXPECT_TRUE(goal->Result().unable_grab_trashes.empty());
  EXPECT_EQ(goal->Feedback(4), (std::vector<std::int32_t>{1, 2, 3, 4}));

  const auto grabs = arm_->GrabRequests();
  ASSERT_EQ(grabs.size(), 1u);
  EXPECT_EQ(grabs[0].cmd, 1);
  EXPECT_EQ(grabs[0].trash_type, near.type);
  EXPECT_EQ(grabs[0].target_pose, near.grab_pose);
  EXPECT_EQ(grabs[0].obb_pose, near.obb_pose);
  EXPECT_EQ(grabs[0].obb_size, near.obb_size);

  const auto releases = arm_->ReleaseRequests();
  ASSERT_EQ(releases.size(), 1u);
  EXPECT_EQ(releases[0].cmd, 0);
  EXPECT_EQ(releases[0].target_joints.data, kReleaseJoints);
  EXPECT_TRUE(releases[0].target_joints.layout.dim.empty());
  EXPECT_EQ(releases[0].target_pose, geometry_msgs::msg::Pose());
  EXPECT_EQ(releases[0].obb_pose, near.obb_pose);
  EXPECT_EQ(releases[0].obb_size, near.obb_size);

  const auto moves = arm_->MoveJointsRequests();
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0].cmd, 0);
  EXPECT_EQ(moves[0].target_joints.data, kObserveJoints);

  ASSERT_TRUE(WaitFor([this] { return outputs_->GripperCommands().size() >= 3; }, seconds(2)));
  EXPECT_EQ(
      outputs_->GripperCommands(),
      (std::vector<std::vector<std::int32_t>>{kGripperOpen, kGripperClose, kGripperOpen}));
  ASSERT_TRUE(WaitFor([this] { return outputs_->VoiceCodes().size() >= 3; }, seconds(2)));
  EXPECT_EQ(
      outputs_->VoiceCodes(), (std::vector<std::int32_t>{kArmSuccess, kArmSuccess, kArmSuccess}));
  EXPECT_EQ(outputs_->RecoverCount(), 0u);
}

TEST_F(TaskTest, FailuresThatAskForNothingLetTheCycleGoOn)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  detector_->Script({Seen({MakeTrash(0.3, 0.0, 0.1)}), Seen({})});
  arm_->ScriptGrab({102100009});
  arm_->ScriptRelease({102100012});
  arm_->ScriptMoveJoints({102100003});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300000);
  EXPECT_EQ(goal->Feedback(4), (std::vector<std::int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(arm_->ReleaseRequests().size(), 1u);
  EXPECT_EQ(arm_->MoveJointsRequests().size(), 1u);
  ASSERT_TRUE(WaitFor([this] { return outputs_->VoiceCodes().size() >= 3; }, seconds(2)));
  EXPECT_EQ(outputs_->VoiceCodes(), (std::vector<std::int32_t>{2, 2, 2}));
  EXPECT_EQ(outputs_->RecoverCount(), 0u);
}

TEST_F(TaskTest, GoalWhileATaskRunsIsRejectedAndTheNextOneAdmitted)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  detector_->Script({Seen({MakeTrash(0.3, 0.0, 0.1)}), Seen({})});
  arm_->SetGrabDelay(milliseconds(500));

  auto first = client_->Send(11);
  auto second = client_->Send(12);
  EXPECT_EQ(first->WaitAccepted(seconds(10)), std::optional<bool>(true));
  EXPECT_EQ(second->WaitAccepted(seconds(10)), std::optional<bool>(false));
  ASSERT_TRUE(first->WaitResult(seconds(30)));
  EXPECT_EQ(first->Result().error_code, 102300000);

  // Sent the moment the result is in: the node is idle again by then.
  auto third = client_->Send(13);
  EXPECT_EQ(third->WaitAccepted(seconds(10)), std::optional<bool>(true));
  ASSERT_TRUE(third->WaitResult(seconds(30)));
  EXPECT_EQ(third->Result().error_code, 102300002);
}

TEST_F(TaskTest, CancelEndsTheTaskOnlyWhenNothingIsLeftAndForgetsItsGivenUpSpots)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor({rclcpp::Parameter("grab_count_threshold", 2)}));
  const Trash spot = MakeTrash(0.4, 0.1, 0.1);
  detector_->Script(
      {Seen({spot}),
       Seen({spot}),
       Seen({}),
       // The next task sees the same spot again.
       Seen({spot}),
       Seen({})});
  arm_->SetGrabDelay(milliseconds(300));

  auto goal = client_->Send(1);
  ASSERT_EQ(goal->WaitAccepted(seconds(10)), std::optional<bool>(true));
  ASSERT_TRUE(WaitFor([&goal] { return !goal->Feedback().empty(); }, seconds(10)));
  client_->Cancel(goal);
  ASSERT_TRUE(goal->WaitResult(seconds(30)));
  // Both cycles ran although the cancel came during the first one.
  EXPECT_EQ(arm_->GrabRequests().size(), 2u);
  EXPECT_EQ(goal->Code(), ResultCode::CANCELED);
  EXPECT_EQ(goal->Result().error_code, 0);
  EXPECT_TRUE(goal->Result().unable_grab_trashes.empty());

  // The canceled task gave the spot up; the next task still may choose it.
  auto next = RunTask(2);
  EXPECT_EQ(next->Code(), ResultCode::SUCCEEDED);
  EXPECT_EQ(next->Result().error_code, 102300000);
  EXPECT_TRUE(next->Result().unable_grab_trashes.empty());
  EXPECT_EQ(arm_->GrabRequests().size(), 3u);
}

TEST_F(TaskTest, SecondTaskReportsItsOwnCodeAfterARecoveredOne)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  FollowMoves();
  detector_->Script(
      {Seen({MakeTrash(0.3, 0.0, 0.1)}), Seen({}), Seen({MakeTrash(0.5, 0.0, 0.1)}), Seen({})});
  arm_->ScriptGrab({102100010});

  auto first = RunTask(1);
  EXPECT_EQ(first->Result().error_code, 102300003);
  // A recovered grab goes straight to the next detection: no release, no observe move.
  EXPECT_EQ(first->Feedback(3), (std::vector<std::int32_t>{1, 2, 3}));
  EXPECT_TRUE(arm_->ReleaseRequests().empty());
  EXPECT_EQ(MoveTargets(), (std::vector<std::vector<double>>{kRecoverPos2}));
  ASSERT_TRUE(WaitFor([this] { return outputs_->GripperCommands().size() >= 2; }, seconds(2)));
  EXPECT_EQ(
      outputs_->GripperCommands(),
      (std::vector<std::vector<std::int32_t>>{kGripperOpen, kGripperOpen}));

  auto second = RunTask(2);
  EXPECT_EQ(second->Result().error_code, 102300000);
  EXPECT_EQ(second->Feedback(4), (std::vector<std::int32_t>{1, 2, 3, 4}));
}

}  // namespace
}  // namespace quorvel_arm_supervisor::node_test

// Recovery after failed grabs, releases and observe moves: what the arm is sent, how long an
// abnormal arm is waited for, and what the task reports.
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

class RecoveryTest : public SupervisorTest
{
protected:
  void SetUp() override { StartFakes(); }

  // An arm that reports an abnormal state from the start; its grab answers take long enough
  // for that state to have reached the supervisor.
  void MakeArmAbnormal()
  {
    arm_->SetGrabDelay(milliseconds(100));
    arm_->PublishArmState(true);
  }

  const Trash trash_ = MakeTrash(0.3, 0.0, 0.1, 5);
};

// Time from the answer to the grab until the first recover message.
milliseconds PauseBeforeRecovery(ScriptedArmController & arm, RobotOutputRecorder & outputs)
{
  const auto answers = arm.GrabAnswerTimes();
  const auto recovers = outputs.RecoverTimes();
  if (answers.empty() || recovers.empty()) {
    return milliseconds(-1);
  }
  return std::chrono::duration_cast<milliseconds>(recovers.front() - answers.back());
}

TEST_F(RecoveryTest, FailedReplanListsTheTrashAfterAnExtraPause)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor(
      {rclcpp::Parameter("arm_voice_broadcast_delay", 300),
       rclcpp::Parameter("arm_recover_count_threshold", 0)}));
  MakeArmAbnormal();
  detector_->Script({Seen({trash_})});
  arm_->ScriptGrab({102100005});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Code(), ResultCode::SUCCEEDED);
  EXPECT_EQ(goal->Result().error_code, 102300005);
  ASSERT_EQ(goal->Result().unable_grab_trashes.size(), 1u);
  EXPECT_EQ(goal->Result().unable_grab_trashes[0], trash_);
  EXPECT_EQ(goal->Feedback(3), (std::vector<std::int32_t>{1, 2, 3}));
  // The replan pause and the recovery's own pause.
  EXPECT_GE(PauseBeforeRecovery(*arm_, *outputs_), milliseconds(600));
  EXPECT_TRUE(arm_->MoveJointsRequests().empty());
}

TEST_F(RecoveryTest, FailedRecoverAfterAGrabListsNothing)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor(
      {rclcpp::Parameter("arm_voice_broadcast_delay", 300),
       rclcpp::Parameter("arm_recover_count_threshold", 0)}));
  MakeArmAbnormal();
  detector_->Script({Seen({trash_})});
  arm_->ScriptGrab({102100008});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300005);
  EXPECT_TRUE(goal->Result().unable_grab_trashes.empty());
  EXPECT_GE(PauseBeforeRecovery(*arm_, *outputs_), milliseconds(300));
  // The grab's status was announced before the recovery started.
  ASSERT_FALSE(outputs_->VoiceCodes().empty());
  EXPECT_EQ(outputs_->VoiceCodes().front(), 2);
}

TEST_F(RecoveryTest, SucceededReplanGoesOnWithTheNextDetection)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  FollowMoves();
  detector_->Script({Seen({trash_}), Seen({trash_}), Seen({})});
  arm_->ScriptGrab({102100006});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300003);
  EXPECT_TRUE(goal->Result().unable_grab_trashes.empty());
  EXPECT_EQ(arm_->GrabRequests().size(), 2u);
  EXPECT_EQ(goal->Feedback(6), (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(RecoveryTest, AbnormalArmIsNudgedOncePerSecondUpToTheThreshold)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor({rclcpp::Parameter("arm_recover_count_threshold", 2)}));
  MakeArmAbnormal();
  detector_->Script({Seen({trash_})});
  arm_->ScriptGrab({102001001});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300005);
  EXPECT_EQ(outputs_->RecoverCount(), 3u);
  EXPECT_TRUE(arm_->MoveJointsRequests().empty());
  ASSERT_FALSE(outputs_->VoiceCodes().empty());
  EXPECT_EQ(outputs_->VoiceCodes().front(), 1);
}

TEST_F(RecoveryTest, ZeroThresholdGivesTheArmOneSecond)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor({rclcpp::Parameter("arm_recover_count_threshold", 0)}));
  MakeArmAbnormal();
  detector_->Script({Seen({trash_})});
  arm_->ScriptGrab({102100011});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300005);
  EXPECT_EQ(outputs_->RecoverCount(), 1u);
}

TEST_F(RecoveryTest, ArmBackToNormalIsDrivenToPos2)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  FollowMoves();
  MakeArmAbnormal();
  // The controller recovers on the first nudge.
  outputs_->OnRecover([this](std::size_t) { arm_->PublishArmState(false); });
  detector_->Script({Seen({trash_})});
  arm_->ScriptGrab({102100010});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300003);
  EXPECT_EQ(outputs_->RecoverCount(), 1u);
  EXPECT_EQ(MoveTargets(), (std::vector<std::vector<double>>{kRecoverPos2}));
}

TEST_F(RecoveryTest, FailedReleaseDropsTheTrashAtTheReleasePositionThenGoesToPos2)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  FollowMoves();
  detector_->Script({Seen({trash_})});
  arm_->ScriptRelease({102100013});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300003);
  EXPECT_EQ(goal->Feedback(4), (std::vector<std::int32_t>{1, 2, 3, 4}));
  // No observe move: the recovery ends at pos2 and the task detects again.
  EXPECT_EQ(MoveTargets(), (std::vector<std::vector<double>>{kRecoverReleasePos, kRecoverPos2}));
  ASSERT_TRUE(WaitFor([this] { return outputs_->GripperCommands().size() >= 3; }, seconds(2)));
  EXPECT_EQ(
      outputs_->GripperCommands(),
      (std::vector<std::vector<std::int32_t>>{kGripperOpen, kGripperClose, kGripperOpen}));
}

TEST_F(RecoveryTest, ReleaseRecoveryFailingAtPos2LeavesTheGripperOpen)
{
  ASSERT_NO_FATAL_FAILURE(
      StartSupervisor({rclcpp::Parameter("arm_movejoints_time_threshold", 0.5)}));
  FollowMoves();
  arm_->NeverReach(kRecoverPos2);
  arm_->SetMoveJointsDelay(milliseconds(50));
  detector_->Script({Seen({trash_})});
  arm_->ScriptRelease({102100016});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300005);
  const auto targets = MoveTargets();
  ASSERT_GE(targets.size(), 3u);  // pos2 is tried again until the time limit
  EXPECT_EQ(targets[0], kRecoverReleasePos);
  for (std::size_t i = 1; i < targets.size(); ++i) {
    EXPECT_EQ(targets[i], kRecoverPos2);
  }
  ASSERT_TRUE(WaitFor([this] { return outputs_->GripperCommands().size() >= 3; }, seconds(2)));
  EXPECT_EQ(outputs_->GripperCommands().back(), kGripperOpen);
}

TEST_F(RecoveryTest, ReleaseRecoveryCountsAbnormalSecondsOverAllItsPhases)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor({rclcpp::Parameter("arm_recover_count_threshold", 1)}));
  FollowMoves();
  arm_->NeverReach(kRecoverReleasePos);
  MakeArmAbnormal();
  // One abnormal second before the first move; the move turns the arm abnormal again, and the
  // controller takes its time to answer it.
  outputs_->OnRecover([this](std::size_t count) {
    if (count == 1) {
      arm_->PublishArmState(false);
    }
  });
  arm_->OnMoveJoints([this](std::size_t call, const std::vector<double> &) {
    if (call == 0) {
      arm_->PublishArmState(true);
    }
  });
  arm_->SetMoveJointsDelay(milliseconds(200));
  detector_->Script({Seen({trash_})});
  arm_->ScriptRelease({102001001});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300005);
  // The second abnormal second already exceeds the one the whole procedure may use.
  EXPECT_EQ(outputs_->RecoverCount(), 2u);
  EXPECT_EQ(MoveTargets(), (std::vector<std::vector<double>>{kRecoverReleasePos}));
}

TEST_F(RecoveryTest, ObserveMoveNeedingRecoveryEndsAtPos2)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  FollowMoves();
  detector_->Script({Seen({trash_})});
  arm_->ScriptMoveJoints({102100002});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300003);
  EXPECT_EQ(MoveTargets(), (std::vector<std::vector<double>>{kObserveJoints, kRecoverPos2}));
  ASSERT_TRUE(WaitFor([this] { return outputs_->GripperCommands().size() >= 4; }, seconds(2)));
  EXPECT_EQ(
      outputs_->GripperCommands(),
      (std::vector<std::vector<std::int32_t>>{
          kGripperOpen, kGripperClose, kGripperOpen, kGripperOpen}));
}

TEST_F(RecoveryTest, FailedRecoveryAfterTheObserveMoveEndsTheTask)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor({rclcpp::Parameter("arm_recover_count_threshold", 0)}));
  MakeArmAbnormal();
  detector_->Script({Seen({trash_})});
  arm_->ScriptMoveJoints({102100002});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Code(), ResultCode::SUCCEEDED);
  EXPECT_EQ(goal->Result().error_code, 102300005);
  EXPECT_TRUE(goal->Result().unable_grab_trashes.empty());
  EXPECT_EQ(goal->Feedback(4), (std::vector<std::int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(MoveTargets(), (std::vector<std::vector<double>>{kObserveJoints}));
  EXPECT_EQ(outputs_->RecoverCount(), 1u);
}

TEST_F(RecoveryTest, RecoveryArrayTooShortFailsWithoutMovingTheArm)
{
  ASSERT_NO_FATAL_FAILURE(
      StartSupervisor({rclcpp::Parameter("yaml_config_path", "node_test_two_keys.yaml")}));
  detector_->Script({Seen({trash_})});
  arm_->ScriptGrab({102100010});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300005);
  EXPECT_TRUE(arm_->MoveJointsRequests().empty());
}

}  // namespace
}  // namespace quorvel_arm_supervisor::node_test

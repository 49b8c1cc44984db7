// Detection: time limit, late answers, frames per detection, and spots given up.
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

class DetectionTest : public SupervisorTest
{
protected:
  void SetUp() override { StartFakes(); }

  std::vector<geometry_msgs::msg::Pose> GrabTargets() const
  {
    std::vector<geometry_msgs::msg::Pose> targets;
    for (const auto & request : arm_->GrabRequests()) {
      targets.push_back(request.target_pose);
    }
    return targets;
  }
};

TEST_F(DetectionTest, LateAnswerEndsItsTaskWithTheTimeoutCodeAndIsDroppedAfterwards)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor({rclcpp::Parameter("detect_timeout_threshold", 1.5)}));
  const Trash first = MakeTrash(0.3, 0.0, 0.1);
  const Trash late = MakeTrash(0.2, 0.2, 0.1);
  // The next task's answer comes only after the late one.
  DetectAnswer after_late = Seen({}, milliseconds(300));
  after_late.after_answers = 2;
  detector_->Script(
      {Seen({first}),
       // Answered long after its wait ended, while the next task waits for its own answer.
       Seen({late}, milliseconds(3200)),
       after_late});

  auto timed_out = RunTask(1);
  EXPECT_EQ(timed_out->Result().error_code, 102300001);
  EXPECT_EQ(timed_out->Feedback(4), (std::vector<std::int32_t>{1, 2, 3, 4}));

  const auto next_sent = Clock::now();
  auto next = RunTask(2);
  const auto answered = detector_->AnswerTimes();
  ASSERT_EQ(answered.size(), 3u);
  // The late answer did arrive while the next task was running, before its own answer.
  ASSERT_LT(next_sent, answered[1]);
  ASSERT_LT(answered[1], answered[2]);
  EXPECT_EQ(next->Result().error_code, 102300002);
  EXPECT_EQ(GrabTargets(), (std::vector<geometry_msgs::msg::Pose>{first.grab_pose}));
}

TEST_F(DetectionTest, TimeoutAtTheFirstDetectionMeansNothingToGrab)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor({rclcpp::Parameter("detect_timeout_threshold", 0.2)}));
  detector_->Script({Seen({MakeTrash(0.3, 0.0, 0.1)}, milliseconds(1000))});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300002);
  EXPECT_TRUE(arm_->GrabRequests().empty());
}

TEST_F(DetectionTest, SecondFrameKeepsOrReplacesTheFirstFramesChoice)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor({rclcpp::Parameter("detect_frame_num", 2)}));
  const Trash a = MakeTrash(0.3, 0.0, 0.1);
  const Trash b = MakeTrash(0.5, 0.1, 0.1);
  detector_->Script({
      // First task: the second frame chooses nothing, then nothing at all.
      Seen({a}),
      DetectionFailed("blurred"),
      Seen({}),
      Seen({}),
      // Second task: the second frame chooses another trash, then nothing at all.
      Seen({a}),
      Seen({b}),
      Seen({}),
      Seen({}),
  });

  auto kept = RunTask(1);
  EXPECT_EQ(kept->Result().error_code, 102300000);
  auto replaced = RunTask(2);
  EXPECT_EQ(replaced->Result().error_code, 102300000);
  EXPECT_EQ(detector_->Requests().size(), 8u);
  EXPECT_EQ(GrabTargets(), (std::vector<geometry_msgs::msg::Pose>{a.grab_pose, b.grab_pose}));
}

TEST_F(DetectionTest, ZeroFramesAskTheDetectorNothing)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor({rclcpp::Parameter("detect_frame_num", 0)}));
  detector_->Script({Seen({MakeTrash(0.3, 0.0, 0.1)})});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300002);
  EXPECT_TRUE(detector_->Requests().empty());
}

TEST_F(DetectionTest, SpotChosenThreeTimesInARowIsGivenUpAndSkippedLater)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  const Trash stuck = MakeTrash(0.3, 0.0, 0.1, 2);
  // Within the default 0.01 of the first sighting.
  const Trash stuck_again = MakeTrash(0.305, 0.0, 0.1, 2);
  const Trash other = MakeTrash(0.6, 0.0, 0.1, 3);
  detector_->Script(
      {Seen({stuck}),
       Seen({stuck_again}),
       Seen({stuck, other}),
       Seen({stuck_again, other}),
       Seen({})});

  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300000);
  ASSERT_EQ(goal->Result().unable_grab_trashes.size(), 1u);
  EXPECT_EQ(goal->Result().unable_grab_trashes[0], stuck);
  // The third pick still goes for the spot it gives up; later detections skip it.
  EXPECT_EQ(
      GrabTargets(),
      (std::vector<geometry_msgs::msg::Pose>{
          stuck.grab_pose, stuck_again.grab_pose, stuck.grab_pose, other.grab_pose}));
}

}  // namespace
}  // namespace quorvel_arm_supervisor::node_test

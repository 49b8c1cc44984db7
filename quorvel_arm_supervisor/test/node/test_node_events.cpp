// The task events: the steps a scripted task takes come out as events, one per step, in order,
// numbered without gaps, for each way a task can go (a table cleared, a spot given up, a grab
// or a release recovered, an environment stop, a late detection, a failed recovery); a viewer
// that joins late still gets the whole task; an empty topic turns them off.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "supervisor_fixture.hpp"

namespace quorvel_arm_supervisor::node_test
{
namespace
{

using std::chrono::milliseconds;
using std::chrono::seconds;
using TaskEvent = quorvel_task_events::msg::TaskEvent;
using Kinds = std::vector<std::uint8_t>;

class EventsTest : public SupervisorTest
{
protected:
  void SetUp() override { StartFakes(); }

  // The events of the latest task, once its end has arrived.
  std::vector<TaskEvent> TaskEvents()
  {
    EXPECT_TRUE(events_->WaitForKind(TaskEvent::TASK_ENDED, ++tasks_, seconds(5)));
    std::vector<TaskEvent> all = events_->Events();
    auto start = std::find_if(all.rbegin(), all.rend(), [](const TaskEvent & event) {
      return event.kind == TaskEvent::TASK_STARTED;
    });
    EXPECT_NE(start, all.rend());
    return std::vector<TaskEvent>(start == all.rend() ? all.begin() : (start + 1).base(), all.end());
  }

  static Kinds KindsOf(const std::vector<TaskEvent> & events)
  {
    Kinds kinds;
    for (const TaskEvent & event : events) {
      kinds.push_back(event.kind);
    }
    return kinds;
  }

  // True when `wanted` appears in `kinds` in this order (other kinds may come between).
  static bool Contains(const Kinds & kinds, const Kinds & wanted)
  {
    auto at = kinds.begin();
    for (const std::uint8_t kind : wanted) {
      at = std::find(at, kinds.end(), kind);
      if (at == kinds.end()) {
        return false;
      }
      ++at;
    }
    return true;
  }

  static std::vector<const TaskEvent *> OfKind(
      const std::vector<TaskEvent> & events, const std::uint8_t kind)
  {
    std::vector<const TaskEvent *> found;
    for (const TaskEvent & event : events) {
      if (event.kind == kind) {
        found.push_back(&event);
      }
    }
    return found;
  }

  std::size_t tasks_ = 0;
};

// One pick cycle, from the gripper opening to the observe move's answer.
const Kinds kPickCycle{
    TaskEvent::GRIPPER_OPENED, TaskEvent::MOTION_SENT, TaskEvent::MOTION_ANSWERED,
    TaskEvent::GRIPPER_CLOSED, TaskEvent::MOTION_SENT, TaskEvent::MOTION_ANSWERED,
    TaskEvent::GRIPPER_OPENED, TaskEvent::MOTION_SENT, TaskEvent::MOTION_ANSWERED};
const Kinds kDetection{TaskEvent::DETECT_REQUESTED, TaskEvent::DETECT_ANSWERED};

TEST_F(EventsTest, ClearedTableIsTheExactSequenceOfItsStepsNumberedWithoutGaps)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  FollowMoves();
  const Trash a = MakeTrash(0.3, 0.1, -0.1, 1);
  const Trash b = MakeTrash(0.2, -0.2, -0.1, 2);
  const Trash c = MakeTrash(0.5, 0.0, -0.1, 3);
  const Trash far = MakeTrash(1.0, 0.3, -0.1, 4);
  detector_->Script({Seen({a, b, c, far}), Seen({a, c, far}), Seen({c, far}), Seen({far})});

  auto goal = RunTask(7);
  ASSERT_EQ(goal->Result().error_code, 102300000);
  const std::vector<TaskEvent> events = TaskEvents();

  Kinds expected{TaskEvent::TASK_STARTED};
  expected.insert(expected.end(), kDetection.begin(), kDetection.end());
  for (int cycle = 0; cycle < 3; ++cycle) {
    expected.insert(expected.end(), kPickCycle.begin(), kPickCycle.end());
    expected.insert(expected.end(), kDetection.begin(), kDetection.end());
  }
  expected.push_back(TaskEvent::TASK_ENDED);
  EXPECT_EQ(KindsOf(events), expected);

  for (std::size_t i = 0; i < events.size(); ++i) {
    EXPECT_EQ(events[i].goal_id.uuid, goal->Handle()->get_goal_id()) << "event " << i;
    EXPECT_FALSE(events[i].summary.empty()) << "event " << i;
    if (i > 0) {
      EXPECT_EQ(events[i].seq, events[i - 1].seq + 1) << "event " << i;
      EXPECT_GE(events[i].step_count, events[i - 1].step_count) << "event " << i;
      const auto stamp = [](const TaskEvent & e) {
        return static_cast<std::int64_t>(e.stamp.sec) * 1000000000 + e.stamp.nanosec;
      };
      EXPECT_GE(stamp(events[i]), stamp(events[i - 1])) << "event " << i;
    }
  }
  EXPECT_EQ(events.front().cmd, 7);
  EXPECT_FLOAT_EQ(events.front().distance, 2.0F);  // the default threshold 1.5, rounded up
  EXPECT_EQ(events.back().outcome, "succeeded");
  EXPECT_EQ(events.back().error_code, 102300000);
  EXPECT_TRUE(events.back().items.empty());
  EXPECT_EQ(events.back().step_count, 10);

  // The first detection: every item with its distance, the nearest one in reach chosen.
  const auto answers = OfKind(events, TaskEvent::DETECT_ANSWERED);
  ASSERT_EQ(answers.size(), 4u);
  EXPECT_EQ(answers[0]->items, (std::vector<Trash>{a, b, c, far}));
  ASSERT_EQ(answers[0]->distances.size(), 4u);
  EXPECT_NEAR(answers[0]->distances[3], 1.0488, 1e-3);
  EXPECT_EQ(answers[0]->chosen_index, 1);
  EXPECT_EQ(answers[1]->chosen_index, 0);
  EXPECT_EQ(answers[2]->chosen_index, 0);
  EXPECT_EQ(answers[3]->chosen_index, -1);

  // The motions: where each went and what the controller answered.
  const auto sent = OfKind(events, TaskEvent::MOTION_SENT);
  ASSERT_EQ(sent.size(), 9u);
  EXPECT_EQ(sent[0]->service, "arm_grab");
  EXPECT_EQ(sent[0]->target_name, "grab_pose");
  EXPECT_EQ(sent[0]->target_position, b.grab_pose.position);
  EXPECT_EQ(sent[1]->service, "arm_release");
  EXPECT_EQ(sent[1]->target_joints, kReleaseJoints);
  EXPECT_EQ(sent[2]->service, "arm_movejoints");
  EXPECT_EQ(sent[2]->target_name, "observe_joints");
  EXPECT_EQ(sent[2]->target_joints, kObserveJoints);
  for (const TaskEvent * answered : OfKind(events, TaskEvent::MOTION_ANSWERED)) {
    EXPECT_EQ(answered->status, 102100000);
    EXPECT_EQ(answered->status_meaning, "success");
    EXPECT_TRUE(answered->flags.empty());
  }
}

TEST_F(EventsTest, StuckItemIsGivenUpOnItsThirdChoice)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  FollowMoves();
  const Trash stuck = MakeTrash(0.3, 0.0, -0.1);
  detector_->Script({Seen({stuck}), Seen({stuck}), Seen({stuck}), Seen({stuck})});

  auto goal = RunTask(1);
  ASSERT_EQ(goal->Result().unable_grab_trashes.size(), 1u);
  const std::vector<TaskEvent> events = TaskEvents();
  const Kinds kinds = KindsOf(events);
  // Given up right after the third answer; that pick still goes ahead.
  Kinds third{TaskEvent::DETECT_ANSWERED, TaskEvent::DETECT_ANSWERED, TaskEvent::DETECT_ANSWERED,
              TaskEvent::SPOT_GIVEN_UP};
  third.insert(third.end(), kPickCycle.begin(), kPickCycle.end());
  third.insert(third.end(), {TaskEvent::DETECT_ANSWERED, TaskEvent::TASK_ENDED});
  EXPECT_TRUE(Contains(kinds, third));
  const auto given_up = OfKind(events, TaskEvent::SPOT_GIVEN_UP);
  ASSERT_EQ(given_up.size(), 1u);
  EXPECT_EQ(given_up[0]->count, 3);
  EXPECT_EQ(given_up[0]->target_position, stuck.grab_pose.position);
  EXPECT_EQ(given_up[0]->items, std::vector<Trash>{stuck});
  EXPECT_EQ(events.back().items, std::vector<Trash>{stuck});
  EXPECT_EQ(OfKind(events, TaskEvent::DETECT_ANSWERED).back()->chosen_index, -1);
}

TEST_F(EventsTest, RecoveredGrabShowsTheFailureTheWaitAndThePostureReached)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  FollowMoves();
  arm_->SetGrabDelay(milliseconds(100));
  arm_->PublishArmState(true);
  outputs_->OnRecover([this](std::size_t) { arm_->PublishArmState(false); });
  detector_->Script({Seen({MakeTrash(0.3, 0.0, -0.1)}), Seen({})});
  arm_->ScriptGrab({102100010});

  auto goal = RunTask(1);
  ASSERT_EQ(goal->Result().error_code, 102300003);
  const std::vector<TaskEvent> events = TaskEvents();
  EXPECT_TRUE(Contains(
      KindsOf(events),
      {TaskEvent::MOTION_SENT, TaskEvent::MOTION_ANSWERED, TaskEvent::RECOVERY_STARTED,
       TaskEvent::RECOVERY_ARM_ABNORMAL, TaskEvent::MOTION_SENT, TaskEvent::MOTION_ANSWERED,
       TaskEvent::RECOVERY_POSITION, TaskEvent::RECOVERY_ENDED, TaskEvent::GRIPPER_OPENED,
       TaskEvent::DETECT_REQUESTED, TaskEvent::DETECT_ANSWERED, TaskEvent::TASK_ENDED}));
  const auto answered = OfKind(events, TaskEvent::MOTION_ANSWERED);
  ASSERT_GE(answered.size(), 2u);
  EXPECT_EQ(answered[0]->service, "arm_grab");
  EXPECT_EQ(answered[0]->status, 102100010);
  EXPECT_EQ(answered[0]->status_meaning, "failure: recover the arm");
  EXPECT_EQ(answered[0]->flags, std::vector<std::string>{"is_grab_need_to_recover_"});
  EXPECT_EQ(answered[1]->target_name, "recover_movej_pos2");
  const auto started = OfKind(events, TaskEvent::RECOVERY_STARTED);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0]->service, "arm_grab");
  const auto waits = OfKind(events, TaskEvent::RECOVERY_ARM_ABNORMAL);
  ASSERT_EQ(waits.size(), 1u);
  EXPECT_EQ(waits[0]->count, 1);
  EXPECT_EQ(waits[0]->threshold, 4);  // the fixture's threshold 3: at most four waits
  const auto position = OfKind(events, TaskEvent::RECOVERY_POSITION);
  ASSERT_EQ(position.size(), 1u);
  EXPECT_EQ(position[0]->outcome, "reached");
  EXPECT_EQ(position[0]->target_joints, kRecoverPos2);
  EXPECT_EQ(position[0]->current_joints, kRecoverPos2);
  EXPECT_EQ(OfKind(events, TaskEvent::RECOVERY_ENDED)[0]->outcome, "recovered");
  EXPECT_EQ(OfKind(events, TaskEvent::GRIPPER_OPENED).back()->target_name, "recovery");
}

TEST_F(EventsTest, FailedReleaseDropsTheTrashOnTheWayToPos2)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  FollowMoves();
  detector_->Script({Seen({MakeTrash(0.3, 0.0, -0.1)}), Seen({})});
  arm_->ScriptRelease({102100013});

  auto goal = RunTask(1);
  ASSERT_EQ(goal->Result().error_code, 102300003);
  const std::vector<TaskEvent> events = TaskEvents();
  EXPECT_TRUE(Contains(
      KindsOf(events),
      {TaskEvent::GRIPPER_CLOSED, TaskEvent::MOTION_SENT, TaskEvent::MOTION_ANSWERED,
       TaskEvent::RECOVERY_STARTED, TaskEvent::MOTION_SENT, TaskEvent::MOTION_ANSWERED,
       TaskEvent::RECOVERY_POSITION, TaskEvent::GRIPPER_OPENED, TaskEvent::MOTION_SENT,
       TaskEvent::MOTION_ANSWERED, TaskEvent::RECOVERY_POSITION, TaskEvent::RECOVERY_ENDED,
       TaskEvent::DETECT_REQUESTED}));
  const auto started = OfKind(events, TaskEvent::RECOVERY_STARTED);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0]->target_name, "release recover");
  EXPECT_EQ(started[0]->service, "arm_release");
  const auto positions = OfKind(events, TaskEvent::RECOVERY_POSITION);
  ASSERT_EQ(positions.size(), 2u);
  EXPECT_EQ(positions[0]->target_name, "recover_movej_release_pos");
  EXPECT_EQ(positions[1]->target_name, "recover_movej_pos2");
  EXPECT_TRUE(OfKind(events, TaskEvent::ENV_STOP_HELD).empty());
}

TEST_F(EventsTest, EnvironmentStopIsHeldWithTheNearestDistanceAndReleased)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  FollowMoves();
  environment_->PublishObjects({{1.2F, 0.0F}, {3.0F, 1.0F}});
  detector_->Script({Seen({MakeTrash(0.3, 0.0, -0.1)}, milliseconds(200)), Seen({})});
  auto goal = client_->Send(1);
  ASSERT_EQ(goal->WaitAccepted(seconds(10)), std::optional<bool>(true));
  ASSERT_TRUE(events_->WaitForKind(TaskEvent::ENV_STOP_HELD, 1, seconds(10)));
  environment_->PublishObjects({});
  ASSERT_TRUE(goal->WaitResult(seconds(30)));

  const std::vector<TaskEvent> events = TaskEvents();
  EXPECT_TRUE(Contains(
      KindsOf(events),
      {TaskEvent::GRIPPER_OPENED, TaskEvent::ENV_STOP_HELD, TaskEvent::ENV_STOP_RELEASED,
       TaskEvent::MOTION_SENT}));
  const auto held = OfKind(events, TaskEvent::ENV_STOP_HELD);
  ASSERT_EQ(held.size(), 1u);  // once per stop, not once per announcement
  EXPECT_NEAR(held[0]->distance, 1.2, 1e-5);
  EXPECT_EQ(OfKind(events, TaskEvent::ENV_STOP_RELEASED)[0]->outcome, "cleared");
}

TEST_F(EventsTest, LateDetectionIsATimeOutAndItsAnswerIsDroppedLater)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor({rclcpp::Parameter("detect_timeout_threshold", 0.5)}));
  FollowMoves();
  const Trash trash = MakeTrash(0.3, 0.0, -0.1);
  detector_->Script({Seen({trash}), Seen({trash}, milliseconds(1500))});

  auto goal = RunTask(1);
  ASSERT_EQ(goal->Result().error_code, 102300001);
  const std::vector<TaskEvent> events = TaskEvents();
  Kinds timed_out(kPickCycle);
  timed_out.insert(
      timed_out.end(),
      {TaskEvent::DETECT_REQUESTED, TaskEvent::DETECT_TIMED_OUT, TaskEvent::TASK_ENDED});
  EXPECT_TRUE(Contains(KindsOf(events), timed_out));
  const auto late = OfKind(events, TaskEvent::DETECT_TIMED_OUT);
  ASSERT_EQ(late.size(), 1u);
  EXPECT_DOUBLE_EQ(late[0]->seconds, 0.5);
  EXPECT_EQ(late[0]->error_code, 102300001);
  EXPECT_EQ(events.back().error_code, 102300001);
  // The answer still comes, after the task: it is dropped, and says so.
  EXPECT_TRUE(events_->WaitForKind(TaskEvent::DETECT_LATE_ANSWER, 1, seconds(5)));
}

TEST_F(EventsTest, ArmThatStaysAbnormalFailsTheRecoveryAfterItsLastWait)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor({rclcpp::Parameter("arm_recover_count_threshold", 1)}));
  arm_->SetGrabDelay(milliseconds(100));
  arm_->PublishArmState(true);
  detector_->Script({Seen({MakeTrash(0.3, 0.0, -0.1)})});
  arm_->ScriptGrab({102001001});

  auto goal = RunTask(1);
  ASSERT_EQ(goal->Result().error_code, 102300005);
  const std::vector<TaskEvent> events = TaskEvents();
  EXPECT_TRUE(Contains(
      KindsOf(events),
      {TaskEvent::MOTION_ANSWERED, TaskEvent::RECOVERY_STARTED, TaskEvent::RECOVERY_ARM_ABNORMAL,
       TaskEvent::RECOVERY_ARM_ABNORMAL, TaskEvent::RECOVERY_ENDED, TaskEvent::TASK_ENDED}));
  const auto waits = OfKind(events, TaskEvent::RECOVERY_ARM_ABNORMAL);
  ASSERT_EQ(waits.size(), 2u);
  EXPECT_EQ(waits[1]->count, 2);
  EXPECT_EQ(waits[1]->threshold, 2);
  EXPECT_EQ(OfKind(events, TaskEvent::MOTION_ANSWERED)[0]->status_meaning,
            "common failure: recover the arm");
  const auto ended = OfKind(events, TaskEvent::RECOVERY_ENDED);
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0]->outcome, "failed");
  EXPECT_EQ(ended[0]->error_code, 102300005);
  EXPECT_EQ(events.back().error_code, 102300005);
  EXPECT_TRUE(OfKind(events, TaskEvent::MOTION_SENT).size() == 1u);  // no recovery move
}

TEST_F(EventsTest, ViewerThatJoinsAfterTheTaskStillGetsAllOfIt)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor());
  FollowMoves();
  detector_->Script({Seen({MakeTrash(0.3, 0.0, -0.1)}), Seen({})});
  RunTask(1);
  const std::size_t count = TaskEvents().size();

  auto late_viewer = std::make_shared<TaskEventRecorder>("late_viewer");
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(late_viewer);
  const bool complete = WaitFor(
      [&] {
        executor.spin_some();
        return late_viewer->Events().size() >= count;
      },
      seconds(10));
  EXPECT_TRUE(complete);
  EXPECT_EQ(late_viewer->Kinds(), events_->Kinds());
}

TEST_F(EventsTest, EmptyTopicTurnsTheEventsOffAndTheTaskRunsTheSame)
{
  ASSERT_NO_FATAL_FAILURE(StartSupervisor({rclcpp::Parameter("task_events_topic", "")}));
  FollowMoves();
  detector_->Script({Seen({MakeTrash(0.3, 0.0, -0.1)}), Seen({})});
  auto goal = RunTask(1);
  EXPECT_EQ(goal->Result().error_code, 102300000);
  EXPECT_EQ(goal->Feedback(4), (std::vector<std::int32_t>{1, 2, 3, 4}));
  EXPECT_EQ(events_->PublisherCount(), 0u);
  EXPECT_TRUE(events_->Events().empty());
}

}  // namespace
}  // namespace quorvel_arm_supervisor::node_test

// The dashboard's state model: task events and topic messages in, the page's JSON out.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <action_msgs/msg/goal_status.hpp>

#include "dashboard/model.hpp"

namespace quorvel_tools
{
namespace
{

using Json = nlohmann::json;

constexpr std::int64_t kT0 = 1'700'000'000'000;  // ms

// Builds the events of one task the way the supervisor numbers and stamps them.
class Script
{
public:
  explicit Script(std::uint8_t goal_byte, std::uint64_t first_seq = 1) : seq_(first_seq - 1)
  {
    goal_.fill(goal_byte);
  }

  TaskEvent event(std::uint8_t kind, std::int64_t at_ms)
  {
    TaskEvent e;
    e.seq = ++seq_;
    e.stamp.sec = static_cast<std::int32_t>((kT0 + at_ms) / 1000);
    e.stamp.nanosec = static_cast<std::uint32_t>(((kT0 + at_ms) % 1000) * 1000000);
    e.kind = kind;
    e.goal_id.uuid = goal_;
    e.step_count = step_;
    return e;
  }

  void step() { ++step_; }

private:
  std::uint64_t seq_;
  std::int32_t step_ = 0;
  std::array<std::uint8_t, 16> goal_{};
};

quorvel_interfaces::msg::Trash trash(double x, double y, double z)
{
  quorvel_interfaces::msg::Trash t;
  t.type = 1;
  t.grab_pose.position.x = x;
  t.grab_pose.position.y = y;
  t.grab_pose.position.z = z;
  return t;
}

TaskEvent detect_answer(
    Script & s, std::int64_t at, std::vector<quorvel_interfaces::msg::Trash> items, int chosen)
{
  TaskEvent e = s.event(TaskEvent::DETECT_ANSWERED, at);
  e.status = 1;
  for (const auto & item : items) {
    const auto & p = item.grab_pose.position;
    e.distances.push_back(static_cast<float>(std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z)));
  }
  e.items = std::move(items);
  e.chosen_index = chosen;
  return e;
}

TaskEvent with(TaskEvent e, const std::string & service, const std::string & target_name)
{
  e.service = service;
  e.target_name = target_name;
  return e;
}

// One pick as the supervisor reports it: open, grab, close, release, drop, back to observe.
void pick(DashboardModel & model, Script & s, std::int64_t & t, double x, double y)
{
  model.on_task_event(with(s.event(TaskEvent::GRIPPER_OPENED, t += 10), "", "grab"));
  s.step();
  TaskEvent grab = with(s.event(TaskEvent::MOTION_SENT, t += 10), "arm_grab", "grab_pose");
  grab.target_position.x = x;
  grab.target_position.y = y;
  model.on_task_event(grab);
  TaskEvent answered = with(s.event(TaskEvent::MOTION_ANSWERED, t += 500), "arm_grab", "grab_pose");
  answered.status = 102100000;
  model.on_task_event(answered);
  s.step();
  model.on_task_event(s.event(TaskEvent::GRIPPER_CLOSED, t += 10));
  TaskEvent release =
      with(s.event(TaskEvent::MOTION_SENT, t += 300), "arm_release", "release_joints");
  release.target_joints = {1.5, -0.3, 0.9, -0.6, 0.0};
  model.on_task_event(release);
  s.step();
  model.on_task_event(with(s.event(TaskEvent::GRIPPER_OPENED, t += 500), "", "release"));
  TaskEvent back =
      with(s.event(TaskEvent::MOTION_SENT, t += 200), "arm_movejoints", "observe_joints");
  back.target_joints = {0.0, -0.5, 1.0, -0.5, 0.0};
  model.on_task_event(back);
}

TEST(DashboardPhase, WordsForWhatTheTaskIsDoing)
{
  Script s(1);
  struct Case
  {
    TaskEvent event;
    const char * phase;
  };
  TaskEvent frames = s.event(TaskEvent::DETECT_REQUESTED, 0);
  frames.count = 2;
  frames.threshold = 3;
  TaskEvent near = s.event(TaskEvent::ENV_STOP_HELD, 0);
  near.distance = 1.23F;
  TaskEvent abnormal = s.event(TaskEvent::RECOVERY_ARM_ABNORMAL, 0);
  abnormal.count = 3;
  abnormal.threshold = 10;
  TaskEvent failed = with(s.event(TaskEvent::MOTION_ANSWERED, 0), "arm_grab", "grab_pose");
  failed.status = 102100010;
  failed.status_meaning = "recover";
  TaskEvent recover_move =
      with(s.event(TaskEvent::MOTION_SENT, 0), "arm_movejoints", "recover_movej_pos2");
  TaskEvent released = s.event(TaskEvent::ENV_STOP_RELEASED, 0);
  released.outcome = "disabled";
  TaskEvent timed_out = s.event(TaskEvent::DETECT_TIMED_OUT, 0);
  timed_out.seconds = 5.0;
  TaskEvent not_reached = with(s.event(TaskEvent::RECOVERY_POSITION, 0), "", "recover_movej_pos2");
  not_reached.outcome = "not reached";
  TaskEvent recovered = s.event(TaskEvent::RECOVERY_ENDED, 0);
  recovered.outcome = "recovered";
  TaskEvent ended = s.event(TaskEvent::TASK_ENDED, 0);
  ended.outcome = "canceled";
  TaskEvent failed_detect = s.event(TaskEvent::DETECT_ANSWERED, 0);
  failed_detect.status = 0;

  const std::vector<Case> cases = {
      {s.event(TaskEvent::DETECT_REQUESTED, 0), "detecting"},
      {frames, "detecting (frame 2 of 3)"},
      {with(s.event(TaskEvent::MOTION_SENT, 0), "arm_grab", "grab_pose"), "moving to grab pose"},
      {with(s.event(TaskEvent::MOTION_SENT, 0), "arm_release", "release_joints"),
       "moving to release pose"},
      {with(s.event(TaskEvent::MOTION_SENT, 0), "arm_movejoints", "observe_joints"),
       "moving to observe pose"},
      {s.event(TaskEvent::GRIPPER_CLOSED, 0), "closing the gripper"},
      {with(s.event(TaskEvent::GRIPPER_OPENED, 0), "", "release"), "dropping the trash"},
      {near, "waiting: someone is near (1.2 m)"},
      {released, "going on: environment stop switched off"},
      {abnormal, "recovering: waiting for a normal arm 3 of 10"},
      {failed, "grab failed: 102100010 (recover)"},
      {recover_move, "recovering: moving to recover_movej_pos2"},
      {not_reached, "recovering: recover_movej_pos2 not reached yet"},
      {recovered, "recovered: detecting again"},
      {timed_out, "detection timed out after 5 s"},
      {failed_detect, "detection failed"},
      {detect_answer(s, 0, {trash(0.9, 0.5, 0.0), trash(0.38, 0.10, -0.17)}, 1),
       "target chosen: trash 2 at 0.43 m"},
      {detect_answer(s, 0, {trash(1.1, 0.0, 0.0)}, -1), "nothing to grab"},
      // An index past the list is no choice, not a read past its end.
      {detect_answer(s, 0, {trash(0.3, 0.0, 0.0)}, 7), "nothing to grab"},
      {ended, "finished: canceled"},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.phase);
    EXPECT_EQ(phase_after(c.event, "before"), c.phase);
  }
  // What does not change what the task does keeps the phase, newer kinds included.
  EXPECT_EQ(
      phase_after(s.event(TaskEvent::DETECT_LATE_ANSWER, 0), "moving to grab pose"),
      "moving to grab pose");
  EXPECT_EQ(phase_after(s.event(99, 0), "closing the gripper"), "closing the gripper");
  // A publisher's own summary is shown; an empty one is made from the fields.
  TaskEvent plain = s.event(TaskEvent::GRIPPER_CLOSED, 0);
  EXPECT_EQ(event_summary(plain), "closing the gripper");
  plain.summary = "gripper closed on the trash";
  EXPECT_EQ(event_summary(plain), "gripper closed on the trash");
}

TEST(DashboardModel, AClearTableTaskFromStartToEnd)
{
  DashboardModel model;
  Script s(0xAB);
  std::int64_t t = 0;
  TaskEvent start = s.event(TaskEvent::TASK_STARTED, t);
  start.cmd = 1;
  start.distance = 2.0F;
  model.on_task_event(start);
  EXPECT_EQ(model.section(Section::kTask)["phase"], "starting");
  EXPECT_TRUE(model.section(Section::kTask)["running"]);

  const std::vector<std::pair<double, double>> spots = {{0.38, 0.10}, {0.52, -0.24}, {0.30, 0.55}};
  std::vector<quorvel_interfaces::msg::Trash> table = {
      trash(0.30, 0.55, -0.17),
      trash(0.38, 0.10, -0.17),
      trash(1.10, -0.45, -0.17),
      trash(0.52, -0.24, -0.17)};
  model.on_task_event(s.event(TaskEvent::DETECT_REQUESTED, t += 100));
  model.on_task_event(detect_answer(s, t += 300, table, 1));
  s.step();

  Json workspace = model.section(Section::kWorkspace);
  EXPECT_EQ(workspace["stop_distance"], 2.0);
  EXPECT_TRUE(workspace["stop_distance_known"]);
  ASSERT_EQ(workspace["detection"]["items"].size(), 4u);
  EXPECT_TRUE(workspace["detection"]["items"][1]["chosen"]);
  EXPECT_FALSE(workspace["detection"]["items"][0]["chosen"]);
  EXPECT_NEAR(workspace["detection"]["items"][2]["distance"].get<double>(), 1.2006, 1e-3);
  EXPECT_EQ(workspace["target"]["x"], 0.38);

  for (std::size_t i = 0; i < spots.size(); ++i) {
    pick(model, s, t, spots[i].first, spots[i].second);
    if (i == 0) {
      EXPECT_EQ(model.section(Section::kTask)["phase"], "moving to observe pose");
      EXPECT_EQ(model.section(Section::kArm)["target"]["name"], "observe_joints");
    }
    model.on_task_event(s.event(TaskEvent::DETECT_REQUESTED, t += 600));
    model.on_task_event(detect_answer(s, t += 300, {trash(1.10, -0.45, -0.17)}, -1));
  }
  TaskEvent end = s.event(TaskEvent::TASK_ENDED, t += 1000);
  end.outcome = "succeeded";
  end.error_code = 102300000;
  model.on_task_event(end);

  const Json task = model.section(Section::kTask);
  EXPECT_FALSE(task["running"]);
  EXPECT_EQ(task["phase"], "finished: succeeded");
  EXPECT_EQ(task["picked"], 3);
  EXPECT_EQ(task["step_count"], 10);
  EXPECT_EQ(task["error_meaning"], "initial value, no error");
  EXPECT_EQ(task["goal_id"], "abababababababababababababababab");

  const Json outcomes = model.section(Section::kOutcomes)["items"];
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0]["outcome"], "succeeded");
  EXPECT_EQ(outcomes[0]["error_code"], 102300000);
  EXPECT_EQ(outcomes[0]["picked"], 3);
  EXPECT_EQ(outcomes[0]["given_up"], 0);
  EXPECT_NEAR(outcomes[0]["duration_s"].get<double>(), static_cast<double>(t) / 1000.0, 0.05);

  workspace = model.section(Section::kWorkspace);
  ASSERT_EQ(workspace["picked"].size(), 3u);
  EXPECT_EQ(workspace["picked"][2]["y"], 0.55);
  EXPECT_TRUE(workspace["target"].is_null());

  const Json timeline = model.section(Section::kTimeline);
  EXPECT_EQ(timeline["entries"].size(), task["event_count"].get<std::size_t>());
  EXPECT_EQ(timeline["entries"][0]["offset_s"], 0.0);
  EXPECT_EQ(timeline["entries"].back()["level"], "ok");
  EXPECT_DOUBLE_EQ(timeline["entries"].back()["offset_s"].get<double>(), t / 1000.0);
}

TEST(DashboardModel, GivenUpSpotsLastAsLongAsTheSupervisorKeepsThem)
{
  DashboardModel model;
  const auto run_task = [&model](std::uint8_t goal, const char * outcome, bool give_up) {
    Script s(goal, goal * 100);
    model.on_task_event(s.event(TaskEvent::TASK_STARTED, 0));
    if (give_up) {
      TaskEvent spot = s.event(TaskEvent::SPOT_GIVEN_UP, 10);
      spot.target_position.x = -0.32;
      spot.target_position.z = -0.176;
      spot.count = 3;
      model.on_task_event(spot);
    }
    TaskEvent end = s.event(TaskEvent::TASK_ENDED, 20);
    end.outcome = outcome;
    end.error_code = std::string(outcome) == "canceled" ? 0 : 102300000;
    if (give_up) {
      end.items.push_back(trash(-0.32, 0.0, -0.176));
    }
    model.on_task_event(end);
  };

  run_task(1, "succeeded", true);
  EXPECT_EQ(model.section(Section::kWorkspace)["given_up"].size(), 1u);
  EXPECT_EQ(model.section(Section::kOutcomes)["items"][0]["given_up"], 1);
  // The next task starts with a clean memory after a normal end...
  run_task(2, "canceled", true);
  EXPECT_EQ(model.section(Section::kWorkspace)["given_up"].size(), 1u);
  // ...but a canceled task leaves its spots to the next one.
  run_task(3, "succeeded", false);
  EXPECT_EQ(model.section(Section::kWorkspace)["given_up"].size(), 1u);
  run_task(4, "succeeded", false);
  EXPECT_TRUE(model.section(Section::kWorkspace)["given_up"].empty());

  const Json outcomes = model.section(Section::kOutcomes)["items"];
  ASSERT_EQ(outcomes.size(), 4u);
  EXPECT_EQ(outcomes[0]["outcome"], "succeeded");  // newest first
  EXPECT_EQ(outcomes[2]["outcome"], "canceled");
  EXPECT_EQ(outcomes[2]["error_meaning"], "");
}

TEST(DashboardModel, ADashboardStartedLateShowsTheRunningTask)
{
  DashboardModel model;
  // The transient-local history begins in the middle of a task, seq 40 onwards.
  Script s(7, 40);
  model.on_task_event(with(s.event(TaskEvent::MOTION_SENT, 5000), "arm_grab", "grab_pose"));
  Json task = model.section(Section::kTask);
  EXPECT_TRUE(task["known"]);
  EXPECT_TRUE(task["running"]);
  EXPECT_FALSE(task["start_seen"]);
  EXPECT_EQ(task["phase"], "moving to grab pose");
  EXPECT_EQ(task["events_missed"], 0);

  s.event(TaskEvent::GRIPPER_CLOSED, 0);  // lost on the way: seq 41
  s.event(TaskEvent::GRIPPER_CLOSED, 0);  // seq 42
  model.on_task_event(s.event(TaskEvent::GRIPPER_CLOSED, 5600));
  EXPECT_EQ(model.section(Section::kTask)["events_missed"], 2);

  TaskEvent end = s.event(TaskEvent::TASK_ENDED, 6000);
  end.outcome = "succeeded";
  end.error_code = 102300003;
  model.on_task_event(end);
  const Json outcome = model.section(Section::kOutcomes)["items"][0];
  EXPECT_TRUE(outcome["duration_s"].is_null());  // its start was not seen
  EXPECT_EQ(outcome["error_meaning"], "recovery succeeded");

  // A restarted supervisor counts from 1 again: no loss.
  Script restarted(8);
  model.on_task_event(restarted.event(TaskEvent::TASK_STARTED, 9000));
  EXPECT_EQ(model.section(Section::kTask)["events_missed"], 2);
  EXPECT_TRUE(model.section(Section::kTask)["start_seen"]);
}

TEST(DashboardModel, ATaskKeptAcrossTheSupervisorsAbsence)
{
  DashboardModel model;
  Script s(9);
  model.on_task_event(s.event(TaskEvent::TASK_STARTED, 0));
  const TaskEvent sent =
      with(s.event(TaskEvent::MOTION_SENT, 1000), "arm_movejoints", "observe_joints");
  model.on_task_event(sent);
  ASSERT_TRUE(model.running_goal());

  // The controller's server is gone while the move is awaited: the page says so plainly.
  TaskEvent gone = with(s.event(TaskEvent::SERVER_GONE, 12000), "arm_movejoints", "observe_joints");
  gone.outcome = "gone";
  model.on_task_event(gone);
  Json task = model.section(Section::kTask);
  EXPECT_EQ(task["server_gone"]["service"], "arm_movejoints");
  EXPECT_EQ(task["server_gone"]["since_ms"], kT0 + 12000);
  EXPECT_EQ(task["phase"].get<std::string>().rfind("waiting: the ", 0), 0u) << task["phase"];
  EXPECT_EQ(model.section(Section::kTimeline)["entries"].back()["level"], "error");

  // The supervisor itself is cut off, comes back, and its event history arrives once more:
  // the copies change nothing.
  model.on_action_server_gone(false, kT0 + 13000);
  EXPECT_EQ(model.section(Section::kTask)["supervisor_gone"]["since_ms"], kT0 + 13000);
  const std::size_t timeline = model.section(Section::kTimeline)["entries"].size();
  model.on_task_event(sent);
  model.on_task_event(gone);
  EXPECT_EQ(model.section(Section::kTimeline)["entries"].size(), timeline);
  model.on_action_server_back(21.5);
  TaskEvent back = with(s.event(TaskEvent::SERVER_BACK, 34000), "arm_movejoints", "observe_joints");
  back.outcome = "back";
  back.count = 2;
  model.on_task_event(back);
  task = model.section(Section::kTask);
  EXPECT_TRUE(task["server_gone"].is_null());
  EXPECT_TRUE(task["supervisor_gone"].is_null());
  EXPECT_EQ(task["supervisor_gone_s"], 21.5);
  EXPECT_TRUE(task["running"]);

  // The task's end was sent while the page was cut off: the action server's answer ends it.
  model.on_goal_result(action_msgs::msg::GoalStatus::STATUS_SUCCEEDED, 102300003, 1, kT0 + 40000);
  task = model.section(Section::kTask);
  EXPECT_FALSE(task["running"]);
  EXPECT_EQ(task["outcome"], "succeeded");
  EXPECT_EQ(task["error_code"], 102300003);
  EXPECT_EQ(model.section(Section::kOutcomes)["items"][0]["given_up"], 1);
  EXPECT_FALSE(model.running_goal());

  // A supervisor restarted mid-task no longer knows the goal.
  Script next(10, 500);
  model.on_task_event(next.event(TaskEvent::TASK_STARTED, 50000));
  model.on_action_server_gone(true, kT0 + 51000);
  model.on_goal_lost(kT0 + 52000);
  task = model.section(Section::kTask);
  EXPECT_FALSE(task["running"]);
  EXPECT_TRUE(task["lost_with_restart"]);
  EXPECT_EQ(task["outcome"], "lost with the supervisor's restart");
  EXPECT_EQ(model.section(Section::kOutcomes)["items"][0]["outcome"], task["outcome"]);
}

TEST(DashboardModel, StreamsSendTheSnapshotThenOnlyWhatChanged)
{
  ModelLimits limits;
  limits.timeline_entries = 5;
  DashboardModel model(limits);
  StreamCursor cursor;
  Script s(1);

  auto first = model.changes_since(cursor, true, kT0);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].event, "snapshot");
  EXPECT_TRUE(first[0].data.contains("timeline"));
  EXPECT_TRUE(model.changes_since(cursor, true, kT0).empty());

  model.on_task_event(s.event(TaskEvent::TASK_STARTED, 0));
  auto next = model.changes_since(cursor, true, kT0);
  ASSERT_GE(next.size(), 2u);
  EXPECT_EQ(next[0].event, "timeline");
  EXPECT_TRUE(next[0].data["reset"]);  // a new task
  model.on_task_event(s.event(TaskEvent::DETECT_REQUESTED, 10));
  model.on_task_event(s.event(TaskEvent::GRIPPER_CLOSED, 20));
  next = model.changes_since(cursor, true, kT0);
  ASSERT_EQ(next[0].event, "timeline");
  EXPECT_FALSE(next[0].data["reset"]);
  ASSERT_EQ(next[0].data["entries"].size(), 2u);  // only the new ones
  EXPECT_EQ(next[0].data["entries"][0]["seq"], 2);

  // Frequent sections wait for their turn; others do not.
  model.on_joint_state({}, {0.1, 0.2}, kT0);
  EXPECT_FALSE(model.has_changes(cursor, true));
  EXPECT_TRUE(model.has_changes(cursor, false));
  EXPECT_TRUE(model.changes_since(cursor, false, kT0).empty());
  model.on_voice(4, kT0);
  next = model.changes_since(cursor, false, kT0);
  ASSERT_EQ(next.size(), 1u);
  EXPECT_EQ(next[0].event, "voice");
  next = model.changes_since(cursor, true, kT0);
  ASSERT_EQ(next.size(), 2u);  // the angles, and the task's plot they join
  EXPECT_EQ(next[0].event, "arm");
  EXPECT_EQ(next[1].event, "plot");

  // A page that fell behind the kept entries gets them all again.
  for (int i = 0; i < 7; ++i) {
    model.on_task_event(s.event(TaskEvent::DETECT_REQUESTED, 30 + i));
  }
  next = model.changes_since(cursor, true, kT0);
  ASSERT_EQ(next[0].event, "timeline");
  EXPECT_TRUE(next[0].data["reset"]);
  EXPECT_EQ(next[0].data["entries"].size(), 5u);
  EXPECT_EQ(next[0].data["entries"][0]["n"], 5);

  // Endpoints that did not change are not news.
  model.on_endpoints({{"/a", "service", true}}, 1, kT0);
  EXPECT_TRUE(model.has_changes(cursor, true));
  model.changes_since(cursor, true, kT0);
  model.on_endpoints({{"/a", "service", true}}, 1, kT0 + 1000);
  EXPECT_FALSE(model.has_changes(cursor, false));
  model.on_endpoints({{"/a", "service", false}}, 1, kT0 + 2000);
  EXPECT_TRUE(model.has_changes(cursor, true));
}

TEST(DashboardModel, ThePlotFollowsTheTaskAndStaysBounded)
{
  ModelLimits limits;
  limits.plot_samples = 20;
  DashboardModel model(limits);
  StreamCursor cursor;
  Script s(3);
  const std::vector<std::string> names = {"j1", "j2"};
  model.on_joint_state(names, {0.0, 1.0}, kT0 - 500);  // before the task: not plotted
  model.on_arm_state(false, kT0 - 500);
  model.changes_since(cursor, true, kT0);

  model.on_task_event(s.event(TaskEvent::TASK_STARTED, 0));
  // 50 Hz angles: one sample per 100 ms is kept.
  for (int ms = 20; ms <= 1000; ms += 20) {
    model.on_joint_state(names, {ms / 1000.0, 1.0}, kT0 + ms);
  }
  Json plot = model.section(Section::kPlot);
  ASSERT_EQ(plot["samples"].size(), 11u);  // the start where the arm stood, then every 100 ms
  EXPECT_EQ(plot["samples"][0], Json({0, 0.0, 1.0}));
  EXPECT_EQ(plot["samples"][10], Json({1000, 1.0, 1.0}));

  auto changes = model.changes_since(cursor, true, kT0);
  Json sent;
  for (const auto & m : changes) {
    if (m.event == "plot") {
      sent = m.data;
    }
  }
  ASSERT_TRUE(sent.is_object());
  EXPECT_TRUE(sent["reset"].get<bool>());  // a new task
  model.on_joint_state(names, {1.1, 1.0}, kT0 + 1100);
  changes = model.changes_since(cursor, true, kT0);
  ASSERT_EQ(changes.back().event, "plot");
  EXPECT_FALSE(changes.back().data["reset"].get<bool>());
  EXPECT_EQ(changes.back().data["first"], 11);
  EXPECT_EQ(changes.back().data["samples"], Json::array({Json({1100, 1.1, 1.0})}));

  // A motion, its answer, a recovery with the arm abnormal and its position, the end.
  TaskEvent release = with(s.event(TaskEvent::MOTION_SENT, 1200), "arm_release", "release_joints");
  release.target_joints = {1.5, -0.3};
  model.on_task_event(release);
  TaskEvent failed =
      with(s.event(TaskEvent::MOTION_ANSWERED, 1700), "arm_release", "release_joints");
  failed.status = 102100014;
  model.on_task_event(failed);
  model.on_task_event(
      with(s.event(TaskEvent::RECOVERY_STARTED, 1710), "arm_release", "release recover"));
  model.on_arm_state(true, kT0 + 1720);
  model.on_arm_state(false, kT0 + 2700);
  TaskEvent position =
      with(s.event(TaskEvent::RECOVERY_POSITION, 3000), "", "recover_movej_release_pos");
  position.target_joints = {0.2, 0.4};
  position.outcome = "not reached";
  model.on_task_event(position);
  // Thousands of samples later the plot still holds at most its bound, thinned evenly.
  for (int ms = 1200; ms <= 9000; ms += 20) {
    model.on_joint_state(names, {0.5, 0.5}, kT0 + ms);
  }
  TaskEvent ended = s.event(TaskEvent::TASK_ENDED, 9500);
  ended.outcome = "succeeded";
  model.on_task_event(ended);
  model.on_joint_state(names, {0.0, 0.0}, kT0 + 9600);  // after the end: not plotted

  plot = model.section(Section::kPlot);
  EXPECT_LE(plot["samples"].size(), 21u);
  EXPECT_GT(plot["period_ms"].get<int>(), 100);
  EXPECT_EQ(plot["samples"].front()[0], 0);
  EXPECT_EQ(plot["samples"].back(), Json({9500, 0.5, 0.5}));  // the curves run to the end
  ASSERT_EQ(plot["motions"].size(), 1u);
  EXPECT_EQ(plot["motions"][0]["sent_ms"], 1200);
  EXPECT_EQ(plot["motions"][0]["answered_ms"], 1700);
  EXPECT_EQ(plot["motions"][0]["status"], 102100014);
  EXPECT_EQ(plot["motions"][0]["positions"], Json({1.5, -0.3}));
  EXPECT_FALSE(plot["motions"][0]["recovery"].get<bool>());
  ASSERT_EQ(plot["recovery_positions"].size(), 1u);
  EXPECT_FALSE(plot["recovery_positions"][0]["reached"].get<bool>());
  ASSERT_EQ(plot["recoveries"].size(), 1u);
  EXPECT_EQ(plot["recoveries"][0]["to_ms"], 9500);  // still open at the end: ends with it
  EXPECT_EQ(plot["abnormal"], Json::array({{{"from_ms", 1720}, {"to_ms", 2700}, {"what", ""}}}));

  // The next task starts a plot of its own.
  model.on_task_event(Script(4, 100).event(TaskEvent::TASK_STARTED, 10000));
  plot = model.section(Section::kPlot);
  EXPECT_EQ(plot["samples"], Json::array({Json({0, 0.0, 0.0})}));
  EXPECT_TRUE(plot["motions"].empty());
}

TEST(DashboardModel, OddInputNeitherBreaksTheJsonNorGrowsWithoutBound)
{
  ModelLimits limits;
  limits.detection_items = 50;
  limits.text_bytes = 40;
  DashboardModel model(limits);
  Script s(2);
  model.on_task_event(s.event(TaskEvent::TASK_STARTED, 0));

  TaskEvent bad = s.event(TaskEvent::DETECT_ANSWERED, 10);
  bad.status = 1;
  bad.errmsg = "broken \xff\xfe text";
  bad.summary = std::string(39, 'x') + "\xc3\xa9 and more";  // the cut falls inside the e-acute
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (int i = 0; i < 10000; ++i) {
    bad.items.push_back(trash(i == 0 ? nan : 0.5, std::numeric_limits<double>::infinity(), 0.0));
  }
  bad.distances = {std::numeric_limits<float>::quiet_NaN()};
  bad.chosen_index = 0;
  model.on_task_event(bad);
  model.on_env_objects("map", std::vector<EnvObject>(5000, EnvObject{1.0F, 1.0F}), kT0);
  model.on_joint_state({"a"}, std::vector<double>(1000, 0.5), kT0);

  std::string text;
  ASSERT_NO_THROW(text = json_text(model.snapshot(kT0)));
  const Json back = Json::parse(text);
  const Json detection = back["workspace"]["detection"];
  EXPECT_EQ(detection["items"].size(), 50u);
  EXPECT_EQ(detection["total_items"], 10000);
  EXPECT_TRUE(detection["items"][0]["x"].is_null());
  EXPECT_TRUE(detection["items"][0]["distance"].is_null());
  EXPECT_TRUE(detection["items"][1]["y"].is_null());
  EXPECT_EQ(back["surroundings"]["objects"].size(), 100u);
  EXPECT_EQ(back["surroundings"]["total"], 5000);
  EXPECT_EQ(back["arm"]["joints"]["positions"].size(), 16u);
  // Cut before the whole two-byte character, never inside it.
  const std::string summary = back["timeline"]["entries"][1]["summary"];
  EXPECT_EQ(summary, std::string(39, 'x') + "\xe2\x80\xa6");

  // A message without positions leaves the joints as they were, as the supervisor does.
  model.on_joint_state({}, {}, kT0);
  EXPECT_EQ(model.section(Section::kArm)["joints"]["positions"].size(), 16u);
  model.on_gripper_command({100, 1}, kT0);
  EXPECT_EQ(model.section(Section::kArm)["gripper"], "closed");
  model.on_gripper_command({7}, kT0);
  EXPECT_EQ(model.section(Section::kArm)["gripper"], "command [7]");
}

}  // namespace
}  // namespace quorvel_tools

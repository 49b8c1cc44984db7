// Scenes derived from recorded tasks: what each recorded step becomes, the comment that names
// where it comes from, and the recordings a scene cannot play, refused with their reason.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <sys/wait.h>

#include <rclcpp/serialization.hpp>
#include <rclcpp/serialized_message.hpp>
#include <sensor_msgs/msg/joint_state.hpp>

#include "quorvel_arm_sim/scene_from_bag.hpp"
#include "quorvel_arm_sim/scene_writer.hpp"
#include "quorvel_bag/writer.hpp"

namespace quorvel_arm_sim
{
namespace
{

using quorvel_bag::RecordedEvent;
using quorvel_bag::TaskEvent;

constexpr std::int64_t kT0 = 1765152000000000000;
const std::vector<double> kObserve{0.0, -0.5236, 1.0472, -0.5236, 0.0};
const std::vector<double> kRelease{1.5708, -0.35, 1.2, -0.85, 0.0};

std::int64_t at(double seconds) { return kT0 + static_cast<std::int64_t>(seconds * 1e9 + 0.5); }

quorvel_interfaces::msg::Trash trash(std::uint8_t type, double x, double y, double z)
{
  quorvel_interfaces::msg::Trash t;
  t.type = type;
  t.grab_pose.position.x = x;
  t.grab_pose.position.y = y;
  t.grab_pose.position.z = z;
  t.grab_pose.orientation.x = 0.0;
  t.grab_pose.orientation.y = 1.0;
  t.grab_pose.orientation.z = 0.0;
  t.grab_pose.orientation.w = 0.0;
  t.obb_pose.position = t.grab_pose.position;
  t.obb_size.x = t.obb_size.y = t.obb_size.z = 0.1;
  return t;
}

// The events of one task as the supervisor emits them, each received 1 ms after its stamp.
class Script
{
public:
  TaskEvent & add(double seconds, std::uint8_t kind)
  {
    RecordedEvent recorded;
    recorded.event.seq = ++seq_;
    recorded.event.kind = kind;
    recorded.event.goal_id.uuid[0] = 0x5c;
    const std::int64_t stamp = at(seconds);
    recorded.event.stamp.sec = static_cast<std::int32_t>(stamp / 1000000000);
    recorded.event.stamp.nanosec = static_cast<std::uint32_t>(stamp % 1000000000);
    recorded.received_ns = stamp + 1000000;
    events_.push_back(recorded);
    return events_.back().event;
  }

  void started(double s) { add(s, TaskEvent::TASK_STARTED).distance = 2.0F; }
  void detect(double s, double latency, std::vector<quorvel_interfaces::msg::Trash> items, int chosen)
  {
    TaskEvent & asked = add(s, TaskEvent::DETECT_REQUESTED);
    asked.service = "detect_trash";
    asked.count = 1;
    asked.threshold = 1;
    TaskEvent & answer = add(s + latency, TaskEvent::DETECT_ANSWERED);
    answer.service = "detect_trash";
    answer.status = 1;
    answer.items = std::move(items);
    answer.chosen_index = chosen;
  }
  void gripper(double s, bool open, const char * why)
  {
    add(s, open ? TaskEvent::GRIPPER_OPENED : TaskEvent::GRIPPER_CLOSED).target_name = why;
  }
  void motion(
      double s,
      double took,
      const char * service,
      const char * target,
      std::int32_t status = 102100000,
      const std::vector<double> & joints = {},
      std::vector<std::string> flags = {})
  {
    TaskEvent & sent = add(s, TaskEvent::MOTION_SENT);
    sent.service = service;
    sent.target_name = target;
    sent.target_joints = joints;
    if (std::string(service) == "arm_grab") {
      sent.target_position.x = 0.35;
      sent.target_position.y = 0.10;
      sent.target_position.z = -0.17;
    }
    TaskEvent & answer = add(s + took, TaskEvent::MOTION_ANSWERED);
    answer.service = service;
    answer.target_name = target;
    answer.status = status;
    answer.flags = std::move(flags);
    if (status != 102100000) {
      answer.errmsg = "collision detected";
      answer.status_meaning = "failure: recover the arm";
    }
  }
  // A whole pick of the bottle from `s` on; returns when it ends.
  double pick(double s)
  {
    gripper(s, true, "grab");
    motion(s + 0.01, 0.5, "arm_grab", "grab_pose");
    gripper(s + 0.52, false, "grab");
    motion(s + 0.82, 0.8, "arm_release", "release_joints", 102100000, kRelease);
    gripper(s + 1.63, true, "release");
    motion(s + 1.93, 0.8, "arm_movejoints", "observe_joints", 102100000, kObserve);
    return s + 2.74;
  }
  void ended(double s, std::string outcome, std::int32_t code)
  {
    TaskEvent & end = add(s, TaskEvent::TASK_ENDED);
    end.outcome = std::move(outcome);
    end.error_code = code;
  }

  quorvel_bag::TaskRecord task() const
  {
    return quorvel_bag::tasks_from_events(events_, at(100.0)).at(0);
  }
  std::vector<RecordedEvent> & events() { return events_; }

private:
  std::uint64_t seq_ = 100;
  std::vector<RecordedEvent> events_;
};

template <typename T>
ArmRecording::Sample<T> sample(double seconds, std::int64_t id, T value)
{
  return ArmRecording::Sample<T>{at(seconds), id, std::move(value)};
}

std::string derived_text(const DerivedScene & derived)
{
  return write_scene(derived.scene, derived.notes, derived.header);
}

// The line of `text` that starts with `start`, or a failure.
std::string line_of(const std::string & text, const std::string & start)
{
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t end = text.find('\n', from);
    const std::string line = text.substr(from, end - from);
    if (line.rfind(start, 0) == 0) {
      return line;
    }
    from = end == std::string::npos ? text.size() : end + 1;
  }
  ADD_FAILURE() << "no line starting with '" << start << "' in:\n" << text;
  return "";
}

// A grab that fails and leaves the arm abnormal for two recover messages; someone near the
// robot while the recovery waits; the recovery's first move stops joint 3 short; then the
// bottle is picked.
class RecoveryTask : public ::testing::Test
{
protected:
  void SetUp() override
  {
    s.started(0.0);
    s.detect(0.01, 0.3, {trash(1, 0.35, 0.10, -0.17)}, 0);
    s.gripper(0.32, true, "grab");
    s.motion(0.33, 0.57, "arm_grab", "grab_pose", 102100010, {}, {"is_grab_need_to_recover_"});
    s.add(0.9, TaskEvent::RECOVERY_STARTED).target_name = "recover";
    for (int wait = 1; wait <= 2; ++wait) {
      TaskEvent & e = s.add(1.4 + wait, TaskEvent::RECOVERY_ARM_ABNORMAL);
      e.count = wait;
      e.threshold = 11;
    }
    s.add(3.401, TaskEvent::ENV_STOP_HELD).distance = 1.2369317F;
    s.add(4.402, TaskEvent::ENV_STOP_RELEASED).outcome = "cleared";
    std::vector<double> short_of = kObserve;
    short_of[2] += 0.05;
    s.motion(4.403, 0.6, "arm_movejoints", "recover_movej_pos2", 102100000, kObserve);
    TaskEvent & missed = s.add(5.004, TaskEvent::RECOVERY_POSITION);
    missed.target_name = "recover_movej_pos2";
    missed.target_joints = kObserve;
    missed.current_joints = short_of;
    missed.outcome = "not reached";
    s.motion(5.005, 0.1, "arm_movejoints", "recover_movej_pos2", 102100000, kObserve);
    TaskEvent & reached = s.add(5.106, TaskEvent::RECOVERY_POSITION);
    reached.target_name = "recover_movej_pos2";
    reached.target_joints = kObserve;
    reached.current_joints = kObserve;
    reached.outcome = "reached";
    TaskEvent & recovered = s.add(5.107, TaskEvent::RECOVERY_ENDED);
    recovered.outcome = "recovered";
    recovered.error_code = 102300003;
    s.gripper(5.108, true, "recovery");
    s.detect(6.11, 0.3, {trash(1, 0.35, 0.10, -0.17)}, 0);
    const double done = s.pick(6.42);
    s.detect(done + 0.01, 0.3, {}, -1);
    s.ended(done + 1.32, "succeeded", 102300003);

    arm.arm_state.emplace();
    arm.arm_state->push_back(sample(-0.5, 10, false));
    arm.arm_state->push_back(sample(0.899, 11, true));
    arm.arm_state->push_back(sample(2.4015, 12, false));
    arm.recover.emplace();
    arm.recover->push_back(sample(1.4005, 20, false));
    arm.recover->push_back(sample(2.4005, 21, false));
    arm.joints.emplace();
    arm.joints->push_back(sample(-0.05, 30, kObserve));
    arm.environment.emplace();
    for (int k = 0; k < 50; ++k) {
      ArmRecording::Objects objects;
      const double t = 0.05 + 0.1 * k;
      if (t > 2.5 && t < 4.0) {
        objects.push_back({{1.2F, 0.3F}});
      }
      arm.environment->push_back(sample(t, 100 + k, objects));
    }
    arm.voice.emplace();
    arm.voice->push_back(sample(0.902, 40, 2));
    arm.voice->push_back(sample(3.402, 41, 4));
    arm.voice->push_back(sample(7.0, 42, 102100000));
  }

  Script s;
  ArmRecording arm;
  const TaskSource source{"rec", 2, 3};
};

TEST_F(RecoveryTask, EachFaultLineNamesTheEventsItComesFrom)
{
  const DerivedScene derived = derive_scene(s.task(), arm, source);
  EXPECT_TRUE(derived.problems.empty()) << derived.problems.front();
  const std::string text = derived_text(derived);
  EXPECT_EQ(
      line_of(text, "  - {service: grab"),
      "  - {service: grab, call: 1, status: 102100010, errmsg: \"collision detected\", abnormal: "
      "{until_recovers: 2}}  # MOTION_ANSWERED #106: arm_grab (grab_pose) answered 102100010 "
      "(failure: recover the arm); /robot/unnormal_flag message 11: abnormal; message 12: normal "
      "again, after 2 recover message(s) (counted on /robot/recover_topic)");
  // Between the answer that started the recovery (0.901 s) and the stop (3.402 s): at 2.14 s
  // after the first detection request (0.011 s), until the object was gone (4.05 s).
  EXPECT_EQ(
      line_of(text, "  - {at:"),
      "  - {at: 2.141, env_object: {x: 1.2, y: 0.3, for: 1.899}}  # ENV_STOP_HELD #110: an "
      "object at 1.24 (/quorvel/env_detect_topic message 133), gone by /quorvel/env_detect_topic "
      "message 140; appears between the checks around RECOVERY_ARM_ABNORMAL #109");
  EXPECT_EQ(
      line_of(text, "  - {service: movejoints"),
      "  - {service: movejoints, call: 1, stop_short: {joint: 3, by: 0.05}}  # RECOVERY_POSITION "
      "#114: recover_movej_pos2 not reached, joint3 at 1.0972 for 1.0472");
  EXPECT_EQ(
      line_of(text, "  arm_recover_count_threshold:"),
      "  arm_recover_count_threshold: 10  # RECOVERY_ARM_ABNORMAL #108: at most 11 waits");
  EXPECT_EQ(
      line_of(text, "  env_stop_threshold:"),
      "  env_stop_threshold: 1.5  # TASK_STARTED #101: objects nearer than 2 stop the arm (any "
      "value above 1 and up to 2 does the same)");
  EXPECT_EQ(
      line_of(text, "  gripper_close_delay:"),
      "  gripper_close_delay: 300  # ms, measured: GRIPPER_CLOSED #125 to MOTION_SENT #126");
  EXPECT_EQ(
      line_of(text, "  start_joints:"),
      "  start_joints: [0, -0.5236, 1.0472, -0.5236, 0]  # /robot/joint_angle message 30 (the last "
      "before the task started)");
  EXPECT_EQ(
      line_of(text, "detect_latency:"),
      "detect_latency: 0.3  # request to answer, the median of 3 detection(s) (0.300 to 0.300 s)");
  EXPECT_EQ(
      line_of(text, "    - {name:"),
      "    - {name: \"item1\", type: 1, grab: [0.35, 0.1, -0.17], obb_size: [0.1, 0.1, 0.1]}  # "
      "DETECT_ANSWERED #103: type 1, 0.402 from the arm's origin; picked at GRIPPER_OPENED #128");
  EXPECT_EQ(line_of(text, "  voice:"), "  voice: [2, 4, 102100000]  # /arm/voice_broadcast: 3 announcement(s) during the task");
  EXPECT_EQ(line_of(text, "  recover_messages:"), "  recover_messages: 2  # /robot/recover_topic during the task");
  EXPECT_EQ(line_of(text, "  error_code:"), "  error_code: 102300003  # TASK_ENDED #133: succeeded");
  EXPECT_EQ(derived.scene.faults.size(), 3u);
  EXPECT_EQ(*derived.scene.expect.picked, 1);
  EXPECT_EQ(*derived.scene.expect.dropped, 0);
  // What is written loads back as the same scene.
  const Scene back = parse_scene(text, "back.yaml");
  EXPECT_EQ(back.faults.size(), 3u);
  EXPECT_EQ(back.supervisor.size(), derived.scene.supervisor.size());
  EXPECT_EQ(back.origin->goal, derived.scene.origin->goal);
}

TEST_F(RecoveryTask, WithoutTheArmsTopicsTheEventsTellWhatTheyCan)
{
  const DerivedScene derived = derive_scene(s.task(), ArmRecording{}, source);
  const std::string text = derived_text(derived);
  // The episode from the recovery's waits; the object from the stop's own distance, gone within
  // the second before it was released.
  EXPECT_EQ(
      line_of(text, "  - {service: grab"),
      "  - {service: grab, call: 1, status: 102100010, errmsg: \"collision detected\", abnormal: "
      "{until_recovers: 2}}  # MOTION_ANSWERED #106: arm_grab (grab_pose) answered 102100010 "
      "(failure: recover the arm); RECOVERY_ARM_ABNORMAL #108 to RECOVERY_ARM_ABNORMAL #109: 2 "
      "wait(s) for a normal arm (/robot/unnormal_flag was not recorded)");
  EXPECT_EQ(
      line_of(text, "  - {at:"),
      "  - {at: 2.141, env_object: {x: 1.2369317, y: 0, for: 1.752}}  # ENV_STOP_HELD #110: an "
      "object at 1.24, gone within the second before ENV_STOP_RELEASED #111; appears between the "
      "checks around RECOVERY_ARM_ABNORMAL #109");
  EXPECT_EQ(
      line_of(text, "  start_joints:"),
      "  start_joints: [0, -0.5236, 1.0472, -0.5236, 0]  # no joint angles recorded: the shipped "
      "observe posture");
  EXPECT_NE(text.find("# /robot/unnormal_flag was not recorded"), std::string::npos);
  EXPECT_FALSE(derived.scene.expect.recover_messages);
  EXPECT_TRUE(derived.scene.expect.voice.empty());
}

TEST(SceneFromBag, AWaitIsTheShortestOfItsGaps)
{
  // The first grab's wait stretched to 40 ms by a busy machine; the second shows the setting.
  Script s;
  s.started(0.0);
  s.detect(0.01, 0.3, {trash(1, 0.35, 0.10, -0.17), trash(2, 0.30, 0.0, -0.17)}, 0);
  s.gripper(0.32, true, "grab");
  s.motion(0.36, 0.5, "arm_grab", "grab_pose");
  s.gripper(0.87, false, "grab");
  s.motion(1.17, 0.8, "arm_release", "release_joints", 102100000, kRelease);
  s.gripper(1.98, true, "release");
  s.motion(2.28, 0.8, "arm_movejoints", "observe_joints", 102100000, kObserve);
  s.detect(3.1, 0.3, {trash(2, 0.30, 0.0, -0.17)}, 0);
  const std::uint64_t second_open = s.events().back().event.seq + 1;
  const double end = s.pick(3.41);
  s.detect(end + 0.01, 0.3, {}, -1);
  s.ended(end + 0.5, "succeeded", 102300000);

  const DerivedScene derived = derive_scene(s.task(), ArmRecording{}, TaskSource{"rec", 1, 1});
  EXPECT_EQ(
      line_of(derived_text(derived), "  gripper_open_delay:"),
      "  gripper_open_delay: 10  # ms, measured: GRIPPER_OPENED #" + std::to_string(second_open) +
          " to MOTION_SENT #" + std::to_string(second_open + 1) + ", the shortest of 2");
}

TEST(SceneFromBag, ALateAnswerBecomesALatencyAndAHungDetectorNeverAnswers)
{
  Script s;
  s.started(0.0);
  s.detect(0.01, 0.3, {trash(2, 0.3, 0.3, -0.17), trash(1, 0.35, 0.1, -0.17)}, 1);
  const double done = s.pick(0.32);
  s.add(done + 0.01, TaskEvent::DETECT_REQUESTED).threshold = 1;
  TaskEvent & timeout = s.add(done + 5.02, TaskEvent::DETECT_TIMED_OUT);
  timeout.seconds = 5.0;
  timeout.error_code = 102300001;
  s.add(done + 6.21, TaskEvent::DETECT_LATE_ANSWER).status = 1;
  s.ended(done + 6.3, "succeeded", 102300001);
  DerivedScene derived = derive_scene(s.task(), ArmRecording{}, TaskSource{"rec", 1, 1});
  std::string text = derived_text(derived);
  EXPECT_EQ(
      line_of(text, "  - {service: detect"),
      "  - {service: detect, call: 2, latency: 6.2}  # DETECT_LATE_ANSWER #115: answered after "
      "6.200 s, past the 5.000 s limit (DETECT_TIMED_OUT #114)");
  EXPECT_EQ(
      line_of(text, "  detect_timeout_threshold:"),
      "  detect_timeout_threshold: 5.0  # DETECT_TIMED_OUT #114: the limit that passed");
  // Both items stay on the table in the detector's order; the one left never moved.
  ASSERT_EQ(derived.scene.items.size(), 2u);
  EXPECT_EQ(derived.scene.items[0].type, 2);
  EXPECT_EQ(*derived.scene.expect.picked, 1);

  // Without the late answer: the detector hung.
  s.events().erase(s.events().end() - 2);
  derived = derive_scene(s.task(), ArmRecording{}, TaskSource{"rec", 1, 1});
  text = derived_text(derived);
  EXPECT_EQ(
      line_of(text, "  - {service: detect"),
      "  - {service: detect, call: 2, never_answer: true}  # DETECT_TIMED_OUT #114: no answer "
      "within 5.000 s, none later in the recording");
}

TEST(SceneFromBag, AnItemDetectedAgainAfterAGoodPickIsStuckAndFailuresOnAChainOfCallsMerge)
{
  Script s;
  s.started(0.0);
  const auto rock = trash(4, 0.3, -0.05, -0.17);
  double t = 0.01;
  for (int round = 0; round < 2; ++round) {
    s.detect(t, 0.3, {rock}, 0);
    t = s.pick(t + 0.31);
  }
  s.detect(t, 0.3, {rock}, -1);
  s.ended(t + 1.31, "succeeded", 102300000);
  const DerivedScene derived = derive_scene(s.task(), ArmRecording{}, TaskSource{"rec", 1, 1});
  ASSERT_EQ(derived.scene.items.size(), 1u);
  EXPECT_TRUE(derived.scene.items[0].stuck);
  EXPECT_EQ(*derived.scene.expect.picked, 0);
  EXPECT_NE(
      derived.notes.at("table.items[0]")
          .find("stuck: detected again at its spot by DETECT_ANSWERED #114 after it left the "
                "table (picked at GRIPPER_OPENED #110)"),
      std::string::npos)
      << derived.notes.at("table.items[0]");

  // The same failure on three calls in a row: one fault for them.
  Script f;
  f.started(0.0);
  f.detect(0.01, 0.3, {trash(1, 0.35, 0.1, -0.17)}, 0);
  for (int k = 0; k < 3; ++k) {
    f.motion(1.0 + k, 0.1, "arm_movejoints", "recover_movej_pos2", 102100003, kObserve);
  }
  f.ended(5.0, "succeeded", 102300000);
  const std::string text = derived_text(derive_scene(f.task(), ArmRecording{}, TaskSource{"rec", 1, 1}));
  EXPECT_EQ(
      line_of(text, "  - {service: movejoints"),
      "  - {service: movejoints, call: 1, times: 3, status: 102100003, errmsg: \"collision "
      "detected\"}  # MOTION_ANSWERED #105: arm_movejoints (recover_movej_pos2) answered "
      "102100003 (failure: recover the arm); the same for the next 2 call(s), to MOTION_SENT #108");
}

TEST(SceneFromBag, WhatASceneCannotPlayIsNamedWithItsEvent)
{
  // A cancel, and a motion that never got its answer.
  Script s;
  s.started(0.0);
  s.detect(0.01, 0.3, {trash(1, 0.35, 0.1, -0.17)}, 0);
  s.gripper(0.32, true, "grab");
  s.add(0.33, TaskEvent::MOTION_SENT).service = "arm_grab";
  s.ended(9.0, "canceled", 0);
  const DerivedScene derived = derive_scene(s.task(), ArmRecording{}, TaskSource{"rec", 1, 1});
  ASSERT_EQ(derived.problems.size(), 2u);
  EXPECT_EQ(
      derived.problems[0],
      "TASK_ENDED #106: the task was canceled; a scene cannot send a cancel request: the replay "
      "runs until the task ends by itself");
  EXPECT_EQ(
      derived.problems[1],
      "MOTION_SENT #105: grab call 1 was never answered; arm_sim answers every motion");
  // Written anyway (--partial), the scene says so at its top.
  EXPECT_NE(
      derived_text(derived).find("# Not played (the scene was written with --partial):\n#   - "
                                 "TASK_ENDED #106: the task was canceled"),
      std::string::npos);

  // A grab whose controller went away and came back: the supervisor sent it again, which a
  // scene cannot play.
  Script resent;
  resent.started(0.0);
  resent.detect(0.01, 0.3, {trash(1, 0.35, 0.1, -0.17)}, 0);
  resent.gripper(0.32, true, "grab");
  resent.add(0.33, TaskEvent::MOTION_SENT).service = "arm_grab";
  resent.add(11.0, TaskEvent::SERVER_GONE).service = "arm_grab";
  resent.add(14.0, TaskEvent::SERVER_BACK).service = "arm_grab";
  resent.ended(20.0, "succeeded", 102300000);
  const DerivedScene after_restart =
      derive_scene(resent.task(), ArmRecording{}, TaskSource{"rec", 1, 1});
  ASSERT_FALSE(after_restart.problems.empty());
  EXPECT_NE(
      after_restart.problems.front().find("SERVER_GONE #"), std::string::npos)
      << after_restart.problems.front();
  EXPECT_NE(
      after_restart.problems.front().find("the supervisor sent the request again"),
      std::string::npos);

  // A task recorded without its start, with a gap, and an item that appears from nowhere
  // beside one picked that never left (stuck).
  Script m;
  m.started(0.0);
  m.detect(0.01, 0.3, {trash(1, 0.35, 0.1, -0.17)}, 0);
  const double done = m.pick(0.32);
  m.detect(done, 0.3, {trash(1, 0.35, 0.1, -0.17), trash(3, 0.5, 0.0, -0.17)}, 0);
  m.ended(done + 1.0, "succeeded", 102300000);
  m.events().erase(m.events().begin());
  m.events().erase(m.events().begin() + 2);
  const DerivedScene middle = derive_scene(m.task(), ArmRecording{}, TaskSource{"rec", 1, 1});
  const std::string all = [&middle]() {
    std::string text;
    for (const std::string & problem : middle.problems) {
      text += problem + "\n";
    }
    return text;
  }();
  EXPECT_NE(all.find("DETECT_REQUESTED #102: the recording holds the task from here on, without "
                     "its TASK_STARTED"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("TASK_ENDED #115: 1 of the supervisor's events of this task are not in the bag"),
            std::string::npos)
      << all;
  EXPECT_NE(all.find("DETECT_ANSWERED #114: the detector reported 2 item(s) (type 1 at (0.350, "
                     "0.100, -0.170), type 3 at (0.500, 0.000, -0.170)) where the table holds 1 "
                     "(item1): items that appear, vanish or move between detections cannot be "
                     "played"),
            std::string::npos)
      << all;
  EXPECT_TRUE(middle.scene.items[0].stuck);
}

// ---- the program: bags that cannot give a scene -------------------------------------------

class TempDir
{
public:
  TempDir()
  {
    std::string pattern = (std::filesystem::temp_directory_path() / "scene-from-bag.XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::filesystem::path operator/(const std::string & name) const { return path_ / name; }

private:
  std::filesystem::path path_;
};

template <typename MessageT>
std::vector<std::uint8_t> serialize(const MessageT & message)
{
  rclcpp::SerializedMessage serialized;
  rclcpp::Serialization<MessageT>().serialize_message(&message, &serialized);
  const auto & raw = serialized.get_rcl_serialized_message();
  return std::vector<std::uint8_t>(raw.buffer, raw.buffer + raw.buffer_length);
}

void write_bag(const std::filesystem::path & dir, const std::vector<RecordedEvent> & events)
{
  quorvel_bag::BagWriter writer(dir);
  const auto joints =
      writer.add_topic({"/robot/joint_angle", "sensor_msgs/msg/JointState", "cdr", ""});
  sensor_msgs::msg::JointState state;
  state.position = kObserve;
  const auto bytes = serialize(state);
  writer.write(joints, at(-0.1), bytes.data(), bytes.size());
  if (!events.empty()) {
    const auto topic = writer.add_topic(
        {"/quorvel/arm_supervisor/task_events", "quorvel_task_events/msg/TaskEvent", "cdr", ""});
    for (const RecordedEvent & recorded : events) {
      const auto data = serialize(recorded.event);
      writer.write(topic, recorded.received_ns, data.data(), data.size());
    }
  }
  writer.close();
}

struct ProgramRun
{
  int status = -1;
  std::string output;
};

ProgramRun run_program(const std::string & arguments)
{
  ProgramRun run;
  const std::string command = std::string(ARM_SIM_SCENE) + " " + arguments + " 2>&1";
  FILE * pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    ADD_FAILURE() << "cannot run " << command;
    return run;
  }
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    run.output.append(buffer, n);
  }
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(SceneFromBagProgram, BagsThatCannotGiveASceneAreRefusedWithTheirReason)
{
  TempDir tmp;
  // No task in the bag.
  write_bag(tmp / "empty", {});
  ProgramRun run = run_program("--from " + (tmp / "empty").string());
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("holds no task: none of its messages is a task event"), std::string::npos)
      << run.output;

  // A task without its start.
  Script s;
  s.started(0.0);
  s.detect(0.01, 0.3, {trash(1, 0.35, 0.1, -0.17)}, 0);
  s.ended(s.pick(0.32) + 1.0, "succeeded", 102300000);
  std::vector<RecordedEvent> tail(s.events().begin() + 1, s.events().end());
  write_bag(tmp / "middle", tail);
  const std::string out = (tmp / "middle.yaml").string();
  run = run_program("--from " + (tmp / "middle").string() + " -o " + out);
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("DETECT_REQUESTED #102: the recording holds the task from here on, "
                            "without its TASK_STARTED"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("nothing written; give --partial"), std::string::npos) << run.output;
  EXPECT_FALSE(std::filesystem::exists(out));
  // --partial writes it, and says what it left out.
  run = run_program("--from " + (tmp / "middle").string() + " -o " + out + " --partial");
  EXPECT_EQ(run.status, 0) << run.output;
  std::ifstream in(out);
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(written.find("#   - DETECT_REQUESTED #102: the recording holds the task from here on"),
            std::string::npos)
      << written;
  // A file that exists is never written over.
  run = run_program("--from " + (tmp / "middle").string() + " -o " + out + " --partial");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("already exists"), std::string::npos) << run.output;

  // A canceled task.
  Script c;
  c.started(0.0);
  c.detect(0.01, 0.3, {trash(1, 0.35, 0.1, -0.17)}, 0);
  c.ended(c.pick(0.32) + 1.0, "canceled", 0);
  write_bag(tmp / "canceled", c.events());
  run = run_program("--from " + (tmp / "canceled").string());
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("TASK_ENDED #113: the task was canceled"), std::string::npos) << run.output;

  // Tasks that do not exist, and wrong arguments.
  run = run_program("--from " + (tmp / "canceled").string() + " --task 2");
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("holds 1 task(s); there is no task 2"), std::string::npos) << run.output;
  run = run_program("--from " + (tmp / "nothing").string());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("nothing': no such directory"), std::string::npos) << run.output;
  run = run_program("--from " + (tmp / "canceled").string() + " --task 0");
  EXPECT_EQ(run.status, 2) << run.output;
  run = run_program("--task 1");
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("give --from BAG"), std::string::npos) << run.output;
}

}  // namespace
}  // namespace quorvel_arm_sim

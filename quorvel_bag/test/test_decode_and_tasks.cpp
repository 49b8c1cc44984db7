// The types a bag's messages decode into, and the tasks found in the supervisor's events.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <quorvel_protocol/msg/trashes.hpp>
#include <quorvel_task_events/msg/task_event.hpp>
#include <std_msgs/msg/int32.hpp>
#include <std_msgs/msg/int32_multi_array.hpp>

#include "bag_fixtures.hpp"
#include "quorvel_bag/bag_error.hpp"
#include "quorvel_bag/decode.hpp"
#include "quorvel_bag/reader.hpp"
#include "quorvel_bag/tasks.hpp"
#include "quorvel_bag/writer.hpp"

using bag_fixtures::TempDir;
using quorvel_bag::RecordedEvent;
using quorvel_bag::TaskEvent;

namespace
{

constexpr std::int64_t kT0 = 1765152000000000000;
constexpr std::int64_t kSecond = 1000000000;

/// Events of one supervisor: seq counts over all its tasks.
class Supervisor
{
public:
  /// One event of the task `goal` (its first UUID byte), stamped at `at_s` after kT0 and
  /// received `delay_ms` later.
  RecordedEvent event(std::uint8_t goal, std::uint8_t kind, double at_s, int step, int delay_ms = 2)
  {
    RecordedEvent recorded;
    TaskEvent & e = recorded.event;
    e.seq = ++seq_;
    const std::int64_t stamp = kT0 + static_cast<std::int64_t>(at_s * 1e9);
    e.stamp.sec = static_cast<std::int32_t>(stamp / kSecond);
    e.stamp.nanosec = static_cast<std::uint32_t>(stamp % kSecond);
    e.kind = kind;
    e.goal_id.uuid[0] = goal;
    e.goal_id.uuid[15] = 0xab;
    e.step_count = step;
    recorded.received_ns = stamp + delay_ms * 1000000LL;
    return recorded;
  }

  RecordedEvent ended(std::uint8_t goal, double at_s, int step, std::int32_t code, int given_up)
  {
    RecordedEvent recorded = event(goal, TaskEvent::TASK_ENDED, at_s, step);
    recorded.event.outcome = "succeeded";
    recorded.event.error_code = code;
    for (int i = 0; i < given_up; ++i) {
      quorvel_interfaces::msg::Trash trash;
      trash.type = 7;
      trash.grab_pose.position.x = 0.37;
      recorded.event.items.push_back(trash);
    }
    return recorded;
  }

  void skip(std::uint64_t n) { seq_ += n; }

private:
  std::uint64_t seq_ = 0;
};

}  // namespace

TEST(Decode, the_arm_and_supervisor_types_decode_back_to_what_was_sent)
{
  TempDir tmp;
  const auto dir = tmp / "types";
  quorvel_protocol::msg::Trashes trashes;
  trashes.header.frame_id = "map";
  trashes.trashes.resize(2);
  trashes.trashes[1].x = 1.25f;
  trashes.trashes[1].data = {1, 2, 3};
  std_msgs::msg::Int32MultiArray gripper;
  gripper.data = {100, 1};
  TaskEvent event;
  event.seq = 12;
  event.kind = TaskEvent::MOTION_ANSWERED;
  event.summary = "arm_grab answered 102100000 (success)";
  event.flags = {"is_grab_need_to_recover_"};
  event.distances = {0.5f, 0.7f};
  {
    quorvel_bag::BagWriter writer(dir);
    const auto a =
        writer.add_topic({"/quorvel/env_detect_topic", "quorvel_protocol/msg/Trashes", "cdr", ""});
    const auto b =
        writer.add_topic({"/robot/ctrl_io_topic", "std_msgs/msg/Int32MultiArray", "cdr", ""});
    const auto c = writer.add_topic({"/events", "quorvel_task_events/msg/TaskEvent", "cdr", ""});
    for (const auto & [id, bytes] : std::vector<std::pair<std::int64_t, std::vector<std::uint8_t>>>{
             {a, bag_fixtures::serialize(trashes)},
             {b, bag_fixtures::serialize(gripper)},
             {c, bag_fixtures::serialize(event)}}) {
      writer.write(id, kT0 + id, bytes.data(), bytes.size());
    }
    writer.close();
  }
  quorvel_bag::BagReader reader(dir);
  auto cursor = reader.messages();
  quorvel_bag::BagMessage message;
  ASSERT_TRUE(cursor.next(message));
  EXPECT_EQ(quorvel_bag::decode<quorvel_protocol::msg::Trashes>(message, "types"), trashes);
  ASSERT_TRUE(cursor.next(message));
  EXPECT_EQ(quorvel_bag::decode<std_msgs::msg::Int32MultiArray>(message, "types"), gripper);
  ASSERT_TRUE(cursor.next(message));
  EXPECT_EQ(quorvel_bag::decode<TaskEvent>(message, "types"), event);
  EXPECT_TRUE(quorvel_bag::check_decodes(message, "types"));
  EXPECT_FALSE(cursor.next(message));

  for (const char * type :
       {"std_msgs/msg/Bool",
        "sensor_msgs/msg/JointState",
        "quorvel_task_events/msg/TaskEvent",
        "std_msgs/msg/Int32",
        "quorvel_protocol/msg/Trashes"}) {
    EXPECT_TRUE(quorvel_bag::is_known_type(type)) << type;
  }
  EXPECT_FALSE(quorvel_bag::is_known_type("tf2_msgs/msg/TFMessage"));
}

TEST(Tasks, each_goal_becomes_a_task_with_its_outcome_and_its_stretch_of_the_recording)
{
  Supervisor s;
  std::vector<RecordedEvent> events;
  // Task 1: a recovery, ends 102300003 with one trash given up.
  events.push_back(s.event(1, TaskEvent::TASK_STARTED, 0.0, 0));
  events.back().event.cmd = 1;
  events.push_back(s.event(1, TaskEvent::DETECT_ANSWERED, 0.5, 1));
  events.push_back(s.event(1, TaskEvent::RECOVERY_STARTED, 1.0, 4));
  events.push_back(s.ended(1, 10.25, 12, 102300003, 1));
  // Task 2 starts later and the recording stops before it ends.
  events.push_back(s.event(2, TaskEvent::TASK_STARTED, 20.0, 0));
  events.push_back(s.event(2, TaskEvent::DETECT_REQUESTED, 20.1, 0));
  const std::int64_t recording_end = kT0 + 25 * kSecond;

  // Received in another order, with one event twice: neither changes the tasks.
  std::vector<RecordedEvent> shuffled{
      events[5], events[3], events[0], events[2], events[1], events[4], events[1]};
  const auto tasks = quorvel_bag::tasks_from_events(shuffled, recording_end);
  ASSERT_EQ(tasks.size(), 2u);

  const auto & first = tasks[0];
  EXPECT_EQ(first.goal_id, "01" + std::string(28, '0') + "ab");
  EXPECT_TRUE(first.finished());
  EXPECT_EQ(first.outcome, "succeeded");
  EXPECT_EQ(first.error_code, 102300003);
  EXPECT_EQ(first.cmd, 1);
  EXPECT_EQ(first.steps, 12);
  ASSERT_EQ(first.given_up.size(), 1u);
  EXPECT_FLOAT_EQ(first.given_up[0].grab_pose.position.x, 0.37);
  ASSERT_TRUE(first.duration_s());
  EXPECT_DOUBLE_EQ(*first.duration_s(), 10.25);
  ASSERT_EQ(first.events.size(), 4u);
  EXPECT_EQ(first.events.front().event.kind, TaskEvent::TASK_STARTED);
  EXPECT_EQ(first.missing_events, 0u);
  EXPECT_EQ(first.begin_ns, kT0);
  EXPECT_EQ(first.end_ns, kT0 + 10250000000 + 2000000);

  const auto & second = tasks[1];
  EXPECT_FALSE(second.finished());
  EXPECT_EQ(second.outcome, "");
  EXPECT_FALSE(second.error_code);
  EXPECT_FALSE(second.duration_s());
  EXPECT_EQ(second.begin_ns, kT0 + 20 * kSecond);
  EXPECT_EQ(second.end_ns, recording_end);
}

TEST(Tasks, a_task_received_late_or_with_gaps_says_so)
{
  Supervisor s;
  std::vector<RecordedEvent> events;
  // Received from the supervisor's history 30 s after it started, with two events lost.
  events.push_back(s.event(5, TaskEvent::TASK_STARTED, 0.0, 0, 30000));
  events.push_back(s.event(5, TaskEvent::DETECT_REQUESTED, 0.1, 0, 29900));
  s.skip(2);
  events.push_back(s.event(5, TaskEvent::MOTION_SENT, 1.0, 2, 29000));
  events.push_back(s.ended(5, 2.0, 3, 102300000, 0));
  const auto tasks = quorvel_bag::tasks_from_events(events, kT0 + 40 * kSecond);
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_EQ(tasks[0].missing_events, 2u);
  EXPECT_EQ(tasks[0].begin_ns, kT0) << "the task began before the recorder heard of it";
  EXPECT_EQ(tasks[0].error_code, 102300000);

  // A task whose start is not in the bag still counts, from its first event.
  std::vector<RecordedEvent> tail{events[2], events[3]};
  const auto partial = quorvel_bag::tasks_from_events(tail, kT0 + 40 * kSecond);
  ASSERT_EQ(partial.size(), 1u);
  EXPECT_FALSE(partial[0].start_stamp_ns);
  EXPECT_FALSE(partial[0].duration_s());
  EXPECT_TRUE(partial[0].finished());
}

TEST(Tasks, found_in_a_bag_through_the_event_topics)
{
  TempDir tmp;
  const auto dir = tmp / "tasks";
  Supervisor s;
  {
    quorvel_bag::BagWriter writer(dir);
    const auto events = writer.add_topic(
        {"/quorvel/arm_supervisor/task_events", "quorvel_task_events/msg/TaskEvent", "cdr", ""});
    const auto voice = writer.add_topic({"/arm/voice_broadcast", "std_msgs/msg/Int32", "cdr", ""});
    for (const auto & recorded :
         {s.event(3, TaskEvent::TASK_STARTED, 0.0, 0), s.ended(3, 4.5, 6, 102300005, 0)}) {
      const auto bytes = bag_fixtures::serialize(recorded.event);
      writer.write(events, recorded.received_ns, bytes.data(), bytes.size());
    }
    std_msgs::msg::Int32 code;
    code.data = 2;
    const auto bytes = bag_fixtures::serialize(code);
    writer.write(voice, kT0 + kSecond, bytes.data(), bytes.size());
    writer.close();
  }
  quorvel_bag::BagReader reader(dir);
  const auto tasks = quorvel_bag::find_tasks(reader);
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_EQ(tasks[0].error_code, 102300005);
  EXPECT_EQ(tasks[0].steps, 6);
  EXPECT_DOUBLE_EQ(*tasks[0].duration_s(), 4.5);
}

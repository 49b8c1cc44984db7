// Comparing recorded tasks step by step, and picking the task of a bag a command means.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "quorvel_bag/bag_error.hpp"
#include "quorvel_bag/steps.hpp"
#include "quorvel_bag/tasks.hpp"

using quorvel_bag::RecordedEvent;
using quorvel_bag::Step;
using quorvel_bag::TaskEvent;
using quorvel_bag::TaskRecord;

namespace
{

constexpr std::int64_t kT0 = 1765152000000000000;

quorvel_interfaces::msg::Trash trash(std::uint8_t type, double x, double y)
{
  quorvel_interfaces::msg::Trash t;
  t.type = type;
  t.grab_pose.position.x = x;
  t.grab_pose.position.y = y;
  t.grab_pose.position.z = -0.17;
  return t;
}

// One task's events; times in ms after kT0 so that two recordings of a task differ in them.
class Recording
{
public:
  Recording(std::uint8_t goal, std::int64_t offset_ms) : goal_(goal), offset_ms_(offset_ms) {}

  TaskEvent & add(std::uint8_t kind)
  {
    RecordedEvent recorded;
    recorded.event.seq = seq_++;
    recorded.event.kind = kind;
    recorded.event.goal_id.uuid[0] = goal_;
    const std::int64_t at = kT0 + (offset_ms_ + 100 * static_cast<std::int64_t>(seq_)) * 1000000;
    recorded.event.stamp.sec = static_cast<std::int32_t>(at / 1000000000);
    recorded.event.stamp.nanosec = static_cast<std::uint32_t>(at % 1000000000);
    recorded.received_ns = at + 1000000;
    events_.push_back(recorded);
    return events_.back().event;
  }

  // A task that picks one trash, chooses it again and gives it up.
  Recording & pick_task(std::int32_t grab_status = 102100000)
  {
    add(TaskEvent::TASK_STARTED);
    add(TaskEvent::DETECT_REQUESTED).service = "detect_trash";
    TaskEvent & answer = add(TaskEvent::DETECT_ANSWERED);
    answer.service = "detect_trash";
    answer.status = 1;
    answer.items = {trash(2, 0.9, 0.5), trash(4, 0.3, -0.05)};
    answer.chosen_index = 1;
    TaskEvent & sent = add(TaskEvent::MOTION_SENT);
    sent.service = "arm_grab";
    sent.target_name = "grab_pose";
    TaskEvent & answered = add(TaskEvent::MOTION_ANSWERED);
    answered.service = "arm_grab";
    answered.target_name = "grab_pose";
    answered.status = grab_status;
    if (grab_status != 102100000) {
      answered.flags = {"is_grab_need_to_recover_"};
    }
    TaskEvent & given = add(TaskEvent::SPOT_GIVEN_UP);
    given.items = {trash(4, 0.3, -0.05)};
    TaskEvent & ended = add(TaskEvent::TASK_ENDED);
    ended.outcome = "succeeded";
    ended.error_code = 102300000;
    ended.items = {trash(4, 0.3, -0.05)};
    return *this;
  }

  std::vector<RecordedEvent> events() const { return events_; }
  std::vector<Step> steps() const
  {
    return quorvel_bag::task_steps(quorvel_bag::tasks_from_events(events_, kT0).at(0));
  }

private:
  std::uint8_t goal_;
  std::int64_t offset_ms_;
  std::uint64_t seq_ = 1;
  std::vector<RecordedEvent> events_;
};

}  // namespace

TEST(Steps, a_replay_of_the_same_task_takes_the_same_steps_whatever_its_times_and_ids)
{
  Recording original(1, 0);
  Recording replay(9, 123456);
  original.pick_task();
  replay.pick_task();
  const auto a = original.steps();
  const auto b = replay.steps();
  ASSERT_EQ(a.size(), 7u);
  EXPECT_FALSE(quorvel_bag::first_parting(a, b));
  ASSERT_TRUE(a[2].chosen);
  EXPECT_EQ(a[2].chosen->type, 4);
  EXPECT_EQ(
      quorvel_bag::describe_step(a[2]), "DETECT_ANSWERED detect_trash 1, chose type 4 at (0.3, -0.05, -0.17)");
  EXPECT_EQ(quorvel_bag::describe_step(a[4]), "MOTION_ANSWERED arm_grab grab_pose 102100000");
  EXPECT_EQ(quorvel_bag::describe_step(a[6]), "TASK_ENDED succeeded error_code 102300000, 1 given up");
}

TEST(Steps, the_first_step_that_differs_is_found_with_the_fields_that_differ)
{
  const auto a = Recording(1, 0).pick_task().steps();
  // Another status, with the flag it sets.
  auto b = Recording(2, 0).pick_task(102100010).steps();
  ASSERT_EQ(quorvel_bag::first_parting(a, b), 4u);
  EXPECT_EQ(quorvel_bag::step_differences(a[4], b[4]), (std::vector<std::string>{"status", "flags"}));
  EXPECT_EQ(
      quorvel_bag::describe_step(b[4]),
      "MOTION_ANSWERED arm_grab grab_pose 102100010 [is_grab_need_to_recover_]");

  // Another item chosen; a given-up spot a millimetre away.
  b = Recording(2, 0).pick_task().steps();
  b[2].chosen->x = 0.31;
  b[5].given_up[0].y = -0.051;
  EXPECT_EQ(quorvel_bag::first_parting(a, b), 2u);
  EXPECT_EQ(quorvel_bag::step_differences(a[2], b[2]), (std::vector<std::string>{"item chosen"}));
  EXPECT_EQ(quorvel_bag::step_differences(a[5], b[5]), (std::vector<std::string>{"items given up"}));
  // A position that differs by less than a micrometre is the same spot.
  b = Recording(2, 0).pick_task().steps();
  b[2].chosen->x += 5e-7;
  EXPECT_FALSE(quorvel_bag::first_parting(a, b));

  // One that ends early parts where it ends; another outcome or error code is told apart.
  b.pop_back();
  EXPECT_EQ(quorvel_bag::first_parting(a, b), 6u);
  EXPECT_EQ(quorvel_bag::first_parting(b, a), 6u);
  b = a;
  b[5].kind = TaskEvent::RECOVERY_ENDED;
  EXPECT_EQ(quorvel_bag::step_differences(a[5], b[5]), (std::vector<std::string>{"kind"}));
  b = a;
  b[6].outcome = "canceled";
  b[6].error_code = 0;
  EXPECT_EQ(
      quorvel_bag::step_differences(a[6], b[6]),
      (std::vector<std::string>{"outcome", "error code"}));
}

TEST(Steps, a_wait_more_or_less_for_a_normal_arm_is_named_a_timing_difference)
{
  // A recovery whose arm turned normal around the supervisor's fourth check.
  const auto task = [](int waits, const char * reached) {
    Recording r(1, 0);
    r.add(TaskEvent::TASK_STARTED);
    r.add(TaskEvent::RECOVERY_STARTED).target_name = "release recover";
    for (int i = 0; i < waits; ++i) {
      r.add(TaskEvent::RECOVERY_ARM_ABNORMAL).count = i + 1;
    }
    TaskEvent & position = r.add(TaskEvent::RECOVERY_POSITION);
    position.target_name = "recover_movej_release_pos";
    position.outcome = reached;
    TaskEvent & ended = r.add(TaskEvent::TASK_ENDED);
    ended.outcome = "succeeded";
    ended.error_code = 102300005;
    return r.steps();
  };
  const auto four = task(4, "not reached");
  const auto three = task(3, "not reached");
  const auto at = quorvel_bag::first_parting(four, three);
  ASSERT_EQ(at, 5u);
  auto timing = quorvel_bag::timing_difference(four, three, *at);
  ASSERT_TRUE(timing);
  EXPECT_EQ(
      timing->what,
      "the arm was seen abnormal at 4 one-second check(s) in A and 3 in B: it turned normal on "
      "the other side of a check");
  EXPECT_TRUE(timing->same_after);
  // One more wait and then another path is still named, but not the same after it.
  timing = quorvel_bag::timing_difference(four, task(3, "reached"), *at);
  ASSERT_TRUE(timing);
  EXPECT_FALSE(timing->same_after);
  // A position judged differently.
  const auto reached = task(4, "reached");
  ASSERT_EQ(quorvel_bag::first_parting(four, reached), 6u);
  timing = quorvel_bag::timing_difference(four, reached, 6);
  ASSERT_TRUE(timing);
  EXPECT_NE(timing->what.find("recover_movej_release_pos was judged not reached in A and reached in B"),
            std::string::npos);
  // Anything else is not a timing difference.
  const auto a = Recording(1, 0).pick_task().steps();
  const auto b = Recording(2, 0).pick_task(102100010).steps();
  EXPECT_FALSE(quorvel_bag::timing_difference(a, b, 4));
}

TEST(SelectTask, by_number_by_goal_or_the_last_that_ended)
{
  std::vector<RecordedEvent> events;
  for (const std::uint8_t goal : {0x11, 0x12, 0x21}) {
    Recording r(goal, goal * 10000);
    r.pick_task();
    auto more = r.events();
    if (goal == 0x21) {
      more.pop_back();  // the recording ends before the third task does
    }
    events.insert(events.end(), more.begin(), more.end());
  }
  const auto tasks = quorvel_bag::tasks_from_events(events, kT0 + 10000000000000LL);
  ASSERT_EQ(tasks.size(), 3u);
  EXPECT_EQ(quorvel_bag::select_task(tasks, "rec", std::nullopt, ""), 1u);
  EXPECT_EQ(quorvel_bag::select_task(tasks, "rec", 3, ""), 2u);
  EXPECT_EQ(quorvel_bag::select_task(tasks, "rec", std::nullopt, "21"), 2u);

  const auto refused = [&](std::optional<std::size_t> number, const std::string & goal) {
    try {
      quorvel_bag::select_task(tasks, "rec", number, goal);
    } catch (const quorvel_bag::BagError & error) {
      return std::string(error.what());
    }
    return std::string("nothing thrown");
  };
  EXPECT_EQ(refused(4, ""), "bag 'rec' holds 3 task(s); there is no task 4");
  EXPECT_EQ(refused(std::nullopt, "1"), "more than one task of bag 'rec' has a goal id starting with '1'");
  EXPECT_EQ(
      refused(std::nullopt, "ff"),
      "no task of bag 'rec' has the goal id 'ff' (quorvel bag info lists them)");
  const std::vector<TaskRecord> unfinished{tasks[2]};
  try {
    quorvel_bag::select_task(unfinished, "rec", std::nullopt, "");
    FAIL() << "an unfinished task was picked by default";
  } catch (const quorvel_bag::BagError & error) {
    EXPECT_NE(std::string(error.what()).find("no task of bag 'rec' ended"), std::string::npos);
  }
  try {
    quorvel_bag::select_task({}, "rec", 1, "");
    FAIL() << "a task picked from none";
  } catch (const quorvel_bag::BagError & error) {
    EXPECT_NE(std::string(error.what()).find("bag 'rec' holds no task"), std::string::npos);
  }
}

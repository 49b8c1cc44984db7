// Comparing a run with its scene: reading what quorvel and arm_sim printed, reporting each
// difference.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "quorvel_arm_sim/expectation.hpp"
#include "quorvel_arm_sim/simulator.hpp"

namespace quorvel_arm_sim
{
namespace
{

const char kTaskOutput[] =
    "goal accepted: cmd 1, id 0123\n"
    "feedback: step_count 1\n"
    "result: succeeded\n"
    "error_code: 102300003 (recovery succeeded)\n"
    "unable_grab_trashes: 1\n"
    "  type 4, grab position (0.3, -0.05, -0.17)\n";

Expectation expect_recovered()
{
  Expectation expect;
  expect.error_code = 102300003;
  expect.unable_grab_trashes = 1;
  expect.voice = {2, 4};
  expect.recover_messages = 2;
  expect.picked = 1;
  expect.dropped = 0;
  return expect;
}

Observed observed_as_expected()
{
  Observed observed;
  std::istringstream task(kTaskOutput);
  observed.task = read_task_output(task);
  observed.voice = std::set<std::int32_t>{102100000, 2, 4};
  observed.recover_messages = 2;
  observed.items = ItemCounts{1, 0};
  return observed;
}

TEST(ExpectationTest, ReadsWhatTheToolsPrinted)
{
  std::istringstream task(kTaskOutput);
  const TaskOutput out = read_task_output(task);
  EXPECT_EQ(out.result, "succeeded");
  EXPECT_EQ(out.error_code, 102300003);
  EXPECT_EQ(out.unable_grab_trashes, 1u);

  std::istringstream voice(
      "voice: 2 (arm controller failure code)\nvoice: 4 (environment stop)\nvoice: 4 (environment "
      "stop)\nvoice: 102100000 (arm controller success)\n");
  EXPECT_EQ(read_voice_codes(voice), (std::set<std::int32_t>{2, 4, 102100000}));
  std::istringstream recover("recover: false\nrecover: false\nlistening\n");
  EXPECT_EQ(count_recover_messages(recover), 2);
}

TEST(ExpectationTest, CountsTheSimulatorsOwnItemLines)
{
  // The lines come from a real simulator run, so a change of their wording fails here.
  Scene scene = parse_scene(
      R"(
arm: {joint_speed: 100.0, start_joints: [0, 0, 0, 0, 0]}
table: {items: [{name: bottle, grab: [0.3, 0.1, -0.17]}, {name: can, grab: [0.4, 0.1, -0.17]}]}
faults: [{service: release, call: 2, status: 102100014}]
expect: {error_code: 0, unable_grab_trashes: 0}
)",
      "s.yaml");
  Simulator sim(scene, Chaos(1, 0.0));
  Ticket ticket = 0;
  double now = 0.0;
  for (const Item & item : scene.items) {
    sim.grab_requested(now, ++ticket, item.grab[0], item.grab[1], item.grab[2]);
    sim.advance(now += 1.0);
    sim.gripper_command(now, {100, 1});
    sim.joints_requested(now, ++ticket, Service::kRelease, {1, 0, 0, 0, 0});
    sim.advance(now += 1.0);
    sim.gripper_command(now, {100, 0});
  }
  std::ostringstream log;
  log << "arm_sim: scene 's' (s.yaml): 2 items\n";
  for (const auto & line : sim.take_events()) {
    log << "[arm_sim] " << line << "\n";
  }
  std::istringstream in(log.str());
  const ItemCounts counts = count_item_events(in);
  EXPECT_EQ(counts.picked, 1);
  EXPECT_EQ(counts.dropped, 1);
}

TEST(ExpectationTest, AsExpectedHasNoDifferences)
{
  EXPECT_TRUE(differences(expect_recovered(), observed_as_expected()).empty());
  // Checks without an observation are not made.
  Observed task_only;
  task_only.task = observed_as_expected().task;
  EXPECT_TRUE(differences(expect_recovered(), task_only).empty());
}

TEST(ExpectationTest, EveryDifferenceIsReported)
{
  Observed observed = observed_as_expected();
  observed.task.error_code = 102300005;
  observed.task.unable_grab_trashes = 0;
  observed.voice = std::set<std::int32_t>{2};
  observed.recover_messages = 11;
  observed.items = ItemCounts{0, 1};
  const auto found = differences(expect_recovered(), observed);
  const std::vector<std::string> wanted{
      "error_code: got 102300005, expected 102300003",
      "unable_grab_trashes: got 0, expected 1",
      "voice: 4 never announced (heard: 2)",
      "recover messages: got 11, expected 2",
      "items picked: got 0, expected 1",
      "items dropped: got 1, expected 0",
  };
  EXPECT_EQ(found, wanted);

  Observed unfinished;
  std::istringstream task("goal accepted: cmd 1\n");
  unfinished.task = read_task_output(task);
  const auto missing = differences(expect_recovered(), unfinished);
  ASSERT_EQ(missing.size(), 3u);
  EXPECT_EQ(missing[0], "result: missing (the task printed no result)");

  Observed canceled = observed_as_expected();
  canceled.task.result = "canceled";
  EXPECT_EQ(
      differences(expect_recovered(), canceled).at(0), "result: got canceled, expected succeeded");
}

TEST(ExpectationTest, ShellLinesForScripts)
{
  EXPECT_EQ(
      shell_lines(expect_recovered()),
      "error_code=102300003\nunable_grab_trashes=1\nvoice=\"2 4\"\nrecover_messages=2\n"
      "picked=1\ndropped=0\n");
  Expectation plain;
  plain.error_code = 102300000;
  EXPECT_EQ(shell_lines(plain), "error_code=102300000\nunable_grab_trashes=0\nvoice=\"\"\n");
}

}  // namespace
}  // namespace quorvel_arm_sim

// Argument handling of quorvel: what a mistyped command line gets, before any ROS traffic.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include <rclcpp/serialization.hpp>
#include <rclcpp/serialized_message.hpp>

#include "codes.hpp"
#include "commands.hpp"
#include "dispatch.hpp"
#include "event_text.hpp"
#include "progress.hpp"
#include "quorvel_bag/writer.hpp"

namespace quorvel_tools
{
namespace
{

struct CliRun
{
  int code;
  std::string out;
  std::string err;
};

CliRun run(const std::vector<const char *> & words)
{
  std::vector<std::string> storage{"quorvel"};
  storage.insert(storage.end(), words.begin(), words.end());
  std::vector<char *> argv;
  for (std::string & word : storage) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int code = static_cast<int>(run_cli(static_cast<int>(storage.size()), argv.data()));
  CliRun result{
      code, testing::internal::GetCapturedStdout(), testing::internal::GetCapturedStderr()};
  return result;
}

TEST(QuorvelCli, WrongArgumentsPrintTheCommandsUsageAndExit2)
{
  struct Case
  {
    std::vector<const char *> words;
    const char * message;  // part of the error line
    const char * usage;    // first words of the usage shown
  };
  const std::vector<Case> cases = {
      {{}, "", "usage: quorvel <command>"},
      {{"grab"}, "unknown command 'grab'", "usage: quorvel <command>"},
      {{"task", "--cmd"}, "--cmd needs a value", "usage: quorvel task"},
      {{"task", "--cmd", "two"}, "--cmd: 'two' is not a 32-bit integer", "usage: quorvel task"},
      {{"task", "--cmd=4294967296"}, "not a 32-bit integer", "usage: quorvel task"},
      {{"task", "--timeout", "0"},
       "--timeout: '0' is not a number greater than 0",
       "usage: quorvel task"},
      {{"task", "--timeout", "nan"}, "is not a finite number", "usage: quorvel task"},
      {{"task", "--goal", "1"}, "unknown option --goal", "usage: quorvel task"},
      {{"task", "3"}, "unexpected argument '3'", "usage: quorvel task"},
      {{"cancel", "all"}, "unexpected argument 'all'", "usage: quorvel cancel"},
      {{"pub"}, "which input?", "usage: quorvel pub"},
      {{"pub", "arm-state"}, "exactly one value", "usage: quorvel pub"},
      {{"pub", "arm-state", "yes"}, "value: 'yes' is not true or false", "usage: quorvel pub"},
      {{"pub", "env-enable", "True"}, "not true or false", "usage: quorvel pub"},
      {{"pub", "joints"}, "at least one position", "usage: quorvel pub"},
      {{"pub", "joints", "0.1", "x"}, "joint position: 'x'", "usage: quorvel pub"},
      {{"pub", "env-object", "1.0"}, "two numbers, X and Y", "usage: quorvel pub"},
      {{"pub", "env-object", "1", "2", "3"}, "two numbers, X and Y", "usage: quorvel pub"},
      {{"pub", "gripper", "open"}, "unknown input 'gripper'", "usage: quorvel pub"},
      {{"pub", "arm-state", "true", "--once", "--rate", "2"},
       "exclude each other",
       "usage: quorvel pub"},
      {{"pub", "arm-state", "true", "--rate", "0"}, "greater than 0", "usage: quorvel pub"},
      {{"pub", "arm-state", "true", "--topic", ""}, "is not a ROS name", "usage: quorvel pub"},
      {{"echo"}, "which output?", "usage: quorvel echo"},
      {{"echo", "voice", "gripper"}, "one output at a time", "usage: quorvel echo"},
      {{"echo", "joints"}, "unknown output 'joints'", "usage: quorvel echo"},
      {{"echo", "voice", "--count", "0"}, "greater than 0", "usage: quorvel echo"},
      {{"status", "--wait", "-1"}, "greater than 0", "usage: quorvel status"},
      {{"dashboard", "--port", "0"},
       "not a port number from 1 to 65535",
       "usage: quorvel dashboard"},
      {{"dashboard", "--bind", "my-host"},
       "'my-host' is not an IP address",
       "usage: quorvel dashboard"},
      {{"dashboard", "open"}, "unexpected argument 'open'", "usage: quorvel dashboard"},
      {{"task", "--ros-args", "-p"}, "", "usage: quorvel"},
      {{"record", "rec"}, "unexpected argument 'rec'", "usage: quorvel record"},
      {{"record", "-o"}, "--output needs a value", "usage: quorvel record"},
      {{"record", "-o", ""}, "may not be empty", "usage: quorvel record"},
      {{"record", "--duration", "-1"}, "greater than 0", "usage: quorvel record"},
      {{"record", "--topic", "two words"}, "is not a ROS name", "usage: quorvel record"},
      {{"record", "--bag", "x"}, "unknown option --bag", "usage: quorvel record"},
      {{"bag"}, "what to do?", "usage: quorvel bag"},
      {{"bag", "play", "rec"}, "unknown action 'play'", "usage: quorvel bag"},
      {{"bag", "info"}, "which bag?", "usage: quorvel bag"},
      {{"bag", "info", "a", "b"}, "one bag at a time", "usage: quorvel bag"},
      {{"bag", "compare", "a"}, "compare needs two bags", "usage: quorvel bag"},
      {{"bag", "compare", "a", "b", "c"}, "compare needs two bags", "usage: quorvel bag"},
      {{"bag", "compare", "a", "b", "--task", "0"}, "--task", "usage: quorvel bag"},
      {{"bag", "compare", "a", "b", "--task", "1", "--goal", "5f"},
       "give --task or --goal, not both",
       "usage: quorvel bag"},
      {{"bag", "info", "a", "--task", "2"}, "go with compare", "usage: quorvel bag"},
  };
  for (const Case & c : cases) {
    std::string line;
    for (const char * word : c.words) {
      line += std::string(word) + " ";
    }
    SCOPED_TRACE("quorvel " + line);
    const CliRun result = run(c.words);
    EXPECT_EQ(result.code, 2);
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
    EXPECT_NE(result.err.find(c.usage), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
  }
}

TEST(QuorvelCli, HelpGoesToStandardOutputAndExits0)
{
  const std::vector<std::pair<std::vector<const char *>, const char *>> cases = {
      {{"--help"}, "usage: quorvel <command>"},
      {{"-h"}, "usage: quorvel <command>"},
      {{"task", "--help"}, "usage: quorvel task"},
      {{"pub", "-h"}, "usage: quorvel pub"},
      // Help wins over arguments that are incomplete.
      {{"echo", "--help"}, "usage: quorvel echo"},
      {{"cancel", "--help"}, "usage: quorvel cancel"},
      {{"status", "--help"}, "usage: quorvel status"},
      {{"dashboard", "--help"}, "usage: quorvel dashboard"},
      {{"record", "-h"}, "usage: quorvel record"},
      {{"bag", "--help"}, "usage: quorvel bag"},
  };
  for (const auto & c : cases) {
    SCOPED_TRACE(c.second);
    const CliRun result = run(c.first);
    EXPECT_EQ(result.code, 0);
    EXPECT_EQ(result.out.rfind(c.second, 0), 0u) << result.out;
    EXPECT_EQ(result.err, "");
  }
}

TEST(QuorvelCli, OptionsTakeBothFormsAndNegativeNumbersStayPositional)
{
  const TaskOptions task = parse_task({"--cmd=-7", "--timeout", "2.5", "--action", "/a/b"});
  EXPECT_EQ(task.cmd, -7);
  ASSERT_TRUE(task.timeout_s.has_value());
  EXPECT_DOUBLE_EQ(*task.timeout_s, 2.5);
  EXPECT_EQ(task.action, "/a/b");
  EXPECT_FALSE(parse_task({}).timeout_s.has_value());

  const PubOptions joints = parse_pub({"joints", "-0.5", "--rate", "2", "1e-3", "-2"});
  EXPECT_EQ(joints.kind, PubKind::kJoints);
  EXPECT_EQ(joints.values, (std::vector<double>{-0.5, 1e-3, -2.0}));
  EXPECT_EQ(joints.topic, kJointAngleTopic);
  ASSERT_TRUE(joints.rate_hz.has_value());
  EXPECT_DOUBLE_EQ(*joints.rate_hz, 2.0);

  const PubOptions object = parse_pub({"env-object", "-1.5", "0.25", "--once"});
  EXPECT_EQ(object.values, (std::vector<double>{-1.5, 0.25}));
  EXPECT_EQ(object.topic, kEnvDetectTopic);
  EXPECT_FALSE(object.rate_hz.has_value());

  EXPECT_EQ(parse_pub({"arm-state", "true"}).topic, kArmStateTopic);
  EXPECT_TRUE(parse_pub({"arm-state", "true"}).flag);
  EXPECT_EQ(parse_pub({"env-enable", "false"}).topic, kEnvEnableTopic);
  EXPECT_FALSE(parse_pub({"env-enable", "false"}).flag);
  EXPECT_EQ(parse_pub({"env-enable", "false", "--topic=/x"}).topic, "/x");

  const EchoOptions echo = parse_echo({"--count", "3", "gripper"});
  EXPECT_EQ(echo.kind, EchoKind::kGripper);
  EXPECT_EQ(echo.topic, kGripperTopic);
  ASSERT_TRUE(echo.count.has_value());
  EXPECT_EQ(*echo.count, 3);
  EXPECT_EQ(parse_echo({"voice"}).topic, kVoiceTopic);
  EXPECT_EQ(parse_echo({"recover"}).topic, kRecoverTopic);
  EXPECT_EQ(parse_echo({"events"}).kind, EchoKind::kEvents);
  EXPECT_EQ(parse_echo({"events"}).topic, kTaskEventsTopic);

  const TaskOptions with_events = parse_task({"--no-events", "--events-topic", "/desk/events"});
  EXPECT_FALSE(with_events.events);
  EXPECT_EQ(with_events.events_topic, "/desk/events");
  EXPECT_TRUE(parse_task({}).events);
  EXPECT_EQ(parse_task({}).events_topic, kTaskEventsTopic);

  const RecordOptions record =
      parse_record({"-o", "rec", "--topic", "/a", "--topic=/b", "--topic", "/a", "--duration=2.5"});
  EXPECT_EQ(record.output, "rec");
  EXPECT_EQ(record.topics, (std::vector<std::string>{"/a", "/b"}));
  ASSERT_TRUE(record.duration_s.has_value());
  EXPECT_DOUBLE_EQ(*record.duration_s, 2.5);
  EXPECT_EQ(parse_record({"--output", "x"}).output, "x");
  EXPECT_TRUE(parse_record({}).topics.empty());
  EXPECT_FALSE(parse_record({}).duration_s.has_value());

  EXPECT_EQ(parse_bag({"info", "rec"}).action, BagAction::kInfo);
  EXPECT_EQ(parse_bag({"events", "rec"}).action, BagAction::kEvents);
  const BagOptions reindex = parse_bag({"reindex", "/tmp/x y"});
  EXPECT_EQ(reindex.action, BagAction::kReindex);
  EXPECT_EQ(reindex.directory, "/tmp/x y");
  const BagOptions compare = parse_bag({"compare", "robot", "desk", "--task", "3", "--task-b=1"});
  EXPECT_EQ(compare.action, BagAction::kCompare);
  EXPECT_EQ(compare.directory, "robot");
  EXPECT_EQ(compare.other_directory, "desk");
  EXPECT_EQ(compare.task, 3u);
  EXPECT_EQ(compare.other_task, 1u);
  EXPECT_EQ(parse_bag({"compare", "a", "b", "--goal", "5f0c"}).goal, "5f0c");
}

// An event line says which event, when, at which step and what happened; the phase says what
// the task does next, and an unknown kind from a newer supervisor still prints.
TEST(QuorvelEvents, LinesAndPhasesInWords)
{
  TaskEvent event;
  event.seq = 12;
  event.step_count = 2;
  event.kind = TaskEvent::MOTION_SENT;
  event.service = "arm_grab";
  event.target_name = "grab_pose";
  event.summary = "arm_grab: moving to grab_pose";
  EXPECT_EQ(
      format_event_line(event, 1.234),
      "#12  +1.23 s  step 2  MOTION_SENT  arm_grab: moving to grab_pose");
  EXPECT_EQ(
      format_event_line(event, std::nullopt),
      "#12  +? s  step 2  MOTION_SENT  arm_grab: moving to grab_pose");
  EXPECT_EQ(phase_after(event), "moving to grab_pose");

  event.kind = TaskEvent::RECOVERY_ARM_ABNORMAL;
  event.count = 3;
  event.threshold = 11;
  EXPECT_EQ(phase_after(event), "recovering: waiting for a normal arm (3 of 11 s)");
  event.kind = TaskEvent::ENV_STOP_HELD;
  event.distance = 1.2F;
  EXPECT_EQ(phase_after(event), "held: an object at 1.20");
  event.kind = TaskEvent::TASK_ENDED;
  event.outcome = "succeeded";
  event.error_code = 102300003;
  EXPECT_EQ(phase_after(event), "finished: succeeded, error_code 102300003");
  event.kind = 200;
  EXPECT_EQ(event_kind_name(event.kind), "KIND_200");

  builtin_interfaces::msg::Time from;
  from.sec = 10;
  from.nanosec = 900000000;
  builtin_interfaces::msg::Time to;
  to.sec = 12;
  to.nanosec = 100000000;
  EXPECT_NEAR(seconds_between(from, to), 1.2, 1e-9);
}

TEST(QuorvelCodes, MeaningsShownForTheSupervisorsCodes)
{
  EXPECT_EQ(
      with_meaning(102300000, task_error_meaning(102300000)),
      "102300000 (initial value, no error)");
  EXPECT_EQ(task_error_meaning(102300001), "detection answer late");
  EXPECT_EQ(task_error_meaning(102300002), "nothing to grab");
  EXPECT_EQ(task_error_meaning(102300003), "recovery succeeded");
  EXPECT_EQ(task_error_meaning(102300005), "arm status abnormal");
  EXPECT_EQ(with_meaning(102300004, task_error_meaning(102300004)), "102300004");
  EXPECT_EQ(with_meaning(0, task_error_meaning(0)), "0");

  EXPECT_EQ(voice_code_meaning(1), "common failure");
  EXPECT_EQ(voice_code_meaning(2), "arm controller failure code");
  EXPECT_EQ(voice_code_meaning(3), "failure family 1020xxxxx");
  EXPECT_EQ(voice_code_meaning(4), "environment stop");
  EXPECT_EQ(voice_code_meaning(102100000), "arm controller success");
  EXPECT_EQ(voice_code_meaning(102100009), "");

  EXPECT_EQ(gripper_command_meaning({100, 0}), "open");
  EXPECT_EQ(gripper_command_meaning({100, 1}), "close");
  EXPECT_EQ(gripper_command_meaning({100, 2}), "");
  EXPECT_EQ(gripper_command_meaning({101, 0}), "");
  EXPECT_EQ(gripper_command_meaning({100, 0, 0}), "");
  EXPECT_EQ(gripper_command_meaning({}), "");
}

// Output that goes to a log file or a pipe must stay plain lines: no carriage returns, no
// terminal escapes, nothing left to erase.
TEST(QuorvelProgress, AStreamThatIsNoTerminalGetsPlainLines)
{
  std::ostringstream out;
  Progress progress(out, false, std::chrono::steady_clock::duration::zero());
  progress.update("waiting for the result", ", last step_count 4");
  progress.clear();
  progress.update("waiting for the result");
  EXPECT_EQ(
      out.str(), "waiting for the result: 0 s, last step_count 4\nwaiting for the result: 0 s\n");
}

// A bag of one task: detect, a grab answered `grab_status`, the end.
void write_task_bag(const std::filesystem::path & dir, std::uint8_t goal, std::int32_t grab_status)
{
  quorvel_bag::BagWriter writer(dir);
  const auto topic = writer.add_topic(
      {kTaskEventsTopic, "quorvel_task_events/msg/TaskEvent", "cdr", ""});
  std::vector<TaskEvent> events(6);
  events[0].kind = TaskEvent::TASK_STARTED;
  events[1].kind = TaskEvent::DETECT_REQUESTED;
  events[1].service = "detect_trash";
  events[2].kind = TaskEvent::DETECT_ANSWERED;
  events[2].service = "detect_trash";
  events[2].status = 1;
  events[2].items.resize(1);
  events[2].items[0].type = 4;
  events[2].items[0].grab_pose.position.x = 0.3;
  events[2].chosen_index = 0;
  events[3].kind = TaskEvent::MOTION_SENT;
  events[3].service = "arm_grab";
  events[3].target_name = "grab_pose";
  events[4].kind = TaskEvent::MOTION_ANSWERED;
  events[4].service = "arm_grab";
  events[4].target_name = "grab_pose";
  events[4].status = grab_status;
  events[5].kind = TaskEvent::TASK_ENDED;
  events[5].outcome = "succeeded";
  events[5].error_code = 102300000;
  std::int64_t t = 1765152000000000000LL + goal * 1000000000LL;
  for (std::size_t i = 0; i < events.size(); ++i) {
    events[i].seq = 40 + i;
    events[i].goal_id.uuid[0] = goal;
    events[i].stamp.sec = static_cast<std::int32_t>(t / 1000000000);
    rclcpp::SerializedMessage serialized;
    rclcpp::Serialization<TaskEvent>().serialize_message(&events[i], &serialized);
    const auto & raw = serialized.get_rcl_serialized_message();
    writer.write(topic, t, raw.buffer, raw.buffer_length);
    t += 100000000;
  }
  writer.close();
}

// Two recorded tasks held against each other: the same steps, or where they part side by side.
TEST(QuorvelBagCompare, SameStepsOrTheFirstStepWhereTheTasksPart)
{
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("quorvel-compare-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  write_task_bag(dir / "robot", 0x5f, 102100000);
  write_task_bag(dir / "desk", 0x77, 102100000);
  write_task_bag(dir / "other", 0x78, 102100010);
  const std::string robot = (dir / "robot").string();
  const std::string desk = (dir / "desk").string();
  const std::string other = (dir / "other").string();

  CliRun result = run({"bag", "compare", robot.c_str(), desk.c_str()});
  EXPECT_EQ(result.code, 0) << result.err;
  EXPECT_NE(result.out.find("A: task 1 of " + robot + " (goal 5f000000): succeeded, error_code "
                            "102300000 (initial value, no error), 0 given up, 6 steps\n"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("\nsame 6 steps\n"), std::string::npos) << result.out;

  result = run({"bag", "compare", robot.c_str(), other.c_str(), "--goal", "5f"});
  EXPECT_EQ(result.code, 1) << result.err;
  EXPECT_NE(result.out.find("the tasks part at step 5 of 6 (A) and 6 (B): they differ in status"),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find(">    5  #44 MOTION_ANSWERED arm_grab grab_pose 102100000  "),
            std::string::npos)
      << result.out;
  EXPECT_NE(result.out.find("#44 MOTION_ANSWERED arm_grab grab_pose 102100010\n"), std::string::npos)
      << result.out;

  // A task that is not there, or a bag that is none: exit 2, the reason named.
  result = run({"bag", "compare", robot.c_str(), desk.c_str(), "--task-b", "2"});
  EXPECT_EQ(result.code, 2);
  EXPECT_NE(result.err.find("holds 1 task(s); there is no task 2"), std::string::npos) << result.err;
  result = run({"bag", "compare", robot.c_str(), (dir / "none").string().c_str()});
  EXPECT_EQ(result.code, 2);
  EXPECT_NE(result.err.find("no such directory"), std::string::npos) << result.err;
  std::filesystem::remove_all(dir);
}

// quorvel scene runs the simulator package's program; without it, it says what to do.
TEST(QuorvelScene, WithoutTheSimulatorPackageItSaysWhatIsMissing)
{
  const char * saved = std::getenv("AMENT_PREFIX_PATH");
  const std::string keep = saved != nullptr ? saved : "";
  ::setenv("AMENT_PREFIX_PATH", "/nonexistent/prefix", 1);
  const CliRun result = run({"scene", "--from", "rec"});
  if (saved != nullptr) {
    ::setenv("AMENT_PREFIX_PATH", keep.c_str(), 1);
  } else {
    ::unsetenv("AMENT_PREFIX_PATH");
  }
  EXPECT_EQ(result.code, 1);
  EXPECT_NE(result.err.find("quorvel scene: needs arm_sim_scene of the quorvel_arm_sim package, "
                            "which is not installed"),
            std::string::npos)
      << result.err;
}

}  // namespace
}  // namespace quorvel_tools

// The arm_supervisor program as a user runs it: start-up, start-up failures, the log lines of
// task outcomes, and Ctrl-C.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "supervisor_fixture.hpp"
#include "supervisor_process.hpp"

namespace quorvel_arm_supervisor::node_test
{
namespace
{

using std::chrono::milliseconds;
using std::chrono::seconds;

constexpr char kStartLine[] = "\033[1;36mArmSupervisorNode Start!\033[0m\n";

std::vector<std::string> RosArgs(const std::vector<std::string> & parameters)
{
  std::vector<std::string> arguments{"--ros-args"};
  for (const std::string & parameter : parameters) {
    arguments.push_back("-p");
    arguments.push_back(parameter);
  }
  return arguments;
}

// Ctrl-C ends the program cleanly.
void ExpectCleanInterrupt(SupervisorProcess & supervisor)
{
  supervisor.Interrupt();
  EXPECT_EQ(supervisor.WaitForExit(seconds(15)), std::optional<int>(0)) << supervisor.Output();
  EXPECT_EQ(supervisor.Output().find("terminate called"), std::string::npos);
}

TEST(ProcessStartTest, StartsWithTheDefaultNamesAndLogsTheJointArrays)
{
  SupervisorProcess supervisor(RosArgs({"yaml_config_path:=node_test_joints.yaml"}));
  ASSERT_TRUE(supervisor.WaitForOutput("ArmSupervisorNode Start!", seconds(20)))
      << supervisor.Output();
  EXPECT_NE(supervisor.Stdout().find(kStartLine), std::string::npos);
  const std::string output = supervisor.Stderr();
  EXPECT_TRUE(AppearInOrder(
      output,
      {"release_joints_: [1 1.1 1.2 1.3 1.4 ]",
       "observe_joints_: [0 0.1 0.2 0.3 0.4 ]",
       "recover_movej_pos1_: [9 9.1 9.2 9.3 9.4 ]",
       "recover_movej_pos2_: [2 2.1 2.2 2.3 2.4 ]",
       "recover_movej_end_pos: [8 8.1 8.2 8.3 8.4 ]",
       "recover_movej_release_pos: [3 3.1 3.2 3.3 3.4 ]",
       "recover_movej_transition_pos: [7 7.1 7.2 7.3 7.4 ]",
       "arm_task_action: /quorvel_action/arm_task",
       "detect_service: /quorvel_service/detect_trash",
       "arm_movejoints_service: /quorvel_service/arm_movejoints",
       "arm_state_topic : /robot/unnormal_flag",
       "env_detect_topic : /quorvel/env_detect_topic",
       "arm_jointstate_topic : /robot/joint_angle"}))
      << output;
  EXPECT_EQ(output.find("arm_release_service"), std::string::npos);
  ExpectCleanInterrupt(supervisor);
}

TEST(ProcessStartTest, JointFileWithOnlyTheTwoPosturesStarts)
{
  SupervisorProcess supervisor(RosArgs({"yaml_config_path:=node_test_two_keys.yaml"}));
  ASSERT_TRUE(supervisor.WaitForOutput("ArmSupervisorNode Start!", seconds(20)))
      << supervisor.Output();
  EXPECT_TRUE(AppearInOrder(
      supervisor.Stderr(),
      {"release_joints_: [1 1.1 1.2 1.3 1.4 ]",
       "observe_joints_: [0 0.1 0.2 0.3 0.4 ]",
       "recover_movej_pos1_: []",
       "recover_movej_pos2_: []",
       "recover_movej_end_pos: []",
       "recover_movej_release_pos: []",
       "recover_movej_transition_pos: []"}))
      << supervisor.Output();
  ExpectCleanInterrupt(supervisor);
}

TEST(ProcessStartTest, ABadKeyStopsTheStartAfterTheLinesOfTheKeysBeforeIt)
{
  SupervisorProcess supervisor(RosArgs({"yaml_config_path:=node_test_bad_fourth.yaml"}));
  const std::optional<int> status = supervisor.WaitForExit(seconds(20));
  const std::string error = supervisor.Stderr();
  SCOPED_TRACE(error);
  ASSERT_TRUE(status.has_value());
  EXPECT_NE(*status, 0);
  EXPECT_LT(*status, 128) << "ended by a signal";
  EXPECT_TRUE(AppearInOrder(
      error,
      {"release_joints_: [1 1.1 1.2 1.3 1.4 ]",
       "observe_joints_: [0 0.1 0.2 0.3 0.4 ]",
       "recover_movej_pos1_: [9 9.1 9.2 9.3 9.4 ]",
       "arm_supervisor: start-up failed: config file '",
       "node_test_bad_fourth.yaml': key 'recover_movej_pos2' element 2 ('two') is not a number "
       "(line 4, column 32)"}));
  EXPECT_EQ(error.find("recover_movej_pos2_: ["), std::string::npos);
  EXPECT_EQ(error.find("recover_movej_end_pos: ["), std::string::npos);
  EXPECT_EQ(supervisor.Stdout().find("ArmSupervisorNode Start!"), std::string::npos);
}

// Cyclone reports the configuration it applied in its trace (category "config"): the receive
// buffer is made small enough to be resident within minutes, the user's other settings still
// apply, and a user who sizes it (here in a file named by the list) keeps theirs.
TEST(ProcessStartTest, CycloneReceiveBufferIsSizedUnlessTheUserSizesIt)
{
  char directory_template[] = "/tmp/node_test_cyclone_XXXXXX";
  ASSERT_NE(mkdtemp(directory_template), nullptr);
  const std::string directory = directory_template;
  const auto tracing = [&](const std::string & name) {
    return "<CycloneDDS><Domain id=\"any\"><Tracing><Category>config</Category><OutputFile>" +
           directory + "/" + name + "</OutputFile></Tracing></Domain></CycloneDDS>";
  };
  const auto applied = [&](const std::string & name, const std::string & element) {
    std::ifstream trace(directory + "/" + name);
    const std::string text{std::istreambuf_iterator<char>(trace), {}};
    std::smatch match;
    const std::regex line("Domain/Sizing/" + element + "/#text: ([^{]+) \\{");
    return std::regex_search(text, match, line) ? match[1].str() : "(none in the trace)";
  };

  // Starts the program with `uri`, checks its start-up line naming the decision, stops it.
  const auto start_and_stop = [](const std::string & uri, const std::string & log_line) {
    SupervisorProcess supervisor(
        RosArgs({"yaml_config_path:=node_test_joints.yaml"}), {{"CYCLONEDDS_URI", uri}});
    ASSERT_TRUE(supervisor.WaitForOutput("ArmSupervisorNode Start!", seconds(20)))
        << supervisor.Output();
    EXPECT_NE(supervisor.Stderr().find(log_line), std::string::npos) << supervisor.Output();
    ExpectCleanInterrupt(supervisor);
  };

  start_and_stop(tracing("ours.log"), "Cyclone DDS receive buffer: 128 KiB in chunks of 32 KiB");
  EXPECT_EQ(applied("ours.log", "ReceiveBufferSize"), "128 KiB");
  EXPECT_EQ(applied("ours.log", "ReceiveBufferChunkSize"), "32 KiB");

  const std::string sizing = directory + "/sizing.xml";
  std::ofstream(sizing) << "<CycloneDDS><Domain id=\"any\"><Sizing><ReceiveBufferSize>512KiB"
                           "</ReceiveBufferSize></Sizing></Domain></CycloneDDS>\n";
  start_and_stop(
      tracing("theirs.log") + ",file://" + sizing,
      "Cyclone DDS receive buffer: as CYCLONEDDS_URI sizes it");
  EXPECT_EQ(applied("theirs.log", "ReceiveBufferSize"), "512 KiB");
  EXPECT_EQ(applied("theirs.log", "ReceiveBufferChunkSize"), "128 KiB");
  std::filesystem::remove_all(directory);
}

struct StartUpFailure
{
  std::vector<std::string> parameters;
  std::map<std::string, std::optional<std::string>> environment;
  std::vector<std::string> named;  // texts the message must contain
};

TEST(ProcessStartTest, EveryStartUpFailureExitsNonZeroWithOneMessageNamingTheCause)
{
  const std::string joints = "yaml_config_path:=node_test_joints.yaml";
  const std::vector<StartUpFailure> failures{
      {{joints, "detect_timeout_threshold:=5"}, {}, {"detect_timeout_threshold"}},
      {{joints, "detect_frame_num:=1.5"}, {}, {"detect_frame_num"}},
      {{joints, "env_stop_threshold:=true"}, {}, {"env_stop_threshold"}},
      {{joints, "arm_task_action:=7"}, {}, {"arm_task_action"}},
      {{"yaml_config_path:=7"}, {}, {"yaml_config_path"}},
      {{"yaml_config_path:=no_such_joints.yaml"}, {}, {"/config/no_such_joints.yaml"}},
      {{}, {}, {"/config/"}},
      {{"yaml_config_path:=node_test_bad_word.yaml"},
       {},
       {"node_test_bad_word.yaml", "observe_joints", "zero"}},
      {{"yaml_config_path:=node_test_bad_syntax.yaml"}, {}, {"node_test_bad_syntax.yaml"}},
      {{joints}, {{"AMENT_PREFIX_PATH", "/nonexistent_prefix"}}, {"quorvel_arm_supervisor"}},
      {{joints, "detect_service:=/bad service name"}, {}, {"bad service name"}},
      {{joints, "arm_state_topic:=/robot/{bad"}, {}, {"/robot/{bad"}},
  };
  for (const StartUpFailure & failure : failures) {
    SupervisorProcess supervisor(RosArgs(failure.parameters), failure.environment);
    const std::optional<int> status = supervisor.WaitForExit(seconds(20));
    const std::string error = supervisor.Stderr();
    SCOPED_TRACE(error);
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(*status, 0);
    EXPECT_LT(*status, 128) << "ended by a signal";
    EXPECT_EQ(supervisor.Stdout().find("ArmSupervisorNode Start!"), std::string::npos);
    const std::size_t at = error.find("arm_supervisor: start-up failed: ");
    ASSERT_NE(at, std::string::npos);
    const std::string message = error.substr(at);
    for (const std::string & text : failure.named) {
      EXPECT_NE(message.find(text), std::string::npos) << "missing " << text;
    }
  }
}

// The program with the fakes of the test process around it.
class ProcessTaskTest : public SupervisorTest
{
protected:
  void SetUp() override
  {
    ASSERT_NO_FATAL_FAILURE(StartFakes());
    // The child's joint feedback cannot be watched from here; the controller answers a move
    // only well after it published the new joints.
    arm_->FollowMoves([](const std::vector<double> &) { return true; });
    arm_->SetMoveJointsDelay(milliseconds(150));
  }

  void Launch(const std::vector<std::string> & parameters)
  {
    std::vector<std::string> all{
        "yaml_config_path:=node_test_joints.yaml",
        "init_detect_delay:=0",
        "gripper_open_delay:=0",
        "gripper_close_delay:=0",
        "gripper_release_delay:=0",
        "arm_voice_broadcast_delay:=0"};
    all.insert(all.end(), parameters.begin(), parameters.end());
    supervisor_process_ = std::make_unique<SupervisorProcess>(RosArgs(all));
    ASSERT_TRUE(supervisor_process_->WaitForOutput("ArmSupervisorNode Start!", seconds(20)))
        << supervisor_process_->Output();
    ASSERT_TRUE(client_->WaitForServer(seconds(10)));
    ASSERT_TRUE(arm_->WaitForSubscribers(seconds(10)));
    ASSERT_TRUE(outputs_->WaitForPublishers(seconds(10)));
    ASSERT_TRUE(environment_->WaitForSubscribers(seconds(10)));
  }

  void TearDown() override
  {
    supervisor_process_.reset();
    SupervisorTest::TearDown();
  }

  // Ctrl-C ends the program cleanly, and it leaves the graph at once rather than when its
  // lease runs out: the node was destroyed although a task was running.
  void ExpectCleanInterruptDuringTask()
  {
    ExpectCleanInterrupt(*supervisor_process_);
    EXPECT_TRUE(client_->WaitForServerGone(seconds(3)));
  }

  bool Logged(const std::string & text)
  {
    return supervisor_process_->WaitForOutput(text, seconds(5));
  }

  std::unique_ptr<SupervisorProcess> supervisor_process_;
};

TEST_F(ProcessTaskTest, EachOutcomeLogsItsLine)
{
  ASSERT_NO_FATAL_FAILURE(
      Launch({"arm_recover_count_threshold:=0", "detect_timeout_threshold:=0.5"}));
  SupervisorProcess & supervisor = *supervisor_process_;
  const Trash trash = MakeTrash(0.3, 0.0, 0.1, 6);

  // Nothing to grab.
  detector_->Script({Seen({})});
  auto nothing = RunTask(21);
  EXPECT_EQ(nothing->Result().error_code, 102300002);
  EXPECT_TRUE(Logged("Arm task complete"));
  // ROS log lines go to standard error, console and task-log lines to standard output.
  EXPECT_TRUE(AppearInOrder(
      supervisor.Stderr(),
      {"Received goal request cmd: 21", "is_continue_to_grab_ == false", "Arm task complete"}));
  EXPECT_NE(
      supervisor.Stdout().find("\033[1;33mCan not choose a trash able to grab !\033[0m\n"),
      std::string::npos)
      << supervisor.Stdout();
  EXPECT_TRUE(Logged("[ERROR] ErrorCode: 102300002, no trash to grab detected !"));

  // A full cycle, with a second goal refused meanwhile.
  detector_->Script({Seen({trash})});
  arm_->SetGrabDelay(milliseconds(300));
  auto completed = client_->Send(22);
  ASSERT_EQ(completed->WaitAccepted(seconds(10)), std::optional<bool>(true));
  auto refused = client_->Send(23);
  EXPECT_EQ(refused->WaitAccepted(seconds(10)), std::optional<bool>(false));
  ASSERT_TRUE(completed->WaitResult(seconds(30)));
  EXPECT_TRUE(supervisor.WaitForCount("Task completed", 1, seconds(5)));
  EXPECT_TRUE(AppearInOrder(
      supervisor.Stderr(), {"Received goal request cmd: 22", "Received goal request cmd: 23"}));
  const std::string output = supervisor.Stdout();
  EXPECT_TRUE(AppearInOrder(
      output,
      {"\033[1;35mchoosed trash type: 6\033[0m\n",
       "\033[1;32mchoosed trash grab_pose.position: 0.3  0  0.1\033[0m\n",
       "\033[1;32mchoosed trash grab_pose.orientation: 0  0  1  0\033[0m\n",
       "\033[1;34mchoosed trash obb_pose.position: 0.31  0.02  0.13\033[0m\n",
       "\033[1;34mchoosed trash obb_pose.orientation: 0.75  0  0  0.5\033[0m\n",
       "\033[1;34mchoosed trash obb size: 0.2  0.1  0.05\033[0m\n",
       "\033[1;33marm grab status:102100000\033[0m\n",
       "hello world!\n",
       "req_arm_release_->target_joints: [1, 1.1, 1.2, 1.3, 1.4]\n",
       "\033[1;33marm release status:102100000\033[0m\n",
       "\033[1;33marm movejoints status:102100000\033[0m\n"}))
      << output;
  EXPECT_TRUE(
      std::regex_search(supervisor.Stderr(), std::regex("detect cost [0-9]+\\.[0-9]{4} ms")));

  // A recovery that fails.
  arm_->SetGrabDelay(milliseconds(100));
  arm_->PublishArmState(true);
  detector_->Script({Seen({trash})});
  arm_->ScriptGrab({102100010});
  auto failed = RunTask(24);
  EXPECT_EQ(failed->Result().error_code, 102300005);
  EXPECT_TRUE(Logged("ErrorCode: 102300005, Task completed, Arm failed to recover !"));
  EXPECT_TRUE(AppearInOrder(
      supervisor.Stdout(),
      {"ErrorCode: 102100010, Failed to move to grab pose, errmsg: scripted grab failure",
       "is_grab_need_to_recover_: true",
       "\033[1;35marm grab need to recover !\033[0m\n",
       "\033[1;35mArm start recover---\033[0m\n",
       "ErrorCode: 102300005, Arm status abnormal",
       "ErrorCode: 102300005, Task completed, Arm failed to recover !"}));
  EXPECT_NE(supervisor.Stderr().find("arm_unnormal_flag_: true"), std::string::npos);
  arm_->PublishArmState(false);

  // A canceled task.
  arm_->SetGrabDelay(milliseconds(300));
  detector_->Script({Seen({trash})});
  auto canceled = client_->Send(25);
  ASSERT_EQ(canceled->WaitAccepted(seconds(10)), std::optional<bool>(true));
  ASSERT_TRUE(WaitFor([&canceled] { return !canceled->Feedback().empty(); }, seconds(10)));
  client_->Cancel(canceled);
  EXPECT_TRUE(Logged("Received cancel request"));
  ASSERT_TRUE(canceled->WaitResult(seconds(30)));
  EXPECT_EQ(canceled->Code(), rclcpp_action::ResultCode::CANCELED);
  EXPECT_TRUE(Logged("Task canceled"));
  arm_->SetGrabDelay(milliseconds(0));

  // A detection answer later than its time limit: an error line, and no cost line for it.
  const std::size_t cost_lines = supervisor.Count("detect cost");
  const std::size_t completed_lines = supervisor.Count("Task completed");
  detector_->Script({Seen({trash}), Seen({trash}, milliseconds(1500))});
  auto late = RunTask(26);
  EXPECT_EQ(late->Result().error_code, 102300001);
  EXPECT_TRUE(supervisor.WaitForCount("Task completed", completed_lines + 1, seconds(5)));
  EXPECT_TRUE(Logged("ErrorCode: 102300001, Detect service status abnormal"));
  EXPECT_EQ(supervisor.Count("detect cost"), cost_lines + 1);

  ExpectCleanInterrupt(supervisor);
}

TEST_F(ProcessTaskTest, CtrlCWhileWaitingForAnAnswerExitsWithZero)
{
  ASSERT_NO_FATAL_FAILURE(Launch({}));
  detector_->Script({Seen({MakeTrash(0.3, 0.0, 0.1)})});
  arm_->SetGrabDelay(milliseconds(60000));
  auto goal = client_->Send(1);
  ASSERT_EQ(goal->WaitAccepted(seconds(10)), std::optional<bool>(true));
  ASSERT_TRUE(WaitFor([this] { return !arm_->GrabRequests().empty(); }, seconds(10)));
  ASSERT_TRUE(Logged("waiting req_grab to complete"));
  ExpectCleanInterruptDuringTask();
}

TEST_F(ProcessTaskTest, CtrlCWhileHeldByAnEnvironmentStopExitsWithZero)
{
  ASSERT_NO_FATAL_FAILURE(Launch({}));
  environment_->PublishObjects({{0.2F, 0.0F}});
  detector_->Script({Seen({MakeTrash(0.3, 0.0, 0.1)}, milliseconds(200))});
  auto goal = client_->Send(1);
  ASSERT_EQ(goal->WaitAccepted(seconds(10)), std::optional<bool>(true));
  ASSERT_TRUE(Logged("env_detect_stop_ !"));
  ExpectCleanInterruptDuringTask();
}

TEST_F(ProcessTaskTest, CtrlCWhileWaitingForAnAbnormalArmExitsWithZero)
{
  ASSERT_NO_FATAL_FAILURE(Launch({"arm_recover_count_threshold:=100"}));
  arm_->PublishArmState(true);
  arm_->SetGrabDelay(milliseconds(100));
  arm_->ScriptGrab({102100010});
  detector_->Script({Seen({MakeTrash(0.3, 0.0, 0.1)})});
  auto goal = client_->Send(1);
  ASSERT_EQ(goal->WaitAccepted(seconds(10)), std::optional<bool>(true));
  // Published again and again, as a controller does: a single message sent just after start-up
  // can go out before the child's subscription has matched this publisher, and be lost.
  const auto deadline = std::chrono::steady_clock::now() + seconds(20);
  while (outputs_->RecoverCount() < 1 && std::chrono::steady_clock::now() < deadline) {
    arm_->PublishArmState(true);
    WaitFor([this] { return outputs_->RecoverCount() >= 1; }, milliseconds(100));
  }
  ASSERT_GE(outputs_->RecoverCount(), 1U) << supervisor_process_->Output();
  ExpectCleanInterruptDuringTask();
}

TEST_F(ProcessTaskTest, CtrlCWhileWaitingForTheGrabServiceAbandonsTheTask)
{
  ASSERT_NO_FATAL_FAILURE(Launch({"arm_grab_service:=/node_test/absent_grab_service"}));
  detector_->Script({Seen({MakeTrash(0.3, 0.0, 0.1)})});
  auto goal = client_->Send(1);
  ASSERT_EQ(goal->WaitAccepted(seconds(10)), std::optional<bool>(true));
  ASSERT_TRUE(Logged("grab trash service not available, waiting again..."));
  ExpectCleanInterruptDuringTask();
  EXPECT_NE(
      supervisor_process_->Stderr().find(
          "Interrupted while waiting for grab trash service. Exiting."),
      std::string::npos);
  // The goal was left as it was: no result, and no end line.
  EXPECT_FALSE(goal->WaitResult(milliseconds(0)));
  EXPECT_EQ(supervisor_process_->Output().find("Task completed"), std::string::npos);
}

}  // namespace
}  // namespace quorvel_arm_supervisor::node_test

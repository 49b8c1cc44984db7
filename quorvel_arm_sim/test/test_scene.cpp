// Scene files: the shipped ones load and start where the supervisor observes from, and every
// kind of bad file is refused with a message that names the file, the key and the place.
#include <gtest/gtest.h>
#include <yaml-cpp/yaml.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "quorvel_arm_sim/scene.hpp"

namespace quorvel_arm_sim
{
namespace
{

const char kGoodScene[] = R"(
description: every kind of fault
arm:
  joint_speed: 1.5
  start_joints: [0.0, -0.5, 1.0, -0.5, 0.0]
detect_latency: 0.25
table:
  restock: true
  items:
    - {name: bottle, type: 2, grab: [0.3, 0.1, -0.17], obb_size: [0.2, 0.1, 0.05]}
    - {name: rock, grab: [0.4, 0.0, -0.17], stuck: true}
faults:
  - {service: grab, call: 2, times: 3, status: 102100010, errmsg: "bumped", abnormal: {until_recovers: 2}}
  - {service: detect, call: 4, never_answer: true}
  - {service: movejoints, call: 1, stop_short: {joint: 3, by: 0.05}}
  - {at: 1.5, short_feedback: {values: 4, for: 2.0}}
  - {at: 0, env_object: {x: 1.2, y: -0.5}}
  - {service: release, call: 1, abnormal: {for: 2.5}}
expect:
  error_code: 102300003
  unable_grab_trashes: 1
  voice: [2, 4]
  recover_messages: 2
  picked: 1
  dropped: 0
)";

std::string scene_with(const std::string & faults_and_more)
{
  return std::string(R"(arm: {joint_speed: 1.0, start_joints: [0, 0, 0, 0, 0]}
table: {items: [{name: a, grab: [0.3, 0.0, -0.1]}]}
expect: {error_code: 102300000, unable_grab_trashes: 0}
)") + faults_and_more;
}

// The message of the SceneError that parsing `text` throws; fails the test if none is thrown.
std::string error_of(const std::string & text)
{
  try {
    parse_scene(text, "scenes/bad.yaml");
  } catch (const SceneError & error) {
    return error.what();
  }
  ADD_FAILURE() << "no SceneError for:\n" << text;
  return "";
}

TEST(SceneTest, ReadsEveryFieldOfAGoodScene)
{
  const Scene scene = parse_scene(kGoodScene, "/x/every_fault.yaml");
  EXPECT_EQ(scene.name, "every_fault");
  EXPECT_EQ(scene.file, "/x/every_fault.yaml");
  EXPECT_DOUBLE_EQ(scene.joint_speed, 1.5);
  EXPECT_DOUBLE_EQ(scene.start_joints[2], 1.0);
  EXPECT_DOUBLE_EQ(scene.detect_latency, 0.25);
  EXPECT_TRUE(scene.restock);
  ASSERT_EQ(scene.items.size(), 2u);
  EXPECT_EQ(scene.items[0].type, 2);
  EXPECT_DOUBLE_EQ(scene.items[0].obb_size[1], 0.1);
  EXPECT_FALSE(scene.items[0].stuck);
  EXPECT_TRUE(scene.items[1].stuck);
  EXPECT_EQ(scene.items[1].type, 1);

  ASSERT_EQ(scene.faults.size(), 6u);
  const Fault & grab = scene.faults[0];
  EXPECT_EQ(grab.service, Service::kGrab);
  EXPECT_EQ(grab.call, 2);
  EXPECT_EQ(grab.times, 3);
  EXPECT_EQ(grab.status, 102100010);
  EXPECT_EQ(grab.errmsg, "bumped");
  ASSERT_TRUE(grab.abnormal);
  EXPECT_EQ(grab.abnormal->kind, Abnormality::Kind::kUntilRecovers);
  EXPECT_EQ(grab.abnormal->recovers, 2);
  EXPECT_TRUE(scene.faults[1].never_answer);
  ASSERT_TRUE(scene.faults[2].stop_short);
  EXPECT_EQ(scene.faults[2].stop_short->joint, 2u);  // 0-based
  ASSERT_TRUE(scene.faults[3].at);
  EXPECT_EQ(scene.faults[3].short_feedback->values, 4u);
  EXPECT_FALSE(scene.faults[4].env_object->seconds);
  EXPECT_EQ(scene.faults[5].abnormal->kind, Abnormality::Kind::kFor);
  EXPECT_EQ(scene.faults[5].number, 6u);

  EXPECT_EQ(scene.expect.error_code, 102300003);
  EXPECT_EQ(scene.expect.unable_grab_trashes, 1u);
  EXPECT_EQ(scene.expect.voice, (std::vector<std::int32_t>{2, 4}));
  EXPECT_EQ(scene.expect.recover_messages, 2);
  EXPECT_EQ(scene.expect.dropped, 0);
}

TEST(SceneTest, ShippedScenesLoadAndStartAtTheSupervisorsObservePosture)
{
  const YAML::Node joints = YAML::LoadFile(QUORVEL_SUPERVISOR_JOINTS);
  const auto observe = joints["observe_joints"].as<std::vector<double>>();
  ASSERT_EQ(observe.size(), kJointCount);
  int count = 0;
  for (const auto & entry : std::filesystem::directory_iterator(QUORVEL_SCENES_DIR)) {
    SCOPED_TRACE(entry.path().string());
    const Scene scene = load_scene_file(entry.path().string());
    ++count;
    EXPECT_EQ(scene.name, entry.path().stem().string());
    EXPECT_FALSE(scene.description.empty());
    for (std::size_t i = 0; i < kJointCount; ++i) {
      EXPECT_DOUBLE_EQ(scene.start_joints[i], observe[i]);
    }
    // A scene that picks anything has something within the supervisor's reach of 0.9.
    if (scene.expect.picked.value_or(0) > 0) {
      bool reachable = false;
      for (const Item & item : scene.items) {
        reachable = reachable || std::hypot(item.grab[0], item.grab[1], item.grab[2]) < 0.9;
      }
      EXPECT_TRUE(reachable);
    }
  }
  EXPECT_GE(count, 7);
}

TEST(SceneTest, BadFilesAreRefusedNamingFileKeyAndPlace)
{
  struct Case
  {
    const char * what;
    std::string text;
    std::vector<std::string> expected;  // substrings of the message
  };
  const std::vector<Case> cases{
      {"unknown top-level key",
       scene_with("colour: red\n"),
       {"scenes/bad.yaml:4:1: ", "colour: unknown key", "allowed here"}},
      {"unknown nested key",
       scene_with("faults: [{service: grab, call: 1, stauts: 5}]\n"),
       {"scenes/bad.yaml:4:", "faults[0].stauts: unknown key"}},
      {"wrong type",
       scene_with("faults: [{service: grab, call: one, status: 5}]\n"),
       {"faults[0].call: expected an integer, got 'one'"}},
      {"quoted number",
       scene_with("detect_latency: \"0.3\"\n"),
       {"detect_latency: expected a number, got the text '0.3'"}},
      {"list of the wrong length",
       R"(arm: {joint_speed: 1.0, start_joints: [0, 0, 0, 0]}
table: {items: []}
expect: {error_code: 1, unable_grab_trashes: 0})",
       {"scenes/bad.yaml:1:", "arm.start_joints: expected a list of 5 numbers, got a list of 4"}},
      {"missing required key",
       R"(arm: {joint_speed: 1.0, start_joints: [0, 0, 0, 0, 0]}
table: {items: []})",
       {"expect: required key is missing"}},
      {"missing nested key",
       scene_with("faults: [{service: grab, status: 5}]\n"),
       {"faults[0].call: required key is missing"}},
      {"out of range",
       scene_with("faults: [{service: grab, call: 0, status: 5}]\n"),
       {"faults[0].call: must be between 1 and"}},
      {"negative speed",
       R"(arm: {joint_speed: -2, start_joints: [0, 0, 0, 0, 0]}
table: {items: []}
expect: {error_code: 1, unable_grab_trashes: 0})",
       {"arm.joint_speed: must be greater than 0"}},
      {"not finite", scene_with("detect_latency: .nan\n"), {"detect_latency: expected a finite"}},
      {"status beyond 32 bits",
       scene_with("faults: [{service: grab, call: 1, status: 4294967296}]\n"),
       {"faults[0].status: must be between"}},
      {"unknown service",
       scene_with("faults: [{service: gripper, call: 1, status: 5}]\n"),
       {"faults[0].service: unknown service 'gripper' (known: detect, grab, release, movejoints)"}},
      {"syntax error",
       "arm: {joint_speed: 1.0\ntable: [\n",
       {"scenes/bad.yaml:", "YAML syntax error"}},
      {"both triggers",
       scene_with("faults: [{service: grab, call: 1, at: 2.0, status: 5}]\n"),
       {"faults[0]: give either service (with call) or at"}},
      {"no trigger", scene_with("faults: [{status: 5}]\n"), {"faults[0]: needs a trigger"}},
      {"call effect on a time trigger",
       scene_with("faults: [{at: 1.0, status: 5}]\n"),
       {"faults[0].status: needs a service trigger"}},
      {"arm service that never answers",
       scene_with("faults: [{service: grab, call: 1, never_answer: true}]\n"),
       {"faults[0].never_answer: only a detection may go unanswered"}},
      {"no effect",
       scene_with("faults: [{service: grab, call: 1}]\n"),
       {"faults[0]: has no effect"}},
      {"two kinds of abnormal",
       scene_with("faults: [{at: 1, abnormal: {for: 1, forever: true}}]\n"),
       {"faults[0].abnormal: give exactly one of"}},
      {"stop short on a joint that does not exist",
       scene_with("faults: [{service: release, call: 1, stop_short: {joint: 6, by: 0.1}}]\n"),
       {"faults[0].stop_short.joint: must be between 1 and 5"}},
      {"feedback of five values",
       scene_with("faults: [{at: 1, short_feedback: {values: 5}}]\n"),
       {"faults[0].short_feedback.values: must be between 0 and 4"}},
      {"two items of one name",
       R"(arm: {joint_speed: 1.0, start_joints: [0, 0, 0, 0, 0]}
table: {items: [{name: a, grab: [0, 0, 0]}, {name: a, grab: [1, 0, 0]}]}
expect: {error_code: 1, unable_grab_trashes: 0})",
       {"table.items[1].name: another item is already called 'a'"}},
      {"a scene that is not a mapping", "- just\n- a list\n", {"a scene is a mapping"}},
  };
  for (const Case & c : cases) {
    SCOPED_TRACE(c.what);
    const std::string message = error_of(c.text);
    for (const std::string & part : c.expected) {
      EXPECT_NE(message.find(part), std::string::npos) << "message: " << message;
    }
  }
}

TEST(SceneTest, UnreadableFileIsNamed)
{
  try {
    load_scene_file("/nonexistent/dir/nothing.yaml");
    FAIL() << "no SceneError";
  } catch (const SceneError & error) {
    EXPECT_NE(
        std::string(error.what()).find("/nonexistent/dir/nothing.yaml: cannot read"),
        std::string::npos)
        << error.what();
  }
}

TEST(SceneTest, SceneParameterNamesAShippedSceneOrAFile)
{
  EXPECT_EQ(scene_path("clear_table", "/share/p"), "/share/p/scenes/clear_table.yaml");
  EXPECT_EQ(scene_path("./mine.yaml", "/share/p"), "./mine.yaml");
  EXPECT_EQ(scene_path("mine.yaml", "/share/p"), "mine.yaml");
  EXPECT_EQ(scene_path("/tmp/robot_fault", "/share/p"), "/tmp/robot_fault");
}

TEST(SceneTest, SpeedScalesMotionUpAndTimesDown)
{
  const Scene scene = scaled(parse_scene(kGoodScene, "s.yaml"), 4.0);
  EXPECT_DOUBLE_EQ(scene.joint_speed, 6.0);
  EXPECT_DOUBLE_EQ(scene.detect_latency, 0.0625);
  EXPECT_DOUBLE_EQ(*scene.faults[3].at, 0.375);
  EXPECT_DOUBLE_EQ(*scene.faults[3].short_feedback->seconds, 0.5);
  EXPECT_DOUBLE_EQ(scene.faults[5].abnormal->seconds, 0.625);
  // Counts are no times: they stay.
  EXPECT_EQ(scene.faults[0].abnormal->recovers, 2);
  EXPECT_EQ(scene.faults[0].call, 2);
}

}  // namespace
}  // namespace quorvel_arm_sim

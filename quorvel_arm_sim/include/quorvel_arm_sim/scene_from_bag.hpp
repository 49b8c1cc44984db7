// A scene derived from a recorded task: the table, the fault plan, the supervisor's settings and
// the expectation that make arm_sim play the task again, step for step.
#ifndef QUORVEL_ARM_SIM__SCENE_FROM_BAG_HPP_
#define QUORVEL_ARM_SIM__SCENE_FROM_BAG_HPP_

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quorvel_arm_sim/scene.hpp"
#include "quorvel_arm_sim/scene_writer.hpp"
#include "quorvel_bag/reader.hpp"
#include "quorvel_bag/tasks.hpp"

namespace quorvel_arm_sim
{

// The arm's topics a bag recorded beside the task events. Each message keeps its receive time
// (ns since the epoch, the recorder's clock, like the events' receive times) and its row id in
// the bag, for the comments. A topic the bag does not hold is nothing (not recorded).
struct ArmRecording
{
  template <typename T>
  struct Sample
  {
    std::int64_t t = 0;
    std::int64_t id = 0;
    T value{};
  };
  using Objects = std::vector<std::array<float, 2>>;  // x, y of each object

  std::optional<std::vector<Sample<bool>>> arm_state;                   // /robot/unnormal_flag
  std::optional<std::vector<Sample<std::vector<double>>>> joints;       // /robot/joint_angle
  std::optional<std::vector<Sample<Objects>>> environment;              // /quorvel/env_detect_topic
  std::optional<std::vector<Sample<bool>>> recover;                     // /robot/recover_topic
  std::optional<std::vector<Sample<std::int32_t>>> voice;               // /arm/voice_broadcast
  // Topics found under those names with another type, said in words: they are not read.
  std::vector<std::string> notes;
};

// Reads the arm's topics (by the supervisor's default names) from the bag, the messages
// received in [from_ns, until_ns) when these are given. Throws BagError as the reader does.
ArmRecording read_arm_recording(
    const quorvel_bag::BagReader & reader,
    std::optional<std::int64_t> from_ns = std::nullopt,
    std::optional<std::int64_t> until_ns = std::nullopt);

// Where the task comes from, for the comments: the bag's name and the task's place among the
// bag's tasks (1-based, in the order `quorvel bag info` lists them).
struct TaskSource
{
  std::string bag;
  std::size_t number = 1;
  std::size_t count = 1;
};

struct DerivedScene
{
  Scene scene;
  // A comment for each derived line, naming the recorded event ("MOTION_ANSWERED #17": the
  // event with that sequence number) or message ("/robot/joint_angle message 212": its row in
  // the bag) it comes from.
  SceneNotes notes;
  // The comment block at the top: where the scene comes from and the supervisor's settings.
  std::vector<std::string> header;
  // What a scene cannot play (a cancel, a motion never answered, a recording without the
  // task's start, ...), each naming the event it comes from. Empty when the scene plays the
  // task as recorded.
  std::vector<std::string> problems;
};

// Derives the scene of `task` from its events and the arm's recording. Pure: no bag, no ROS.
DerivedScene derive_scene(
    const quorvel_bag::TaskRecord & task,
    const ArmRecording & arm,
    const TaskSource & source);

}  // namespace quorvel_arm_sim

#endif  // QUORVEL_ARM_SIM__SCENE_FROM_BAG_HPP_

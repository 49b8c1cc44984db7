// Scene files: the table, the arm, the fault plan and the result a task must reach.
#ifndef QUORVEL_ARM_SIM__SCENE_HPP_
#define QUORVEL_ARM_SIM__SCENE_HPP_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "quorvel_arm_sim/fault_plan.hpp"
#include "quorvel_arm_sim/joint_motion.hpp"
#include "quorvel_arm_sim/table.hpp"

namespace quorvel_arm_sim
{

// The result a task run against the scene must end with, and what a person would check besides.
struct Expectation
{
  std::int32_t error_code = 0;
  std::size_t unable_grab_trashes = 0;
  std::vector<std::int32_t> voice;      // each announced at least once
  std::optional<int> recover_messages;  // exactly this many
  std::optional<int> picked;
  std::optional<int> dropped;
};

// A parameter of arm_supervisor the scene wants the supervisor started with: one of its tuning
// values, an integer or a double as the supervisor declares it.
struct SupervisorSetting
{
  std::string name;
  bool integer = false;
  long long int_value = 0;
  double double_value = 0.0;

  // "10", "15.0": as a parameter file or `-p` gives it (a double keeps its decimal point).
  std::string value_text() const;
  // "arm_recover_count_threshold:=10", for `--ros-args -p`.
  std::string argument() const;
};

// The tuning values a scene may set, with their types: the supervisor refuses a value of the
// other type at start.
struct SupervisorParameter
{
  const char * name;
  bool integer;
  double low;   // smallest value allowed
  bool low_open;  // the value must be greater than `low`, not equal to it
  double high;
};
const std::vector<SupervisorParameter> & supervisor_parameters();

// The recorded task a scene was derived from.
struct Origin
{
  std::string bag;
  std::optional<int> task;  // its place in the bag, from 1
  std::string goal;         // 32 lower-case hex digits, or empty
};

struct Scene
{
  std::string name;  // the file name without ".yaml"
  std::string file;
  std::string description;
  double joint_speed = 1.0;  // rad/s
  Joints start_joints{};
  double detect_latency = 0.0;  // s
  std::vector<Item> items;
  bool restock = false;
  std::vector<Fault> faults;
  Expectation expect;
  std::vector<SupervisorSetting> supervisor;
  std::optional<Origin> origin;
};

// A scene file that cannot be used. what() names the file, the key and, where known, the line
// and column, e.g. "scenes/x.yaml:12:5: faults[1].status: expected an integer, got 'abc'".
class SceneError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

// Reads and checks a scene. Throws SceneError for an unreadable file, a YAML syntax error, an
// unknown key (a supervisor parameter a scene may not set included), a value of the wrong type
// or out of range, a missing required key or an unknown service name.
Scene load_scene_file(const std::string & path);
// The same for a scene held in memory; `file` names it in messages.
Scene parse_scene(const std::string & text, const std::string & file);

// Whether a `scene` parameter names a file (it contains a '/' or ends in ".yaml") rather than
// a shipped scene.
bool names_scene_file(const std::string & scene);
// The file a `scene` parameter names: itself when names_scene_file(), else the shipped scene
// `<share_dir>/scenes/<name>.yaml`.
std::string scene_path(const std::string & scene, const std::string & share_dir);

// The scene run `speed` times faster: joint speed multiplied, latencies and every duration and
// time of the fault plan divided. `speed` must be positive.
Scene scaled(Scene scene, double speed);

}  // namespace quorvel_arm_sim

#endif  // QUORVEL_ARM_SIM__SCENE_HPP_

// The YAML file of joint arrays the supervisor loads at start.
#ifndef QUORVEL_ARM_SUPERVISOR__YAML_CONFIG_HPP_
#define QUORVEL_ARM_SUPERVISOR__YAML_CONFIG_HPP_

#include <array>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include <std_msgs/msg/float64_multi_array.hpp>

namespace quorvel_arm_supervisor
{

// A start-up configuration problem. what() names the file and, where it applies, the key,
// the element index (counted from 0), the offending text and its line, ready to be printed
// as the reason the program stops.
class ConfigError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

// The keys, in the order they are read and logged.
inline constexpr std::array<std::string_view, 7> kJointArrayKeys{
  "release_joints", "observe_joints", "recover_movej_pos1", "recover_movej_pos2",
  "recover_movej_end_pos", "recover_movej_release_pos", "recover_movej_transition_pos"};

// One array per key; data in file order, layout empty.
struct JointArrayConfig
{
  std_msgs::msg::Float64MultiArray release_joints;
  std_msgs::msg::Float64MultiArray observe_joints;
  std_msgs::msg::Float64MultiArray recover_movej_pos1;
  std_msgs::msg::Float64MultiArray recover_movej_pos2;
  std_msgs::msg::Float64MultiArray recover_movej_end_pos;
  std_msgs::msg::Float64MultiArray recover_movej_release_pos;
  std_msgs::msg::Float64MultiArray recover_movej_transition_pos;
};

// <share_directory>/config/<file_name>, concatenated as is: an empty name gives the directory
// itself, a leading slash in the name a doubled slash.
std::string joint_config_path(std::string_view share_directory, std::string_view file_name);

// Called with each key and its array as soon as that key is read.
using JointArrayLoaded =
    std::function<void(std::string_view key, const std_msgs::msg::Float64MultiArray & array)>;

// Reads the file at `path`, key by key in kJointArrayKeys order, calling `loaded` (when given)
// after each key: a key that fails throws after the calls of the keys before it, so that a
// caller logging there shows every array read before the bad one. Each key maps to a sequence
// of numbers (any count; integers are taken as doubles). A missing key, a null or a single scalar value, and an empty sequence give
// an empty array; an empty document gives seven empty arrays. Throws ConfigError when the file
// cannot be opened or read (also when `path` is a directory), is not valid YAML, has a root
// that is neither a mapping nor empty, maps a key to a mapping, or holds a sequence element
// that is not a finite number (a word, null, nested sequence or mapping, .nan, .inf).
JointArrayConfig load_joint_array_config(
    const std::string & path, const JointArrayLoaded & loaded = {});

}  // namespace quorvel_arm_supervisor

#endif  // QUORVEL_ARM_SUPERVISOR__YAML_CONFIG_HPP_

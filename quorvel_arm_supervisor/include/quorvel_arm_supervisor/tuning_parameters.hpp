// The supervisor's scalar tuning values, their ROS parameter names and defaults.
#ifndef QUORVEL_ARM_SUPERVISOR__TUNING_PARAMETERS_HPP_
#define QUORVEL_ARM_SUPERVISOR__TUNING_PARAMETERS_HPP_

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace quorvel_arm_supervisor
{

// File name, inside the package's config directory, of the joint-array YAML file; no default.
inline constexpr char kYamlConfigPathParameter[] = "yaml_config_path";

// Defaults stand for every parameter not supplied at start. Integers are ROS integer
// parameters narrowed to 32 bits; doubles and floats are ROS double parameters, floats
// narrowed to single precision. Delays are milliseconds (0 or less: no sleep).
struct TuningParameters
{
  std::int32_t detect_frame_num = 1;
  std::int32_t arm_recover_count_threshold = 10;
  double arm_movejoints_time_threshold = 15.0;  // s
  double detect_timeout_threshold = 5.0;        // s
  float position_radius_threshold = 0.01F;
  std::int32_t grab_count_threshold = 3;
  std::int32_t init_detect_delay = 10;
  std::int32_t gripper_open_delay = 10;
  std::int32_t gripper_close_delay = 1500;
  std::int32_t gripper_release_delay = 2000;
  std::int32_t arm_voice_broadcast_delay = 3000;
  std::int32_t recover_movej_delay = 6000;
  float env_stop_threshold = 1.5F;
  float angle_delta_threshold = 0.02F;
};

// Calls visit(name, member) for each value in the order the parameters are read; `member` is
// std::int32_t&, double& or float& (const for a const `params`).
template<typename Params, typename Visitor>
void visit_tuning_parameters(Params & params, Visitor && visit)
{
  static_assert(std::is_same_v<std::remove_const_t<Params>, TuningParameters>);
  visit("detect_frame_num", params.detect_frame_num);
  visit("arm_recover_count_threshold", params.arm_recover_count_threshold);
  visit("arm_movejoints_time_threshold", params.arm_movejoints_time_threshold);
  visit("detect_timeout_threshold", params.detect_timeout_threshold);
  visit("position_radius_threshold", params.position_radius_threshold);
  visit("grab_count_threshold", params.grab_count_threshold);
  visit("init_detect_delay", params.init_detect_delay);
  visit("gripper_open_delay", params.gripper_open_delay);
  visit("gripper_close_delay", params.gripper_close_delay);
  visit("gripper_release_delay", params.gripper_release_delay);
  visit("arm_voice_broadcast_delay", params.arm_voice_broadcast_delay);
  visit("recover_movej_delay", params.recover_movej_delay);
  visit("env_stop_threshold", params.env_stop_threshold);
  visit("angle_delta_threshold", params.angle_delta_threshold);
}

// The low 32 bits of a ROS integer parameter, as two's complement.
inline std::int32_t narrow_int_parameter(std::int64_t value)
{
  const auto low = static_cast<std::uint32_t>(value);
  std::int32_t narrowed = 0;
  std::memcpy(&narrowed, &low, sizeof narrowed);
  return narrowed;
}

}  // namespace quorvel_arm_supervisor

#endif  // QUORVEL_ARM_SUPERVISOR__TUNING_PARAMETERS_HPP_

// Start-up configuration: ROS parameters and the joint-array file.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include <ament_index_cpp/get_package_share_directory.hpp>

#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"
#include "quorvel_arm_supervisor/joint_arrays.hpp"
#include "quorvel_arm_supervisor/yaml_config.hpp"

namespace quorvel_arm_supervisor
{

namespace
{

// get_parameter with the parameter's name in every type error: the client library's own
// type error does not always carry it.
template <typename T>
bool GetTypedParameter(const rclcpp::Node & node, const char * name, T & value)
{
  try {
    return node.get_parameter(name, value);
  } catch (const rclcpp::exceptions::InvalidParameterTypeException &) {
    throw;
  } catch (const std::exception & error) {
    throw rclcpp::exceptions::InvalidParameterTypeException(name, error.what());
  }
}

}  // namespace

void ArmSupervisorNode::ReadParameter(const char * name, std::string & value)
{
  GetTypedParameter(*this, name, value);
}

void ArmSupervisorNode::ReadParameter(const char * name, std::int32_t & value)
{
  std::int64_t wide = 0;
  if (GetTypedParameter(*this, name, wide)) {
    value = narrow_int_parameter(wide);
  }
}

void ArmSupervisorNode::ReadParameter(const char * name, double & value)
{
  GetTypedParameter(*this, name, value);
}

void ArmSupervisorNode::ReadParameter(const char * name, float & value)
{
  double wide = 0.0;
  if (GetTypedParameter(*this, name, wide)) {
    value = static_cast<float>(wide);
  }
}

void ArmSupervisorNode::get_config_params()
{
  std::string yaml_config_path;
  ReadParameter(kYamlConfigPathParameter, yaml_config_path);

  TuningParameters tuning;
  visit_tuning_parameters(
      tuning, [this](const char * name, auto & value) { ReadParameter(name, value); });
  detect_frame_num_ = tuning.detect_frame_num;
  arm_recover_count_threshold_ = tuning.arm_recover_count_threshold;
  arm_movejoints_time_threshold_ = tuning.arm_movejoints_time_threshold;
  detect_timeout_threshold_ = tuning.detect_timeout_threshold;
  position_radius_threshold_ = tuning.position_radius_threshold;
  grab_count_threshold_ = tuning.grab_count_threshold;
  init_detect_delay_ = tuning.init_detect_delay;
  gripper_open_delay_ = tuning.gripper_open_delay;
  gripper_close_delay_ = tuning.gripper_close_delay;
  gripper_release_delay_ = tuning.gripper_release_delay;
  arm_voice_broadcast_delay_ = tuning.arm_voice_broadcast_delay;
  recover_movej_delay_ = tuning.recover_movej_delay;
  env_stop_threshold_ = tuning.env_stop_threshold;
  angle_delta_threshold_ = tuning.angle_delta_threshold;

  const std::string path = joint_config_path(
      ament_index_cpp::get_package_share_directory("quorvel_arm_supervisor"), yaml_config_path);
  // Each array is logged as soon as it is read: a bad key stops the start after the lines of
  // the good keys before it. The first four lines carry the member's name, the last three the
  // key's.
  const auto log_array = [this](std::string_view key, const JointArray & array) {
    const std::size_t index = static_cast<std::size_t>(
        std::find(kJointArrayKeys.begin(), kJointArrayKeys.end(), key) - kJointArrayKeys.begin());
    if (index < 4) {
      RCLCPP_INFO(
          get_logger(), "%s", format_joint_array(std::string(key) + "_", array.data).c_str());
    } else {
      PrintfFloat64MultiArray(std::string(key), array);
    }
  };
  JointArrayConfig joints = load_joint_array_config(path, log_array);
  release_joints_ = std::move(joints.release_joints);
  observe_joints_ = std::move(joints.observe_joints);
  recover_movej_pos1_ = std::move(joints.recover_movej_pos1);
  recover_movej_pos2_ = std::move(joints.recover_movej_pos2);
  recover_movej_end_pos_ = std::move(joints.recover_movej_end_pos);
  recover_movej_release_pos_ = std::move(joints.recover_movej_release_pos);
  recover_movej_transition_pos_ = std::move(joints.recover_movej_transition_pos);
}

void ArmSupervisorNode::PrintfFloat64MultiArray(const std::string & name, const JointArray & array)
{
  RCLCPP_INFO(get_logger(), "%s", format_joint_array(name, array.data).c_str());
}

}  // namespace quorvel_arm_supervisor

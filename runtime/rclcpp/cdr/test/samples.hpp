// Sample messages for the codec tests and the fuzzer's seeds: every interface type of the
// workspace, each filled with non-default values in every field.
//
// `seed` varies values and sequence lengths, so two seeds give messages of different shapes
// (used to decode into an object that already holds other data).
#ifndef CDR_TEST__SAMPLES_HPP_
#define CDR_TEST__SAMPLES_HPP_

#include <memory>
#include <string>
#include <vector>

#include "action_msgs/msg/goal_info.hpp"
#include "action_msgs/msg/goal_status.hpp"
#include "action_msgs/msg/goal_status_array.hpp"
#include "action_msgs/srv/cancel_goal.hpp"
#include "builtin_interfaces/msg/duration.hpp"
#include "builtin_interfaces/msg/time.hpp"
#include "geometry_msgs/msg/point.hpp"
#include "geometry_msgs/msg/pose.hpp"
#include "geometry_msgs/msg/quaternion.hpp"
#include "geometry_msgs/msg/vector3.hpp"
#include "quorvel_interfaces/action/arm_task.hpp"
#include "quorvel_interfaces/msg/trash.hpp"
#include "quorvel_interfaces/srv/arm_grab.hpp"
#include "quorvel_interfaces/srv/arm_move_joints.hpp"
#include "quorvel_interfaces/srv/arm_release.hpp"
#include "quorvel_interfaces/srv/detect_trash.hpp"
#include "quorvel_protocol/msg/trash_object.hpp"
#include "quorvel_protocol/msg/trashes.hpp"
#include "rcl_interfaces/msg/log.hpp"
#include "rcl_interfaces/msg/parameter_descriptor.hpp"
#include "rcl_interfaces/msg/parameter_event.hpp"
#include "rcl_interfaces/srv/list_parameters.hpp"
#include "rcl_interfaces/srv/set_parameters.hpp"
#include "rclcpp_cdr/codec.hpp"
#include "rmw_dds_common/msg/gid.hpp"
#include "rmw_dds_common/msg/node_entities_info.hpp"
#include "rmw_dds_common/msg/participant_entities_info.hpp"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/empty.hpp"
#include "std_msgs/msg/float64_multi_array.hpp"
#include "std_msgs/msg/header.hpp"
#include "std_msgs/msg/int32.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"
#include "std_msgs/msg/multi_array_dimension.hpp"
#include "std_msgs/msg/multi_array_layout.hpp"
#include "std_msgs/msg/string.hpp"
#include "unique_identifier_msgs/msg/uuid.hpp"

#include "exotic.hpp"

namespace cdr_test
{

void fill(builtin_interfaces::msg::Time & m, int seed);
void fill(builtin_interfaces::msg::Duration & m, int seed);
void fill(unique_identifier_msgs::msg::UUID & m, int seed);
void fill(std_msgs::msg::Bool & m, int seed);
void fill(std_msgs::msg::Empty & m, int seed);
void fill(std_msgs::msg::Int32 & m, int seed);
void fill(std_msgs::msg::String & m, int seed);
void fill(std_msgs::msg::Header & m, int seed);
void fill(std_msgs::msg::MultiArrayDimension & m, int seed);
void fill(std_msgs::msg::MultiArrayLayout & m, int seed);
void fill(std_msgs::msg::Float64MultiArray & m, int seed);
void fill(std_msgs::msg::Int32MultiArray & m, int seed);
void fill(geometry_msgs::msg::Point & m, int seed);
void fill(geometry_msgs::msg::Quaternion & m, int seed);
void fill(geometry_msgs::msg::Pose & m, int seed);
void fill(geometry_msgs::msg::Vector3 & m, int seed);
void fill(sensor_msgs::msg::JointState & m, int seed);
void fill(action_msgs::msg::GoalInfo & m, int seed);
void fill(action_msgs::msg::GoalStatus & m, int seed);
void fill(action_msgs::msg::GoalStatusArray & m, int seed);
void fill(action_msgs::srv::CancelGoal::Request & m, int seed);
void fill(action_msgs::srv::CancelGoal::Response & m, int seed);
void fill(rmw_dds_common::msg::Gid & m, int seed);
void fill(rmw_dds_common::msg::NodeEntitiesInfo & m, int seed);
void fill(rmw_dds_common::msg::ParticipantEntitiesInfo & m, int seed);
void fill(quorvel_interfaces::msg::Trash & m, int seed);
void fill(quorvel_interfaces::srv::DetectTrash::Request & m, int seed);
void fill(quorvel_interfaces::srv::DetectTrash::Response & m, int seed);
void fill(quorvel_interfaces::srv::ArmGrab::Request & m, int seed);
void fill(quorvel_interfaces::srv::ArmGrab::Response & m, int seed);
void fill(quorvel_interfaces::srv::ArmRelease::Request & m, int seed);
void fill(quorvel_interfaces::srv::ArmRelease::Response & m, int seed);
void fill(quorvel_interfaces::srv::ArmMoveJoints::Request & m, int seed);
void fill(quorvel_interfaces::srv::ArmMoveJoints::Response & m, int seed);
void fill(quorvel_interfaces::action::ArmTask::Goal & m, int seed);
void fill(quorvel_interfaces::action::ArmTask::Result & m, int seed);
void fill(quorvel_interfaces::action::ArmTask::Feedback & m, int seed);
void fill(quorvel_interfaces::action::ArmTask_SendGoal_Request & m, int seed);
void fill(quorvel_interfaces::action::ArmTask_SendGoal_Response & m, int seed);
void fill(quorvel_interfaces::action::ArmTask_GetResult_Request & m, int seed);
void fill(quorvel_interfaces::action::ArmTask_GetResult_Response & m, int seed);
void fill(quorvel_interfaces::action::ArmTask_FeedbackMessage & m, int seed);
void fill(quorvel_protocol::msg::TrashObject & m, int seed);
void fill(quorvel_protocol::msg::Trashes & m, int seed);
void fill(rcl_interfaces::msg::ParameterValue & m, int seed);
void fill(rcl_interfaces::msg::Parameter & m, int seed);
void fill(rcl_interfaces::msg::ParameterEvent & m, int seed);
void fill(rcl_interfaces::msg::ParameterDescriptor & m, int seed);
void fill(rcl_interfaces::msg::Log & m, int seed);
void fill(rcl_interfaces::srv::SetParameters::Request & m, int seed);
void fill(rcl_interfaces::srv::SetParameters::Response & m, int seed);
void fill(rcl_interfaces::srv::ListParameters::Request & m, int seed);
void fill(rcl_interfaces::srv::ListParameters::Response & m, int seed);
void fill(Exotic & m, int seed);

template <class T>
T sample(int seed = 0)
{
  T m;
  fill(m, seed);
  return m;
}

template <class T>
const rclcpp_cdr::MessageMembers * members_of()
{
  return rclcpp_cdr::get_members(
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<T>());
}

/// A message of any type, owned through its introspection init/fini functions.
class DynamicMessage
{
public:
  explicit DynamicMessage(const rclcpp_cdr::MessageMembers * members);
  ~DynamicMessage();
  DynamicMessage(const DynamicMessage &) = delete;
  DynamicMessage & operator=(const DynamicMessage &) = delete;
  void * get() { return storage_; }

private:
  const rclcpp_cdr::MessageMembers * members_;
  void * storage_;
};

/// A type-erased sample: its name, its members and the message itself.
struct Sample
{
  std::string name;
  const rclcpp_cdr::MessageMembers * members = nullptr;
  std::shared_ptr<const void> message;

  std::vector<uint8_t> encode(size_t prefix_size = 0) const;
};

/// One sample of every interface type in the workspace, plus the hand-described Exotic type.
std::vector<Sample> all_samples(int seed = 0);

}  // namespace cdr_test

#endif  // CDR_TEST__SAMPLES_HPP_

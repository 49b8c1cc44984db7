#include "samples.hpp"

#include <new>
#include <string>
#include <utility>

namespace cdr_test
{

void fill(builtin_interfaces::msg::Time & m, int seed)
{
  m.sec = -1700000000 + seed;
  m.nanosec = 999999999u - static_cast<uint32_t>(seed);
}

void fill(builtin_interfaces::msg::Duration & m, int seed)
{
  m.sec = 42 + seed;
  m.nanosec = 500000000u + static_cast<uint32_t>(seed);
}

void fill(unique_identifier_msgs::msg::UUID & m, int seed)
{
  for (size_t i = 0; i < m.uuid.size(); ++i) {
    m.uuid[i] = static_cast<uint8_t>(0xa0 + i + seed);
  }
}

void fill(std_msgs::msg::Bool & m, int seed) { m.data = seed % 2 == 0; }

void fill(std_msgs::msg::Empty & m, int seed)
{
  // Only a receiver's tolerance makes this non-zero: senders always write 0.
  m.structure_needs_at_least_one_member = static_cast<uint8_t>(seed);
}

void fill(std_msgs::msg::Int32 & m, int seed) { m.data = -123456 - seed; }

void fill(std_msgs::msg::String & m, int seed) { m.data = "grüße, world #" + std::to_string(seed); }

void fill(std_msgs::msg::Header & m, int seed)
{
  fill(m.stamp, seed);
  m.frame_id = "camera_link_" + std::to_string(seed);
}

void fill(std_msgs::msg::MultiArrayDimension & m, int seed)
{
  m.label = seed % 2 ? "rows" : "joints";
  m.size = 6u + static_cast<uint32_t>(seed);
  m.stride = 36u + static_cast<uint32_t>(seed);
}

void fill(std_msgs::msg::MultiArrayLayout & m, int seed)
{
  m.dim.resize(2 + seed % 3);
  for (size_t i = 0; i < m.dim.size(); ++i) {
    fill(m.dim[i], seed + static_cast<int>(i));
  }
  m.data_offset = 3u + static_cast<uint32_t>(seed);
}

void fill(std_msgs::msg::Float64MultiArray & m, int seed)
{
  fill(m.layout, seed);
  m.data.clear();
  for (int i = 0; i < 6 + seed; ++i) {
    m.data.push_back(-1.5 * i + 0.25 * seed);
  }
}

void fill(std_msgs::msg::Int32MultiArray & m, int seed)
{
  fill(m.layout, seed + 1);
  m.data = {-7, 0x7fffffff, -0x7fffffff - 1, seed};
}

void fill(geometry_msgs::msg::Point & m, int seed)
{
  m.x = 1.25 + seed;
  m.y = -2.5 - seed;
  m.z = 1e-300 * (seed + 1);
}

void fill(geometry_msgs::msg::Quaternion & m, int seed)
{
  m.x = 0.5 + seed;
  m.y = -0.5;
  m.z = 0.125;
  m.w = 0.75 - seed;
}

void fill(geometry_msgs::msg::Pose & m, int seed)
{
  fill(m.position, seed);
  fill(m.orientation, seed + 1);
}

void fill(geometry_msgs::msg::Vector3 & m, int seed)
{
  m.x = 0.1 * (seed + 1);
  m.y = 0.2 * (seed + 2);
  m.z = -0.3 * (seed + 3);
}

void fill(sensor_msgs::msg::JointState & m, int seed)
{
  fill(m.header, seed);
  m.name.clear();
  m.position.clear();
  m.velocity.clear();
  m.effort.clear();
  for (int i = 0; i < 6 + seed; ++i) {
    m.name.push_back("joint_" + std::to_string(i + 1));
    m.position.push_back(0.1 * i - seed);
    m.velocity.push_back(-0.01 * i);
    m.effort.push_back(2.0 * i + 0.5);
  }
}

void fill(action_msgs::msg::GoalInfo & m, int seed)
{
  fill(m.goal_id, seed);
  fill(m.stamp, seed);
}

void fill(action_msgs::msg::GoalStatus & m, int seed)
{
  fill(m.goal_info, seed);
  m.status = static_cast<int8_t>(1 + seed % 6);
}

void fill(action_msgs::msg::GoalStatusArray & m, int seed)
{
  m.status_list.resize(3 + seed);
  for (size_t i = 0; i < m.status_list.size(); ++i) {
    fill(m.status_list[i], seed + static_cast<int>(i));
  }
}

void fill(action_msgs::srv::CancelGoal::Request & m, int seed) { fill(m.goal_info, seed + 7); }

void fill(action_msgs::srv::CancelGoal::Response & m, int seed)
{
  m.return_code = static_cast<int8_t>(1 + seed % 3);
  m.goals_canceling.resize(2 + seed);
  for (size_t i = 0; i < m.goals_canceling.size(); ++i) {
    fill(m.goals_canceling[i], seed + static_cast<int>(i));
  }
}

void fill(rmw_dds_common::msg::Gid & m, int seed)
{
  for (size_t i = 0; i < m.data.size(); ++i) {
    m.data[i] = static_cast<uint8_t>(0x11 * (i % 16) + seed);
  }
}

void fill(rmw_dds_common::msg::NodeEntitiesInfo & m, int seed)
{
  m.node_namespace = "/quorvel/arm" + std::to_string(seed);
  m.node_name = "arm_supervisor";
  m.reader_gid_seq.resize(3 + seed);
  m.writer_gid_seq.resize(1 + seed);
  for (size_t i = 0; i < m.reader_gid_seq.size(); ++i) {
    fill(m.reader_gid_seq[i], seed + static_cast<int>(i));
  }
  for (size_t i = 0; i < m.writer_gid_seq.size(); ++i) {
    fill(m.writer_gid_seq[i], seed + 40 + static_cast<int>(i));
  }
}

void fill(rmw_dds_common::msg::ParticipantEntitiesInfo & m, int seed)
{
  fill(m.gid, seed + 3);
  m.node_entities_info_seq.resize(2 + seed);
  for (size_t i = 0; i < m.node_entities_info_seq.size(); ++i) {
    fill(m.node_entities_info_seq[i], seed + static_cast<int>(i));
  }
}

void fill(quorvel_interfaces::msg::Trash & m, int seed)
{
  m.type = static_cast<uint8_t>(3 + seed);
  m.flag_a = 1;
  m.flag_b = static_cast<uint8_t>(200 + seed);
  fill(m.grab_pose, seed);
  fill(m.obb_pose, seed + 2);
  fill(m.obb_size, seed + 4);
}

void fill(quorvel_interfaces::srv::DetectTrash::Request & m, int seed)
{
  m.cmd = 1 + seed;
  m.cam_choice = static_cast<uint8_t>(2 + seed);
}

void fill(quorvel_interfaces::srv::DetectTrash::Response & m, int seed)
{
  m.status = -3 - seed;
  m.trash_list.resize(2 + seed);
  for (size_t i = 0; i < m.trash_list.size(); ++i) {
    fill(m.trash_list[i], seed + static_cast<int>(i));
  }
  m.errmsg = "camera " + std::to_string(seed) + " saw " + std::to_string(m.trash_list.size());
}

void fill(quorvel_interfaces::srv::ArmGrab::Request & m, int seed)
{
  m.cmd = 7 + seed;
  m.trash_type = static_cast<uint8_t>(4 + seed);
  fill(m.target_pose, seed);
  fill(m.obb_pose, seed + 1);
  fill(m.obb_size, seed + 2);
}

void fill(quorvel_interfaces::srv::ArmGrab::Response & m, int seed)
{
  m.status = 500 + seed;
  m.errmsg = "gripper slipped " + std::to_string(seed);
}

void fill(quorvel_interfaces::srv::ArmRelease::Request & m, int seed)
{
  m.cmd = 9 + seed;
  fill(m.target_pose, seed + 3);
  fill(m.target_joints, seed);
  fill(m.obb_pose, seed + 5);
  fill(m.obb_size, seed + 6);
}

void fill(quorvel_interfaces::srv::ArmRelease::Response & m, int seed)
{
  m.status = -1 - seed;
  m.errmsg = "released over bin " + std::to_string(seed);
}

void fill(quorvel_interfaces::srv::ArmMoveJoints::Request & m, int seed)
{
  m.cmd = 11 + seed;
  fill(m.target_pose, seed + 1);
  fill(m.target_joints, seed + 2);
}

void fill(quorvel_interfaces::srv::ArmMoveJoints::Response & m, int seed)
{
  m.status = 2 + seed;
  m.errmsg = "joint limit " + std::to_string(seed);
}

void fill(quorvel_interfaces::action::ArmTask::Goal & m, int seed) { m.cmd = 5 + seed; }

void fill(quorvel_interfaces::action::ArmTask::Result & m, int seed)
{
  m.error_code = -12 - seed;
  m.unable_grab_trashes.resize(1 + seed);
  for (size_t i = 0; i < m.unable_grab_trashes.size(); ++i) {
    fill(m.unable_grab_trashes[i], seed + 10 + static_cast<int>(i));
  }
}

void fill(quorvel_interfaces::action::ArmTask::Feedback & m, int seed) { m.step_count = 17 + seed; }

void fill(quorvel_interfaces::action::ArmTask_SendGoal_Request & m, int seed)
{
  fill(m.goal_id, seed);
  fill(m.goal, seed);
}

void fill(quorvel_interfaces::action::ArmTask_SendGoal_Response & m, int seed)
{
  m.accepted = seed % 2 == 0;
  fill(m.stamp, seed);
}

void fill(quorvel_interfaces::action::ArmTask_GetResult_Request & m, int seed)
{
  fill(m.goal_id, seed + 1);
}

void fill(quorvel_interfaces::action::ArmTask_GetResult_Response & m, int seed)
{
  m.status = static_cast<int8_t>(4 + seed % 3);
  fill(m.result, seed);
}

void fill(quorvel_interfaces::action::ArmTask_FeedbackMessage & m, int seed)
{
  fill(m.goal_id, seed + 2);
  fill(m.feedback, seed);
}

void fill(quorvel_protocol::msg::TrashObject & m, int seed)
{
  fill(m.header, seed);
  m.value_a = 100 + seed;
  m.value_b = -200 - seed;
  m.text = "object-" + std::to_string(seed);
  m.flag = static_cast<uint8_t>(1 + seed % 255);
  m.value_c = 0x01020304 + seed;
  m.data.assign(static_cast<size_t>(1 + seed % 7), static_cast<uint8_t>(0xe0 + seed % 16));
  m.x = 0.5f + static_cast<float>(seed);
  m.y = -0.25f * static_cast<float>(seed + 1);
}

void fill(quorvel_protocol::msg::Trashes & m, int seed)
{
  fill(m.header, seed + 100);
  m.trashes.resize(3 + seed);
  for (size_t i = 0; i < m.trashes.size(); ++i) {
    fill(m.trashes[i], seed + static_cast<int>(i));
  }
}

void fill(rcl_interfaces::msg::ParameterValue & m, int seed)
{
  m.type = static_cast<uint8_t>(1 + seed % 9);
  m.bool_value = true;
  m.integer_value = -4000000000LL - seed;
  m.double_value = 0.1 + seed;
  m.string_value = "detect_frame_num " + std::to_string(seed);
  m.byte_array_value = {0x00, 0xff, static_cast<uint8_t>(seed)};
  m.bool_array_value = {true, false, seed % 2 == 0};
  m.integer_array_value.assign(2 + seed, -7);
  m.double_array_value = {1.5, -2.25, 1e300};
  m.string_array_value = {"", "a", "joints" + std::to_string(seed)};
}

void fill(rcl_interfaces::msg::Parameter & m, int seed)
{
  m.name = "nested.name" + std::to_string(seed);
  fill(m.value, seed);
}

void fill(rcl_interfaces::msg::ParameterEvent & m, int seed)
{
  fill(m.stamp, seed);
  m.node = "/quorvel/ArmSupervisorNode";
  m.new_parameters.resize(1 + seed);
  m.changed_parameters.resize(2);
  m.deleted_parameters.resize(static_cast<size_t>(seed % 2));
  for (size_t i = 0; i < m.new_parameters.size(); ++i) {
    fill(m.new_parameters[i], seed + static_cast<int>(i));
  }
  for (size_t i = 0; i < m.changed_parameters.size(); ++i) {
    fill(m.changed_parameters[i], seed + 3 + static_cast<int>(i));
  }
  for (size_t i = 0; i < m.deleted_parameters.size(); ++i) {
    fill(m.deleted_parameters[i], seed + 6);
  }
}

void fill(rcl_interfaces::msg::ParameterDescriptor & m, int seed)
{
  m.name = "gain";
  m.type = 3;
  m.description = "controller gain, seed " + std::to_string(seed);
  m.additional_constraints = "none";
  m.read_only = seed % 2 == 0;
  m.dynamic_typing = seed % 2 == 1;
  m.floating_point_range.resize(1);
  m.floating_point_range[0].from_value = -1.0 - seed;
  m.floating_point_range[0].to_value = 1.0;
  m.floating_point_range[0].step = 0.125;
  m.integer_range.resize(1);
  m.integer_range[0].from_value = -5 - seed;
  m.integer_range[0].to_value = 5;
  m.integer_range[0].step = 5;
}

void fill(rcl_interfaces::msg::Log & m, int seed)
{
  fill(m.stamp, seed);
  m.level = rcl_interfaces::msg::Log::WARN;
  m.name = "ArmSupervisorNode";
  m.msg = "arm_task_action: /quorvel_action/arm_task " + std::to_string(seed);
  m.file = "/src/node_wiring.cpp";
  m.function = "ArmSupervisorNode";
  m.line = 33u + static_cast<uint32_t>(seed);
}

void fill(rcl_interfaces::srv::SetParameters::Request & m, int seed)
{
  m.parameters.resize(2 + seed);
  for (size_t i = 0; i < m.parameters.size(); ++i) {
    fill(m.parameters[i], seed + static_cast<int>(i));
  }
}

void fill(rcl_interfaces::srv::SetParameters::Response & m, int seed)
{
  m.results.resize(2 + seed);
  for (size_t i = 0; i < m.results.size(); ++i) {
    m.results[i].successful = i % 2 == 0;
    m.results[i].reason = i % 2 == 0 ? "" : "parameter 'frame' cannot be set because it is read-only";
  }
}

void fill(rcl_interfaces::srv::ListParameters::Request & m, int seed)
{
  m.prefixes = {"nested", "a.b" + std::to_string(seed)};
  m.depth = 3u + static_cast<uint64_t>(seed);
}

void fill(rcl_interfaces::srv::ListParameters::Response & m, int seed)
{
  m.result.names = {"count", "nested.a", "nested.b" + std::to_string(seed)};
  m.result.prefixes = {"nested"};
}

void fill(Exotic & m, int seed)
{
  m.flag = seed % 2 == 0;
  m.letter = static_cast<char16_t>(0x263a + seed);
  m.small = static_cast<int16_t>(-300 - seed);
  m.big = 0xfedcba9876543210ull + static_cast<uint64_t>(seed);
  m.wide = u"h\u00e9llo \u263a";
  m.wide += static_cast<char16_t>(u'0' + seed % 10);
  m.bits.assign(static_cast<size_t>(5 + seed), false);
  m.bits[0] = m.bits[3] = true;
  m.fixed_bits = {true, seed % 2 == 1, true};
  m.bounded_numbers.clear();
  for (int i = 0; i < 2 + seed % 2; ++i) {
    m.bounded_numbers.push_back(static_cast<int16_t>(-i - seed));
  }
  m.short_text = "ok" + std::to_string(seed % 100);
  m.wide_list = {u"\u00fcber", u"", std::u16string(static_cast<size_t>(3 + seed), u'x')};
  m.names = {"first" + std::to_string(seed), ""};
  m.points.clear();
  for (int i = 0; i < 1 + seed % 2; ++i) {
    geometry_msgs::msg::Point p;
    fill(p, seed + i);
    m.points.push_back(p);
  }
  fill(m.stamps[0], seed);
  fill(m.stamps[1], seed + 1);
}

DynamicMessage::DynamicMessage(const rclcpp_cdr::MessageMembers * members)
    : members_(members),
      storage_(::operator new (members->size_of_, std::align_val_t{alignof(std::max_align_t)}))
{
  members_->init_function(storage_, rosidl_runtime_cpp::MessageInitialization::ALL);
}

DynamicMessage::~DynamicMessage()
{
  members_->fini_function(storage_);
  ::operator delete (storage_, std::align_val_t{alignof(std::max_align_t)});
}

std::vector<uint8_t> Sample::encode(size_t prefix_size) const
{
  std::vector<uint8_t> bytes;
  rclcpp_cdr::serialize(members, message.get(), bytes, prefix_size);
  return bytes;
}

namespace
{

template <class T>
void add(std::vector<Sample> & out, const char * name, int seed)
{
  out.push_back(Sample{name, members_of<T>(), std::make_shared<T>(sample<T>(seed))});
}

}  // namespace

std::vector<Sample> all_samples(int seed)
{
  namespace qi = quorvel_interfaces;
  std::vector<Sample> out;
  add<builtin_interfaces::msg::Time>(out, "builtin_interfaces/Time", seed);
  add<builtin_interfaces::msg::Duration>(out, "builtin_interfaces/Duration", seed);
  add<unique_identifier_msgs::msg::UUID>(out, "unique_identifier_msgs/UUID", seed);
  add<std_msgs::msg::Bool>(out, "std_msgs/Bool", seed);
  add<std_msgs::msg::Empty>(out, "std_msgs/Empty", seed);
  add<std_msgs::msg::Int32>(out, "std_msgs/Int32", seed);
  add<std_msgs::msg::String>(out, "std_msgs/String", seed);
  add<std_msgs::msg::Header>(out, "std_msgs/Header", seed);
  add<std_msgs::msg::MultiArrayDimension>(out, "std_msgs/MultiArrayDimension", seed);
  add<std_msgs::msg::MultiArrayLayout>(out, "std_msgs/MultiArrayLayout", seed);
  add<std_msgs::msg::Float64MultiArray>(out, "std_msgs/Float64MultiArray", seed);
  add<std_msgs::msg::Int32MultiArray>(out, "std_msgs/Int32MultiArray", seed);
  add<geometry_msgs::msg::Point>(out, "geometry_msgs/Point", seed);
  add<geometry_msgs::msg::Quaternion>(out, "geometry_msgs/Quaternion", seed);
  add<geometry_msgs::msg::Pose>(out, "geometry_msgs/Pose", seed);
  add<geometry_msgs::msg::Vector3>(out, "geometry_msgs/Vector3", seed);
  add<sensor_msgs::msg::JointState>(out, "sensor_msgs/JointState", seed);
  add<action_msgs::msg::GoalInfo>(out, "action_msgs/GoalInfo", seed);
  add<action_msgs::msg::GoalStatus>(out, "action_msgs/GoalStatus", seed);
  add<action_msgs::msg::GoalStatusArray>(out, "action_msgs/GoalStatusArray", seed);
  add<action_msgs::srv::CancelGoal::Request>(out, "action_msgs/CancelGoal_Request", seed);
  add<action_msgs::srv::CancelGoal::Response>(out, "action_msgs/CancelGoal_Response", seed);
  add<rmw_dds_common::msg::Gid>(out, "rmw_dds_common/Gid", seed);
  add<rmw_dds_common::msg::NodeEntitiesInfo>(out, "rmw_dds_common/NodeEntitiesInfo", seed);
  add<rmw_dds_common::msg::ParticipantEntitiesInfo>(
      out, "rmw_dds_common/ParticipantEntitiesInfo", seed);
  add<qi::msg::Trash>(out, "quorvel_interfaces/Trash", seed);
  add<qi::srv::DetectTrash::Request>(out, "quorvel_interfaces/DetectTrash_Request", seed);
  add<qi::srv::DetectTrash::Response>(out, "quorvel_interfaces/DetectTrash_Response", seed);
  add<qi::srv::ArmGrab::Request>(out, "quorvel_interfaces/ArmGrab_Request", seed);
  add<qi::srv::ArmGrab::Response>(out, "quorvel_interfaces/ArmGrab_Response", seed);
  add<qi::srv::ArmRelease::Request>(out, "quorvel_interfaces/ArmRelease_Request", seed);
  add<qi::srv::ArmRelease::Response>(out, "quorvel_interfaces/ArmRelease_Response", seed);
  add<qi::srv::ArmMoveJoints::Request>(out, "quorvel_interfaces/ArmMoveJoints_Request", seed);
  add<qi::srv::ArmMoveJoints::Response>(out, "quorvel_interfaces/ArmMoveJoints_Response", seed);
  add<qi::action::ArmTask::Goal>(out, "quorvel_interfaces/ArmTask_Goal", seed);
  add<qi::action::ArmTask::Result>(out, "quorvel_interfaces/ArmTask_Result", seed);
  add<qi::action::ArmTask::Feedback>(out, "quorvel_interfaces/ArmTask_Feedback", seed);
  add<qi::action::ArmTask_SendGoal_Request>(
      out, "quorvel_interfaces/ArmTask_SendGoal_Request", seed);
  add<qi::action::ArmTask_SendGoal_Response>(
      out, "quorvel_interfaces/ArmTask_SendGoal_Response", seed);
  add<qi::action::ArmTask_GetResult_Request>(
      out, "quorvel_interfaces/ArmTask_GetResult_Request", seed);
  add<qi::action::ArmTask_GetResult_Response>(
      out, "quorvel_interfaces/ArmTask_GetResult_Response", seed);
  add<qi::action::ArmTask_FeedbackMessage>(out, "quorvel_interfaces/ArmTask_FeedbackMessage", seed);
  add<quorvel_protocol::msg::TrashObject>(out, "quorvel_protocol/TrashObject", seed);
  add<quorvel_protocol::msg::Trashes>(out, "quorvel_protocol/Trashes", seed);
  add<rcl_interfaces::msg::ParameterEvent>(out, "rcl_interfaces/ParameterEvent", seed);
  add<rcl_interfaces::msg::ParameterDescriptor>(out, "rcl_interfaces/ParameterDescriptor", seed);
  add<rcl_interfaces::msg::Log>(out, "rcl_interfaces/Log", seed);
  add<rcl_interfaces::srv::SetParameters::Request>(
      out, "rcl_interfaces/SetParameters_Request", seed);
  add<rcl_interfaces::srv::SetParameters::Response>(
      out, "rcl_interfaces/SetParameters_Response", seed);
  add<rcl_interfaces::srv::ListParameters::Request>(
      out, "rcl_interfaces/ListParameters_Request", seed);
  add<rcl_interfaces::srv::ListParameters::Response>(
      out, "rcl_interfaces/ListParameters_Response", seed);
  out.push_back(Sample{
      "cdr_test/Exotic",
      rclcpp_cdr::get_members(exotic_type_support()),
      std::make_shared<Exotic>(sample<Exotic>(seed))});
  return out;
}

}  // namespace cdr_test

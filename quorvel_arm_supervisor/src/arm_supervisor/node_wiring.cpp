// Construction of the node's entities and the subscriptions that only copy a value.
#include <functional>
#include <string>
#include <utility>

#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"

namespace quorvel_arm_supervisor
{

using std::placeholders::_1;
using std::placeholders::_2;

ArmSupervisorNode::ArmSupervisorNode() : ArmSupervisorNode(rclcpp::NodeOptions()) {}

ArmSupervisorNode::ArmSupervisorNode(const rclcpp::NodeOptions & options)
    : rclcpp::Node(
          "ArmSupervisorNode",
          rclcpp::NodeOptions(options).automatically_declare_parameters_from_overrides(true))
{
  get_config_params();

  std::string arm_task_action = "/quorvel_action/arm_task";
  std::string detect_service = "/quorvel_service/detect_trash";
  std::string arm_release_service = "/quorvel_service/arm_release";
  std::string arm_grab_service = "/quorvel_service/arm_grab";
  std::string arm_movejoints_service = "/quorvel_service/arm_movejoints";
  ReadParameter("arm_task_action", arm_task_action);
  ReadParameter("detect_service", detect_service);
  ReadParameter("arm_release_service", arm_release_service);
  ReadParameter("arm_grab_service", arm_grab_service);
  ReadParameter("arm_movejoints_service", arm_movejoints_service);
  RCLCPP_INFO(get_logger(), "arm_task_action: %s", arm_task_action.c_str());
  RCLCPP_INFO(get_logger(), "detect_service: %s", detect_service.c_str());
  RCLCPP_INFO(get_logger(), "arm_movejoints_service: %s", arm_movejoints_service.c_str());

  arm_task_server_ = rclcpp_action::create_server<ArmTask>(
      this,
      arm_task_action,
      std::bind(&ArmSupervisorNode::handle_goal, this, _1, _2),
      std::bind(&ArmSupervisorNode::handle_cancel, this, _1),
      std::bind(&ArmSupervisorNode::handle_accepted, this, _1));

  detect_client_ =
      create_client<DetectTrash>(detect_service, rmw_qos_profile_services_default, nullptr);
  arm_movejoints_client_ = create_client<ArmMoveJoints>(
      arm_movejoints_service, rmw_qos_profile_services_default, nullptr);
  arm_grab_client_ =
      create_client<ArmGrab>(arm_grab_service, rmw_qos_profile_services_default, nullptr);
  arm_release_client_ =
      create_client<ArmRelease>(arm_release_service, rmw_qos_profile_services_default, nullptr);
  // The first look at the graph's servers starts following them; taken now, the view is
  // complete by the time a task waits for an answer.
  ListServers(*arm_grab_client_);

  grasp_pub_ = create_publisher<std_msgs::msg::Bool>("/robot/grasp_topic", 1);
  ctrl_io_pub_ = create_publisher<std_msgs::msg::Int32MultiArray>("/robot/ctrl_io_topic", 1);
  recover_pub_ = create_publisher<std_msgs::msg::Bool>("/robot/recover_topic", 1);
  collision_enable_pub_ = create_publisher<std_msgs::msg::Bool>("/robot/collision_enable_topic", 1);
  movj_pub_ = create_publisher<std_msgs::msg::Float64MultiArray>("/robot/movj_topic", 1);
  voice_broadcast_pub_ = create_publisher<std_msgs::msg::Int32>("/arm/voice_broadcast", 1);

  req_arm_release_ = std::make_shared<ArmRelease::Request>();
  req_grab_ = std::make_shared<ArmGrab::Request>();
  req_arm_movejoints_ = std::make_shared<ArmMoveJoints::Request>();

  InitializeSubscriber();

  std::string task_events_topic = "/quorvel/arm_supervisor/task_events";
  ReadParameter("task_events_topic", task_events_topic);
  RCLCPP_INFO(
      get_logger(), "task_events_topic: %s",
      task_events_topic.empty() ? "(none: task events off)" : task_events_topic.c_str());
  task_events_ = std::make_unique<TaskEventLog>(*this, task_events_topic);
}

void ArmSupervisorNode::InitializeSubscriber()
{
  std::string arm_state_topic = "/robot/unnormal_flag";
  std::string env_detect_topic = "/quorvel/env_detect_topic";
  std::string arm_jointstate_topic = "/robot/joint_angle";
  ReadParameter("arm_state_topic", arm_state_topic);
  ReadParameter("env_detect_topic", env_detect_topic);
  ReadParameter("arm_jointstate_topic", arm_jointstate_topic);
  RCLCPP_INFO(get_logger(), "arm_state_topic : %s", arm_state_topic.c_str());
  RCLCPP_INFO(get_logger(), "env_detect_topic : %s", env_detect_topic.c_str());
  RCLCPP_INFO(get_logger(), "arm_jointstate_topic : %s", arm_jointstate_topic.c_str());

  arm_state_cb_group_ = create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive, true);
  rclcpp::SubscriptionOptions arm_state_options;
  arm_state_options.callback_group = arm_state_cb_group_;
  arm_state_sub_ = create_subscription<std_msgs::msg::Bool>(
      arm_state_topic,
      1,
      std::bind(&ArmSupervisorNode::ArmStateCallback, this, _1),
      arm_state_options);

  env_detect_cb_group_ = create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive, true);
  rclcpp::SubscriptionOptions env_detect_options;
  env_detect_options.callback_group = env_detect_cb_group_;
  env_detect_sub_ = create_subscription<quorvel_protocol::msg::Trashes>(
      env_detect_topic,
      1,
      std::bind(&ArmSupervisorNode::EnvDetectCallback, this, _1),
      env_detect_options);

  joint_state_cb_group_ = create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive, true);
  rclcpp::SubscriptionOptions joint_state_options;
  joint_state_options.callback_group = joint_state_cb_group_;
  joint_state_sub_ = create_subscription<sensor_msgs::msg::JointState>(
      arm_jointstate_topic,
      1,
      std::bind(&ArmSupervisorNode::JointStateCallback, this, _1),
      joint_state_options);

  env_enable_cb_group_ = create_callback_group(rclcpp::CallbackGroupType::MutuallyExclusive, true);
  rclcpp::SubscriptionOptions env_enable_options;
  env_enable_options.callback_group = env_enable_cb_group_;
  env_enable_sub_ = create_subscription<std_msgs::msg::Bool>(
      "/quorvel_topic/env_enable",
      1,
      std::bind(&ArmSupervisorNode::EnvEnableCallback, this, _1),
      env_enable_options);
}

void ArmSupervisorNode::ArmStateCallback(const std_msgs::msg::Bool::ConstSharedPtr message)
{
  arm_unnormal_flag_.store(message->data);
}

void ArmSupervisorNode::EnvEnableCallback(const std_msgs::msg::Bool::ConstSharedPtr message)
{
  env_enable_.store(message->data);
}

void ArmSupervisorNode::JointStateCallback(
    const sensor_msgs::msg::JointState::ConstSharedPtr message)
{
  if (message->position.empty()) {
    return;
  }
  std::lock_guard<std::mutex> lock(joints_mutex_);
  current_joints_.data = message->position;
}

ArmSupervisorNode::JointArray ArmSupervisorNode::CurrentJoints() const
{
  std::lock_guard<std::mutex> lock(joints_mutex_);
  return current_joints_;
}

}  // namespace quorvel_arm_supervisor

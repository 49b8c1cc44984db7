// arm_service_mock: answers the arm and detection services with canned results after a fixed
// delay, so that a whole task runs on a desk without the robot.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <exception>
#include <functional>
#include <iostream>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>

#include <rclcpp/rclcpp.hpp>

#include "quorvel_arm_supervisor/arm_logger.hpp"
#include "quorvel_interfaces/srv/arm_grab.hpp"
#include "quorvel_interfaces/srv/arm_move_joints.hpp"
#include "quorvel_interfaces/srv/arm_release.hpp"
#include "quorvel_interfaces/srv/detect_trash.hpp"

namespace quorvel_arm_supervisor
{

// The arm controller's success code: the supervisor judges every other status a failure.
constexpr std::int64_t kArmStatusSuccess = 102100000;

// Serves "quorvel_service/detect_trash_test", "quorvel_service/arm_grab",
// "quorvel_service/arm_release" and "quorvel_service/arm_movejoints" (relative names).
// Detection always returns the same single trash with status 1; the arm services answer the
// `arm_status` parameter. Every callback sleeps its fixed delay times `delay_scale` on the
// spinning thread, so calls are served one after another.
class ArmServiceMockNode : public rclcpp::Node
{
public:
  using DetectTrash = quorvel_interfaces::srv::DetectTrash;
  using ArmGrab = quorvel_interfaces::srv::ArmGrab;
  using ArmRelease = quorvel_interfaces::srv::ArmRelease;
  using ArmMoveJoints = quorvel_interfaces::srv::ArmMoveJoints;

  // Throws rclcpp's InvalidParameterTypeException for a parameter of the wrong type and
  // std::invalid_argument for a value out of range, both naming the parameter.
  ArmServiceMockNode() : rclcpp::Node("ArmServiceMockNode")
  {
    const std::int64_t arm_status =
        declare_parameter<std::int64_t>("arm_status", kArmStatusSuccess);
    if (arm_status < std::numeric_limits<std::int32_t>::min() ||
        arm_status > std::numeric_limits<std::int32_t>::max()) {
      throw std::invalid_argument(
          "parameter 'arm_status' must fit in 32 bits, got " + std::to_string(arm_status));
    }
    arm_status_ = static_cast<std::int32_t>(arm_status);
    delay_scale_ = declare_parameter<double>("delay_scale", 1.0);
    if (!std::isfinite(delay_scale_) || delay_scale_ < 0.0) {
      throw std::invalid_argument(
          "parameter 'delay_scale' must be a finite number >= 0, got " +
          std::to_string(delay_scale_));
    }

    using std::placeholders::_1;
    using std::placeholders::_2;
    detect_service_ = create_service<DetectTrash>(
        "quorvel_service/detect_trash_test",
        std::bind(&ArmServiceMockNode::detect_callback_, this, _1, _2));
    arm_grab_service_ = create_service<ArmGrab>(
        "quorvel_service/arm_grab",
        std::bind(&ArmServiceMockNode::arm_grab_callback_, this, _1, _2));
    arm_release_service_ = create_service<ArmRelease>(
        "quorvel_service/arm_release",
        std::bind(&ArmServiceMockNode::arm_release_callback_, this, _1, _2));
    arm_movejoints_service_ = create_service<ArmMoveJoints>(
        "quorvel_service/arm_movejoints",
        std::bind(&ArmServiceMockNode::arm_movejoints_callback_, this, _1, _2));
  }

private:
  void detect_callback_(
      const std::shared_ptr<DetectTrash::Request> request,
      std::shared_ptr<DetectTrash::Response> response)
  {
    RCLCPP_INFO(get_logger(), "starting detect................\n");
    RCLCPP_INFO(
        get_logger(),
        "Received cmd: %d  cam_choice: %d\n",
        request->cmd,
        static_cast<int>(request->cam_choice));
    RCLCPP_INFO(get_logger(), "detecting................\n");

    quorvel_interfaces::msg::Trash trash;
    trash.type = 1;
    trash.flag_a = 0;
    trash.flag_b = 1;
    trash.grab_pose.position.x = -0.32;
    trash.grab_pose.position.y = 0.0;
    trash.grab_pose.position.z = -0.176;
    trash.grab_pose.orientation.x = 0.0;
    trash.grab_pose.orientation.y = 1.0;
    trash.grab_pose.orientation.z = 0.0;
    trash.grab_pose.orientation.w = 0.0;
    trash.obb_pose.orientation.x = 0.0;
    trash.obb_pose.orientation.y = 0.0;
    trash.obb_pose.orientation.z = 0.0;
    trash.obb_pose.orientation.w = 1.0;
    trash.obb_size.x = 0.2;
    trash.obb_size.y = 0.1;
    trash.obb_size.z = 0.05;
    response->trash_list = {trash};

    SleepScaled(0.5);
    response->status = 1;
    RCLCPP_INFO(get_logger(), "detect done !\n");
  }

  void arm_grab_callback_(
      const std::shared_ptr<ArmGrab::Request> request, std::shared_ptr<ArmGrab::Response> response)
  {
    RCLCPP_INFO(get_logger(), "starting arm grab................\n");
    RCLCPP_INFO(
        get_logger(),
        "send cmd: %d trash_type: %d\n",
        request->cmd,
        static_cast<int>(request->trash_type));
    LogTargetPose(request->target_pose);
    RCLCPP_INFO(get_logger(), "arm grabbing................\n");
    SleepScaled(1.5);
    response->status = arm_status_;
    RCLCPP_INFO(get_logger(), "arm grab done !\n");
  }

  void arm_release_callback_(
      const std::shared_ptr<ArmRelease::Request> request,
      std::shared_ptr<ArmRelease::Response> response)
  {
    RCLCPP_INFO(get_logger(), "starting arm release................\n");
    LogJointRequest(request->cmd, request->target_pose, request->target_joints);
    RCLCPP_INFO(get_logger(), "arm releasing................\n");
    SleepScaled(1.5);
    response->status = arm_status_;
    RCLCPP_INFO(get_logger(), "arm release done !\n");
  }

  void arm_movejoints_callback_(
      const std::shared_ptr<ArmMoveJoints::Request> request,
      std::shared_ptr<ArmMoveJoints::Response> response)
  {
    RCLCPP_INFO(get_logger(), "starting arm movejoints................\n");
    LogJointRequest(request->cmd, request->target_pose, request->target_joints);
    RCLCPP_INFO(get_logger(), "arm movingjoints................\n");
    SleepScaled(1.5);
    response->status = arm_status_;
    RCLCPP_INFO(get_logger(), "arm movejoints done !\n");
  }

  // Orientation in the order w, x, y, z.
  void LogTargetPose(const geometry_msgs::msg::Pose & pose)
  {
    RCLCPP_INFO(
        get_logger(),
        "send target pose: \n  position: (%f  %f  %f) \n  orientation: (%f  %f  %f  %f)\n",
        pose.position.x,
        pose.position.y,
        pose.position.z,
        pose.orientation.w,
        pose.orientation.x,
        pose.orientation.y,
        pose.orientation.z);
  }

  void LogJointRequest(
      std::int32_t cmd,
      const geometry_msgs::msg::Pose & target_pose,
      const std_msgs::msg::Float64MultiArray & target_joints)
  {
    RCLCPP_INFO(get_logger(), "send cmd: %d\n", cmd);
    LogTargetPose(target_pose);
    RCLCPP_INFO(get_logger(), "send target joints: ");
    for (const double value : target_joints.data) {
      RCLCPP_INFO(get_logger(), "%f  ", value);
    }
    RCLCPP_INFO(get_logger(), "\n");
  }

  // A signal (Ctrl-C included) does not cut the simulated work short: the sleep resumes with
  // what is left, so an answer that is sent at all is sent after its full delay.
  void SleepScaled(double seconds) const
  {
    const double total = seconds * delay_scale_;
    if (total <= 0.0) {
      return;
    }
    double whole = 0.0;
    const double fraction = std::modf(total, &whole);
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(whole);
    remaining.tv_nsec = static_cast<long>(fraction * 1e9);
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
  }

  std::int32_t arm_status_ = static_cast<std::int32_t>(kArmStatusSuccess);
  double delay_scale_ = 1.0;
  rclcpp::Service<DetectTrash>::SharedPtr detect_service_;
  rclcpp::Service<ArmGrab>::SharedPtr arm_grab_service_;
  rclcpp::Service<ArmRelease>::SharedPtr arm_release_service_;
  rclcpp::Service<ArmMoveJoints>::SharedPtr arm_movejoints_service_;
};

}  // namespace quorvel_arm_supervisor

int main(int argc, char ** argv)
{
  std::shared_ptr<quorvel_arm_supervisor::ArmServiceMockNode> node;
  try {
    rclcpp::init(argc, argv);
    node = std::make_shared<quorvel_arm_supervisor::ArmServiceMockNode>();
  } catch (const std::exception & error) {
    std::cerr << "arm_service_mock: start-up failed: " << error.what() << std::endl;
    rclcpp::shutdown();
    return 1;
  }
  std::cout << quorvel_arm_supervisor::COLOR_CYAN << "ArmServiceMockNode Start!" << std::endl;
  rclcpp::spin(node);
  rclcpp::shutdown();
  return 0;
}

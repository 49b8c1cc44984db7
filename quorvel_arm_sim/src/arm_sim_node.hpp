// The simulator on ROS: the supervisor's default service and topic names, served from one
// thread.
#ifndef QUORVEL_ARM_SIM__ARM_SIM_NODE_HPP_
#define QUORVEL_ARM_SIM__ARM_SIM_NODE_HPP_

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "quorvel_arm_sim/simulator.hpp"
#include "quorvel_interfaces/srv/arm_grab.hpp"
#include "quorvel_interfaces/srv/arm_move_joints.hpp"
#include "quorvel_interfaces/srv/arm_release.hpp"
#include "quorvel_interfaces/srv/detect_trash.hpp"
#include "quorvel_protocol/msg/trashes.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"

namespace quorvel_arm_sim
{

// The parameters of arm_sim, checked.
struct SimParameters
{
  std::string scene = "clear_table";
  double speed = 1.0;
  std::int64_t chaos_seed = 1;
  double chaos_rate = 0.0;
  // How long the detector stays away when it is restarted (SIGUSR1).
  double detector_restart_s = 2.0;
};

// Serves DetectTrash, ArmGrab, ArmRelease and ArmMoveJoints on the supervisor's default names,
// publishes the joint angles, the arm state and the environment detection, and follows the
// gripper and recover topics. Answers are deferred: a request only starts work, and a 50 Hz
// timer moves the simulation on and sends what is due, so a running motion never holds up the
// other services or the publishing. Everything runs on the thread that spins the node (the
// node must be spun by a single-threaded executor); event lines go to standard output.
//
// SIGUSR1 restarts the detector as a separate detection program would restart: the detection
// service leaves the graph with the requests it holds unanswered, and comes back after
// `detector_restart_s`; the arm and the surroundings go on.
class ArmSimNode : public rclcpp::Node
{
public:
  using DetectTrash = quorvel_interfaces::srv::DetectTrash;
  using ArmGrab = quorvel_interfaces::srv::ArmGrab;
  using ArmRelease = quorvel_interfaces::srv::ArmRelease;
  using ArmMoveJoints = quorvel_interfaces::srv::ArmMoveJoints;

  // Throws std::invalid_argument naming a bad parameter and SceneError for a bad scene file.
  ArmSimNode();

  // "arm_sim: scene '<name>' (<file>): N items, ...".
  std::string start_line() const;

private:
  using RequestId = std::shared_ptr<rmw_request_id_t>;

  SimParameters read_parameters();
  void on_detect(RequestId id, std::shared_ptr<DetectTrash::Request> request);
  void on_grab(RequestId id, std::shared_ptr<ArmGrab::Request> request);
  void on_release(RequestId id, std::shared_ptr<ArmRelease::Request> request);
  void on_movejoints(RequestId id, std::shared_ptr<ArmMoveJoints::Request> request);
  void on_tick();
  void create_detect_service();
  // Takes the detection service down, or brings it back when its time has come.
  void restart_detector_when_asked(double now);
  // Sends what the simulation has due: detection answers at once; when a motion ended, its
  // position at once and its answer on the next tick.
  void deliver(double now);
  void answer(const Answer & answer);
  void publish_joints(double now);
  void publish_arm_state(double now);
  void publish_environment(double now);
  bool environment_changed(double now) const;
  void print_events();
  Ticket remember(Service service, RequestId id);
  double now() const;

  SimParameters parameters_;
  std::string scene_file_;
  std::unique_ptr<Simulator> sim_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();

  Ticket next_ticket_ = 1;
  std::map<Ticket, std::pair<Service, RequestId>> pending_;
  // Motion answers held until the next tick: the arm has stood at its target for a moment, with
  // its position published, before the answer goes out.
  std::vector<Answer> settling_;
  std::uint64_t ticks_ = 0;
  // When the restarted detector's service comes back; none while it is up.
  std::optional<double> detector_back_at_;
  bool last_abnormal_ = false;
  // The objects last published, to publish a change at once.
  std::vector<EnvObject> last_environment_;

  rclcpp::Service<DetectTrash>::SharedPtr detect_service_;
  rclcpp::Service<ArmGrab>::SharedPtr grab_service_;
  rclcpp::Service<ArmRelease>::SharedPtr release_service_;
  rclcpp::Service<ArmMoveJoints>::SharedPtr movejoints_service_;
  rclcpp::Publisher<sensor_msgs::msg::JointState>::SharedPtr joint_pub_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr arm_state_pub_;
  rclcpp::Publisher<quorvel_protocol::msg::Trashes>::SharedPtr env_pub_;
  rclcpp::Subscription<std_msgs::msg::Int32MultiArray>::SharedPtr gripper_sub_;
  rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr recover_sub_;
  rclcpp::TimerBase::SharedPtr timer_;
};

}  // namespace quorvel_arm_sim

#endif  // QUORVEL_ARM_SIM__ARM_SIM_NODE_HPP_

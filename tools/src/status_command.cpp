// quorvel status: which of the supervisor's endpoints are there.
#include <chrono>
#include <functional>
#include <iomanip>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include <rclcpp/rclcpp.hpp>
#include <rclcpp_action/rclcpp_action.hpp>

#include "commands.hpp"
#include "quorvel_interfaces/action/arm_task.hpp"
#include "quorvel_interfaces/srv/arm_grab.hpp"
#include "quorvel_interfaces/srv/arm_move_joints.hpp"
#include "quorvel_interfaces/srv/arm_release.hpp"
#include "quorvel_interfaces/srv/detect_trash.hpp"
#include "quorvel_protocol/msg/trashes.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"

namespace quorvel_tools
{

const char kStatusUsage[] =
    "usage: quorvel status [--wait S] [--action NAME] [--detect-service NAME]\n"
    "\n"
    "Shows which of the supervisor's endpoints are up:\n"
    "  its action server (up while arm_supervisor runs),\n"
    "  the four services it calls (up while the arm controller and the detection node,\n"
    "  or arm_service_mock, serve them),\n"
    "  the four topics it listens to (up while something subscribes to them, normally\n"
    "  arm_supervisor itself).\n"
    "arm_service_mock serves detection as /quorvel_service/detect_trash_test: pass that to\n"
    "--detect-service when the supervisor was started with it.\n"
    "\n"
    "options:\n"
    "  --wait S                 how long to give discovery (default 2)\n"
    "  --action NAME            the action (default /quorvel_action/arm_task)\n"
    "  --detect-service NAME    the detection service (default /quorvel_service/detect_trash)\n"
    "\n"
    "exit status: 0 everything up; 1 something down; 2 wrong arguments; 130 stopped by Ctrl-C.\n";

StatusOptions parse_status(const std::vector<std::string> & args)
{
  StatusOptions options;
  ArgReader reader(args);
  std::string name;
  std::optional<std::string> value;
  while (reader.has_more()) {
    if (!reader.next_option(name, value)) {
      throw UsageError("unexpected argument '" + reader.next_positional() + "'");
    }
    if (name == "help") {
      options.help = true;
    } else if (name == "wait") {
      options.wait_s = parse_positive(reader.option_value(name, value), "--wait");
    } else if (name == "action") {
      options.action = check_ros_name(reader.option_value(name, value), "--action");
    } else if (name == "detect-service") {
      options.detect_service = check_ros_name(reader.option_value(name, value), "--detect-service");
    } else {
      throw_unknown_option(name);
    }
  }
  return options;
}

namespace
{

struct Probe
{
  std::string name;
  std::string kind;
  std::function<bool()> is_up;
  // Keeps the probing entity alive.
  std::shared_ptr<void> entity;
};

template <typename ServiceT>
Probe service_probe(const rclcpp::Node::SharedPtr & node, const std::string & name)
{
  auto client = node->create_client<ServiceT>(name);
  return Probe{name, "service", [client] { return client->service_is_ready(); }, client};
}

template <typename MessageT>
Probe topic_probe(const rclcpp::Node::SharedPtr & node, const std::string & name)
{
  auto publisher = node->create_publisher<MessageT>(name, rclcpp::QoS(1));
  return Probe{
      name,
      "subscribed topic",
      [publisher] { return publisher->get_subscription_count() > 0; },
      publisher};
}

}  // namespace

ExitCode run_status(const StatusOptions & options, Session & session)
{
  const auto node = session.node();
  auto action_client =
      rclcpp_action::create_client<quorvel_interfaces::action::ArmTask>(node, options.action);
  std::vector<Probe> probes;
  probes.push_back(Probe{
      options.action,
      "action server",
      [action_client] { return action_client->action_server_is_ready(); },
      action_client});
  probes.push_back(
      service_probe<quorvel_interfaces::srv::DetectTrash>(node, options.detect_service));
  probes.push_back(service_probe<quorvel_interfaces::srv::ArmGrab>(node, kGrabService));
  probes.push_back(service_probe<quorvel_interfaces::srv::ArmRelease>(node, kReleaseService));
  probes.push_back(service_probe<quorvel_interfaces::srv::ArmMoveJoints>(node, kMoveJointsService));
  probes.push_back(topic_probe<std_msgs::msg::Bool>(node, kArmStateTopic));
  probes.push_back(topic_probe<quorvel_protocol::msg::Trashes>(node, kEnvDetectTopic));
  probes.push_back(topic_probe<sensor_msgs::msg::JointState>(node, kJointAngleTopic));
  probes.push_back(topic_probe<std_msgs::msg::Bool>(node, kEnvEnableTopic));

  const auto all_up = [&probes] {
    for (const Probe & probe : probes) {
      if (!probe.is_up()) {
        return false;
      }
    }
    return true;
  };
  // Discovery has no end signal: what is not up once the wait is over counts as down.
  session.spin_until(
      all_up,
      std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::duration<double>(options.wait_s)));
  if (session.interrupts() > 0) {
    std::cerr << "quorvel status: interrupted" << std::endl;
    return ExitCode::kInterrupted;
  }

  bool every_up = true;
  std::cout << std::left << std::setw(36) << "ENDPOINT" << std::setw(18) << "KIND"
            << "STATE\n";
  for (const Probe & probe : probes) {
    const bool up = probe.is_up();
    every_up = every_up && up;
    std::cout << std::setw(36) << probe.name << std::setw(18) << probe.kind << (up ? "up" : "down")
              << "\n";
  }
  std::cout << std::flush;
  return every_up ? ExitCode::kOk : ExitCode::kFailure;
}

}  // namespace quorvel_tools

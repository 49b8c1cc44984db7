#include "arm_sim_node.hpp"

#include <algorithm>
#include <csignal>
#include <cmath>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "quorvel_arm_sim/scene.hpp"
#include "scene_lookup.hpp"

namespace quorvel_arm_sim
{

namespace
{

constexpr auto kTickPeriod = std::chrono::milliseconds(20);

// Set by SIGUSR1, taken by the next tick.
volatile std::sig_atomic_t detector_restart_asked = 0;

void on_detector_restart_signal(int)
{
  detector_restart_asked = 1;
}
// The timer runs at 50 Hz; everything that is published at 10 Hz goes out every fifth tick.
constexpr std::uint64_t kSlowEvery = 5;

std::string number_text(double value)
{
  std::ostringstream text;
  text << value;
  return text.str();
}

}  // namespace

ArmSimNode::ArmSimNode() : rclcpp::Node("arm_sim")
{
  parameters_ = read_parameters();
  scene_file_ = find_scene_file(parameters_.scene, "parameter 'scene'");
  Scene scene = scaled(load_scene_file(scene_file_), parameters_.speed);
  sim_ = std::make_unique<Simulator>(
      std::move(scene),
      Chaos(static_cast<std::uint64_t>(parameters_.chaos_seed), parameters_.chaos_rate));

  create_detect_service();
  std::signal(SIGUSR1, on_detector_restart_signal);
  grab_service_ = create_service<ArmGrab>(
      "/quorvel_service/arm_grab", [this](RequestId id, std::shared_ptr<ArmGrab::Request> request) {
        on_grab(std::move(id), std::move(request));
      });
  release_service_ = create_service<ArmRelease>(
      "/quorvel_service/arm_release",
      [this](RequestId id, std::shared_ptr<ArmRelease::Request> request) {
        on_release(std::move(id), std::move(request));
      });
  movejoints_service_ = create_service<ArmMoveJoints>(
      "/quorvel_service/arm_movejoints",
      [this](RequestId id, std::shared_ptr<ArmMoveJoints::Request> request) {
        on_movejoints(std::move(id), std::move(request));
      });

  // Reliable and volatile like the supervisor's endpoints; a little history so that a burst
  // (gripper close right after a grab answer) is never cut to its last message.
  const rclcpp::QoS qos = rclcpp::QoS(10).reliable().durability_volatile();
  joint_pub_ = create_publisher<sensor_msgs::msg::JointState>("/robot/joint_angle", qos);
  arm_state_pub_ = create_publisher<std_msgs::msg::Bool>("/robot/unnormal_flag", qos);
  env_pub_ = create_publisher<quorvel_protocol::msg::Trashes>("/quorvel/env_detect_topic", qos);
  gripper_sub_ = create_subscription<std_msgs::msg::Int32MultiArray>(
      "/robot/ctrl_io_topic",
      qos,
      [this](const std::shared_ptr<const std_msgs::msg::Int32MultiArray> message) {
        sim_->gripper_command(now(), message->data);
        print_events();
      });
  recover_sub_ = create_subscription<std_msgs::msg::Bool>(
      "/robot/recover_topic", qos, [this](const std::shared_ptr<const std_msgs::msg::Bool>) {
        const double t = now();
        sim_->recover_message(t);
        print_events();
        // The supervisor checks the arm state a second after each recover message: tell it
        // at once when the arm has become normal.
        publish_arm_state(t);
      });
  timer_ = create_wall_timer(kTickPeriod, [this]() { on_tick(); });
}

void ArmSimNode::create_detect_service()
{
  detect_service_ = create_service<DetectTrash>(
      "/quorvel_service/detect_trash",
      [this](RequestId id, std::shared_ptr<DetectTrash::Request> request) {
        on_detect(std::move(id), std::move(request));
      });
}

void ArmSimNode::restart_detector_when_asked(const double now)
{
  if (detector_restart_asked != 0) {
    detector_restart_asked = 0;
    if (!detector_back_at_) {
      detect_service_.reset();
      // What the detector was working on goes with it: those clients wait in vain.
      std::size_t dropped = 0;
      for (auto it = pending_.begin(); it != pending_.end();) {
        if (it->second.first == Service::kDetect) {
          it = pending_.erase(it);
          ++dropped;
        } else {
          ++it;
        }
      }
      detector_back_at_ = now + parameters_.detector_restart_s;
      std::cout << "[arm_sim] detector restarting: its service is down for "
                << parameters_.detector_restart_s << " s (" << dropped
                << " request(s) left unanswered)" << std::endl;
    }
  }
  if (detector_back_at_ && now >= *detector_back_at_) {
    detector_back_at_.reset();
    create_detect_service();
    std::cout << "[arm_sim] detector back" << std::endl;
  }
}

SimParameters ArmSimNode::read_parameters()
{
  SimParameters p;
  try {
    p.scene = declare_parameter<std::string>("scene", p.scene);
    p.speed = declare_parameter<double>("speed", p.speed);
    p.chaos_seed = declare_parameter<std::int64_t>("chaos_seed", p.chaos_seed);
    p.chaos_rate = declare_parameter<double>("chaos_rate", p.chaos_rate);
    p.detector_restart_s = declare_parameter<double>("detector_restart_s", p.detector_restart_s);
  } catch (const rclcpp::exceptions::InvalidParameterTypeException & error) {
    throw std::invalid_argument(
        std::string(error.what()) +
        " (scene is a text; speed and chaos_rate are numbers with a decimal point, e.g. 2.0; "
        "chaos_seed is an integer)");
  }
  if (p.scene.empty()) {
    throw std::invalid_argument(
        "parameter 'scene' is empty: give a shipped scene's name or a scene file");
  }
  if (!std::isfinite(p.speed) || p.speed <= 0.0) {
    throw std::invalid_argument(
        "parameter 'speed' must be a time scale greater than 0, got " + number_text(p.speed));
  }
  if (!(p.chaos_rate >= 0.0 && p.chaos_rate <= 1.0)) {
    throw std::invalid_argument(
        "parameter 'chaos_rate' must be a probability from 0.0 to 1.0, got " +
        number_text(p.chaos_rate));
  }
  if (!std::isfinite(p.detector_restart_s) || p.detector_restart_s < 0.0) {
    throw std::invalid_argument(
        "parameter 'detector_restart_s' must be a number of seconds, 0 or more, got " +
        number_text(p.detector_restart_s));
  }
  return p;
}

std::string ArmSimNode::start_line() const
{
  const Scene & scene = sim_->scene();
  std::ostringstream line;
  line << "arm_sim: scene '" << scene.name << "' (" << scene_file_ << "): " << scene.items.size()
       << " item" << (scene.items.size() == 1 ? "" : "s")
       << (scene.restock ? " (restocked when found empty)" : "") << ", " << scene.faults.size()
       << " fault" << (scene.faults.size() == 1 ? "" : "s") << ", speed x" << parameters_.speed
       << ", chaos ";
  if (parameters_.chaos_rate > 0.0) {
    line << "rate " << parameters_.chaos_rate << " (seed " << parameters_.chaos_seed << ")";
  } else {
    line << "off";
  }
  line << "; expects error_code " << scene.expect.error_code << ", unable_grab_trashes "
       << scene.expect.unable_grab_trashes;
  return line.str();
}

double ArmSimNode::now() const
{
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

Ticket ArmSimNode::remember(Service service, RequestId id)
{
  const Ticket ticket = next_ticket_++;
  pending_.emplace(ticket, std::make_pair(service, std::move(id)));
  return ticket;
}

void ArmSimNode::on_detect(RequestId id, std::shared_ptr<DetectTrash::Request> request)
{
  (void)request;
  const double t = now();
  sim_->detect_requested(t, remember(Service::kDetect, std::move(id)));
  deliver(t);
}

void ArmSimNode::on_grab(RequestId id, std::shared_ptr<ArmGrab::Request> request)
{
  const double t = now();
  const auto & p = request->target_pose.position;
  sim_->grab_requested(t, remember(Service::kGrab, std::move(id)), p.x, p.y, p.z);
  deliver(t);
}

void ArmSimNode::on_release(RequestId id, std::shared_ptr<ArmRelease::Request> request)
{
  const double t = now();
  sim_->joints_requested(
      t,
      remember(Service::kRelease, std::move(id)),
      Service::kRelease,
      request->target_joints.data);
  deliver(t);
}

void ArmSimNode::on_movejoints(RequestId id, std::shared_ptr<ArmMoveJoints::Request> request)
{
  const double t = now();
  sim_->joints_requested(
      t,
      remember(Service::kMoveJoints, std::move(id)),
      Service::kMoveJoints,
      request->target_joints.data);
  deliver(t);
}

void ArmSimNode::on_tick()
{
  const double t = now();
  ++ticks_;
  restart_detector_when_asked(t);
  const bool slow_tick = ticks_ % kSlowEvery == 0;
  const bool moving_before = sim_->moving();
  std::vector<Answer> settled;
  settled.swap(settling_);
  deliver(t);
  // 50 Hz while moving, 10 Hz at rest (deliver() has already sent an arrival), and once more
  // right before a held motion answer.
  if (slow_tick || (moving_before && sim_->moving()) || !settled.empty()) {
    publish_joints(t);
  }
  if (slow_tick || sim_->abnormal(t) != last_abnormal_) {
    publish_arm_state(t);
  }
  if (slow_tick || environment_changed(t)) {
    publish_environment(t);
  }
  for (const Answer & a : settled) {
    answer(a);
  }
}

void ArmSimNode::deliver(double now)
{
  const std::vector<Answer> answers = sim_->advance(now);
  for (const Ticket ticket : sim_->take_unanswered()) {
    // Its client waits in vain, like one whose detector has hung.
    pending_.erase(ticket);
  }
  print_events();
  const bool motion_ended = std::any_of(answers.begin(), answers.end(), [](const Answer & a) {
    return a.service != Service::kDetect;
  });
  if (motion_ended) {
    // The arrived position goes out now and the answer a tick later, as a controller answers
    // once the arm has settled: a client that checks the joints right after the answer has
    // had the position for a while, even when its joint callback runs late.
    publish_joints(now);
  }
  if (sim_->abnormal(now) != last_abnormal_) {
    // Likewise an arm state that changed with an answer (a fault's abnormal state): a client
    // may look at it as soon as the answer is in.
    publish_arm_state(now);
  }
  if (environment_changed(now)) {
    // Someone who appears with a call is seen from that call on, not up to 0.1 s later.
    publish_environment(now);
  }
  for (const Answer & a : answers) {
    if (a.service == Service::kDetect) {
      answer(a);
    } else {
      settling_.push_back(a);
    }
  }
}

namespace
{

// The three arm services answer alike: a status and its errmsg.
template <typename ServiceT>
void send_status_answer(
    rclcpp::Service<ServiceT> & service, rmw_request_id_t & id, const Answer & a)
{
  typename ServiceT::Response response;
  response.status = a.status;
  response.errmsg = a.errmsg;
  service.send_response(id, response);
}

}  // namespace

void ArmSimNode::answer(const Answer & a)
{
  const auto found = pending_.find(a.ticket);
  if (found == pending_.end()) {
    return;
  }
  const RequestId id = found->second.second;
  pending_.erase(found);
  switch (a.service) {
    case Service::kDetect: {
      DetectTrash::Response response;
      response.status = a.status;
      response.errmsg = a.errmsg;
      for (const Item & item : a.items) {
        quorvel_interfaces::msg::Trash trash;
        trash.type = item.type;
        trash.flag_a = 0;
        trash.flag_b = 1;
        trash.grab_pose.position.x = item.grab[0];
        trash.grab_pose.position.y = item.grab[1];
        trash.grab_pose.position.z = item.grab[2];
        trash.grab_pose.orientation.x = item.grab_orientation[0];
        trash.grab_pose.orientation.y = item.grab_orientation[1];
        trash.grab_pose.orientation.z = item.grab_orientation[2];
        trash.grab_pose.orientation.w = item.grab_orientation[3];
        trash.obb_pose.position = trash.grab_pose.position;
        if (item.obb_position) {
          trash.obb_pose.position.x = (*item.obb_position)[0];
          trash.obb_pose.position.y = (*item.obb_position)[1];
          trash.obb_pose.position.z = (*item.obb_position)[2];
        }
        trash.obb_pose.orientation.x = item.obb_orientation[0];
        trash.obb_pose.orientation.y = item.obb_orientation[1];
        trash.obb_pose.orientation.z = item.obb_orientation[2];
        trash.obb_pose.orientation.w = item.obb_orientation[3];
        trash.obb_size.x = item.obb_size[0];
        trash.obb_size.y = item.obb_size[1];
        trash.obb_size.z = item.obb_size[2];
        response.trash_list.push_back(trash);
      }
      detect_service_->send_response(*id, response);
      break;
    }
    case Service::kGrab:
      send_status_answer(*grab_service_, *id, a);
      break;
    case Service::kRelease:
      send_status_answer(*release_service_, *id, a);
      break;
    case Service::kMoveJoints:
      send_status_answer(*movejoints_service_, *id, a);
      break;
  }
}

void ArmSimNode::publish_joints(double now)
{
  sensor_msgs::msg::JointState message;
  message.header.stamp = get_clock()->now();
  message.position = sim_->joint_feedback(now);
  for (std::size_t i = 0; i < message.position.size(); ++i) {
    message.name.push_back("joint" + std::to_string(i + 1));
  }
  joint_pub_->publish(message);
}

void ArmSimNode::publish_arm_state(double now)
{
  std_msgs::msg::Bool message;
  message.data = sim_->abnormal(now);
  last_abnormal_ = message.data;
  arm_state_pub_->publish(message);
}

bool ArmSimNode::environment_changed(double now) const
{
  const std::vector<EnvObject> objects = sim_->environment(now);
  return objects.size() != last_environment_.size() ||
         !std::equal(
             objects.begin(), objects.end(), last_environment_.begin(),
             [](const EnvObject & a, const EnvObject & b) { return a.x == b.x && a.y == b.y; });
}

void ArmSimNode::publish_environment(double now)
{
  last_environment_ = sim_->environment(now);
  quorvel_protocol::msg::Trashes message;
  message.header.stamp = get_clock()->now();
  message.header.frame_id = "map";
  for (const EnvObject & object : sim_->environment(now)) {
    quorvel_protocol::msg::TrashObject entry;
    entry.header.frame_id = "map";
    entry.x = static_cast<float>(object.x);
    entry.y = static_cast<float>(object.y);
    message.trashes.push_back(entry);
  }
  env_pub_->publish(message);
}

void ArmSimNode::print_events()
{
  for (const std::string & line : sim_->take_events()) {
    std::cout << "[arm_sim] " << line << std::endl;
  }
}

}  // namespace quorvel_arm_sim

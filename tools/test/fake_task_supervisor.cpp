// fake_task_supervisor: stands in for arm_supervisor and the arm on a desk, for the dashboard's
// tests. Serves the ArmTask action and, for each goal, plays a scripted clear-table task: four
// trashes on the table, three in reach picked nearest first, one beyond reach left; an object
// walks up to the robot during the second pick and holds the task for a while. It publishes
// what the real programs publish around such a task: the task events (transient local), joint
// angles, the arm state, gripper commands, announcements and objects around the robot. It also
// serves the four arm and detection services and listens on the supervisor's input topics, so
// that every supervisor endpoint looks up.
//
// Picked trashes stay off the table: a second task finds nothing in reach and ends with
// 102300002, as the supervisor does.
//
// Usage: fake_task_supervisor [--time-scale X]   (X multiplies every pause; default 1)
// Prints "fake_task_supervisor: ready", then one line per goal, cancel request and task end.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <rclcpp/rclcpp.hpp>
#include <rclcpp_action/rclcpp_action.hpp>

#include "quorvel_interfaces/action/arm_task.hpp"
#include "quorvel_interfaces/srv/arm_grab.hpp"
#include "quorvel_interfaces/srv/arm_move_joints.hpp"
#include "quorvel_interfaces/srv/arm_release.hpp"
#include "quorvel_interfaces/srv/detect_trash.hpp"
#include "quorvel_protocol/msg/trashes.hpp"
#include "quorvel_task_events/msg/task_event.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/int32.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"

namespace
{

using ArmTask = quorvel_interfaces::action::ArmTask;
using GoalHandle = rclcpp_action::ServerGoalHandle<ArmTask>;
using TaskEvent = quorvel_task_events::msg::TaskEvent;
using Trash = quorvel_interfaces::msg::Trash;
using Joints = std::vector<double>;

constexpr std::int32_t kArmSuccess = 102100000;
constexpr float kStopDistance = 2.0F;

const Joints kObserveJoints = {0.0, -0.5236, 1.0472, -0.5236, 0.0};
const Joints kReleaseJoints = {1.5708, -0.30, 0.90, -0.60, 0.0};

Trash make_trash(std::uint8_t type, double x, double y, double z)
{
  Trash trash;
  trash.type = type;
  trash.flag_b = 1;
  trash.grab_pose.position.x = x;
  trash.grab_pose.position.y = y;
  trash.grab_pose.position.z = z;
  trash.obb_size.x = 0.06;
  trash.obb_size.y = 0.06;
  trash.obb_size.z = 0.12;
  return trash;
}

float distance_of(const Trash & trash)
{
  const auto & p = trash.grab_pose.position;
  return static_cast<float>(std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z));
}

std::string fixed(double value, int decimals)
{
  char text[32];
  std::snprintf(text, sizeof(text), "%.*f", decimals, value);
  return text;
}

void say(const std::string & line) { std::cout << "fake_task_supervisor: " << line << std::endl; }

class FakeTaskSupervisor
{
public:
  FakeTaskSupervisor(const rclcpp::Node::SharedPtr & node, double time_scale)
      : node_(node), time_scale_(time_scale), joints_(kObserveJoints), target_(kObserveJoints)
  {
    // The detector's order is not the order of distance.
    table_ = {
        make_trash(3, 0.30, 0.55, -0.17),
        make_trash(1, 0.38, 0.10, -0.17),
        make_trash(1, 1.10, -0.45, -0.17),
        make_trash(2, 0.52, -0.24, -0.17),
    };
    events_ = node->create_publisher<TaskEvent>(
        "/quorvel/arm_supervisor/task_events",
        rclcpp::QoS(rclcpp::KeepLast(1000)).reliable().transient_local());
    joint_pub_ = node->create_publisher<sensor_msgs::msg::JointState>("/robot/joint_angle", 10);
    arm_state_pub_ = node->create_publisher<std_msgs::msg::Bool>("/robot/unnormal_flag", 10);
    gripper_pub_ =
        node->create_publisher<std_msgs::msg::Int32MultiArray>("/robot/ctrl_io_topic", 10);
    voice_pub_ = node->create_publisher<std_msgs::msg::Int32>("/arm/voice_broadcast", 10);
    objects_pub_ =
        node->create_publisher<quorvel_protocol::msg::Trashes>("/quorvel/env_detect_topic", 10);

    const auto bool_sink = [](const std::shared_ptr<const std_msgs::msg::Bool>) {};
    inputs_.push_back(
        node->create_subscription<std_msgs::msg::Bool>("/robot/unnormal_flag", 1, bool_sink));
    inputs_.push_back(
        node->create_subscription<std_msgs::msg::Bool>("/quorvel_topic/env_enable", 1, bool_sink));
    inputs_.push_back(node->create_subscription<sensor_msgs::msg::JointState>(
        "/robot/joint_angle", 1, [](const std::shared_ptr<const sensor_msgs::msg::JointState>) {}));
    inputs_.push_back(node->create_subscription<quorvel_protocol::msg::Trashes>(
        "/quorvel/env_detect_topic",
        1,
        [](const std::shared_ptr<const quorvel_protocol::msg::Trashes>) {}));

    services_.push_back(node->create_service<quorvel_interfaces::srv::DetectTrash>(
        "/quorvel_service/detect_trash",
        [](const std::shared_ptr<quorvel_interfaces::srv::DetectTrash::Request>,
           std::shared_ptr<quorvel_interfaces::srv::DetectTrash::Response> response) {
          response->status = 1;
        }));
    services_.push_back(node->create_service<quorvel_interfaces::srv::ArmGrab>(
        "/quorvel_service/arm_grab",
        [](const std::shared_ptr<quorvel_interfaces::srv::ArmGrab::Request>,
           std::shared_ptr<quorvel_interfaces::srv::ArmGrab::Response> response) {
          response->status = kArmSuccess;
        }));
    services_.push_back(node->create_service<quorvel_interfaces::srv::ArmRelease>(
        "/quorvel_service/arm_release",
        [](const std::shared_ptr<quorvel_interfaces::srv::ArmRelease::Request>,
           std::shared_ptr<quorvel_interfaces::srv::ArmRelease::Response> response) {
          response->status = kArmSuccess;
        }));
    services_.push_back(node->create_service<quorvel_interfaces::srv::ArmMoveJoints>(
        "/quorvel_service/arm_movejoints",
        [](const std::shared_ptr<quorvel_interfaces::srv::ArmMoveJoints::Request>,
           std::shared_ptr<quorvel_interfaces::srv::ArmMoveJoints::Response> response) {
          response->status = kArmSuccess;
        }));

    server_ = rclcpp_action::create_server<ArmTask>(
        node,
        "/quorvel_action/arm_task",
        [this](const rclcpp_action::GoalUUID &, std::shared_ptr<const ArmTask::Goal> goal) {
          if (running_.exchange(true)) {
            say("goal rejected: a task runs");
            return rclcpp_action::GoalResponse::REJECT;
          }
          say("goal received: cmd " + std::to_string(goal->cmd));
          return rclcpp_action::GoalResponse::ACCEPT_AND_EXECUTE;
        },
        [](const std::shared_ptr<GoalHandle>) {
          say("cancel requested");
          return rclcpp_action::CancelResponse::ACCEPT;
        },
        [this](const std::shared_ptr<GoalHandle> handle) {
          if (task_thread_.joinable()) {
            task_thread_.join();
          }
          task_thread_ = std::thread([this, handle] { run_task(handle); });
        });

    joint_timer_ =
        node->create_wall_timer(std::chrono::milliseconds(50), [this] { step_joints(); });
    slow_timer_ = node->create_wall_timer(std::chrono::milliseconds(100), [this] {
      publish_objects();
      if (++slow_ticks_ % 10 == 0) {
        std_msgs::msg::Bool normal;
        normal.data = false;
        arm_state_pub_->publish(normal);
      }
    });
  }

  ~FakeTaskSupervisor()
  {
    if (task_thread_.joinable()) {
      task_thread_.join();
    }
  }

private:
  // Sleeps `seconds` (scaled); false once the program is told to stop.
  bool pause(double seconds)
  {
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds * time_scale_);
    while (std::chrono::steady_clock::now() < end) {
      if (!rclcpp::ok()) {
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return rclcpp::ok();
  }

  template <typename FillT>
  void emit(std::uint8_t kind, const std::string & summary, FillT fill)
  {
    TaskEvent event;
    event.seq = ++seq_;
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(since_epoch).count();
    event.stamp.sec = static_cast<std::int32_t>(ns / 1000000000);
    event.stamp.nanosec = static_cast<std::uint32_t>(ns % 1000000000);
    event.kind = kind;
    event.goal_id.uuid = goal_id_;
    event.step_count = feedback_.step_count;
    event.summary = summary;
    fill(event);
    events_->publish(event);
  }

  void emit(std::uint8_t kind, const std::string & summary)
  {
    emit(kind, summary, [](TaskEvent &) {});
  }

  void feedback(const std::shared_ptr<GoalHandle> & handle)
  {
    ++feedback_.step_count;
    handle->publish_feedback(std::make_shared<ArmTask::Feedback>(feedback_));
  }

  void gripper(bool close)
  {
    std_msgs::msg::Int32MultiArray command;
    command.data = {100, close ? 1 : 0};
    gripper_pub_->publish(command);
  }

  void voice(std::int32_t code)
  {
    std_msgs::msg::Int32 message;
    message.data = code;
    voice_pub_->publish(message);
  }

  void aim(const Joints & target)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    target_ = target;
  }

  // The arm moves towards its target at a fixed speed per joint.
  void step_joints()
  {
    sensor_msgs::msg::JointState state;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const double step = 0.16 / std::max(time_scale_, 0.05);
      for (std::size_t i = 0; i < joints_.size(); ++i) {
        joints_[i] += std::clamp(target_[i] - joints_[i], -step, step);
      }
      state.position = joints_;
    }
    state.name = {"base", "shoulder", "elbow", "wrist_pitch", "wrist_roll"};
    state.header.stamp = node_->now();
    joint_pub_->publish(state);
  }

  void place_object(double x, double y)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    object_x_ = x;
    object_y_ = y;
  }

  void publish_objects()
  {
    quorvel_protocol::msg::Trashes message;
    message.header.frame_id = "map";
    message.header.stamp = node_->now();
    quorvel_protocol::msg::TrashObject object;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      object.x = static_cast<float>(object_x_);
      object.y = static_cast<float>(object_y_);
    }
    message.trashes.push_back(object);
    objects_pub_->publish(message);
  }

  // Walks the object from where it is to (x, y) in `seconds`.
  bool walk_object(double x, double y, double seconds)
  {
    double x0 = 0.0;
    double y0 = 0.0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      x0 = object_x_;
      y0 = object_y_;
    }
    const int steps = 10;
    for (int i = 1; i <= steps; ++i) {
      if (!pause(seconds / steps)) {
        return false;
      }
      place_object(x0 + (x - x0) * i / steps, y0 + (y - y0) * i / steps);
    }
    return true;
  }

  // Detection: the nearest trash in reach, as the supervisor chooses it.
  int detect()
  {
    emit(TaskEvent::DETECT_REQUESTED, "detection requested", [](TaskEvent & e) {
      e.service = "detect_trash";
      e.count = 1;
      e.threshold = 1;
    });
    if (!pause(0.35)) {
      return -1;
    }
    int chosen = -1;
    float best = TaskEvent::REACH_LIMIT;
    std::vector<float> distances;
    for (std::size_t i = 0; i < table_.size(); ++i) {
      const float d = distance_of(table_[i]);
      distances.push_back(d);
      if (d < best) {
        best = d;
        chosen = static_cast<int>(i);
      }
    }
    std::string summary = "detected " + std::to_string(table_.size()) + " trash" +
                          (table_.size() == 1 ? "" : "es") + "; ";
    summary += chosen >= 0 ? "chose trash " + std::to_string(chosen + 1) + " at " +
                                 fixed(distances[static_cast<std::size_t>(chosen)], 2) + " m"
                           : "none in reach";
    emit(TaskEvent::DETECT_ANSWERED, summary, [&](TaskEvent & e) {
      e.service = "detect_trash";
      e.status = 1;
      e.items = table_;
      e.distances = distances;
      e.chosen_index = chosen;
    });
    return chosen;
  }

  template <typename FillT>
  bool move(
      const std::string & service,
      const std::string & target_name,
      const Joints & joints,
      const std::string & sent,
      double seconds,
      FillT fill)
  {
    emit(TaskEvent::MOTION_SENT, sent, [&](TaskEvent & e) {
      e.service = service;
      e.target_name = target_name;
      fill(e);
    });
    aim(joints);
    if (!pause(seconds)) {
      return false;
    }
    emit(
        TaskEvent::MOTION_ANSWERED,
        service + " answered " + std::to_string(kArmSuccess) + " (arm controller success)",
        [&](TaskEvent & e) {
          e.service = service;
          e.target_name = target_name;
          e.status = kArmSuccess;
          e.status_meaning = "arm controller success";
        });
    voice(kArmSuccess);
    return true;
  }

  // The environment stop, as EnvDetectProcess waits it out: an object walks up, the task holds
  // and announces 4 once a second, the object walks away.
  bool environment_stop()
  {
    if (!walk_object(1.10, 0.70, 0.8)) {
      return false;
    }
    const double near = std::hypot(1.10, 0.70);
    emit(
        TaskEvent::ENV_STOP_HELD,
        "holding: an object " + fixed(near, 1) + " m away",
        [near](TaskEvent & e) { e.distance = static_cast<float>(near); });
    for (int second = 0; second < 2; ++second) {
      voice(4);
      if (!pause(0.8)) {
        return false;
      }
    }
    if (!walk_object(2.6, 1.4, 0.6)) {
      return false;
    }
    emit(TaskEvent::ENV_STOP_RELEASED, "going on: the object moved away", [](TaskEvent & e) {
      e.outcome = "cleared";
    });
    return true;
  }

  void run_task(const std::shared_ptr<GoalHandle> & handle)
  {
    goal_id_ = handle->get_goal_id();
    feedback_ = ArmTask::Feedback{};
    const bool first_task = !task_seen_;
    task_seen_ = true;
    const auto finish = [this, &handle](std::int32_t code, bool canceled) {
      auto result = std::make_shared<ArmTask::Result>();
      emit(
          TaskEvent::TASK_ENDED,
          std::string("task ") + (canceled ? "canceled" : "succeeded") + ", error code " +
              std::to_string(canceled ? 0 : code),
          [&](TaskEvent & e) {
            e.outcome = canceled ? "canceled" : "succeeded";
            e.error_code = canceled ? 0 : code;
          });
      if (canceled) {
        handle->canceled(result);
      } else {
        result->error_code = code;
        handle->succeed(result);
      }
      say(std::string("task ended: ") + (canceled ? "canceled" : "succeeded ") +
          (canceled ? "" : std::to_string(code)));
      running_.store(false);
    };

    emit(
        TaskEvent::TASK_STARTED,
        "task started: cmd " + std::to_string(handle->get_goal()->cmd),
        [&](TaskEvent & e) {
          e.cmd = handle->get_goal()->cmd;
          e.distance = kStopDistance;
        });
    if (!pause(0.1)) {
      return;
    }
    int chosen = detect();
    feedback(handle);
    if (chosen < 0) {
      if (rclcpp::ok()) {
        finish(102300002, false);
      }
      return;
    }
    int pick = 0;
    while (chosen >= 0) {
      const Trash target = table_[static_cast<std::size_t>(chosen)];
      const auto & p = target.grab_pose.position;
      emit(TaskEvent::GRIPPER_OPENED, "gripper opened for the grab", [](TaskEvent & e) {
        e.target_name = "grab";
      });
      gripper(false);
      feedback(handle);
      if (!pause(0.1)) {
        return;
      }
      if (first_task && pick == 1 && !environment_stop()) {
        return;
      }
      const Joints grab_joints = {std::atan2(p.y, p.x), -0.95, 1.45, -0.50, 0.0};
      if (!move(
              "arm_grab",
              "grab_pose",
              grab_joints,
              "grab sent: trash at (" + fixed(p.x, 2) + ", " + fixed(p.y, 2) + ", " +
                  fixed(p.z, 2) + ")",
              0.7,
              [&](TaskEvent & e) { e.target_position = p; })) {
        return;
      }
      feedback(handle);
      emit(TaskEvent::GRIPPER_CLOSED, "gripper closed on the trash");
      gripper(true);
      if (!pause(0.4)) {
        return;
      }
      if (!move(
              "arm_release",
              "release_joints",
              kReleaseJoints,
              "release sent: to the bin",
              0.7,
              [](TaskEvent & e) { e.target_joints = kReleaseJoints; })) {
        return;
      }
      feedback(handle);
      emit(TaskEvent::GRIPPER_OPENED, "gripper opened: trash dropped", [](TaskEvent & e) {
        e.target_name = "release";
      });
      gripper(false);
      table_.erase(table_.begin() + chosen);
      if (!pause(0.3)) {
        return;
      }
      if (!move(
              "arm_movejoints",
              "observe_joints",
              kObserveJoints,
              "move sent: back to the observe pose",
              0.6,
              [](TaskEvent & e) { e.target_joints = kObserveJoints; })) {
        return;
      }
      chosen = detect();
      ++pick;
    }
    if (handle->is_canceling()) {
      finish(0, true);
      return;
    }
    if (pause(1.0)) {
      finish(102300000, false);
    }
  }

  rclcpp::Node::SharedPtr node_;
  const double time_scale_;
  std::vector<Trash> table_;
  std::uint64_t seq_ = 0;
  rclcpp_action::GoalUUID goal_id_{};
  ArmTask::Feedback feedback_;
  bool task_seen_ = false;
  std::atomic<bool> running_{false};

  // Shared with the timers.
  std::mutex mutex_;
  Joints joints_;
  Joints target_;
  double object_x_ = 2.6;
  double object_y_ = 1.4;
  int slow_ticks_ = 0;

  rclcpp::Publisher<TaskEvent>::SharedPtr events_;
  rclcpp::Publisher<sensor_msgs::msg::JointState>::SharedPtr joint_pub_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr arm_state_pub_;
  rclcpp::Publisher<std_msgs::msg::Int32MultiArray>::SharedPtr gripper_pub_;
  rclcpp::Publisher<std_msgs::msg::Int32>::SharedPtr voice_pub_;
  rclcpp::Publisher<quorvel_protocol::msg::Trashes>::SharedPtr objects_pub_;
  std::vector<std::shared_ptr<void>> inputs_;
  std::vector<std::shared_ptr<void>> services_;
  rclcpp_action::Server<ArmTask>::SharedPtr server_;
  rclcpp::TimerBase::SharedPtr joint_timer_;
  rclcpp::TimerBase::SharedPtr slow_timer_;
  std::thread task_thread_;
};

}  // namespace

int main(int argc, char ** argv)
{
  const std::vector<std::string> args = rclcpp::init_and_remove_ros_arguments(argc, argv);
  double time_scale = 1.0;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--time-scale" && i + 1 < args.size()) {
      time_scale = std::atof(args[++i].c_str());
    } else {
      std::cerr << "usage: fake_task_supervisor [--time-scale X]" << std::endl;
      rclcpp::shutdown();
      return 2;
    }
  }
  if (!(time_scale > 0.0)) {
    std::cerr << "fake_task_supervisor: --time-scale must be greater than 0" << std::endl;
    rclcpp::shutdown();
    return 2;
  }
  auto node = std::make_shared<rclcpp::Node>("fake_task_supervisor");
  {
    FakeTaskSupervisor fake(node, time_scale);
    rclcpp::executors::MultiThreadedExecutor executor(rclcpp::ExecutorOptions(), 2);
    executor.add_node(node);
    say("ready");
    executor.spin();
  }
  rclcpp::shutdown();
  return 0;
}

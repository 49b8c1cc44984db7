#include "replay_fixture.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <utility>

#include <rclcpp/serialization.hpp>
#include <rclcpp/serialized_message.hpp>
#include <rosidl_runtime_cpp/traits.hpp>

#include "commands.hpp"
#include "quorvel_bag/writer.hpp"

namespace replay_fixture
{

namespace
{

using quorvel_tools::TaskEvent;
using Joints = std::array<double, 5>;

constexpr std::int64_t kMs = 1000000;
const Joints kObserve = {0.0, -0.5236, 1.0472, -0.5236, 0.0};
const Joints kRelease = {1.5708, -0.35, 1.2, -0.85, 0.0};
const Joints kRecover = {0.0, -0.8, 1.3, -0.5, 0.0};

class Desk
{
public:
  explicit Desk(std::int64_t start_ns) : now_(start_ns), next_periodic_(start_ns) {}

  std::vector<Received> take()
  {
    std::stable_sort(out_.begin(), out_.end(), [](const Received & a, const Received & b) {
      return a.received_ns < b.received_ns;
    });
    return std::move(out_);
  }

  void task(std::size_t index)
  {
    goal_.fill(static_cast<std::uint8_t>(index * 7 + 1));
    goal_[0] = static_cast<std::uint8_t>(index >> 8);
    step_ = 0;
    TaskEvent started = event(TaskEvent::TASK_STARTED);
    started.cmd = 1;
    started.distance = 2.0F;
    publish_event(started);
    rest(100);
    const double y = 0.1 * static_cast<double>(index % 5) - 0.2;
    publish_event(event(TaskEvent::DETECT_REQUESTED));
    rest(300);
    TaskEvent answered = event(TaskEvent::DETECT_ANSWERED);
    answered.status = 1;
    quorvel_interfaces::msg::Trash trash;
    trash.type = 1;
    trash.grab_pose.position.x = 0.35;
    trash.grab_pose.position.y = y;
    trash.grab_pose.position.z = -0.17;
    answered.items.push_back(trash);
    answered.distances.push_back(static_cast<float>(std::hypot(0.35, y, -0.17)));
    answered.chosen_index = 0;
    publish_event(answered);

    TaskEvent open = event(TaskEvent::GRIPPER_OPENED);
    open.target_name = "grab";
    publish_event(open);
    gripper(0);
    ++step_;
    TaskEvent grab = motion("arm_grab", "grab_pose", {});
    grab.target_position = trash.grab_pose.position;
    publish_event(grab);
    const Joints grab_pose = {std::atan2(y, 0.35), -0.2, 0.9, -0.7, 0.0};
    move(grab_pose, 600);
    const bool fails = index % 3 == 2;
    publish_event(answer("arm_grab", "grab_pose", fails ? 102100010 : 102100000));
    if (fails) {
      recover();
      publish_event(event(TaskEvent::TASK_ENDED, "succeeded", 102300003));
      rest(400);
      return;
    }
    ++step_;
    publish_event(event(TaskEvent::GRIPPER_CLOSED));
    gripper(1);
    rest(300);
    publish_event(motion("arm_release", "release_joints", kRelease));
    move(kRelease, 700);
    publish_event(answer("arm_release", "release_joints", 102100000));
    TaskEvent drop = event(TaskEvent::GRIPPER_OPENED);
    drop.target_name = "release";
    publish_event(drop);
    gripper(0);
    rest(300);
    publish_event(motion("arm_movejoints", "observe_joints", kObserve));
    move(kObserve, 700);
    publish_event(answer("arm_movejoints", "observe_joints", 102100000));
    publish_event(event(TaskEvent::DETECT_REQUESTED));
    rest(300);
    TaskEvent none = event(TaskEvent::DETECT_ANSWERED);
    none.status = 1;
    publish_event(none);
    publish_event(event(TaskEvent::TASK_ENDED, "succeeded", 102300000));
    rest(400);
  }

private:
  TaskEvent event(std::uint8_t kind, const std::string & outcome = "", std::int32_t code = 0)
  {
    TaskEvent e;
    e.seq = ++seq_;
    // The supervisor stamps a step a little before the recorder receives it.
    const std::int64_t stamp = now_ - 2 * kMs;
    e.stamp.sec = static_cast<std::int32_t>(stamp / 1000000000);
    e.stamp.nanosec = static_cast<std::uint32_t>(stamp % 1000000000);
    e.kind = kind;
    e.goal_id.uuid = goal_;
    e.step_count = step_;
    e.outcome = outcome;
    e.error_code = code;
    return e;
  }

  TaskEvent motion(const std::string & service, const std::string & target, const Joints & to)
  {
    TaskEvent e = event(TaskEvent::MOTION_SENT);
    e.service = service;
    e.target_name = target;
    if (service != "arm_grab") {
      e.target_joints.assign(to.begin(), to.end());
    }
    return e;
  }

  TaskEvent answer(const std::string & service, const std::string & target, std::int32_t status)
  {
    TaskEvent e = event(TaskEvent::MOTION_ANSWERED);
    e.service = service;
    e.target_name = target;
    e.status = status;
    if (status != 102100000) {
      e.status_meaning = "recover";
      e.flags.push_back("need_recover");
    }
    return e;
  }

  void recover()
  {
    TaskEvent started = event(TaskEvent::RECOVERY_STARTED);
    started.target_name = "recover";
    started.service = "arm_grab";
    publish_event(started);
    voice(2);
    abnormal_ = true;
    publish(quorvel_tools::kArmStateTopic, bool_message(true));
    for (int second = 1; second <= 2; ++second) {
      TaskEvent wait = event(TaskEvent::RECOVERY_ARM_ABNORMAL);
      wait.count = second;
      wait.threshold = 10;
      publish_event(wait);
      rest(500);
    }
    abnormal_ = false;
    publish(quorvel_tools::kArmStateTopic, bool_message(false));
    publish_event(motion("arm_movejoints", "recover_movej_pos2", kRecover));
    move(kRecover, 600);
    publish_event(answer("arm_movejoints", "recover_movej_pos2", 102100000));
    TaskEvent position = event(TaskEvent::RECOVERY_POSITION);
    position.target_name = "recover_movej_pos2";
    position.target_joints.assign(kRecover.begin(), kRecover.end());
    position.current_joints.assign(joints_.begin(), joints_.end());
    position.outcome = "reached";
    publish_event(position);
    TaskEvent ended = event(TaskEvent::RECOVERY_ENDED, "recovered", 102300003);
    publish_event(ended);
    publish_event(motion("arm_movejoints", "observe_joints", kObserve));
    move(kObserve, 600);
    publish_event(answer("arm_movejoints", "observe_joints", 102100000));
  }

  static std_msgs::msg::Bool bool_message(bool value)
  {
    std_msgs::msg::Bool m;
    m.data = value;
    return m;
  }

  template <typename MessageT>
  void publish(const std::string & topic, const MessageT & message)
  {
    Received r;
    r.topic = topic;
    r.received_ns = now_;
    r.message.message = message;
    r.message.received_ms = now_ / kMs;
    out_.push_back(std::move(r));
  }

  void publish_event(const TaskEvent & e)
  {
    publish(quorvel_tools::kTaskEventsTopic, e);
    now_ += 1 * kMs;
  }

  void gripper(int closed)
  {
    std_msgs::msg::Int32MultiArray m;
    m.data = {100, closed};
    publish(quorvel_tools::kGripperTopic, m);
  }

  void voice(int code)
  {
    std_msgs::msg::Int32 m;
    m.data = code;
    publish(quorvel_tools::kVoiceTopic, m);
  }

  void joint_state()
  {
    sensor_msgs::msg::JointState m;
    m.name = {"joint1", "joint2", "joint3", "joint4", "joint5"};
    m.position.assign(joints_.begin(), joints_.end());
    publish(quorvel_tools::kJointAngleTopic, m);
  }

  // The slow topics, every 100 ms of the desk's clock.
  void periodic()
  {
    while (next_periodic_ <= now_) {
      const std::int64_t keep = now_;
      now_ = next_periodic_;
      publish(quorvel_tools::kArmStateTopic, bool_message(abnormal_));
      quorvel_protocol::msg::Trashes objects;
      objects.header.frame_id = "map";
      if ((next_periodic_ / (5000 * kMs)) % 2 == 1) {
        quorvel_protocol::msg::TrashObject far;
        far.x = 3.0F;
        far.y = 0.5F;
        objects.trashes.push_back(far);
      }
      publish(quorvel_tools::kEnvDetectTopic, objects);
      if (!moving_) {
        joint_state();
      }
      now_ = keep;
      next_periodic_ += 100 * kMs;
    }
  }

  void rest(std::int64_t ms)
  {
    now_ += ms * kMs;
    periodic();
  }

  void move(const Joints & to, std::int64_t ms)
  {
    const Joints from = joints_;
    moving_ = true;
    for (std::int64_t t = 20; t <= ms; t += 20) {
      now_ += 20 * kMs;
      periodic();
      const double f = static_cast<double>(t) / static_cast<double>(ms);
      for (std::size_t j = 0; j < joints_.size(); ++j) {
        joints_[j] = from[j] + (to[j] - from[j]) * f;
      }
      joint_state();
    }
    moving_ = false;
  }

  std::int64_t now_;
  std::int64_t next_periodic_;
  std::uint64_t seq_ = 0;
  std::int32_t step_ = 0;
  std::array<std::uint8_t, 16> goal_{};
  Joints joints_ = kObserve;
  bool abnormal_ = false;
  bool moving_ = false;
  std::vector<Received> out_;
};

template <typename MessageT>
std::vector<std::uint8_t> serialize(const MessageT & message)
{
  rclcpp::SerializedMessage serialized;
  rclcpp::Serialization<MessageT>().serialize_message(&message, &serialized);
  const auto & raw = serialized.get_rcl_serialized_message();
  return std::vector<std::uint8_t>(raw.buffer, raw.buffer + raw.buffer_length);
}

}  // namespace

std::vector<Received> desk_traffic(std::size_t tasks, std::int64_t start_ns)
{
  Desk desk(start_ns);
  for (std::size_t i = 0; i < tasks; ++i) {
    desk.task(i);
  }
  return desk.take();
}

void write_bag(const std::filesystem::path & dir, const std::vector<Received> & traffic)
{
  quorvel_bag::BagWriter writer(dir);
  std::map<std::string, std::int64_t> ids;
  for (const Received & r : traffic) {
    const std::vector<std::uint8_t> bytes =
        std::visit([](const auto & message) { return serialize(message); }, r.message.message);
    auto found = ids.find(r.topic);
    if (found == ids.end()) {
      const std::string type = std::visit(
          [](const auto & message) {
            return std::string(rosidl_generator_traits::name<std::decay_t<decltype(message)>>());
          },
          r.message.message);
      quorvel_bag::TopicMetadata topic;
      topic.name = r.topic;
      topic.type = type;
      topic.offered_qos_profiles = "[]";
      found = ids.emplace(r.topic, writer.add_topic(topic)).first;
    }
    writer.write(found->second, r.received_ns, bytes.data(), bytes.size());
  }
  writer.close();
}

}  // namespace replay_fixture

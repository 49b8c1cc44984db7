#include "dashboard/feed.hpp"

#include <vector>

#include <rosidl_runtime_cpp/traits.hpp>

#include "commands.hpp"

namespace quorvel_tools
{

void feed(DashboardModel & model, const TaskEvent & event) { model.on_task_event(event); }

void feed_arm_state(
    DashboardModel & model, const std_msgs::msg::Bool & message, std::int64_t received_ms)
{
  model.on_arm_state(message.data, received_ms);
}

void feed_gripper(
    DashboardModel & model,
    const std_msgs::msg::Int32MultiArray & message,
    std::int64_t received_ms)
{
  model.on_gripper_command(message.data, received_ms);
}

void feed_voice(
    DashboardModel & model, const std_msgs::msg::Int32 & message, std::int64_t received_ms)
{
  model.on_voice(message.data, received_ms);
}

void feed_joints(
    DashboardModel & model, const sensor_msgs::msg::JointState & message, std::int64_t received_ms)
{
  model.on_joint_state(message.name, message.position, received_ms);
}

void feed_surroundings(
    DashboardModel & model,
    const quorvel_protocol::msg::Trashes & message,
    std::int64_t received_ms)
{
  std::vector<EnvObject> objects;
  objects.reserve(message.trashes.size());
  for (const auto & trash : message.trashes) {
    objects.push_back(EnvObject{trash.x, trash.y});
  }
  model.on_env_objects(message.header.frame_id, objects, received_ms);
}

FeedTopic feed_topic(const std::string & topic, const std::string & type)
{
  using rosidl_generator_traits::name;
  struct Input
  {
    const char * topic;
    std::string type;
    FeedTopic input;
  };
  static const Input kInputs[] = {
      {kArmStateTopic, name<std_msgs::msg::Bool>(), FeedTopic::kArmState},
      {kGripperTopic, name<std_msgs::msg::Int32MultiArray>(), FeedTopic::kGripper},
      {kVoiceTopic, name<std_msgs::msg::Int32>(), FeedTopic::kVoice},
      {kJointAngleTopic, name<sensor_msgs::msg::JointState>(), FeedTopic::kJoints},
      {kEnvDetectTopic, name<quorvel_protocol::msg::Trashes>(), FeedTopic::kSurroundings},
  };
  if (type == name<TaskEvent>()) {
    return FeedTopic::kTaskEvents;
  }
  for (const Input & input : kInputs) {
    if (topic == input.topic && type == input.type) {
      return input.input;
    }
  }
  return FeedTopic::kNone;
}

namespace
{

// std::visit's usual helper: one lambda per alternative.
template <typename... Fs>
struct Overloaded : Fs...
{
  using Fs::operator()...;
};
template <typename... Fs>
Overloaded(Fs...) -> Overloaded<Fs...>;

}  // namespace

void apply(DashboardModel & model, const FeedMessage & message)
{
  const std::int64_t ms = message.received_ms;
  std::visit(
      Overloaded{
          [&](const TaskEvent & m) { feed(model, m); },
          [&](const std_msgs::msg::Bool & m) { feed_arm_state(model, m, ms); },
          [&](const std_msgs::msg::Int32MultiArray & m) { feed_gripper(model, m, ms); },
          [&](const std_msgs::msg::Int32 & m) { feed_voice(model, m, ms); },
          [&](const sensor_msgs::msg::JointState & m) { feed_joints(model, m, ms); },
          [&](const quorvel_protocol::msg::Trashes & m) { feed_surroundings(model, m, ms); },
      },
      message.message);
}

}  // namespace quorvel_tools

// The one way the supervisor's and the arm's messages reach the dashboard's model, whether they
// come from the live topics or from a recorded bag: the live subscriptions and the replay call
// the same functions, so that both end in the same state for the same messages.
#ifndef QUORVEL_TOOLS__DASHBOARD__FEED_HPP_
#define QUORVEL_TOOLS__DASHBOARD__FEED_HPP_

#include <cstdint>
#include <string>
#include <variant>

#include "dashboard/model.hpp"
#include "quorvel_protocol/msg/trashes.hpp"
#include "quorvel_task_events/msg/task_event.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/int32.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"

namespace quorvel_tools
{

// `received_ms`: wall-clock ms of reception (live: now; replay: the recorder's receive time).
// Task events carry their own stamps and need none.
void feed(DashboardModel & model, const TaskEvent & event);
void feed_arm_state(
    DashboardModel & model, const std_msgs::msg::Bool & message, std::int64_t received_ms);
void feed_gripper(
    DashboardModel & model,
    const std_msgs::msg::Int32MultiArray & message,
    std::int64_t received_ms);
void feed_voice(
    DashboardModel & model, const std_msgs::msg::Int32 & message, std::int64_t received_ms);
void feed_joints(
    DashboardModel & model, const sensor_msgs::msg::JointState & message, std::int64_t received_ms);
void feed_surroundings(
    DashboardModel & model,
    const quorvel_protocol::msg::Trashes & message,
    std::int64_t received_ms);

// Which input of the dashboard a topic is, by its name and type; kNone for anything else.
enum class FeedTopic
{
  kNone,
  kTaskEvents,
  kArmState,
  kGripper,
  kVoice,
  kJoints,
  kSurroundings,
};
// Task events are taken from any topic of their type (the supervisor's topic can be renamed);
// the arm's topics by their fixed names and types.
FeedTopic feed_topic(const std::string & topic, const std::string & type);

// One decoded message of a dashboard input and its receive time, kept to be applied later.
struct FeedMessage
{
  std::variant<
      TaskEvent,
      std_msgs::msg::Bool,
      std_msgs::msg::Int32MultiArray,
      std_msgs::msg::Int32,
      sensor_msgs::msg::JointState,
      quorvel_protocol::msg::Trashes>
      message;
  std::int64_t received_ms = 0;
};

// Calls the feed function of the message's type.
void apply(DashboardModel & model, const FeedMessage & message);

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__DASHBOARD__FEED_HPP_

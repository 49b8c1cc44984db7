// The ROS side of one arm's live page (see arm_watcher.hpp).
#include "dashboard/arm_watcher.hpp"

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <action_msgs/srv/cancel_goal.hpp>
#include <rclcpp_action/rclcpp_action.hpp>

#include "commands.hpp"
#include "dashboard/feed.hpp"
#include "endpoint_probes.hpp"
#include "quorvel_interfaces/action/arm_task.hpp"
#include "quorvel_protocol/msg/trashes.hpp"
#include "quorvel_server_watch/goal_result_watch.hpp"
#include "quorvel_task_events/msg/task_event.hpp"
#include "sensor_msgs/msg/joint_state.hpp"
#include "std_msgs/msg/bool.hpp"
#include "std_msgs/msg/int32.hpp"
#include "std_msgs/msg/int32_multi_array.hpp"

namespace quorvel_tools
{

namespace
{

using ArmTask = quorvel_interfaces::action::ArmTask;
using GoalHandle = rclcpp_action::ClientGoalHandle<ArmTask>;
using CancelResponse = action_msgs::srv::CancelGoal::Response;
using Clock = std::chrono::steady_clock;

// How long a button waits for the action server to be discovered, and then for its answer.
constexpr auto kServerWait = std::chrono::seconds(3);
constexpr auto kAnswerWait = std::chrono::seconds(10);
// What an HTTP thread waits at most; a little more than the two above.
constexpr auto kButtonLimit = std::chrono::seconds(15);
constexpr auto kProbePeriod = std::chrono::seconds(1);

}  // namespace

// The types of ArmWatcher::Impl's members: a named namespace, as a class with linkage may not
// hold members whose types have none.
namespace watcher_detail
{

// Hands button presses from the HTTP threads to the ROS thread, which alone uses the action
// client, and the answers back.
class ButtonQueue
{
public:
  struct Press
  {
    ButtonAction action;
    std::int32_t cmd;
    std::promise<ButtonAnswer> answer;
  };

  // HTTP threads. Blocks until the ROS thread answers, at most `limit`.
  ButtonAnswer ask(ButtonAction action, std::int32_t cmd, std::chrono::milliseconds limit)
  {
    std::future<ButtonAnswer> future;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) {
        return {503, "the dashboard is stopping", ""};
      }
      presses_.push_back(Press{action, cmd, {}});
      future = presses_.back().answer.get_future();
      pending_.store(true);
    }
    if (future.wait_for(limit) != std::future_status::ready) {
      return {504, "no answer from the ROS side in time", ""};
    }
    return future.get();
  }

  // The ROS thread.
  bool pending() const { return pending_.load(); }

  std::deque<Press> take()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_.store(false);
    return std::exchange(presses_, {});
  }

  // Answers what is queued and refuses what comes later, so that no HTTP thread waits on a
  // ROS thread that is gone.
  void close()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    for (Press & press : presses_) {
      press.answer.set_value({503, "the dashboard is stopping", ""});
    }
    presses_.clear();
  }

private:
  std::mutex mutex_;
  std::deque<Press> presses_;
  bool closed_ = false;
  std::atomic<bool> pending_{false};
};

// A press the ROS thread works on: first waiting for the action server, then for its answer.
struct InFlight
{
  ButtonQueue::Press press;
  Clock::time_point deadline;
  bool sent = false;
  std::shared_future<GoalHandle::SharedPtr> goal;
  std::shared_future<CancelResponse::SharedPtr> cancel;
};

using GoalKeeper = quorvel_server_watch::GoalResultWatch<ArmTask>;

// Which goal the dashboard follows across its action server's absence.
struct FollowedGoal
{
  std::unique_ptr<GoalKeeper> keeper;  // made with the first running task, kept for all
  bool following = false;
  std::array<std::uint8_t, 16> goal{};
};

}  // namespace watcher_detail

namespace
{

using watcher_detail::ButtonQueue;
using watcher_detail::FollowedGoal;
using watcher_detail::GoalKeeper;
using watcher_detail::InFlight;

std::string goal_id_hex(const rclcpp_action::GoalUUID & uuid)
{
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t byte : uuid) {
    text.push_back(kHex[byte >> 4]);
    text.push_back(kHex[byte & 0x0F]);
  }
  return text;
}

template <typename FutureT>
bool is_ready(const FutureT & future)
{
  return future.valid() && future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// One step of a press; true once it is answered.
bool advance(
    InFlight & item,
    rclcpp_action::Client<ArmTask> & client,
    const std::string & action_name,
    DashboardHub & hub)
{
  const auto now = Clock::now();
  auto answer = [&item](int status, std::string message, std::string goal_id = "") {
    item.press.answer.set_value({status, std::move(message), std::move(goal_id)});
    return true;
  };
  try {
    if (!item.sent) {
      if (!client.action_server_is_ready()) {
        if (now < item.deadline) {
          return false;
        }
        return answer(503, "no action server " + action_name + " (is arm_supervisor running?)");
      }
      if (item.press.action == ButtonAction::kSendTask) {
        ArmTask::Goal goal;
        goal.cmd = item.press.cmd;
        item.goal = client.async_send_goal(goal);
      } else {
        item.cancel = client.async_cancel_all_goals();
      }
      item.sent = true;
      item.deadline = now + kAnswerWait;
      return false;
    }
    if (item.press.action == ButtonAction::kSendTask && is_ready(item.goal)) {
      const GoalHandle::SharedPtr handle = item.goal.get();
      if (!handle) {
        return answer(
            409, "goal rejected: the supervisor runs one task at a time (is one still running?)");
      }
      return answer(
          200,
          "goal accepted: cmd " + std::to_string(item.press.cmd),
          goal_id_hex(handle->get_goal_id()));
    }
    if (item.press.action == ButtonAction::kCancel && is_ready(item.cancel)) {
      const CancelResponse::SharedPtr response = item.cancel.get();
      const std::size_t canceling = response ? response->goals_canceling.size() : 0;
      if (response && response->return_code == CancelResponse::ERROR_NONE && canceling > 0) {
        hub.update([](DashboardModel & model) { model.on_cancel_requested(wall_ms()); });
        return answer(
            200,
            "cancel accepted: the task ends once its pick cycles run out (" +
                std::to_string(canceling) + " goal(s) canceling)");
      }
      return answer(409, "nothing to cancel: no task is running");
    }
    if (now >= item.deadline) {
      return answer(
          504,
          "no answer from " + action_name + " within " + std::to_string(kAnswerWait.count()) +
              " s");
    }
    return false;
  } catch (const std::exception & error) {
    return answer(500, std::string("could not reach the action server: ") + error.what());
  }
}

// One step of following the running task's goal: the keeper on a new running goal, the
// action server's absence and return, and the result or loss the server reports then.
void follow_running_goal(
    rclcpp::Node & node,
    const std::string & action_name,
    rclcpp_action::Client<ArmTask> & client,
    DashboardHub & hub,
    FollowedGoal & followed)
{
  std::optional<std::array<std::uint8_t, 16>> running;
  hub.read([&running](const DashboardModel & model) { running = model.running_goal(); });
  const auto now = Clock::now();
  if (running && (!followed.following || followed.goal != *running)) {
    if (!followed.keeper) {
      followed.keeper = std::make_unique<GoalKeeper>(node, action_name);
    }
    followed.goal = *running;
    followed.keeper->start(*running, now);
    followed.following = true;
  } else if (!running && followed.following && !followed.keeper->gone_since()) {
    // Once the task has ended it is followed only until its server is back.
    followed.following = false;
  }
  if (!followed.following) {
    return;
  }
  GoalKeeper & keeper = *followed.keeper;
  const GoalKeeper::Report report = keeper.poll(client.action_server_is_ready(), now);
  using Kind = GoalKeeper::Report::Kind;
  switch (report.kind) {
    case Kind::kNone:
      break;
    case Kind::kGone: {
      const bool replaced = report.replaced;
      const std::int64_t since = wall_ms();
      hub.update([replaced, since](DashboardModel & model) {
        model.on_action_server_gone(replaced, since);
      });
      break;
    }
    case Kind::kAskedAgain: {
      const double gone_s = report.gone_s;
      hub.update([gone_s](DashboardModel & model) { model.on_action_server_back(gone_s); });
      followed.following = running.has_value();
      break;
    }
    case Kind::kAnswered: {
      const auto answer = report.answer;
      const std::int64_t at = wall_ms();
      hub.update([&answer, at](DashboardModel & model) {
        if (quorvel_server_watch::goal_unknown(*answer)) {
          model.on_goal_lost(at);
        } else {
          model.on_goal_result(
              answer->status,
              answer->result.error_code,
              answer->result.unable_grab_trashes.size(),
              at);
        }
      });
      followed.following = false;
      break;
    }
  }
}

}  // namespace

struct ArmWatcher::Impl
{
  rclcpp::Node::SharedPtr node;
  DashboardHub & hub;
  std::string action;
  std::string action_name;  // fully qualified
  ButtonQueue buttons;
  std::vector<std::shared_ptr<rclcpp::SubscriptionBase>> subscriptions;
  rclcpp::Subscription<quorvel_task_events::msg::TaskEvent>::SharedPtr events;
  std::vector<EndpointProbe> probes;
  rclcpp_action::Client<ArmTask>::SharedPtr client;
  std::vector<InFlight> in_flight;
  Clock::time_point next_probe = Clock::now();
  // The running task's goal, followed across its action server's absence; kept after the task
  // ended while the server is still away, so that the page can say how long it was gone.
  FollowedGoal followed;

  Impl(const rclcpp::Node::SharedPtr & n, DashboardHub & h, const std::string & a)
      : node(n), hub(h), action(a), action_name(a.front() == '/' ? a : "/" + a)
  {
  }
};

ArmWatcher::ArmWatcher(
    const rclcpp::Node::SharedPtr & node,
    DashboardHub & hub,
    const std::string & action,
    const std::string & detect_service)
    : impl_(std::make_unique<Impl>(node, hub, action))
{
  using quorvel_task_events::msg::TaskEvent;
  // Transient local with the supervisor's depth: a page started mid-task gets the task's
  // events so far. Every callback hands its message to the same feed functions a replay uses.
  DashboardHub * const h = &hub;
  impl_->events = node->create_subscription<TaskEvent>(
      kTaskEventsTopic,
      rclcpp::QoS(rclcpp::KeepLast(1000)).reliable().transient_local(),
      [h](const std::shared_ptr<const TaskEvent> message) {
        h->update([&message](DashboardModel & model) { feed(model, *message); });
      });
  impl_->subscriptions.push_back(node->create_subscription<std_msgs::msg::Bool>(
      kArmStateTopic,
      rclcpp::QoS(10),
      [h](const std::shared_ptr<const std_msgs::msg::Bool> message) {
        h->update(
            [&message](DashboardModel & model) { feed_arm_state(model, *message, wall_ms()); });
      }));
  impl_->subscriptions.push_back(node->create_subscription<std_msgs::msg::Int32MultiArray>(
      kGripperTopic,
      rclcpp::QoS(10),
      [h](const std::shared_ptr<const std_msgs::msg::Int32MultiArray> message) {
        h->update([&message](DashboardModel & model) { feed_gripper(model, *message, wall_ms()); });
      }));
  impl_->subscriptions.push_back(node->create_subscription<std_msgs::msg::Int32>(
      kVoiceTopic, rclcpp::QoS(10), [h](const std::shared_ptr<const std_msgs::msg::Int32> message) {
        h->update([&message](DashboardModel & model) { feed_voice(model, *message, wall_ms()); });
      }));
  // Best effort takes both kinds of publisher; for a picture of many per second a lost one
  // does not matter.
  impl_->subscriptions.push_back(node->create_subscription<sensor_msgs::msg::JointState>(
      kJointAngleTopic,
      rclcpp::QoS(10).best_effort(),
      [h](const std::shared_ptr<const sensor_msgs::msg::JointState> message) {
        h->update([&message](DashboardModel & model) { feed_joints(model, *message, wall_ms()); });
      }));
  impl_->subscriptions.push_back(node->create_subscription<quorvel_protocol::msg::Trashes>(
      kEnvDetectTopic,
      rclcpp::QoS(10).best_effort(),
      [h](const std::shared_ptr<const quorvel_protocol::msg::Trashes> message) {
        h->update(
            [&message](DashboardModel & model) { feed_surroundings(model, *message, wall_ms()); });
      }));
  // The page's own subscriptions must not make those topics look served.
  impl_->probes = make_supervisor_probes(
      node, action, detect_service, {kArmStateTopic, kJointAngleTopic, kEnvDetectTopic});
  impl_->client = rclcpp_action::create_client<ArmTask>(node, action);
}

ArmWatcher::~ArmWatcher() { close(); }

ButtonAnswer ArmWatcher::ask(ButtonAction action, std::int32_t cmd)
{
  return impl_->buttons.ask(action, cmd, kButtonLimit);
}

bool ArmWatcher::has_presses() const { return impl_->buttons.pending(); }

void ArmWatcher::step()
{
  Impl & w = *impl_;
  for (ButtonQueue::Press & press : w.buttons.take()) {
    w.in_flight.push_back(InFlight{std::move(press), Clock::now() + kServerWait, false, {}, {}});
  }
  for (auto it = w.in_flight.begin(); it != w.in_flight.end();) {
    it = advance(*it, *w.client, w.action, w.hub) ? w.in_flight.erase(it) : it + 1;
  }
  follow_running_goal(*w.node, w.action_name, *w.client, w.hub, w.followed);
  if (Clock::now() >= w.next_probe) {
    w.next_probe = Clock::now() + kProbePeriod;
    std::vector<EndpointState> states;
    for (const EndpointProbe & probe : w.probes) {
      states.push_back(EndpointState{probe.name, probe.kind, probe.is_up()});
    }
    const std::size_t publishers = w.events->get_publisher_count();
    w.hub.update([&states, publishers](DashboardModel & model) {
      model.on_endpoints(states, publishers, wall_ms());
    });
  }
}

void ArmWatcher::close()
{
  if (!impl_) {
    return;
  }
  impl_->buttons.close();
  for (InFlight & item : impl_->in_flight) {
    item.press.answer.set_value({503, "the dashboard is stopping", ""});
  }
  impl_->in_flight.clear();
}

}  // namespace quorvel_tools

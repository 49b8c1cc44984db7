// quorvel dashboard: a live page of the supervisor on loopback.
#include <csignal>

#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <future>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <action_msgs/srv/cancel_goal.hpp>
#include <rclcpp/rclcpp.hpp>
#include <rclcpp_action/rclcpp_action.hpp>

#include "commands.hpp"
#include "dashboard/feed.hpp"
#include "dashboard/hub.hpp"
#include "dashboard/server.hpp"
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

const char kDashboardUsage[] =
    "usage: quorvel dashboard [--port N] [--bind ADDRESS] [--action NAME]\n"
    "                         [--detect-service NAME]\n"
    "       quorvel dashboard --bag DIR [--port N] [--bind ADDRESS]\n"
    "\n"
    "Serves a live page of the supervisor, by default on http://127.0.0.1:8765/, and prints\n"
    "its address with an access token:\n"
    "  dashboard: http://127.0.0.1:8765/?token=<32 hex digits>\n"
    "Open exactly that address. The page shows the workspace from above (reach, stop\n"
    "distance, detected trashes, the chosen one, given-up spots, objects around the robot),\n"
    "the running task (phase, steps, time, its events), the arm (abnormal flag, gripper,\n"
    "joints and their target), a plot of the joint angles over the task with its motion\n"
    "targets and recovery positions, the announcements, how the last tasks ended and which\n"
    "of the supervisor's endpoints are up. Its two buttons send a task (cmd 1) and cancel\n"
    "tasks.\n"
    "\n"
    "With --bag DIR it plays a bag recorded by quorvel record (or ros2 bag record) on the same\n"
    "page instead: pick one of its tasks, play it at 1x, 4x or 16x, step from event to event\n"
    "or drag the slider; the page shows everything as it stood at that moment. It reads the\n"
    "bag whole before serving, and refuses a damaged bag as quorvel bag info does (exit 1).\n"
    "A recording has no buttons, and no ROS graph is used.\n"
    "\n"
    "It listens on loopback only unless --bind says otherwise, answers only requests that\n"
    "name its own address (127.0.0.1, localhost, [::1] or the --bind address, with the\n"
    "port), and carries out a button only with the token. Ctrl-C stops it.\n"
    "\n"
    "options:\n"
    "  --port N                 TCP port (default 8765)\n"
    "  --bind ADDRESS           IP address to listen on (default 127.0.0.1); another machine\n"
    "                           reaches the page only through an address given here\n"
    "  --action NAME            the action (default /quorvel_action/arm_task)\n"
    "  --detect-service NAME    the detection service shown among the endpoints\n"
    "                           (default /quorvel_service/detect_trash)\n"
    "  --bag DIR                play this recorded bag instead of the live topics\n"
    "\n"
    "exit status: 0 stopped by Ctrl-C; 1 could not start (port in use, address not\n"
    "available, a bad bag, ROS error); 2 wrong arguments.\n";

DashboardOptions parse_dashboard(const std::vector<std::string> & args)
{
  DashboardOptions options;
  std::string live_only;  // an option that makes no sense with --bag
  ArgReader reader(args);
  std::string name;
  std::optional<std::string> value;
  while (reader.has_more()) {
    if (!reader.next_option(name, value)) {
      throw UsageError("unexpected argument '" + reader.next_positional() + "'");
    }
    if (name == "help") {
      options.help = true;
    } else if (name == "port") {
      const std::string text = reader.option_value(name, value);
      const std::int32_t port = parse_int32(text, "--port");
      if (port < 1 || port > 65535) {
        throw UsageError("--port: '" + text + "' is not a port number from 1 to 65535");
      }
      options.port = port;
    } else if (name == "bind") {
      options.bind = reader.option_value(name, value);
      if (!is_ip_literal(options.bind)) {
        throw UsageError(
            "--bind: '" + options.bind + "' is not an IP address (such as 127.0.0.1 or ::1)");
      }
    } else if (name == "action") {
      options.action = check_ros_name(reader.option_value(name, value), "--action");
      live_only = "--action";
    } else if (name == "detect-service") {
      options.detect_service = check_ros_name(reader.option_value(name, value), "--detect-service");
      live_only = "--detect-service";
    } else if (name == "bag") {
      options.bag = reader.option_value(name, value);
      if (options.bag.empty()) {
        throw UsageError("--bag: give the bag's directory");
      }
    } else {
      throw_unknown_option(name);
    }
  }
  if (!options.bag.empty() && !live_only.empty()) {
    throw UsageError(
        live_only + " is for the live page; a recording (--bag) talks to no supervisor");
  }
  return options;
}

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

using GoalKeeper = quorvel_server_watch::GoalResultWatch<ArmTask>;

// One step of following the running task's goal: a keeper for a new running goal, the
// action server's absence and return, and the result or loss the server reports then.
void follow_running_goal(
    rclcpp::Node & node,
    const std::string & action_name,
    rclcpp_action::Client<ArmTask> & client,
    DashboardHub & hub,
    std::unique_ptr<GoalKeeper> & keeper,
    std::array<std::uint8_t, 16> & kept_goal)
{
  std::optional<std::array<std::uint8_t, 16>> running;
  hub.read([&running](const DashboardModel & model) { running = model.running_goal(); });
  const auto now = Clock::now();
  if (running && (!keeper || kept_goal != *running)) {
    keeper = std::make_unique<GoalKeeper>(node, action_name, *running);
    kept_goal = *running;
    keeper->start(now);
  } else if (!running && keeper && !keeper->gone_since()) {
    keeper.reset();
  }
  if (!keeper) {
    return;
  }
  const GoalKeeper::Report report = keeper->poll(client.action_server_is_ready(), now);
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
      if (!running) {
        keeper.reset();
      }
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
      keeper.reset();
      break;
    }
  }
}

}  // namespace

ExitCode run_dashboard(const DashboardOptions & options, Session & session)
{
  // A page that goes away mid-write must not end the program.
  std::signal(SIGPIPE, SIG_IGN);

  DashboardHub hub;
  ButtonQueue buttons;
  const std::string token = make_token();
  DashboardServer server(hub, token, [&buttons](ButtonAction action, std::int32_t cmd) {
    return buttons.ask(action, cmd, kButtonLimit);
  });
  const std::string bind_error = server.bind(options.bind, options.port);
  if (!bind_error.empty()) {
    std::cerr << "quorvel dashboard: " << bind_error << std::endl;
    return ExitCode::kFailure;
  }

  const auto node = session.node();
  using quorvel_task_events::msg::TaskEvent;
  // Transient local with the supervisor's depth: a dashboard started mid-task gets the
  // task's events so far.
  // Every callback hands its message to the same feed functions a replay uses.
  auto events = node->create_subscription<TaskEvent>(
      kTaskEventsTopic,
      rclcpp::QoS(rclcpp::KeepLast(1000)).reliable().transient_local(),
      [&hub](const std::shared_ptr<const TaskEvent> message) {
        hub.update([&message](DashboardModel & model) { feed(model, *message); });
      });
  auto arm_state = node->create_subscription<std_msgs::msg::Bool>(
      kArmStateTopic,
      rclcpp::QoS(10),
      [&hub](const std::shared_ptr<const std_msgs::msg::Bool> message) {
        hub.update(
            [&message](DashboardModel & model) { feed_arm_state(model, *message, wall_ms()); });
      });
  auto gripper = node->create_subscription<std_msgs::msg::Int32MultiArray>(
      kGripperTopic,
      rclcpp::QoS(10),
      [&hub](const std::shared_ptr<const std_msgs::msg::Int32MultiArray> message) {
        hub.update(
            [&message](DashboardModel & model) { feed_gripper(model, *message, wall_ms()); });
      });
  auto voice = node->create_subscription<std_msgs::msg::Int32>(
      kVoiceTopic,
      rclcpp::QoS(10),
      [&hub](const std::shared_ptr<const std_msgs::msg::Int32> message) {
        hub.update([&message](DashboardModel & model) { feed_voice(model, *message, wall_ms()); });
      });
  // Best effort takes both kinds of publisher; for a picture of many per second a lost one
  // does not matter.
  auto joints = node->create_subscription<sensor_msgs::msg::JointState>(
      kJointAngleTopic,
      rclcpp::QoS(10).best_effort(),
      [&hub](const std::shared_ptr<const sensor_msgs::msg::JointState> message) {
        hub.update([&message](DashboardModel & model) { feed_joints(model, *message, wall_ms()); });
      });
  auto surroundings = node->create_subscription<quorvel_protocol::msg::Trashes>(
      kEnvDetectTopic,
      rclcpp::QoS(10).best_effort(),
      [&hub](const std::shared_ptr<const quorvel_protocol::msg::Trashes> message) {
        hub.update(
            [&message](DashboardModel & model) { feed_surroundings(model, *message, wall_ms()); });
      });
  // The dashboard's own subscriptions must not make those topics look served.
  const std::vector<EndpointProbe> probes = make_supervisor_probes(
      node,
      options.action,
      options.detect_service,
      {kArmStateTopic, kJointAngleTopic, kEnvDetectTopic});
  auto client = rclcpp_action::create_client<ArmTask>(node, options.action);

  server.start();
  std::cout << "dashboard: " << page_url(options.bind, options.port, token) << std::endl;
  std::cerr << "quorvel dashboard: serving on " << options.bind << " port " << options.port
            << "; Ctrl-C stops" << std::endl;
  if (options.bind != "127.0.0.1" && options.bind != "::1") {
    std::cerr << "quorvel dashboard: " << options.bind
              << " is not loopback: other machines may reach the page (the buttons still "
                 "need the token)"
              << std::endl;
  }

  std::vector<InFlight> in_flight;
  auto next_probe = Clock::now();
  // The running task's goal, followed across its action server's absence; kept after the task
  // ended while the server is still away, so that the page can say how long it was gone.
  std::unique_ptr<quorvel_server_watch::GoalResultWatch<ArmTask>> keeper;
  std::array<std::uint8_t, 16> kept_goal{};
  const std::string action_name =
      options.action.front() == '/' ? options.action : "/" + options.action;
  while (session.interrupts() == 0) {
    session.spin_until([&buttons] { return buttons.pending(); }, std::chrono::milliseconds(50));
    for (ButtonQueue::Press & press : buttons.take()) {
      in_flight.push_back(InFlight{std::move(press), Clock::now() + kServerWait, false, {}, {}});
    }
    for (auto it = in_flight.begin(); it != in_flight.end();) {
      it = advance(*it, *client, options.action, hub) ? in_flight.erase(it) : it + 1;
    }
    follow_running_goal(*node, action_name, *client, hub, keeper, kept_goal);
    if (Clock::now() >= next_probe) {
      next_probe = Clock::now() + kProbePeriod;
      std::vector<EndpointState> states;
      for (const EndpointProbe & probe : probes) {
        states.push_back(EndpointState{probe.name, probe.kind, probe.is_up()});
      }
      const std::size_t publishers = events->get_publisher_count();
      hub.update([&states, publishers](DashboardModel & model) {
        model.on_endpoints(states, publishers, wall_ms());
      });
    }
  }

  buttons.close();
  for (InFlight & item : in_flight) {
    item.press.answer.set_value({503, "the dashboard is stopping", ""});
  }
  server.stop();
  std::cerr << "quorvel dashboard: stopped" << std::endl;
  return ExitCode::kOk;
}

}  // namespace quorvel_tools

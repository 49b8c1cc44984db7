// arm_sim_goals: sends ArmTask goals back to back, each with a time limit, and prints one line
// per goal; for soak runs against the supervisor.
#include <chrono>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <rclcpp/rclcpp.hpp>
#include <rclcpp_action/rclcpp_action.hpp>

#include "quorvel_interfaces/action/arm_task.hpp"
#include "quorvel_server_watch/goal_result_watch.hpp"

namespace
{

using ArmTask = quorvel_interfaces::action::ArmTask;
using GoalHandle = rclcpp_action::ClientGoalHandle<ArmTask>;
using Clock = std::chrono::steady_clock;
using GoalResultWatch = quorvel_server_watch::GoalResultWatch<ArmTask>;

const char kUsage[] =
    "usage: arm_sim_goals [--count N] [--duration S] [--goal-timeout S] [--server-timeout S]\n"
    "                     [--action NAME] [--ros-args ...]\n"
    "\n"
    "Sends ArmTask goals (cmd 1) one after another until N goals ended (default 10) or, with\n"
    "--duration, until S seconds have passed. Prints one line per goal: how it ended, its\n"
    "error_code, its unable_grab_trashes count and how long it took; a goal with no result\n"
    "within --goal-timeout (default 60 s; time its action server was gone does not count) is\n"
    "lost. A rejected goal (a task still runs) is sent again. When the action server goes away\n"
    "while a goal runs, it waits; once a server is back it asks for the goal's result again (a\n"
    "restarted supervisor no longer knows the goal: lost with the restart). The last line counts\n"
    "them all.\n"
    "\n"
    "exit status: 0 no goal lost; 1 a goal was lost; 2 wrong arguments; 3 no action server\n"
    "within --server-timeout (default 10 s); 4 goals were lost only with supervisor restarts;\n"
    "130 interrupted by Ctrl-C.\n";

struct Options
{
  std::optional<long> count;
  std::optional<double> duration_s;
  double goal_timeout_s = 60.0;
  double server_timeout_s = 10.0;
  std::string action = "/quorvel_action/arm_task";
};

double positive(const std::string & text, const std::string & option)
{
  char * end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !(value > 0.0)) {
    throw std::invalid_argument(option + " needs a number greater than 0, got '" + text + "'");
  }
  return value;
}

Options parse(const std::vector<std::string> & args)
{
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string & name = args[i];
    if (name == "--ros-args") {
      break;
    }
    if (name == "-h" || name == "--help") {
      std::cout << kUsage;
      std::exit(0);
    }
    if (i + 1 >= args.size()) {
      throw std::invalid_argument("unknown argument or missing value: '" + name + "'");
    }
    const std::string & value = args[++i];
    if (name == "--count") {
      const double count = positive(value, name);
      if (count != static_cast<double>(static_cast<long>(count))) {
        throw std::invalid_argument("--count needs a whole number, got '" + value + "'");
      }
      options.count = static_cast<long>(count);
    } else if (name == "--duration") {
      options.duration_s = positive(value, name);
    } else if (name == "--goal-timeout") {
      options.goal_timeout_s = positive(value, name);
    } else if (name == "--server-timeout") {
      options.server_timeout_s = positive(value, name);
    } else if (name == "--action") {
      options.action = value;
    } else {
      throw std::invalid_argument("unknown argument '" + name + "'");
    }
  }
  if (!options.count && !options.duration_s) {
    options.count = 10;
  }
  return options;
}

Clock::duration seconds(double s)
{
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

const char * code_name(rclcpp_action::ResultCode code)
{
  switch (code) {
    case rclcpp_action::ResultCode::SUCCEEDED:
      return "succeeded";
    case rclcpp_action::ResultCode::CANCELED:
      return "canceled";
    case rclcpp_action::ResultCode::ABORTED:
      return "aborted";
    case rclcpp_action::ResultCode::UNKNOWN:
      return "unknown";
  }
  return "unknown";
}

class GoalDriver
{
public:
  explicit GoalDriver(const Options & options)
      : options_(options),
        node_(std::make_shared<rclcpp::Node>("arm_sim_goals")),
        client_(rclcpp_action::create_client<ArmTask>(node_, options.action)),
        keeper_(std::make_unique<GoalResultWatch>(
            *node_, options.action.front() == '/' ? options.action : "/" + options.action))
  {
    executor_.add_node(node_);
  }

  int run()
  {
    const auto server_deadline = Clock::now() + seconds(options_.server_timeout_s);
    while (!client_->action_server_is_ready()) {
      if (!rclcpp::ok() || Clock::now() >= server_deadline) {
        std::cerr << "arm_sim_goals: no action server " << options_.action << " within "
                  << options_.server_timeout_s << " s" << std::endl;
        return 3;
      }
      executor_.spin_some(std::chrono::milliseconds(100));
      client_->wait_for_action_server(std::chrono::milliseconds(100));
    }
    const auto end = options_.duration_s ? Clock::now() + seconds(*options_.duration_s)
                                         : Clock::time_point::max();
    while (rclcpp::ok() && Clock::now() < end && (!options_.count || ended_ < *options_.count)) {
      run_goal();
    }
    std::cout << "goals: " << ended_ << " ended, " << lost_ << " lost, " << lost_with_restart_
              << " lost with a supervisor restart, " << rejected_
              << " rejected and sent again; results:";
    for (const auto & [code, count] : codes_) {
      std::cout << " " << code << " x" << count;
    }
    std::cout << std::endl;
    if (interrupted_ > 0) {
      return 130;
    }
    if (lost_ > 0) {
      return 1;
    }
    return lost_with_restart_ > 0 ? 4 : 0;
  }

private:
  void run_goal()
  {
    const long number = ended_ + lost_ + lost_with_restart_ + 1;
    const auto start = Clock::now();
    const auto deadline = start + seconds(options_.goal_timeout_s);
    GoalHandle::SharedPtr handle;
    while (rclcpp::ok() && !handle) {
      auto future = client_->async_send_goal(ArmTask::Goal());
      if (!spin_until(
              [&future] {
                return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
              },
              deadline)) {
        report_lost(number, "no answer to the goal request");
        return;
      }
      handle = future.get();
      if (!handle) {
        ++rejected_;
        // The previous task is still ending; ask again shortly.
        spin_until(
            [] { return false; }, std::min(deadline, Clock::now() + std::chrono::milliseconds(20)));
        if (Clock::now() >= deadline) {
          report_lost(number, "rejected until the time limit");
          return;
        }
      }
    }
    if (!handle) {
      return;
    }
    auto result = client_->async_get_result(handle);
    // The action server may go away while the goal runs; the result is asked for again when a
    // server is back, and the time it was gone does not count against the goal.
    GoalResultWatch & keeper = *keeper_;
    keeper.start(handle->get_goal_id(), Clock::now());
    auto goal_deadline = deadline;
    std::optional<GoalHandle::WrappedResult> asked_again;
    using Kind = GoalResultWatch::Report::Kind;
    while (true) {
      if (result.wait_for(std::chrono::seconds(0)) == std::future_status::ready || asked_again) {
        break;
      }
      const auto now = Clock::now();
      const auto report = keeper.poll(client_->action_server_is_ready(), now);
      if (report.kind == Kind::kGone) {
        std::cout << "goal " << number << ": the action server is "
                  << (report.replaced ? "replaced by a new one" : "gone") << "; waiting"
                  << std::endl;
      } else if (report.kind == Kind::kAskedAgain) {
        goal_deadline += seconds(report.gone_s);
        std::cout << "goal " << number << ": the action server is back after "
                  << static_cast<long>(report.gone_s * 1000.0)
                  << " ms: asking for the result again" << std::endl;
      } else if (report.kind == Kind::kAnswered) {
        if (quorvel_server_watch::goal_unknown(*report.answer)) {
          ++lost_with_restart_;
          std::cout << "goal " << number << ": lost with the supervisor's restart (the action "
                    << "server is back but no longer knows the goal)" << std::endl;
          return;
        }
        GoalHandle::WrappedResult wrapped;
        wrapped.goal_id = handle->get_goal_id();
        wrapped.code = static_cast<rclcpp_action::ResultCode>(report.answer->status);
        wrapped.result = std::make_shared<ArmTask::Result>(report.answer->result);
        asked_again = wrapped;
        break;
      }
      if (!rclcpp::ok()) {
        // Ctrl-C: the goal stays with the supervisor; nothing can be sent any more.
        std::cout << "goal " << number << ": stopped waiting (interrupted) before its result"
                  << std::endl;
        ++interrupted_;
        return;
      }
      if (now >= goal_deadline && !keeper.gone_since()) {
        report_lost(number, "no result");
        try {
          client_->async_cancel_goal(handle);
        } catch (const std::exception &) {
          // The goal is reported lost either way.
        }
        return;
      }
      executor_.spin_once(std::chrono::milliseconds(50));
    }
    const GoalHandle::WrappedResult wrapped = asked_again ? *asked_again : result.get();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    ++ended_;
    std::cout << "goal " << number << ": " << code_name(wrapped.code);
    if (wrapped.result) {
      ++codes_[wrapped.result->error_code];
      std::cout << " error_code " << wrapped.result->error_code << " unable_grab_trashes "
                << wrapped.result->unable_grab_trashes.size();
    }
    std::cout << " (" << ms << " ms)" << std::endl;
  }

  void report_lost(long number, const std::string & why)
  {
    ++lost_;
    std::cout << "goal " << number << ": lost: " << why << " within " << options_.goal_timeout_s
              << " s" << std::endl;
  }

  template <typename PredicateT>
  bool spin_until(PredicateT done, Clock::time_point deadline)
  {
    while (!done() && rclcpp::ok() && Clock::now() < deadline) {
      executor_.spin_once(
          std::min<Clock::duration>(deadline - Clock::now(), std::chrono::milliseconds(50)));
    }
    return done();
  }

  Options options_;
  rclcpp::Node::SharedPtr node_;
  rclcpp_action::Client<ArmTask>::SharedPtr client_;
  // Keeps each goal across the action server's absence; one for all goals.
  std::unique_ptr<GoalResultWatch> keeper_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  long ended_ = 0;
  long lost_ = 0;
  long lost_with_restart_ = 0;
  long interrupted_ = 0;
  long rejected_ = 0;
  std::map<std::int32_t, long> codes_;
};

}  // namespace

int main(int argc, char ** argv)
{
  Options options;
  try {
    options = parse(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception & error) {
    std::cerr << "arm_sim_goals: " << error.what() << "\n\n" << kUsage;
    return 2;
  }
  int status = 0;
  try {
    rclcpp::init(argc, argv);
    GoalDriver driver(options);
    status = driver.run();
  } catch (const std::exception & error) {
    std::cerr << "arm_sim_goals: " << error.what() << std::endl;
    status = 1;
  }
  rclcpp::shutdown();
  return status;
}

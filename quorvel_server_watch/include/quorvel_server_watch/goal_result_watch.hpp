// Keeping an accepted goal across its action server's absence.
//
// An action client asks for a goal's result once, right after the goal is accepted. When the
// server is cut off for longer than the DDS lease, that request (or its answer) can be lost;
// when the server's program restarts, the new one never heard of the goal. GoalResultWatch
// follows the server of the action's get_result service; once a server is back it asks for the
// goal's result again on a client of its own, and tells what the server answers: the result
// when the goal ends, or STATUS_UNKNOWN at once when the server does not know the goal (it was
// lost with a restart).
#ifndef QUORVEL_SERVER_WATCH__GOAL_RESULT_WATCH_HPP_
#define QUORVEL_SERVER_WATCH__GOAL_RESULT_WATCH_HPP_

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <action_msgs/msg/goal_status.hpp>
#include <rclcpp/rclcpp.hpp>

#include "quorvel_server_watch/server_watch.hpp"

namespace quorvel_server_watch
{

// The ROS side of one goal's absence-proof result. Use it from the thread that spins `node`.
template <typename ActionT>
class GoalResultWatch
{
public:
  using Clock = ServerWatch::Clock;
  using GetResult = typename ActionT::Impl::GetResultService;
  using Response = typename GetResult::Response;
  using GoalId = std::array<std::uint8_t, 16>;

  struct Report
  {
    enum class Kind
    {
      kNone,
      kGone,        // the server is gone (replaced: a new one took the place of one still listed)
      kAskedAgain,  // it is back (gone_s ago it left): the result was asked for again
      kAnswered,    // the server answered that request: `answer`
    };
    Kind kind = Kind::kNone;
    bool replaced = false;
    double gone_s = 0.0;
    // kAnswered: the server's answer; its status is action_msgs' STATUS_UNKNOWN when the server
    // does not know the goal.
    std::shared_ptr<Response> answer;
  };

  // `action_name` fully qualified ("/quorvel_action/arm_task"). Creates the get_result client;
  // throws what the client library throws.
  GoalResultWatch(rclcpp::Node & node, const std::string & action_name, const GoalId & goal_id)
      : node_(node),
        service_name_(action_name + "/_action/get_result"),
        goal_id_(goal_id),
        client_(node.create_client<GetResult>(service_name_)),
        answer_(std::make_shared<Answer>())
  {
  }

  // The goal was accepted now.
  void start(Clock::time_point now)
  {
    watch_.sent(look(), now);
    next_look_ = now + kLookPeriod;
  }

  // One step; `server_ready` is the action client's action_server_is_ready(). Looks at the
  // graph a few times a second and returns at most one report a call.
  Report poll(bool server_ready, Clock::time_point now)
  {
    Report report;
    {
      std::lock_guard<std::mutex> lock(answer_->mutex);
      if (answer_->response) {
        report.kind = Report::Kind::kAnswered;
        report.answer = std::move(answer_->response);
        answer_->response.reset();
        return report;
      }
    }
    if (now < next_look_) {
      return report;
    }
    next_look_ = now + kLookPeriod;
    const ServerIds servers = look();
    switch (watch_.update(servers, server_ready && client_->service_is_ready(), now)) {
      case ServerWatch::Change::kNone:
        break;
      case ServerWatch::Change::kGone:
        gone_since_ = watch_.gone_since().value_or(now);
        report.kind = Report::Kind::kGone;
        report.replaced = watch_.replaced();
        break;
      case ServerWatch::Change::kBack: {
        report.kind = Report::Kind::kAskedAgain;
        report.replaced = watch_.replaced();
        report.gone_s = seconds_between(gone_since_.value_or(now), now);
        gone_total_s_ += report.gone_s;
        gone_since_.reset();
        ask(now, servers);
        break;
      }
    }
    return report;
  }

  // Whether the server is gone now, and since when.
  std::optional<Clock::time_point> gone_since() const { return gone_since_; }
  // Seconds the server was away, over every absence that has ended.
  double gone_total_s() const { return gone_total_s_; }

private:
  static constexpr std::chrono::milliseconds kLookPeriod{200};

  // Shared with the answer callback, which may run after this watch is gone.
  struct Answer
  {
    std::mutex mutex;
    std::shared_ptr<Response> response;
  };

  ServerIds look()
  {
    try {
      return list_servers(node_, service_name_);
    } catch (const std::exception &) {
      // The graph could not be read this time; the next look tries again.
      return {};
    }
  }

  void ask(Clock::time_point now, const ServerIds & servers)
  {
    auto request = std::make_shared<typename GetResult::Request>();
    request->goal_id.uuid = goal_id_;
    if (last_request_) {
      client_->remove_pending_request(*last_request_);
    }
    last_request_ =
        client_
            ->async_send_request(
                request,
                [answer = answer_](typename rclcpp::Client<GetResult>::SharedFuture future) {
                  std::lock_guard<std::mutex> lock(answer->mutex);
                  answer->response = future.get();
                })
            .request_id;
    watch_.sent(servers, now);
  }

  rclcpp::Node & node_;
  std::string service_name_;
  GoalId goal_id_;
  typename rclcpp::Client<GetResult>::SharedPtr client_;
  std::shared_ptr<Answer> answer_;
  ServerWatch watch_;
  Clock::time_point next_look_{};
  std::optional<Clock::time_point> gone_since_;
  std::optional<std::int64_t> last_request_;
  double gone_total_s_ = 0.0;
};

// Whether an answer of the get_result service says the server does not know the goal.
template <typename ResponseT>
bool goal_unknown(const ResponseT & answer)
{
  return answer.status == action_msgs::msg::GoalStatus::STATUS_UNKNOWN;
}

}  // namespace quorvel_server_watch

#endif  // QUORVEL_SERVER_WATCH__GOAL_RESULT_WATCH_HPP_

// The arm controller's services: the one way they are called and waited for, how their answers
// are judged, and the announcement of a status.
#include <chrono>
#include <cstdio>
#include <exception>
#include <mutex>
#include <optional>
#include <functional>
#include <string>

#include "console_output.hpp"
#include "quorvel_arm_supervisor/arm_logger.hpp"
#include "quorvel_arm_supervisor/arm_status.hpp"
#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"

namespace quorvel_arm_supervisor
{

namespace
{

constexpr std::int64_t kWaitingLinePeriodNs = 1000LL * 1000 * 1000;

std::string Seconds(const double seconds)
{
  char text[32];
  std::snprintf(text, sizeof(text), "%.1f", seconds);
  return text;
}

std::string JoinFlags(const std::vector<std::string> & flags)
{
  std::string text;
  for (const std::string & flag : flags) {
    text += (text.empty() ? "" : ", ") + flag;
  }
  return text;
}

}  // namespace

bool ArmSupervisorNode::WaitForService(
    rclcpp::ClientBase & client, const char * unavailable_line, const char * interrupted_line)
{
  while (!client.wait_for_service(std::chrono::seconds(1))) {
    if (!rclcpp::ok()) {
      RCLCPP_WARN(get_logger(), "%s", interrupted_line);
      return false;
    }
    RCLCPP_INFO(get_logger(), "%s", unavailable_line);
  }
  return true;
}

std::optional<quorvel_server_watch::ServerIds> ArmSupervisorNode::ListServers(
    rclcpp::ClientBase & client)
{
  try {
    return quorvel_server_watch::list_servers(*this, client.get_service_name());
  } catch (const std::exception & error) {
    RCLCPP_WARN_THROTTLE(
        get_logger(), *get_clock(), 10000, "cannot read the servers of %s: %s",
        client.get_service_name(), error.what());
    return std::nullopt;
  }
}

template <typename ServiceT>
std::optional<std::int64_t> ArmSupervisorNode::SendArmRequest(
    rclcpp::Client<ServiceT> & client,
    const std::shared_ptr<typename ServiceT::Request> & request,
    void (ArmSupervisorNode::*on_answer)(typename rclcpp::Client<ServiceT>::SharedFuture),
    const std::atomic<bool> & complete)
{
  std::uint64_t generation = 0;
  {
    std::lock_guard<std::mutex> lock(arm_answer_mutex_);
    if (complete.load()) {
      return std::nullopt;
    }
    generation = ++arm_call_generation_;
  }
  const char * const service = arm_call_service_.load();
  return client
      .async_send_request(
          request,
          [this, generation, on_answer, service](
              typename rclcpp::Client<ServiceT>::SharedFuture future) {
            std::lock_guard<std::mutex> lock(arm_answer_mutex_);
            if (generation != arm_call_generation_) {
              DropLateArmAnswer(service, future.get()->status);
              return;
            }
            (this->*on_answer)(future);
          })
      .request_id;
}

template <typename ServiceT>
bool ArmSupervisorNode::CallArmService(
    const ArmCallSite & site,
    rclcpp::Client<ServiceT> & client,
    const std::shared_ptr<typename ServiceT::Request> & request,
    void (ArmSupervisorNode::*on_answer)(typename rclcpp::Client<ServiceT>::SharedFuture),
    std::atomic<bool> & complete)
{
  using quorvel_server_watch::ServerWatch;
  using quorvel_server_watch::seconds_between;
  if (!WaitForService(client, site.unavailable_line, site.interrupted_line)) {
    return false;
  }
  arm_call_target_.store(site.target_name);
  arm_call_service_.store(site.service);
  if (EventsOn()) {
    TaskEvent sent = NewEvent(
        TaskEvent::MOTION_SENT, std::string(site.service) + ": moving to " + site.target_name);
    sent.service = site.service;
    sent.target_name = site.target_name;
    if constexpr (std::is_same_v<ServiceT, ArmGrab>) {
      sent.target_position = request->target_pose.position;
    } else {
      sent.target_joints = request->target_joints.data;
    }
    EmitEvent(std::move(sent));
  }
  const std::string call = std::string(site.service) + " (to " + site.target_name + ")";
  ServerWatch watch;
  const auto look = [this, &client]() {
    return ListServers(client).value_or(quorvel_server_watch::ServerIds{});
  };
  std::optional<std::int64_t> request_id =
      SendArmRequest(client, request, on_answer, complete);
  watch.sent(look(), ServerWatch::Clock::now());
  std::int32_t sends = 1;
  if (site.waiting_line_first) {
    RCLCPP_INFO(get_logger(), "%s", site.waiting_line);
  }
  // The graph is read a few times a second: a server's absence is noticed soon enough, and a
  // wait costs next to nothing.
  constexpr auto kLookPeriod = std::chrono::milliseconds(200);
  auto next_look = ServerWatch::Clock::now() + kLookPeriod;
  while (!complete.load(std::memory_order_acquire)) {
    // Once a second per call site, as the client library's throttled logging does it.
    const std::int64_t now_ns = get_clock()->now().nanoseconds();
    if (now_ns - site.throttle->last_ns >= kWaitingLinePeriodNs) {
      site.throttle->last_ns = now_ns;
      RCLCPP_INFO(get_logger(), "%s", site.waiting_line);
    }
    const auto now = ServerWatch::Clock::now();
    if (now >= next_look) {
      next_look = now + kLookPeriod;
      const std::optional<quorvel_server_watch::ServerIds> servers = ListServers(client);
      const ServerWatch::Change change =
          servers ? watch.update(*servers, client.service_is_ready(), now)
                  : ServerWatch::Change::kNone;
      switch (change) {
        case ServerWatch::Change::kNone:
          break;
        case ServerWatch::Change::kGone: {
          const double waited = seconds_between(watch.sent_at(), now);
          if (watch.replaced()) {
            RCLCPP_WARN(
                get_logger(),
                "%s: a new server has replaced the one asked %.1f s ago, which can no longer "
                "answer",
                call.c_str(), waited);
          } else {
            RCLCPP_WARN(
                get_logger(),
                "%s: its server is gone %.1f s after the request; the request is sent again "
                "when a server is back",
                call.c_str(), waited);
          }
          if (EventsOn()) {
            TaskEvent gone = NewEvent(
                TaskEvent::SERVER_GONE,
                std::string(site.service) + ": " +
                    (watch.replaced() ? "its server was replaced by a new one"
                                      : "its server is gone") +
                    " while moving to " + site.target_name);
            gone.service = site.service;
            gone.target_name = site.target_name;
            gone.seconds = waited;
            gone.outcome = watch.replaced() ? "replaced" : "gone";
            EmitEvent(std::move(gone));
          }
          break;
        }
        case ServerWatch::Change::kBack: {
          const double gone_s = seconds_between(watch.gone_since().value_or(now), now);
          const double waited = seconds_between(watch.sent_at(), now);
          const bool replaced = watch.replaced();
          const std::optional<std::int64_t> resent =
              SendArmRequest(client, request, on_answer, complete);
          if (!resent) {
            break;  // the answer came meanwhile after all
          }
          if (request_id) {
            // Its answer can no longer count; the client need not keep waiting for it.
            client.remove_pending_request(*request_id);
          }
          request_id = resent;
          watch.sent(*servers, now);
          ++sends;
          if (replaced) {
            RCLCPP_WARN(
                get_logger(),
                "%s: its server restarted (no answer %.1f s after the request): sending the "
                "request again",
                call.c_str(), waited);
          } else {
            RCLCPP_WARN(
                get_logger(), "%s: its server was gone for %.1f s and is back: sending the "
                "request again",
                call.c_str(), gone_s);
          }
          if (EventsOn()) {
            TaskEvent back = NewEvent(
                TaskEvent::SERVER_BACK,
                std::string(site.service) + ": " +
                    (replaced ? std::string("a new server")
                              : "its server is back after " + Seconds(gone_s) + " s") +
                    ", request sent again (send " + std::to_string(sends) + ")");
            back.service = site.service;
            back.target_name = site.target_name;
            back.seconds = gone_s;
            back.count = sends;
            back.outcome = replaced ? "replaced" : "back";
            EmitEvent(std::move(back));
          }
          break;
        }
      }
    }
    SleepMs(10);
  }
  {
    // The wait is over: an answer to any send of this call that comes later is dropped.
    std::lock_guard<std::mutex> lock(arm_answer_mutex_);
    ++arm_call_generation_;
  }
  complete.store(false);
  return true;
}

template bool ArmSupervisorNode::CallArmService<ArmSupervisorNode::ArmGrab>(
    const ArmCallSite &, rclcpp::Client<ArmGrab> &, const std::shared_ptr<ArmGrab::Request> &,
    void (ArmSupervisorNode::*)(rclcpp::Client<ArmGrab>::SharedFuture), std::atomic<bool> &);
template bool ArmSupervisorNode::CallArmService<ArmSupervisorNode::ArmRelease>(
    const ArmCallSite &, rclcpp::Client<ArmRelease> &,
    const std::shared_ptr<ArmRelease::Request> &,
    void (ArmSupervisorNode::*)(rclcpp::Client<ArmRelease>::SharedFuture), std::atomic<bool> &);
template bool ArmSupervisorNode::CallArmService<ArmSupervisorNode::ArmMoveJoints>(
    const ArmCallSite &, rclcpp::Client<ArmMoveJoints> &,
    const std::shared_ptr<ArmMoveJoints::Request> &,
    void (ArmSupervisorNode::*)(rclcpp::Client<ArmMoveJoints>::SharedFuture),
    std::atomic<bool> &);

void ArmSupervisorNode::HandleArmAnswer(
    const ArmAnswerRules & rules, const std::int32_t status, const std::string & errmsg)
{
  RCLCPP_INFO(get_logger(), "%s", rules.received_line);
  (this->*rules.status).store(status);
  PrintColouredLine(COLOR_YELLOW, rules.status_label + std::to_string(status));
  const CallOutcome outcome = rules.judge(status);
  std::vector<std::string> flags_set;
  const auto set_flag = [this, &flags_set](
                            std::atomic<bool> ArmSupervisorNode::*flag, const char * line) {
    (this->*flag).store(true);
    ARM_LOG_INFO(fmt::runtime(line), (this->*flag).load());
    // The flag's name is the line's text before its colon.
    const std::string text(line);
    flags_set.push_back(text.substr(0, text.find(':')));
  };
  switch (outcome) {
    case CallOutcome::kSuccess:
      RCLCPP_INFO(get_logger(), "%s", rules.success_line);
      break;
    case CallOutcome::kErrorOnly:
      ARM_LOG_ERROR(fmt::runtime(rules.error_line), status, errmsg);
      break;
    case CallOutcome::kErrorReplan:
      ARM_LOG_ERROR(fmt::runtime(rules.error_line), status, errmsg);
      if (rules.replan_flag != nullptr) {
        set_flag(rules.replan_flag, rules.replan_flag_line);
      } else {
        set_flag(rules.recover_flag, rules.recover_flag_line);
      }
      break;
    case CallOutcome::kErrorRecover:
      ARM_LOG_ERROR(fmt::runtime(rules.error_line), status, errmsg);
      set_flag(rules.recover_flag, rules.recover_flag_line);
      break;
  }
  if (EventsOn()) {
    const std::string meaning = arm_status_meaning(status, outcome);
    std::string summary = std::string(rules.service) + " answered " + std::to_string(status) +
                          " (" + meaning + ")";
    if (!flags_set.empty()) {
      summary += ": " + JoinFlags(flags_set);
    }
    TaskEvent answered = NewEvent(TaskEvent::MOTION_ANSWERED, std::move(summary));
    answered.service = rules.service;
    answered.target_name = arm_call_target_.load();
    answered.status = status;
    answered.status_meaning = meaning;
    answered.errmsg = errmsg;
    answered.flags = flags_set;
    EmitEvent(std::move(answered));
  }
  (this->*rules.complete).store(true, std::memory_order_release);
}

void ArmSupervisorNode::DropLateArmAnswer(const char * service, const std::int32_t status)
{
  RCLCPP_WARN(
      get_logger(), "Dropped a %s answer (%d) to a request that was sent again", service, status);
  if (EventsOn()) {
    TaskEvent event = NewEvent(
        TaskEvent::MOTION_LATE_ANSWER,
        std::string(service) + ": an answer to a request that was sent again came late, "
                               "dropped (" + std::to_string(status) + ")");
    event.service = service;
    event.status = status;
    EmitEvent(std::move(event));
  }
}

void ArmSupervisorNode::req_grab_callback(rclcpp::Client<ArmGrab>::SharedFuture future)
{
  static const ArmAnswerRules kRules{
      "arm_grab",
      "Succeed to receive response from arm grab service",
      "arm grab status:",
      "Succeed to move to grab pose",
      "ErrorCode: {}, Failed to move to grab pose, errmsg: {}",
      judge_grab_status,
      &ArmSupervisorNode::arm_grab_status_,
      &ArmSupervisorNode::is_grab_need_to_replan_,
      "is_grab_need_to_replan_: {}",
      &ArmSupervisorNode::is_grab_need_to_recover_,
      "is_grab_need_to_recover_: {}",
      &ArmSupervisorNode::req_grab_complete_};
  const auto response = future.get();
  HandleArmAnswer(kRules, response->status, response->errmsg);
}

void ArmSupervisorNode::req_release_callback(rclcpp::Client<ArmRelease>::SharedFuture future)
{
  // Release answers never ask for a replan; any other failure needs the arm recovered.
  static const ArmAnswerRules kRules{
      "arm_release",
      "Succeed to receive response from arm release service",
      "arm release status:",
      "Succeed to move to release pose",
      "ErrorCode: {}, Failed to move to release pose, errmsg: {}",
      judge_release_status,
      &ArmSupervisorNode::arm_release_status_,
      nullptr,
      nullptr,
      &ArmSupervisorNode::is_release_need_to_recover_,
      "is_release_need_to_recover_: {}",
      &ArmSupervisorNode::req_release_complete_};
  const auto response = future.get();
  HandleArmAnswer(kRules, response->status, response->errmsg);
}

void ArmSupervisorNode::req_movejoints_callback(rclcpp::Client<ArmMoveJoints>::SharedFuture future)
{
  // Joint moves never ask for a replan; any other failure needs the arm recovered.
  static const ArmAnswerRules kRules{
      "arm_movejoints",
      "Succeed to receive response from arm movejoints service",
      "arm movejoints status:",
      "Succeed to move to target joints pose",
      "ErrorCode: {}, Failed to move to target joints pose, errmsg: {}",
      judge_movejoints_status,
      &ArmSupervisorNode::arm_movejoints_status_,
      nullptr,
      nullptr,
      &ArmSupervisorNode::is_movejoints_need_to_recover_,
      "is_movejoints_need_to_recover_: {}",
      &ArmSupervisorNode::req_movejoints_complete_};
  const auto response = future.get();
  HandleArmAnswer(kRules, response->status, response->errmsg);
}

void ArmSupervisorNode::PublishVoiceBroadcast(const std::int32_t code)
{
  std_msgs::msg::Int32 voice_msg;
  voice_msg.data = voice_code(code);
  voice_broadcast_pub_->publish(voice_msg);
}

}  // namespace quorvel_arm_supervisor

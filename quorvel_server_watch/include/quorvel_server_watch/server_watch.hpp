// Following, while a request waits for its answer, the server it was sent to.
//
// A ROS 2 service client hears nothing when a server goes away. A request that went to a
// program which then died, or which was cut off for longer than the DDS lease, is never
// answered; one written into a cut that long is never delivered. The graph does list a
// service's servers: the DDS readers of its request topic, each with an id that a restarted
// program does not keep. ServerWatch compares what the graph lists with what was there when
// the request went out, so that its caller can send the request again once a server is back.
#ifndef QUORVEL_SERVER_WATCH__SERVER_WATCH_HPP_
#define QUORVEL_SERVER_WATCH__SERVER_WATCH_HPP_

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <set>
#include <string>

#include <rmw/types.h>
#include <rclcpp/rclcpp.hpp>

namespace quorvel_server_watch
{

using ServerId = std::array<std::uint8_t, RMW_GID_STORAGE_SIZE>;
using ServerIds = std::set<ServerId>;

// "rq/quorvel_service/arm_grabRequest" for "/quorvel_service/arm_grab": the DDS topic on which
// the rmw layers of ROS 2 Humble carry a service's requests.
inline std::string request_topic(const std::string & service_name)
{
  const std::size_t start = !service_name.empty() && service_name.front() == '/' ? 1 : 0;
  return "rq/" + service_name.substr(start) + "Request";
}

// The servers of `service_name` (fully qualified, as ClientBase::get_service_name() gives it)
// in the node's view of the graph now. Any thread; never waits for the network. Throws what the
// client library throws when the graph cannot be read.
inline ServerIds list_servers(const rclcpp::Node & node, const std::string & service_name)
{
  ServerIds servers;
  for (const rclcpp::TopicEndpointInfo & info :
       node.get_subscriptions_info_by_topic(request_topic(service_name), true)) {
    servers.insert(info.endpoint_gid());
  }
  return servers;
}

// The server of one outstanding request, judged from successive looks at the graph. Not
// thread-safe: one waiting thread owns it.
class ServerWatch
{
public:
  using Clock = std::chrono::steady_clock;

  enum class Change
  {
    kNone,
    // The servers the request went to have left the graph (a long cut, or a program that ended
    // and whose lease ran out), or a server it did not go to has appeared and stayed while they
    // are still listed (replaced(): a program that restarted before its old self's lease ran
    // out; the old one cannot answer). Once per absence.
    kGone,
    // After kGone, a server has been listed and reachable (matched by the client) for the
    // settle time: the request can be sent again, and sent() called.
    kBack,
  };

  // `settle`: how long a returning or new server must be there before it counts, so that the
  // request is not sent before both directions of the service have matched.
  explicit ServerWatch(Clock::duration settle = std::chrono::seconds(1)) : settle_(settle) {}

  // The request went out (again) while `servers` were listed.
  void sent(const ServerIds & servers, Clock::time_point now)
  {
    asked_ = servers;
    sent_at_ = now;
    gone_since_.reset();
    back_since_.reset();
    newcomer_since_.reset();
    replaced_ = false;
  }

  // One look while the answer is awaited: `servers` listed now, `reachable` whether the client
  // is matched with a server now (service_is_ready()).
  Change update(const ServerIds & servers, bool reachable, Clock::time_point now)
  {
    if (asked_.empty()) {
      // The graph had not listed the server yet when the request went out: the first server it
      // lists is the one asked. Until then the client's own match tells whether one is there.
      asked_ = servers;
      if (servers.empty() && !reachable && !gone_since_) {
        gone_since_ = now;
        return Change::kGone;
      }
      if (servers.empty() && !gone_since_) {
        return Change::kNone;
      }
    }
    if (!gone_since_) {
      const bool still_listed =
          std::any_of(asked_.begin(), asked_.end(), [&servers](const ServerId & id) {
            return servers.count(id) != 0;
          });
      if (!still_listed) {
        gone_since_ = now;
        return Change::kGone;
      }
      const bool newcomer =
          std::any_of(servers.begin(), servers.end(), [this](const ServerId & id) {
            return asked_.count(id) == 0;
          });
      if (!newcomer) {
        newcomer_since_.reset();
        return Change::kNone;
      }
      if (!newcomer_since_) {
        newcomer_since_ = now;
      }
      if (now - *newcomer_since_ < settle_) {
        return Change::kNone;
      }
      replaced_ = true;
      gone_since_ = *newcomer_since_;
      back_since_ = *newcomer_since_;
      return Change::kGone;
    }
    if (servers.empty() || !reachable) {
      back_since_.reset();
      return Change::kNone;
    }
    if (!back_since_) {
      back_since_ = now;
    }
    return now - *back_since_ >= settle_ ? Change::kBack : Change::kNone;
  }

  // After kGone: whether a new server took the place of one that is still listed.
  bool replaced() const { return replaced_; }
  // After kGone: when the server was first seen gone (replaced(): when its successor appeared).
  std::optional<Clock::time_point> gone_since() const { return gone_since_; }
  // When the request last went out.
  Clock::time_point sent_at() const { return sent_at_; }

private:
  Clock::duration settle_;
  ServerIds asked_;
  Clock::time_point sent_at_{};
  std::optional<Clock::time_point> gone_since_;
  std::optional<Clock::time_point> back_since_;
  std::optional<Clock::time_point> newcomer_since_;
  bool replaced_ = false;
};

// Seconds between two points of the steady clock, for the lines that say how long.
inline double seconds_between(
    ServerWatch::Clock::time_point from, ServerWatch::Clock::time_point to)
{
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace quorvel_server_watch

#endif  // QUORVEL_SERVER_WATCH__SERVER_WATCH_HPP_

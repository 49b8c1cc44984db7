// The HTTP side of quorvel dashboard: serves the page, its state and a stream of changes, and
// passes the two buttons on to the ROS side; or, for a recording, the page, the recording's
// tasks and the state at any moment of it, and nothing that changes anything. Refuses requests
// addressed to any other host name (DNS rebinding) and anything but reading without the
// start-up token.
#ifndef QUORVEL_TOOLS__DASHBOARD__SERVER_HPP_
#define QUORVEL_TOOLS__DASHBOARD__SERVER_HPP_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dashboard/hub.hpp"

namespace httplib
{
class Server;
}

namespace quorvel_tools
{

class BagReplay;

enum class ButtonAction
{
  kSendTask,
  kCancel,
};

// How the ROS side answered a button: an HTTP status and a sentence for the page.
struct ButtonAnswer
{
  int http_status = 500;
  std::string message;
  std::string goal_id;  // of an accepted goal
};

// Runs a button's action and waits for the answer (bounded). Called on HTTP threads.
using ButtonHandler = std::function<ButtonAnswer(ButtonAction, std::int32_t cmd)>;

// 128 random bits as 32 lower-case hex digits. Throws when no random source is available.
std::string make_token();

// True when `given` equals `token`, in a time that does not depend on where they differ.
bool token_matches(const std::string & given, const std::string & token);

// Whether `address` is an IPv4 or IPv6 address literal (what --bind takes).
bool is_ip_literal(const std::string & address);

// The Host header values that name this server: the loopback names and the bound address,
// each with the port.
std::vector<std::string> allowed_hosts(const std::string & bind_address, int port);
// Case-insensitive; an empty header is refused.
bool host_allowed(const std::string & host_header, const std::vector<std::string> & allowed);

// The address a person opens: the bound address, or loopback when bound to every interface.
std::string page_url(const std::string & bind_address, int port, const std::string & token);

// One arm's live page inside a fleet's server: everything of a dashboard, under `prefix`
// ("/arm/3": its page at /arm/3/, its state at /arm/3/api/state).
struct LiveSite
{
  std::string prefix;
  DashboardHub * hub = nullptr;
  ButtonHandler on_button;
};

// The fleet's own page at "/": its state as JSON text, and a number that changes whenever that
// state may have (the stream sends on a change, and once a second for the ages on the page).
struct FleetSite
{
  std::function<std::string()> state_text;
  std::function<std::uint64_t()> revision;
};

class DashboardServer
{
public:
  struct Settings
  {
    // Request threads; each open stream holds one (the hub caps the streams below this).
    std::size_t threads = 24;
    // A comment line goes down a quiet stream this often, so that a closed page is noticed.
    std::chrono::milliseconds keepalive{10000};
  };

  // The live page of the supervisor.
  DashboardServer(DashboardHub & hub, std::string token, ButtonHandler on_button);
  DashboardServer(
      DashboardHub & hub, std::string token, ButtonHandler on_button, Settings settings);
  // The page of a recording: GET only; any other method is answered 405 (403 without the
  // token, as in live mode).
  DashboardServer(BagReplay & replay, std::string token, Settings settings);
  // A fleet: its page at "/", and each arm's live page under its site's prefix; one token,
  // one Host check for all of them.
  DashboardServer(
      std::vector<LiveSite> arms, FleetSite fleet, std::string token, Settings settings);
  ~DashboardServer();

  DashboardServer(const DashboardServer &) = delete;
  DashboardServer & operator=(const DashboardServer &) = delete;

  // Binds the listening socket. Returns "" or why it could not, naming the address and port.
  std::string bind(const std::string & address, int port);
  // Serves on a thread of its own until stop(). Call once, after a successful bind().
  void start();
  // Ends the streams, stops listening, waits for the request threads. Idempotent.
  void stop();

private:
  void configure();
  void add_routes();
  void add_assets(const std::string & prefix, bool fleet_page);
  void add_live_routes(const LiveSite & site);
  void add_replay_routes();
  void add_fleet_routes();

  std::vector<LiveSite> sites_;   // live: one without a prefix, or a fleet's arms
  BagReplay * replay_ = nullptr;  // replay
  std::optional<FleetSite> fleet_;
  std::atomic<int> fleet_streams_{0};
  const std::string token_;
  const Settings settings_;
  std::vector<std::string> allowed_hosts_;
  std::unique_ptr<httplib::Server> server_;
  std::thread thread_;
};

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__DASHBOARD__SERVER_HPP_

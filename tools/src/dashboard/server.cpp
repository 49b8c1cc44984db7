#include "dashboard/server.hpp"

#include <arpa/inet.h>
#include <pthread.h>
#include <sys/socket.h>
#include <csignal>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <random>

#include <httplib.h>

#include "dashboard/replay.hpp"
#include "web_assets.hpp"

namespace quorvel_tools
{

namespace
{

constexpr char kTokenHeader[] = "X-Quorvel-Token";
constexpr char kJson[] = "application/json";
constexpr char kText[] = "text/plain; charset=utf-8";

// Everything the page needs comes from this server; nothing may frame it.
constexpr char kContentSecurityPolicy[] =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self' data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

std::string lower(std::string text)
{
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  return text;
}

bool is_ipv6_literal(const std::string & address)
{
  in6_addr v6{};
  return inet_pton(AF_INET6, address.c_str(), &v6) == 1;
}

// "[::1]" for IPv6, the address as it is otherwise.
std::string host_part(const std::string & address)
{
  return is_ipv6_literal(address) ? "[" + address + "]" : address;
}

// The canonical text of an IPv6 literal, as a browser writes it ("::1" for "0:0::1").
std::string canonical_ipv6(const std::string & address)
{
  in6_addr v6{};
  char text[INET6_ADDRSTRLEN] = {};
  if (inet_pton(AF_INET6, address.c_str(), &v6) != 1 ||
      inet_ntop(AF_INET6, &v6, text, sizeof(text)) == nullptr) {
    return address;
  }
  return text;
}

bool is_any_address(const std::string & address)
{
  return address == "0.0.0.0" || canonical_ipv6(address) == "::";
}

std::string bind_error(int error, const std::string & address, int port)
{
  const std::string where = host_part(address) + ":" + std::to_string(port);
  switch (error) {
    case EADDRINUSE:
      return "cannot listen on " + where + ": port " + std::to_string(port) +
             " is already in use (another dashboard?); choose another with --port";
    case EADDRNOTAVAIL:
      return "cannot listen on " + where + ": " + address +
             " is not an address of this machine; --bind takes one of its own addresses "
             "(default 127.0.0.1)";
    case EACCES:
      return "cannot listen on " + where +
             ": permission denied (ports below 1024 need "
             "privileges); choose another with --port";
    case 0:
      return "cannot listen on " + where + " (check --bind and --port)";
    default:
      return "cannot listen on " + where + ": " + std::strerror(error);
  }
}

void send_text(httplib::Response & res, int status, const std::string & text)
{
  res.status = status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(text + "\n", kText);
}

void send_answer(httplib::Response & res, const ButtonAnswer & answer)
{
  nlohmann::json body = {
      {"ok", answer.http_status >= 200 && answer.http_status < 300},
      {"message", answer.message},
  };
  if (!answer.goal_id.empty()) {
    body["goal_id"] = answer.goal_id;
  }
  res.status = answer.http_status;
  res.set_header("Cache-Control", "no-store");
  res.set_content(json_text(body), kJson);
}

// The request body of POST /api/task: empty, or {"cmd": N} with a 32-bit N.
bool read_task_cmd(const std::string & body, std::int32_t & cmd, std::string & error)
{
  cmd = 1;
  if (body.find_first_not_of(" \t\r\n") == std::string::npos) {
    return true;
  }
  const nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
  if (parsed.is_discarded() || !parsed.is_object()) {
    error = "the body must be empty or a JSON object such as {\"cmd\": 1}";
    return false;
  }
  const auto found = parsed.find("cmd");
  if (found == parsed.end()) {
    return true;
  }
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  const bool in_range = found->is_number_unsigned()
                            ? found->get<std::uint64_t>() <= static_cast<std::uint64_t>(kMax)
                            : found->is_number_integer() && found->get<std::int64_t>() >= kMin &&
                                  found->get<std::int64_t>() <= kMax;
  if (!in_range) {
    error = "cmd must be a 32-bit integer";
    return false;
  }
  cmd = found->get<std::int32_t>();
  return true;
}

// The query parameter `name` as a whole 64-bit integer.
bool read_integer(const httplib::Request & req, const char * name, std::int64_t & value)
{
  const std::string text = req.get_param_value(name);
  const char * end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && stop == end;
}

}  // namespace

std::string make_token()
{
  std::random_device source;
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (int word = 0; word < 4; ++word) {
    std::uint32_t bits = source();
    for (int digit = 0; digit < 8; ++digit) {
      token.push_back(kHex[bits & 0x0FU]);
      bits >>= 4;
    }
  }
  return token;
}

bool token_matches(const std::string & given, const std::string & token)
{
  if (given.size() != token.size() || token.empty()) {
    return false;
  }
  unsigned char difference = 0;
  for (std::size_t i = 0; i < token.size(); ++i) {
    difference |= static_cast<unsigned char>(given[i] ^ token[i]);
  }
  return difference == 0;
}

bool is_ip_literal(const std::string & address)
{
  in_addr v4{};
  return inet_pton(AF_INET, address.c_str(), &v4) == 1 || is_ipv6_literal(address);
}

std::vector<std::string> allowed_hosts(const std::string & bind_address, int port)
{
  const std::string suffix = ":" + std::to_string(port);
  std::vector<std::string> names = {"127.0.0.1", "localhost", "[::1]", host_part(bind_address)};
  if (is_ipv6_literal(bind_address)) {
    names.push_back("[" + canonical_ipv6(bind_address) + "]");
  }
  std::vector<std::string> hosts;
  for (const std::string & name : names) {
    hosts.push_back(lower(name) + suffix);
    // A browser leaves out the scheme's default port.
    if (port == 80) {
      hosts.push_back(lower(name));
    }
  }
  std::sort(hosts.begin(), hosts.end());
  hosts.erase(std::unique(hosts.begin(), hosts.end()), hosts.end());
  return hosts;
}

bool host_allowed(const std::string & host_header, const std::vector<std::string> & allowed)
{
  if (host_header.empty()) {
    return false;
  }
  const std::string host = lower(host_header);
  return std::find(allowed.begin(), allowed.end(), host) != allowed.end();
}

std::string page_url(const std::string & bind_address, int port, const std::string & token)
{
  std::string host = host_part(bind_address);
  if (is_any_address(bind_address)) {
    host = "127.0.0.1";
  }
  return "http://" + host + ":" + std::to_string(port) + "/?token=" + token;
}

DashboardServer::DashboardServer(DashboardHub & hub, std::string token, ButtonHandler on_button)
    : DashboardServer(hub, std::move(token), std::move(on_button), Settings{})
{
}

DashboardServer::DashboardServer(
    DashboardHub & hub, std::string token, ButtonHandler on_button, Settings settings)
    : sites_{LiveSite{"", &hub, std::move(on_button)}},
      token_(std::move(token)),
      settings_(settings),
      server_(std::make_unique<httplib::Server>())
{
  configure();
}

DashboardServer::DashboardServer(
    std::vector<LiveSite> arms, FleetSite fleet, std::string token, Settings settings)
    : sites_(std::move(arms)),
      fleet_(std::move(fleet)),
      token_(std::move(token)),
      settings_(settings),
      server_(std::make_unique<httplib::Server>())
{
  configure();
}

DashboardServer::DashboardServer(BagReplay & replay, std::string token, Settings settings)
    : replay_(&replay),
      token_(std::move(token)),
      settings_(settings),
      server_(std::make_unique<httplib::Server>())
{
  configure();
}

DashboardServer::~DashboardServer() { stop(); }

void DashboardServer::configure()
{
  const std::size_t threads = settings_.threads;
  server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  // Small writes of the stream must leave at once, not wait for the next one.
  server_->set_tcp_nodelay(true);
  // cpp-httplib's default adds SO_REUSEPORT, with which a second dashboard on the same port
  // starts without a word and the kernel deals the connections out between the two, tokens
  // and all. SO_REUSEADDR alone still allows a restart while old connections linger.
  server_->set_socket_options([](socket_t socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  });
  // Idle keep-alive connections hold a request thread; a short wait lets Ctrl-C end quickly.
  server_->set_keep_alive_timeout(1);
  server_->set_read_timeout(5, 0);
  server_->set_write_timeout(5, 0);
  server_->set_payload_max_length(4096);
  server_->set_default_headers({
      {"X-Content-Type-Options", "nosniff"},
      {"X-Frame-Options", "DENY"},
      {"Referrer-Policy", "no-referrer"},
      {"Content-Security-Policy", kContentSecurityPolicy},
  });
  add_routes();
}

void DashboardServer::add_routes()
{
  // A page from another site that rebinds its own name to 127.0.0.1 still sends its own name.
  server_->set_pre_routing_handler([this](const httplib::Request & req, httplib::Response & res) {
    if (!host_allowed(req.get_header_value("Host"), allowed_hosts_)) {
      send_text(res, 403, "forbidden: this dashboard answers only to its own address");
      return httplib::Server::HandlerResponse::Handled;
    }
    // Checked before the body is read: a refused press costs nothing and does nothing.
    if (req.method != "GET" && req.method != "HEAD" &&
        !token_matches(req.get_header_value(kTokenHeader), token_)) {
      send_text(
          res,
          403,
          "forbidden: the buttons need the token of the address quorvel dashboard printed at "
          "its start");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  const httplib::Server::HandlerWithResponse on_error = [](const httplib::Request &,
                                                           httplib::Response & res) {
    if (!res.body.empty()) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    send_text(res, res.status, res.status == 404 ? "not found" : "request refused");
    return httplib::Server::HandlerResponse::Handled;
  };
  server_->set_error_handler(on_error);

  if (fleet_) {
    add_assets("", true);
    add_fleet_routes();
  }
  for (const LiveSite & site : sites_) {
    add_assets(site.prefix, false);
    add_live_routes(site);
  }
  if (replay_ != nullptr) {
    add_assets("", false);
    add_replay_routes();
  }
}

void DashboardServer::add_assets(const std::string & prefix, bool fleet_page)
{
  // The fleet's page is fleet.*, a dashboard's every other file; their links are relative, so
  // that a dashboard's page works under a fleet's prefix as it does at the root.
  for (const WebAsset & asset : web_assets()) {
    const bool of_fleet = std::string(asset.path).rfind("/fleet", 0) == 0;
    if (of_fleet != fleet_page) {
      continue;
    }
    const WebAsset * served = &asset;
    const auto handler = [served](const httplib::Request &, httplib::Response & res) {
      // The page is opened with the token in its address: keep it out of caches.
      res.set_header("Cache-Control", "no-store");
      res.set_content(served->body, served->content_type);
    };
    server_->Get(prefix + asset.path, handler);
    const std::string index = fleet_page ? "/fleet.html" : "/index.html";
    if (asset.path == index) {
      server_->Get(prefix + "/", handler);
    }
  }
  if (fleet_page) {
    return;
  }
  if (!prefix.empty()) {
    // "/arm/3" without its slash would resolve the page's links one level too high.
    server_->Get(prefix, [prefix](const httplib::Request & req, httplib::Response & res) {
      // Only the token goes along, and only as the hex digits it is made of.
      std::string token = req.get_param_value("token");
      const bool hex = std::all_of(token.begin(), token.end(), [](unsigned char c) {
        return std::isxdigit(c) != 0;
      });
      res.set_redirect(prefix + "/" + (token.empty() || !hex ? "" : "?token=" + token));
    });
  }
  server_->Get(prefix + "/api/mode", [this](const httplib::Request &, httplib::Response & res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(json_text({{"mode", replay_ != nullptr ? "replay" : "live"}}), kJson);
  });
}

void DashboardServer::add_fleet_routes()
{
  server_->Get("/api/fleet", [this](const httplib::Request &, httplib::Response & res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(fleet_->state_text(), kJson);
  });
  server_->Get("/api/fleet/stream", [this](const httplib::Request &, httplib::Response & res) {
    if (fleet_streams_.fetch_add(1) >= static_cast<int>(settings_.threads) - 4) {
      fleet_streams_.fetch_sub(1);
      send_text(res, 503, "too many open pages; close one and reload");
      return;
    }
    struct Position
    {
      std::uint64_t revision = 0;
      std::chrono::steady_clock::time_point sent{};
      bool first = true;
    };
    auto position = std::make_shared<Position>();
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, position](std::size_t, httplib::DataSink & sink) {
          // A change goes out within a poll; the ages on the page move once a second anyway.
          constexpr auto kPoll = std::chrono::milliseconds(20);
          constexpr auto kRefresh = std::chrono::seconds(1);
          while (sink.is_writable() && server_->is_running()) {
            const std::uint64_t revision = fleet_->revision();
            const auto now = std::chrono::steady_clock::now();
            if (position->first || revision != position->revision ||
                now - position->sent >= kRefresh) {
              std::string text = position->first ? "retry: 1000\n\n" : "";
              position->first = false;
              position->revision = revision;
              position->sent = now;
              text += "event: fleet\ndata: " + fleet_->state_text() + "\n\n";
              return sink.write(text.data(), text.size());
            }
            std::this_thread::sleep_for(kPoll);
          }
          return false;
        },
        [this](bool) { fleet_streams_.fetch_sub(1); });
  });
}

void DashboardServer::add_live_routes(const LiveSite & site)
{
  DashboardHub * const hub = site.hub;
  const std::string prefix = site.prefix;
  const ButtonHandler on_button = site.on_button;
  server_->Get(prefix + "/api/state", [hub](const httplib::Request &, httplib::Response & res) {
    res.set_header("Cache-Control", "no-store");
    res.set_content(hub->snapshot_text(), kJson);
  });

  server_->Get(prefix + "/api/stream", [this, hub](const httplib::Request &, httplib::Response & res) {
    if (!hub->open_stream()) {
      send_text(res, 503, "too many open pages; close one and reload");
      return;
    }
    auto position = std::make_shared<StreamPosition>();
    auto first = std::make_shared<bool>(true);
    const auto keepalive = settings_.keepalive;
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [hub, position, first, keepalive](std::size_t, httplib::DataSink & sink) {
          std::string text;
          if (*first) {
            // Reconnect quickly after the dashboard was restarted.
            text = "retry: 1000\n\n";
            *first = false;
          }
          std::string changes;
          if (!hub->next_stream_text(*position, changes, keepalive)) {
            return false;
          }
          text += changes;
          return sink.write(text.data(), text.size());
        },
        [hub](bool) { hub->close_stream(); });
  });

  // With a content reader, a POST without a body and without Content-Length (curl -X POST)
  // is a press like any other rather than a malformed request.
  const auto button = [on_button](ButtonAction action) {
    return [on_button, action](
               const httplib::Request & req,
               httplib::Response & res,
               const httplib::ContentReader & read_content) {
      std::string body;
      const bool has_body = req.has_header("Content-Length") ||
                            lower(req.get_header_value("Transfer-Encoding")) == "chunked";
      if (has_body && !read_content([&body](const char * data, std::size_t size) {
            body.append(data, size);
            return true;
          })) {
        send_text(res, 400, "could not read the request body");
        return;
      }
      std::int32_t cmd = 1;
      std::string error;
      if (action == ButtonAction::kSendTask && !read_task_cmd(body, cmd, error)) {
        send_text(res, 400, error);
        return;
      }
      send_answer(res, on_button(action, cmd));
    };
  };
  server_->Post(prefix + "/api/task", button(ButtonAction::kSendTask));
  server_->Post(prefix + "/api/cancel", button(ButtonAction::kCancel));
}

void DashboardServer::add_replay_routes()
{
  // Answers with what `produce` gives; a bag that became unreadable after the start is the
  // server's fault, said in words.
  const auto answer = [](httplib::Response & res, const std::function<nlohmann::json()> & produce) {
    try {
      const nlohmann::json body = produce();
      res.set_header("Cache-Control", "no-store");
      res.set_content(json_text(body), kJson);
    } catch (const std::exception & error) {
      send_text(res, 500, std::string("cannot read the recording: ") + error.what());
    }
  };

  server_->Get("/api/replay", [this, answer](const httplib::Request &, httplib::Response & res) {
    answer(res, [this] { return replay_->info(); });
  });

  server_->Get(
      "/api/replay/task", [this, answer](const httplib::Request & req, httplib::Response & res) {
        std::int64_t index = 0;
        if (!read_integer(req, "index", index) || index < 0) {
          send_text(res, 400, "give the task as ?index=N (from 0, as /api/replay lists them)");
          return;
        }
        std::optional<nlohmann::json> detail;
        answer(res, [&] {
          detail = replay_->task_detail(static_cast<std::size_t>(index));
          return detail ? *detail : nlohmann::json(nullptr);
        });
        if (!detail && res.status != 500) {
          send_text(res, 404, "no task " + std::to_string(index) + " in this recording");
        }
      });

  // The state at a moment: ?at=NS after the recording's first message; without it, its end.
  // /api/state answers as in live mode; /api/replay/state leaves the plot out.
  const auto state = [this, answer](bool with_plot) {
    return [this, answer, with_plot](const httplib::Request & req, httplib::Response & res) {
      std::int64_t at = replay_->duration_ns();
      if (req.has_param("at") && !read_integer(req, "at", at)) {
        send_text(res, 400, "?at= takes whole nanoseconds after the recording's start");
        return;
      }
      answer(res, [&] { return replay_->snapshot_at(at, with_plot); });
    };
  };
  server_->Get("/api/state", state(true));
  server_->Get("/api/replay/state", state(false));

  // A recording changes nothing: every such request is refused, with what is allowed.
  const auto refuse = [](const httplib::Request &, httplib::Response & res) {
    res.set_header("Allow", "GET, HEAD");
    send_text(res, 405, "a recording: nothing here can be changed (this page only reads)");
  };
  server_->Post(".*", refuse);
  server_->Put(".*", refuse);
  server_->Patch(".*", refuse);
  server_->Delete(".*", refuse);
}

std::string DashboardServer::bind(const std::string & address, int port)
{
  allowed_hosts_ = allowed_hosts(address, port);
  errno = 0;
  if (!server_->bind_to_port(address, port)) {
    return bind_error(errno, address, port);
  }
  return "";
}

void DashboardServer::start()
{
  // Signals are for the main thread, which watches for Ctrl-C; the request threads, started
  // from this one, inherit the mask.
  sigset_t blocked;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);

  // stop() has no effect before the server runs; do not return before it does.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!server_->is_running() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void DashboardServer::stop()
{
  for (const LiveSite & site : sites_) {
    site.hub->stop();
  }
  if (thread_.joinable()) {
    server_->stop();
    thread_.join();
  }
}

}  // namespace quorvel_tools

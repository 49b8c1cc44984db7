// quorvel fleet: one page for many arms, each on a ROS domain of its own. A client library
// context, a node and a dashboard per arm, each spun on a thread of its own; the fleet's tiles
// are made from the arms' dashboards.
#include <csignal>
#include <cstdlib>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "commands.hpp"
#include "dashboard/arm_watcher.hpp"
#include "dashboard/hub.hpp"
#include "dashboard/server.hpp"
#include "fleet/fleet_config.hpp"
#include "fleet/fleet_model.hpp"
#include "session.hpp"

namespace quorvel_tools
{

const char kFleetUsage[] =
    "usage: quorvel fleet (--domains LIST | --config FLEET.yaml) [--port N] [--bind ADDRESS]\n"
    "                     [--action NAME] [--detect-service NAME]\n"
    "\n"
    "Serves one page for many arms, each with its programs on a ROS domain of its own, by\n"
    "default on http://127.0.0.1:8766/, and prints its address with an access token:\n"
    "  fleet: http://127.0.0.1:8766/?token=<32 hex digits>\n"
    "A tile per arm, the most urgent first: its name, domain and host, whether it is heard\n"
    "from, the task's phase and step, its time, picked and given up, the arm normal or\n"
    "abnormal, an environment stop, the last result with its code, alarms (a server gone, an\n"
    "abnormal arm, a step waited for too long, a failed or lost task) and the tasks of the last\n"
    "hour. A tile opens that arm's full dashboard, served by the same process (its buttons need\n"
    "the token, as on quorvel dashboard). Arms that start or stop later appear and go silent on\n"
    "the page by themselves.\n"
    "\n"
    "--domains 40-59 watches those domains and names the arms after them. A FLEET.yaml names\n"
    "the arms and sets the alarms' thresholds:\n"
    "  alarms: {wait_s: 120, silent_s: 30}\n"
    "  arms:\n"
    "    - {name: cell-1, domain: 40}\n"
    "    - {name: cell-2, domain: 41, host: arm41.local, peers: [10.0.0.41], interface: eth1}\n"
    "peers and interface go into the Cyclone DDS configuration of that arm's domain, for arms\n"
    "on other hosts (with ROS_LOCALHOST_ONLY=0). A bad file is refused with its line, column\n"
    "and key.\n"
    "\n"
    "It listens on loopback only unless --bind says otherwise, answers only requests that name\n"
    "its own address, and carries out a button only with the token. Ctrl-C stops it.\n"
    "\n"
    "options:\n"
    "  --domains LIST           domains to watch: 40-59, 3,7,9-12 (0 to 232)\n"
    "  --config FLEET.yaml      the arms and alarm thresholds from this file\n"
    "  --port N                 TCP port (default 8766)\n"
    "  --bind ADDRESS           IP address to listen on (default 127.0.0.1)\n"
    "  --action NAME            every arm's action (default /quorvel_action/arm_task)\n"
    "  --detect-service NAME    every arm's detection service\n"
    "                           (default /quorvel_service/detect_trash)\n"
    "\n"
    "exit status: 0 stopped by Ctrl-C; 1 could not start (a bad FLEET.yaml, port in use,\n"
    "address not available, ROS error); 2 wrong arguments.\n";

std::string domains_option(const std::string & text)
{
  try {
    parse_domain_list(text);
  } catch (const FleetConfigError & error) {
    throw UsageError(std::string("--domains: ") + error.what());
  }
  return text;
}

FleetOptions parse_fleet(const std::vector<std::string> & args)
{
  FleetOptions options;
  ArgReader reader(args);
  std::string name;
  std::optional<std::string> value;
  while (reader.has_more()) {
    if (!reader.next_option(name, value)) {
      throw UsageError("unexpected argument '" + reader.next_positional() + "'");
    }
    if (name == "help") {
      options.help = true;
    } else if (name == "domains") {
      options.domains = domains_option(reader.option_value(name, value));
    } else if (name == "config") {
      options.config_file = reader.option_value(name, value);
      if (options.config_file.empty()) {
        throw UsageError("--config: give the fleet file");
      }
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
    } else if (name == "detect-service") {
      options.detect_service = check_ros_name(reader.option_value(name, value), "--detect-service");
    } else {
      throw_unknown_option(name);
    }
  }
  if (!options.help && options.domains.empty() == options.config_file.empty()) {
    throw UsageError(
        options.domains.empty() ? "say which arms: --domains LIST or --config FLEET.yaml"
                                : "--domains and --config both say which arms; give one");
  }
  return options;
}

namespace
{

// How long an arm's thread waits for its node's work before it looks at the buttons.
constexpr auto kArmSpin = std::chrono::milliseconds(50);
// How often the fleet looks for arms whose dashboards changed.
constexpr auto kFleetPoll = std::chrono::milliseconds(20);
// The tiles' ages and the silence of an arm move with time alone.
constexpr auto kFleetRefresh = std::chrono::seconds(1);
// Streams of each arm's page; the fleet page has its own.
constexpr std::size_t kStreamsPerArm = 6;

// One arm: its domain's context, the node on it, and that node's dashboard.
struct Arm
{
  FleetArm config;
  std::string prefix;
  rclcpp::Context::SharedPtr context;
  rclcpp::Node::SharedPtr node;
  std::unique_ptr<rclcpp::executors::SingleThreadedExecutor> executor;
  std::unique_ptr<DashboardHub> hub;
  std::unique_ptr<ArmWatcher> watcher;
  std::thread thread;
  std::uint64_t seen_revision = ~std::uint64_t{0};
  std::optional<ArmState> shown;  // as the fleet's page last had it
};

// The fleet page's state: the model behind a lock, its text, and a revision that grows with
// every new text.
class FleetState
{
public:
  explicit FleetState(FleetConfig config) : model_(std::move(config)) {}

  void update(std::size_t arm, const ArmState & state, std::int64_t now_ms)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    model_.update(arm, state, now_ms);
  }

  void publish(std::int64_t now_ms)
  {
    std::string text;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      text = model_.snapshot(now_ms).dump();
    }
    std::lock_guard<std::mutex> lock(text_mutex_);
    text_ = std::move(text);
    revision_.fetch_add(1);
  }

  std::string text() const
  {
    std::lock_guard<std::mutex> lock(text_mutex_);
    return text_;
  }

  std::uint64_t revision() const { return revision_.load(); }

private:
  std::mutex mutex_;
  FleetModel model_;
  mutable std::mutex text_mutex_;
  std::string text_ = "{}";
  std::atomic<std::uint64_t> revision_{0};
};

FleetConfig load_config(const FleetOptions & options)
{
  if (!options.domains.empty()) {
    return fleet_from_domains(parse_domain_list(options.domains));
  }
  std::ifstream file(options.config_file);
  if (!file) {
    throw FleetConfigError(options.config_file + ": cannot be read");
  }
  std::ostringstream text;
  text << file.rdbuf();
  return parse_fleet_yaml(text.str(), options.config_file);
}

// Each arm's peers and interface, in its own domain's section, after what the user set.
void add_cyclone_sections(const FleetConfig & config)
{
  const std::string sections = cyclone_domains_config(config);
  if (sections.empty()) {
    return;
  }
  const char * current = std::getenv("CYCLONEDDS_URI");
  std::string uri = current != nullptr ? current : "";
  uri += (uri.empty() ? "" : ",") + sections;
  setenv("CYCLONEDDS_URI", uri.c_str(), 1);
}

void start_arm(Arm & arm, const FleetOptions & options, int argc, char ** argv)
{
  rclcpp::InitOptions init_options;
  init_options.shutdown_on_signal = false;
  init_options.set_domain_id(arm.config.domain);
  arm.context = std::make_shared<rclcpp::Context>();
  arm.context->init(argc, argv, init_options);
  arm.node = std::make_shared<rclcpp::Node>(
      "quorvel_fleet", rclcpp::NodeOptions().context(arm.context));
  rclcpp::ExecutorOptions executor_options;
  executor_options.context = arm.context;
  arm.executor = std::make_unique<rclcpp::executors::SingleThreadedExecutor>(executor_options);
  arm.executor->add_node(arm.node);
  arm.hub = std::make_unique<DashboardHub>(kStreamsPerArm);
  arm.watcher =
      std::make_unique<ArmWatcher>(arm.node, *arm.hub, options.action, options.detect_service);
}

// What the fleet needs of an arm's dashboard: four of its sections.
ArmState read_arm(const DashboardModel & model)
{
  nlohmann::json sections = {
      {"task", model.section(Section::kTask)},
      {"arm", model.section(Section::kArm)},
      {"workspace", model.section(Section::kWorkspace)},
      {"endpoints", model.section(Section::kEndpoints)},
  };
  return arm_state_from_snapshot(sections);
}

std::string domain_list_text(const FleetConfig & config)
{
  std::string text;
  for (const FleetArm & arm : config.arms) {
    text += (text.empty() ? "" : ",") + std::to_string(arm.domain);
  }
  return text;
}

}  // namespace

ExitCode run_fleet(const FleetOptions & options, int argc, char ** argv)
{
  std::signal(SIGPIPE, SIG_IGN);
  count_interrupts();

  FleetConfig config;
  try {
    config = load_config(options);
  } catch (const FleetConfigError & error) {
    std::cerr << "quorvel fleet: " << error.what() << std::endl;
    return ExitCode::kFailure;
  }
  add_cyclone_sections(config);

  std::vector<std::unique_ptr<Arm>> arms;
  for (std::size_t i = 0; i < config.arms.size(); ++i) {
    auto arm = std::make_unique<Arm>();
    arm->config = config.arms[i];
    arm->prefix = "/arm/" + std::to_string(i);
    arms.push_back(std::move(arm));
  }
  // Answers what is queued and refuses later buttons: before the server stops.
  const auto close_watchers = [&arms] {
    for (auto & arm : arms) {
      if (arm->watcher) {
        arm->watcher->close();
      }
    }
  };
  // After the server stopped: no request thread calls a watcher any more.
  const auto release_arms = [&arms] {
    for (auto & arm : arms) {
      if (arm->executor && arm->node) {
        arm->executor->remove_node(arm->node);
      }
      arm->watcher.reset();
      arm->executor.reset();
      arm->node.reset();
      if (arm->context && arm->context->is_valid()) {
        arm->context->shutdown("quorvel fleet stopping");
      }
    }
  };
  for (auto & arm : arms) {
    try {
      start_arm(*arm, options, argc, argv);
    } catch (const std::exception & error) {
      std::cerr << "quorvel fleet: " << arm->config.name << " (domain " << arm->config.domain
                << "): " << error.what() << std::endl;
      close_watchers();
      release_arms();
      return ExitCode::kFailure;
    }
  }

  FleetState fleet(config);
  fleet.publish(wall_ms());
  std::vector<LiveSite> sites;
  for (auto & arm : arms) {
    ArmWatcher * watcher = arm->watcher.get();
    sites.push_back(LiveSite{
        arm->prefix, arm->hub.get(), [watcher](ButtonAction action, std::int32_t cmd) {
          return watcher->ask(action, cmd);
        }});
  }
  DashboardServer::Settings settings;
  // Every open page holds a request thread: the fleet's pages and a few arms' pages at once.
  settings.threads = 24 + 2 * arms.size();
  const std::string token = make_token();
  DashboardServer server(
      std::move(sites),
      FleetSite{[&fleet] { return fleet.text(); }, [&fleet] { return fleet.revision(); }},
      token,
      settings);
  const std::string bind_error = server.bind(options.bind, options.port);
  if (!bind_error.empty()) {
    std::cerr << "quorvel fleet: " << bind_error << std::endl;
    close_watchers();
    release_arms();
    return ExitCode::kFailure;
  }

  std::atomic<bool> running{true};
  for (auto & arm : arms) {
    Arm * a = arm.get();
    a->thread = std::thread([a, &running] {
      while (running.load()) {
        a->executor->spin_once(kArmSpin);
        a->watcher->step();
      }
    });
  }
  std::thread refresher([&arms, &fleet, &running] {
    auto published = std::chrono::steady_clock::now();
    while (running.load()) {
      bool changed = false;
      const std::int64_t now_ms = wall_ms();
      for (std::size_t i = 0; i < arms.size(); ++i) {
        Arm & arm = *arms[i];
        std::optional<ArmState> state;
        arm.hub->read([&arm, &state](const DashboardModel & model) {
          if (model.revision() != arm.seen_revision) {
            arm.seen_revision = model.revision();
            state = read_arm(model);
          }
        });
        if (state) {
          fleet.update(i, *state, now_ms);
          // An arm at rest is heard from ten times a second: that alone waits for the next
          // refresh, a change of anything else goes out at once.
          if (!arm.shown || !same_but_heard(*arm.shown, *state)) {
            arm.shown = std::move(state);
            changed = true;
          }
        }
      }
      const auto now = std::chrono::steady_clock::now();
      if (changed || now - published >= kFleetRefresh) {
        fleet.publish(now_ms);
        published = now;
      }
      std::this_thread::sleep_for(kFleetPoll);
    }
  });

  server.start();
  std::cout << "fleet: " << page_url(options.bind, options.port, token) << std::endl;
  std::cerr << "quorvel fleet: watching " << arms.size() << (arms.size() == 1 ? " arm" : " arms")
            << " on domain" << (arms.size() == 1 ? " " : "s ") << domain_list_text(config)
            << "; serving on " << options.bind << " port " << options.port << "; Ctrl-C stops"
            << std::endl;
  if (options.bind != "127.0.0.1" && options.bind != "::1") {
    std::cerr << "quorvel fleet: " << options.bind
              << " is not loopback: other machines may reach the page (the buttons still need "
                 "the token)"
              << std::endl;
  }
  while (interrupt_count() == 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }

  running.store(false);
  refresher.join();
  for (auto & arm : arms) {
    arm->thread.join();
  }
  close_watchers();
  server.stop();
  release_arms();
  std::cerr << "quorvel fleet: stopped" << std::endl;
  return ExitCode::kOk;
}

}  // namespace quorvel_tools

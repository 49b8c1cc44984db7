// The sub-commands of quorvel. Each has its options, a parser that throws UsageError for wrong
// arguments (and sets `help` for -h/--help), its usage text, and a runner that talks to the
// ROS graph through the session and returns the exit code. Runners print results on standard output and errors
// on standard error.
#ifndef QUORVEL_TOOLS__COMMANDS_HPP_
#define QUORVEL_TOOLS__COMMANDS_HPP_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli.hpp"
#include "session.hpp"

namespace quorvel_tools
{

// Default names: those the supervisor uses when no parameter overrides them.
inline constexpr char kDefaultAction[] = "/quorvel_action/arm_task";
inline constexpr char kDefaultDetectService[] = "/quorvel_service/detect_trash";
inline constexpr char kGrabService[] = "/quorvel_service/arm_grab";
inline constexpr char kReleaseService[] = "/quorvel_service/arm_release";
inline constexpr char kMoveJointsService[] = "/quorvel_service/arm_movejoints";
inline constexpr char kArmStateTopic[] = "/robot/unnormal_flag";
inline constexpr char kEnvEnableTopic[] = "/quorvel_topic/env_enable";
inline constexpr char kJointAngleTopic[] = "/robot/joint_angle";
inline constexpr char kEnvDetectTopic[] = "/quorvel/env_detect_topic";
inline constexpr char kVoiceTopic[] = "/arm/voice_broadcast";
inline constexpr char kGripperTopic[] = "/robot/ctrl_io_topic";
inline constexpr char kRecoverTopic[] = "/robot/recover_topic";
inline constexpr char kTaskEventsTopic[] = "/quorvel/arm_supervisor/task_events";

// ---- quorvel task -------------------------------------------------------------------------
struct TaskOptions
{
  bool help = false;
  std::int32_t cmd = 1;
  std::string action = kDefaultAction;
  double server_timeout_s = 10.0;
  std::optional<double> timeout_s;  // for the result; none: as long as the task runs
  bool events = true;               // print the goal's task events as they come
  std::string events_topic = kTaskEventsTopic;
};
TaskOptions parse_task(const std::vector<std::string> & args);
extern const char kTaskUsage[];
ExitCode run_task(const TaskOptions & options, Session & session);

// ---- quorvel cancel -----------------------------------------------------------------------
struct CancelOptions
{
  bool help = false;
  std::string action = kDefaultAction;
  double server_timeout_s = 10.0;
};
CancelOptions parse_cancel(const std::vector<std::string> & args);
extern const char kCancelUsage[];
ExitCode run_cancel(const CancelOptions & options, Session & session);

// ---- quorvel pub --------------------------------------------------------------------------
enum class PubKind
{
  kArmState,
  kEnvEnable,
  kJoints,
  kEnvObject,
};
struct PubOptions
{
  bool help = false;
  PubKind kind = PubKind::kArmState;
  bool flag = false;              // arm-state, env-enable
  std::vector<double> values;     // joints: positions; env-object: x, y
  std::string topic;              // the kind's default topic unless --topic is given
  std::optional<double> rate_hz;  // none: once
};
PubOptions parse_pub(const std::vector<std::string> & args);
extern const char kPubUsage[];
ExitCode run_pub(const PubOptions & options, Session & session);

// ---- quorvel echo -------------------------------------------------------------------------
enum class EchoKind
{
  kVoice,
  kGripper,
  kRecover,
  kEvents,
};
struct EchoOptions
{
  bool help = false;
  EchoKind kind = EchoKind::kVoice;
  std::string topic;                  // the kind's default topic unless --topic is given
  std::optional<std::int64_t> count;  // none: until Ctrl-C
};
EchoOptions parse_echo(const std::vector<std::string> & args);
extern const char kEchoUsage[];
ExitCode run_echo(const EchoOptions & options, Session & session);

// ---- quorvel status -----------------------------------------------------------------------
struct StatusOptions
{
  bool help = false;
  std::string action = kDefaultAction;
  std::string detect_service = kDefaultDetectService;
  double wait_s = 2.0;
};
StatusOptions parse_status(const std::vector<std::string> & args);
extern const char kStatusUsage[];
ExitCode run_status(const StatusOptions & options, Session & session);

// ---- quorvel dashboard --------------------------------------------------------------------
inline constexpr int kDefaultDashboardPort = 8765;
struct DashboardOptions
{
  bool help = false;
  int port = kDefaultDashboardPort;
  std::string bind = "127.0.0.1";
  std::string action = kDefaultAction;
  std::string detect_service = kDefaultDetectService;
  std::string bag;  // a recording to play instead of the live topics
};
DashboardOptions parse_dashboard(const std::vector<std::string> & args);
extern const char kDashboardUsage[];
ExitCode run_dashboard(const DashboardOptions & options, Session & session);
// Whether the arguments ask for a recording (--bag), which needs no ROS graph.
bool dashboard_replays(const std::vector<std::string> & args);
ExitCode run_dashboard_replay(const DashboardOptions & options);

// ---- quorvel fleet ------------------------------------------------------------------------
inline constexpr int kDefaultFleetPort = 8766;
struct FleetOptions
{
  bool help = false;
  std::string domains;      // a domain list ("40-59"), or
  std::string config_file;  // a FLEET.yaml
  int port = kDefaultFleetPort;
  std::string bind = "127.0.0.1";
  std::string action = kDefaultAction;
  std::string detect_service = kDefaultDetectService;
};
FleetOptions parse_fleet(const std::vector<std::string> & args);
extern const char kFleetUsage[];
// Makes a client library context per arm's domain (no Session: the process has many).
ExitCode run_fleet(const FleetOptions & options, int argc, char ** argv);

// ---- quorvel record ------------------------------------------------------------------------
struct RecordOptions
{
  bool help = false;
  std::string output;                // the bag directory; empty: rosbag2_<date>-<time>
  std::vector<std::string> topics;   // empty: the task events and the arm's topics
  std::optional<double> duration_s;  // none: until Ctrl-C
  std::string domains;               // --domains LIST: a bag per domain under `output`
};
RecordOptions parse_record(const std::vector<std::string> & args);
// The value of a --domains option (40-59, 3,7,9-12), checked; throws UsageError.
std::string domains_option(const std::string & text);
extern const char kRecordUsage[];
ExitCode run_record(const RecordOptions & options, Session & session);
// With --domains: a client library context per domain, no session on ROS_DOMAIN_ID.
ExitCode run_record_domains(const RecordOptions & options, int argc, char ** argv);

// ---- quorvel bag --------------------------------------------------------------------------
enum class BagAction
{
  kInfo,
  kEvents,
  kReindex,
  kCompare,
};
struct BagOptions
{
  bool help = false;
  BagAction action = BagAction::kInfo;
  std::string directory;
  // compare: the second bag, and which task of each (none: the last that ended).
  std::string other_directory;
  std::optional<std::size_t> task;
  std::string goal;
  std::optional<std::size_t> other_task;
};
BagOptions parse_bag(const std::vector<std::string> & args);
extern const char kBagUsage[];
// Reads files only: no ROS graph involved.
ExitCode run_bag(const BagOptions & options);
// quorvel bag compare: exit 0 the same steps, 1 they part, 2 a bag or task that cannot be read.
ExitCode run_bag_compare(const BagOptions & options);

// ---- quorvel scene ------------------------------------------------------------------------
// Runs arm_sim_scene of the installed quorvel_arm_sim with `args` (what follows "scene") and
// returns its exit status; a message and kFailure when it is not installed.
ExitCode run_scene(const std::vector<std::string> & args);

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__COMMANDS_HPP_

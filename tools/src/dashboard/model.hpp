// What quorvel dashboard knows about the supervisor, built from its task events and the arm's
// topics, and handed to the page as JSON sections. Pure: no ROS calls, no clock, no locks; the
// caller passes wall-clock times in milliseconds and serialises access (DashboardHub does).
#ifndef QUORVEL_TOOLS__DASHBOARD__MODEL_HPP_
#define QUORVEL_TOOLS__DASHBOARD__MODEL_HPP_

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "quorvel_bag/event_copies.hpp"
#include "quorvel_task_events/msg/task_event.hpp"

namespace quorvel_tools
{

using TaskEvent = quorvel_task_events::msg::TaskEvent;

// Parts of the page's state that change independently; each goes to the page on its own.
enum class Section : std::size_t
{
  kTask,          // the current (or last) task: phase, steps, times, counts
  kTimeline,      // the current task's events; sent as appended entries
  kWorkspace,     // last detection, chosen target, given-up spots, stop distance
  kSurroundings,  // objects around the robot
  kArm,           // abnormal flag, gripper, joints and their target
  kVoice,         // announcements
  kOutcomes,      // how the last tasks ended
  kEndpoints,     // which supervisor endpoints are up
  kPlot,          // the current task's joint angles over time, its motion targets and recoveries
};
inline constexpr std::size_t kSectionCount = 9;
// Name of the section in the JSON snapshot and of its server-sent event.
const char * section_name(Section section);

// How far one page has been brought up to date. Owned by the stream that serves the page.
struct StreamCursor
{
  bool started = false;
  std::array<std::uint64_t, kSectionCount> sent{};
  std::uint64_t timeline_task = 0;  // task serial of the timeline entries sent
  std::uint64_t timeline_next = 0;  // absolute index of the next entry to send
  std::uint64_t plot_task = 0;      // task serial of the plot samples sent
  std::uint64_t plot_layout = 0;    // the samples' thinning (see DashboardModel) when sent
  std::uint64_t plot_next = 0;      // index of the next sample to send
};

// One server-sent event: its name and its data.
struct StreamMessage
{
  std::string event;
  nlohmann::json data;
};

struct EndpointState
{
  std::string name;
  std::string kind;
  bool up = false;
};

struct EnvObject
{
  float x = 0.0F;
  float y = 0.0F;
};

// Bounds on what is kept, so that a long run or an odd publisher cannot grow memory or the
// page without limit.
struct ModelLimits
{
  std::size_t timeline_entries = 400;
  std::size_t outcomes = 10;
  std::size_t voice = 12;
  std::size_t detection_items = 100;
  std::size_t given_up_spots = 100;
  std::size_t picked_spots = 100;
  std::size_t env_objects = 100;
  std::size_t joints = 16;
  std::size_t text_bytes = 300;
  // The joint plot keeps a sample every `plot_period_ms` at most; past `plot_samples` it keeps
  // every other one and doubles the period, so that a long task still fits.
  std::int64_t plot_period_ms = 100;
  std::size_t plot_samples = 3000;
  std::size_t plot_marks = 200;
};

// Default environment-stop distance shown before a task says otherwise: the supervisor's
// default threshold 1.5 stops for objects whose distance cut to a whole number is below it,
// that is, nearer than 2.0.
inline constexpr double kDefaultStopDistance = 2.0;

// The phase of a task in words after `event` (for example "moving to grab pose"), given the
// phase before it. Events that change nothing a person waits for keep `previous`.
std::string phase_after(const TaskEvent & event, const std::string & previous);

// The event's one-line summary, or one made from its fields when the publisher left it empty.
std::string event_summary(const TaskEvent & event);

// 32 lower-case hex digits.
std::string goal_id_text(const TaskEvent & event);

class DashboardModel
{
public:
  explicit DashboardModel(ModelLimits limits = ModelLimits{});

  // Inputs. `now_ms` is the wall-clock time of reception; task events carry their own stamp.
  void on_task_event(const TaskEvent & event);
  void on_arm_state(bool abnormal, std::int64_t now_ms);
  void on_gripper_command(const std::vector<std::int32_t> & data, std::int64_t now_ms);
  void on_joint_state(
      const std::vector<std::string> & names,
      const std::vector<double> & positions,
      std::int64_t now_ms);
  void on_voice(std::int32_t code, std::int64_t now_ms);
  void on_env_objects(
      const std::string & frame_id, const std::vector<EnvObject> & objects, std::int64_t now_ms);
  // Changes the section only when an endpoint went up or down, or the count of task-event
  // publishers changed.
  void on_endpoints(
      const std::vector<EndpointState> & endpoints,
      std::size_t task_event_publishers,
      std::int64_t now_ms);
  // The dashboard asked the supervisor to cancel and it accepted.
  void on_cancel_requested(std::int64_t now_ms);

  // The running task's goal id, to ask the action server for its result; none when no task
  // runs.
  std::optional<std::array<std::uint8_t, 16>> running_goal() const;
  // The action server of the running task went away (replaced: a new server took its place)
  // and came back after `gone_s`.
  void on_action_server_gone(bool replaced, std::int64_t since_ms);
  void on_action_server_back(double gone_s);
  // The action server answered the running task's result request: `status` an action_msgs
  // GoalStatus. Ends the task unless its end was seen already.
  void on_goal_result(
      std::int8_t status, std::int32_t error_code, std::size_t given_up, std::int64_t now_ms);
  // The action server is back but no longer knows the running task's goal: it was lost with
  // the supervisor's restart.
  void on_goal_lost(std::int64_t now_ms);

  // Everything, as one JSON object with a member per section (and "server_ms").
  nlohmann::json snapshot(std::int64_t now_ms) const;
  nlohmann::json section(Section section) const;
  // Grows with every change of any section.
  std::uint64_t revision() const { return revision_; }

  // Whether the page behind `cursor` lacks something. With `urgent_only` the arm and the
  // surroundings, which change many times a second, do not count.
  bool has_changes(const StreamCursor & cursor, bool urgent_only) const;
  // What the page behind `cursor` lacks, oldest first, and the cursor moved past it: a
  // "snapshot" the first time, then the changed sections ("timeline" carries only new
  // entries, or all of them with "reset": true when the task changed or entries were dropped).
  std::vector<StreamMessage> changes_since(
      StreamCursor & cursor, bool include_frequent, std::int64_t now_ms) const;

private:
  struct TimelineEntry
  {
    std::uint64_t seq = 0;
    std::uint8_t kind = 0;
    std::int64_t stamp_ms = 0;
    std::int32_t step_count = 0;
    std::string summary;
    std::string level;
  };

  // The server of the arm request the task waits for has gone away.
  struct ServerGone
  {
    std::string service;
    std::int64_t since_ms = 0;
    bool replaced = false;
  };

  struct Task
  {
    bool known = false;
    std::uint64_t serial = 0;
    std::string goal_id;
    std::int32_t cmd = 0;
    bool start_seen = false;  // false: joined after the task had started
    std::int64_t started_ms = 0;
    std::int64_t last_event_ms = 0;
    std::optional<std::int64_t> ended_ms;
    std::string phase = "idle";
    std::int32_t step_count = 0;
    int picked = 0;
    int given_up = 0;
    std::string outcome;
    std::int32_t error_code = 0;
    bool cancel_requested = false;
    bool env_stop_held = false;
    float env_stop_distance = 0.0F;
    std::optional<ServerGone> server_gone;
    std::array<std::uint8_t, 16> goal_uuid{};
    // The action server while the task runs: gone since (wall clock, ms), and for how long in
    // all it was gone; the goal lost with a restart of the supervisor.
    std::optional<std::int64_t> supervisor_gone_since_ms;
    bool supervisor_replaced = false;
    double supervisor_gone_s = 0.0;
    bool lost_with_restart = false;
  };

  struct Detection
  {
    bool known = false;
    std::int64_t stamp_ms = 0;
    std::int32_t status = 0;
    std::string errmsg;
    std::int32_t chosen_index = -1;
    std::size_t total_items = 0;
    nlohmann::json items = nlohmann::json::array();
  };

  struct Point3
  {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
  };

  void touch(Section section);
  void begin_task(const TaskEvent & event, bool start_seen);
  // Puts the ended task into the list of outcomes.
  void record_outcome(std::int64_t ended, std::int32_t error_code, std::size_t given_up);
  void add_timeline_entry(const TaskEvent & event);
  void apply_details(const TaskEvent & event);
  void end_task(const TaskEvent & event);
  std::string clip(const std::string & text) const;
  nlohmann::json timeline_json(std::size_t from) const;
  void add_plot_sample(std::int64_t at_ms);
  void plot_event(const TaskEvent & event);
  nlohmann::json plot_json(std::size_t from) const;

  ModelLimits limits_;
  std::uint64_t revision_ = 0;
  std::array<std::uint64_t, kSectionCount> revisions_{};

  // Task events.
  bool seq_known_ = false;
  std::uint64_t last_seq_ = 0;
  quorvel_bag::EventCopyFilter copies_;
  std::uint64_t events_missed_ = 0;
  std::uint64_t task_serial_ = 0;
  Task task_;
  std::deque<TimelineEntry> timeline_;
  std::uint64_t timeline_first_ = 0;  // absolute index of timeline_.front()
  std::string last_end_outcome_;

  // Workspace.
  double stop_distance_ = kDefaultStopDistance;
  bool stop_distance_known_ = false;
  Detection detection_;
  std::vector<Point3> given_up_;
  std::optional<Point3> target_;
  std::optional<Point3> grab_target_;  // of the last grab sent
  std::vector<Point3> picked_;         // grab targets of this task's trashes dropped in the bin

  // Surroundings.
  bool objects_known_ = false;
  std::string objects_frame_;
  std::int64_t objects_ms_ = 0;
  std::size_t objects_total_ = 0;
  std::vector<EnvObject> objects_;

  // Arm.
  std::optional<bool> abnormal_;
  std::int64_t abnormal_ms_ = 0;
  std::string gripper_;  // "open", "closed", or the raw command; "" before any
  std::int64_t gripper_ms_ = 0;
  std::vector<std::string> joint_names_;
  std::vector<double> joints_;
  std::int64_t joints_ms_ = 0;
  std::string joint_target_name_;
  std::vector<double> joint_target_;
  std::int64_t joint_target_ms_ = 0;

  // The joint plot of the current task. Times are ms since the epoch.
  struct PlotMotion
  {
    std::int64_t sent_ms = 0;
    std::optional<std::int64_t> answered_ms;
    std::string service;
    std::string name;
    std::vector<double> positions;  // empty for a grab, which has a position, not joints
    std::optional<std::int32_t> status;
  };
  struct PlotPosition
  {
    std::int64_t at_ms = 0;
    std::string name;
    std::vector<double> positions;
    bool reached = false;
  };
  struct PlotSpan
  {
    std::int64_t from_ms = 0;
    std::optional<std::int64_t> to_ms;
    std::string what;  // a recovery's procedure and outcome
  };
  std::uint64_t plot_layout_ = 0;  // counts the thinnings: a page must take the samples anew
  std::int64_t plot_period_ms_ = 100;
  std::vector<std::pair<std::int64_t, std::vector<double>>> plot_samples_;
  std::deque<PlotMotion> plot_motions_;
  std::deque<PlotPosition> plot_positions_;
  std::deque<PlotSpan> plot_recoveries_;
  std::deque<PlotSpan> plot_abnormal_;

  // Voice, outcomes, endpoints.
  std::deque<nlohmann::json> voice_;
  std::deque<nlohmann::json> outcomes_;
  std::vector<EndpointState> endpoints_;
  std::size_t task_event_publishers_ = 0;
  bool endpoints_known_ = false;
  std::int64_t endpoints_ms_ = 0;
};

// JSON text of `value`; invalid UTF-8 in strings from the wire is replaced, never thrown on.
std::string json_text(const nlohmann::json & value);

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__DASHBOARD__MODEL_HPP_

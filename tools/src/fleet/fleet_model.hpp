// The fleet page's model: one tile per arm, built from what that arm's own dashboard model holds,
// the arms in order of urgency, and the fleet's figures over the last hour. No ROS here: the
// fleet command feeds it; the tests drive it directly.
#ifndef QUORVEL_TOOLS__FLEET__FLEET_MODEL_HPP_
#define QUORVEL_TOOLS__FLEET__FLEET_MODEL_HPP_

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fleet/fleet_config.hpp"

namespace quorvel_tools
{

// What the fleet needs of one arm at a moment, read from its dashboard model's sections.
struct ArmState
{
  std::optional<std::int64_t> last_heard_ms;  // its newest message of any kind
  bool supervisor_up = false;                 // its action server is there
  bool task_known = false;
  bool running = false;
  std::string goal_id;
  std::string phase;
  std::int32_t step_count = 0;
  std::int64_t started_ms = 0;
  std::int64_t last_event_ms = 0;  // the running task's latest step
  int picked = 0;
  int given_up = 0;
  std::optional<bool> abnormal;
  bool env_stop = false;
  bool server_gone = false;      // the server of the arm call it waits for is gone
  bool supervisor_gone = false;  // its action server went away during the task
  bool lost_with_restart = false;
  std::string outcome;  // of the last task that ended
  std::int32_t error_code = 0;
  std::string error_meaning;
  std::optional<std::int64_t> ended_ms;
};

// Whether two states of an arm differ in more than when it was last heard from (which moves with
// every joint message of an arm at rest, ten times a second).
bool same_but_heard(const ArmState & a, const ArmState & b);

// Reads an ArmState out of a dashboard model's snapshot (DashboardModel::snapshot()).
ArmState arm_state_from_snapshot(const nlohmann::json & snapshot);

// How urgent a tile is; lower comes first.
enum class Urgency
{
  kAlarm = 0,    // a server gone, an abnormal arm, a wait past the threshold, a failed task
  kWarning = 1,  // silent, held by an environment stop, its supervisor not there
  kWorking = 2,  // a task runs
  kIdle = 3,     // nothing runs, all is well
  kUnknown = 4,  // never heard from
};

class FleetModel
{
public:
  explicit FleetModel(FleetConfig config);

  // The arm's state now (any thread that holds the model's lock).
  void update(std::size_t arm, const ArmState & state, std::int64_t now_ms);

  // The tiles in order of urgency (then by name), with the fleet's figures over the last hour.
  nlohmann::json snapshot(std::int64_t now_ms) const;

  const FleetConfig & config() const { return config_; }

private:
  struct Ended
  {
    std::int64_t at_ms;
    std::int32_t error_code;
  };
  struct Arm
  {
    ArmState state;
    std::string last_goal_ended;  // the goal whose end was counted, so it is counted once
    std::deque<Ended> ended;      // tasks that ended in the last hour
  };

  nlohmann::json tile(std::size_t index, std::int64_t now_ms, Urgency & urgency) const;

  FleetConfig config_;
  std::vector<Arm> arms_;
};

const char * urgency_name(Urgency urgency);

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__FLEET__FLEET_MODEL_HPP_

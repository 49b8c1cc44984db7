// What a scene makes go wrong, and when.
#ifndef QUORVEL_ARM_SIM__FAULT_PLAN_HPP_
#define QUORVEL_ARM_SIM__FAULT_PLAN_HPP_

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "quorvel_arm_sim/status_codes.hpp"

namespace quorvel_arm_sim
{

// An abnormal arm state: for a time, until a number of recover messages arrived, or for good.
struct Abnormality
{
  enum class Kind
  {
    kFor,
    kUntilRecovers,
    kForever,
  };
  Kind kind = Kind::kForever;
  double seconds = 0.0;
  int recovers = 0;
};

struct StopShortFault
{
  std::size_t joint = 0;  // 0-based
  double by = 0.0;
};

// Joint feedback with fewer than five positions, for a time or for good.
struct ShortFeedbackFault
{
  std::size_t values = 4;
  std::optional<double> seconds;
};

// Someone or something near the robot at (x, y), for a time or for good.
struct EnvObjectFault
{
  double x = 0.0;
  double y = 0.0;
  std::optional<double> seconds;
};

// One entry of a scene's fault plan: a trigger and its effects. The trigger is either calls of a
// service (the `call`-th and the `times` - 1 after it) or a time (`at` seconds after the first
// detection request, that is after the task started). Effects that belong to a call (status,
// latency, never_answer, stop_short) need a call trigger; the loader checks that.
struct Fault
{
  std::optional<Service> service;
  int call = 0;
  int times = 1;
  std::optional<double> at;

  std::optional<std::int32_t> status;
  std::string errmsg;
  // Seconds from the request to the answer: a detection's own latency, a motion's least time
  // (it still answers only once the joints have arrived).
  std::optional<double> latency;
  bool never_answer = false;
  std::optional<Abnormality> abnormal;
  std::optional<StopShortFault> stop_short;
  std::optional<ShortFeedbackFault> short_feedback;
  std::optional<EnvObjectFault> env_object;

  // 1-based position in the scene's fault list, for the event lines.
  std::size_t number = 0;
};

// Counts the calls of each service and hands out the faults that apply to each call or time.
class FaultPlan
{
public:
  explicit FaultPlan(std::vector<Fault> faults);

  struct Call
  {
    int number = 0;                     // 1-based count of this service's calls
    std::vector<const Fault *> faults;  // in scene order
  };
  // Counts one call of `service`; the faults whose trigger covers it.
  Call count_call(Service service);

  // Time-triggered faults whose time has come since the last call, each once, in scene order.
  std::vector<const Fault *> due(double seconds_since_task_start);

  const std::vector<Fault> & faults() const { return faults_; }

private:
  std::vector<Fault> faults_;
  std::vector<bool> fired_;
  std::map<Service, int> calls_;
};

}  // namespace quorvel_arm_sim

#endif  // QUORVEL_ARM_SIM__FAULT_PLAN_HPP_

// The steps of a recorded task as a comparison sees them: what the supervisor did, without the
// times, so that a replay on a desk can be held against the task it replays.
#ifndef QUORVEL_BAG__STEPS_HPP_
#define QUORVEL_BAG__STEPS_HPP_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "quorvel_bag/tasks.hpp"

namespace quorvel_bag
{

/// A trash as a step names it: its type and grab position.
struct StepItem
{
  std::uint8_t type = 0;
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

/// One task event reduced to what a replay must repeat: its kind, the service and target it
/// concerns, the status of an answer, the flags that answer set, an outcome, an error code, the
/// item a detection chose and the items given up. `seq` only locates it in its bag.
struct Step
{
  std::uint64_t seq = 0;
  std::uint8_t kind = 0;
  std::string service;
  std::string target_name;
  std::int32_t status = 0;
  std::vector<std::string> flags;
  std::string outcome;
  std::int32_t error_code = 0;
  std::optional<StepItem> chosen;  // DETECT_ANSWERED with a choice
  std::vector<StepItem> given_up;  // SPOT_GIVEN_UP, TASK_ENDED
};

/// The steps of `task`, one per event in seq order.
std::vector<Step> task_steps(const TaskRecord & task);

/// The fields in which two steps differ ("status", "item chosen", ...), in a fixed order; only
/// "kind" for steps of different kinds; empty when they are the same. Grab positions count as
/// the same within 1e-6.
std::vector<std::string> step_differences(const Step & a, const Step & b);

/// Where two step lists part: the index of the first step that differs, or the length of the
/// shorter list when one ends early; nothing when they are the same.
std::optional<std::size_t> first_parting(const std::vector<Step> & a, const std::vector<Step> & b);

/// Where two tasks part because of when something happened rather than what: the arm seen
/// abnormal at more one-second checks on one side (it turned normal just before a check on
/// one, just after it on the other), or a recovery position judged reached on one side and not
/// yet on the other. `at` is first_parting's answer.
struct TimingDifference
{
  std::string what;         // in words, with the counts
  bool same_after = false;  // the tasks take the same steps once past it
};
std::optional<TimingDifference> timing_difference(
    const std::vector<Step> & a, const std::vector<Step> & b, std::size_t at);

/// A step in a few words: "MOTION_ANSWERED arm_grab grab_pose 102100010 [is_grab_need_to_recover_]".
std::string describe_step(const Step & step);

/// The kind's constant name ("MOTION_ANSWERED"), or "KIND_<n>" for one this library does not know.
std::string kind_name(std::uint8_t kind);

}  // namespace quorvel_bag

#endif  // QUORVEL_BAG__STEPS_HPP_

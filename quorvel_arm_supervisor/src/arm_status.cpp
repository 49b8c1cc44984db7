#include "quorvel_arm_supervisor/arm_status.hpp"

namespace quorvel_arm_supervisor
{

// Statuses the tables do not list are failures of unknown cause; recovering is the safe answer.

CallOutcome judge_grab_status(std::int32_t status)
{
  switch (status) {
    case kArmStatusSuccess:
      return CallOutcome::kSuccess;
    case 102100005:
    case 102100006:
    case 102100007:
      return CallOutcome::kErrorReplan;
    case 102100009:
      return CallOutcome::kErrorOnly;
    default:
      return CallOutcome::kErrorRecover;
  }
}

CallOutcome judge_release_status(std::int32_t status)
{
  switch (status) {
    case kArmStatusSuccess:
      return CallOutcome::kSuccess;
    case 102100012:
      return CallOutcome::kErrorOnly;
    default:
      return CallOutcome::kErrorRecover;
  }
}

CallOutcome judge_movejoints_status(std::int32_t status)
{
  switch (status) {
    case kArmStatusSuccess:
      return CallOutcome::kSuccess;
    case 102100001:
    case 102100003:
    case 102100004:
      return CallOutcome::kErrorOnly;
    default:
      return CallOutcome::kErrorRecover;
  }
}

std::string arm_status_meaning(const std::int32_t status, const CallOutcome outcome)
{
  const std::string kind = status == kArmStatusCommonFailure ? "common failure" : "failure";
  switch (outcome) {
    case CallOutcome::kSuccess:
      return "success";
    case CallOutcome::kErrorOnly:
      return kind + ", the task goes on";
    case CallOutcome::kErrorReplan:
      return kind + ": recover, then choose the target again";
    case CallOutcome::kErrorRecover:
      return kind + ": recover the arm";
  }
  return kind;
}

std::int32_t voice_code(std::int32_t code)
{
  if (code == kArmStatusCommonFailure) {
    return 1;
  }
  // Negative codes become large unsigned values and so fall through to "unchanged".
  const auto u = static_cast<std::uint32_t>(code);
  if (u >= 102100001U && u <= 102199999U) {
    return 2;
  }
  if (u >= 102000000U && u <= 102099999U) {
    return 3;
  }
  return code;
}

}  // namespace quorvel_arm_supervisor

// Judgement of the status codes the arm controller answers, and the code announced for them on
// the voice topic.
#ifndef QUORVEL_ARM_SUPERVISOR__ARM_STATUS_HPP_
#define QUORVEL_ARM_SUPERVISOR__ARM_STATUS_HPP_

#include <cstdint>
#include <string>

namespace quorvel_arm_supervisor
{

inline constexpr std::int32_t kArmStatusSuccess = 102100000;
// A failure any arm service may report; it always asks for recovery.
inline constexpr std::int32_t kArmStatusCommonFailure = 102001001;

// What an arm service answer asks of the task. Every outcome but kSuccess is logged as an error.
enum class CallOutcome
{
  kSuccess,
  kErrorOnly,       // failure, but the task goes on
  kErrorReplan,     // grab only: choose the target again after a recovery
  kErrorRecover,    // run a recovery procedure
};

// ArmGrab: success; 102100005-102100007 replan; 102100009 error only; anything else recover.
CallOutcome judge_grab_status(std::int32_t status);

// ArmRelease: success; 102100012 error only; anything else recover.
CallOutcome judge_release_status(std::int32_t status);

// ArmMoveJoints: success; 102100001, 102100003, 102100004 error only; anything else recover.
CallOutcome judge_movejoints_status(std::int32_t status);

// What `status`, judged as `outcome`, means to the task, in a few words: "success",
// "failure: recover the arm", "common failure: recover the arm", ...
std::string arm_status_meaning(std::int32_t status, CallOutcome outcome);

// Code to announce for `code`, first match wins, ranges compared as unsigned 32-bit:
// the common failure -> 1; 102100001..102199999 -> 2; 102000000..102099999 -> 3;
// anything else is announced unchanged.
std::int32_t voice_code(std::int32_t code);

}  // namespace quorvel_arm_supervisor

#endif  // QUORVEL_ARM_SUPERVISOR__ARM_STATUS_HPP_

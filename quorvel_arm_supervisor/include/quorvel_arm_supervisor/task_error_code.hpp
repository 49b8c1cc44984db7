// Error codes a task reports in its ArmTask result.
#ifndef QUORVEL_ARM_SUPERVISOR__TASK_ERROR_CODE_HPP_
#define QUORVEL_ARM_SUPERVISOR__TASK_ERROR_CODE_HPP_

#include <cstdint>

namespace quorvel_arm_supervisor
{

inline constexpr std::int32_t kTaskErrorInitial = 102300000;
inline constexpr std::int32_t kTaskErrorDetectTimeout = 102300001;
inline constexpr std::int32_t kTaskErrorNothingToGrab = 102300002;
inline constexpr std::int32_t kTaskErrorRecovered = 102300003;
inline constexpr std::int32_t kTaskErrorArmAbnormal = 102300005;

}  // namespace quorvel_arm_supervisor

#endif  // QUORVEL_ARM_SUPERVISOR__TASK_ERROR_CODE_HPP_

#include "quorvel_arm_supervisor/joint_check.hpp"

#include <cmath>

namespace quorvel_arm_supervisor
{

JointCheck check_at_target_joints(
  const std::vector<double> & current, const std::vector<double> & target, float threshold)
{
  if (current.size() < kCheckedJointCount || target.size() < kCheckedJointCount) {
    return {false, true};
  }
  const double limit = static_cast<double>(threshold);
  for (std::size_t i = 0; i < kCheckedJointCount; ++i) {
    // Written as "not within" so that a NaN joint reading never counts as arrived.
    if (!(std::fabs(current[i] - target[i]) <= limit)) {
      return {false, false};
    }
  }
  return {true, false};
}

}  // namespace quorvel_arm_supervisor

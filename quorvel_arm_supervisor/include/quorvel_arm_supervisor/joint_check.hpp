// Whether the arm stands at a target joint position.
#ifndef QUORVEL_ARM_SUPERVISOR__JOINT_CHECK_HPP_
#define QUORVEL_ARM_SUPERVISOR__JOINT_CHECK_HPP_

#include <cstddef>
#include <vector>

namespace quorvel_arm_supervisor
{

// Joints compared, whatever the arrays' lengths.
inline constexpr std::size_t kCheckedJointCount = 5;

struct JointCheck
{
  bool at_target = false;
  bool input_error = false;  // an array holds fewer than kCheckedJointCount values
};

// Compares the first kCheckedJointCount values in float64: at the target when no
// |current[i] - target[i]| exceeds `threshold` widened to double (equal is accepted).
// Values beyond the fifth are ignored. An input error, or a NaN among the compared values, is
// never at the target.
JointCheck check_at_target_joints(
  const std::vector<double> & current, const std::vector<double> & target, float threshold);

}  // namespace quorvel_arm_supervisor

#endif  // QUORVEL_ARM_SUPERVISOR__JOINT_CHECK_HPP_

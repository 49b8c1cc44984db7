#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "quorvel_arm_supervisor/joint_check.hpp"

namespace qas = quorvel_arm_supervisor;

namespace
{

constexpr float kThreshold = 0.02F;  // widens to 0.019999999552965164

TEST(AtTargetJoints, ThresholdWidenedFromFloat)
{
  const std::vector<double> target{0.0, 0.5, -1.0, 1.5, 0.25};
  std::vector<double> current = target;
  EXPECT_TRUE(qas::check_at_target_joints(current, target, kThreshold).at_target);

  current[2] = -1.0 + 0.0199;
  EXPECT_TRUE(qas::check_at_target_joints(current, target, kThreshold).at_target);

  // Exactly 0.02 in double is above float32 0.02 widened.
  current = {0.02, 0.5, -1.0, 1.5, 0.25};
  const auto check = qas::check_at_target_joints(current, target, kThreshold);
  EXPECT_FALSE(check.at_target);
  EXPECT_FALSE(check.input_error);

  // A difference equal to the threshold is accepted.
  current = target;
  current[0] = static_cast<double>(kThreshold);
  EXPECT_TRUE(qas::check_at_target_joints(current, target, kThreshold).at_target);
}

TEST(AtTargetJoints, EveryOneOfTheFiveJointsCounts)
{
  const std::vector<double> target(5, 0.0);
  for (std::size_t joint = 0; joint < 5; ++joint) {
    std::vector<double> current(5, 0.0);
    current[joint] = -0.03;
    EXPECT_FALSE(qas::check_at_target_joints(current, target, kThreshold).at_target)
      << "joint " << joint;
  }
}

TEST(AtTargetJoints, LengthsOtherThanFive)
{
  const std::vector<double> four{0.0, 0.0, 0.0, 0.0};
  const std::vector<double> five{0.0, 0.0, 0.0, 0.0, 0.0};
  for (const auto & [current, target] : {std::pair{four, four}, {four, five}, {five, four}}) {
    const auto check = qas::check_at_target_joints(current, target, kThreshold);
    EXPECT_FALSE(check.at_target);
    EXPECT_TRUE(check.input_error);
  }
  const auto empty = qas::check_at_target_joints({}, five, kThreshold);
  EXPECT_TRUE(empty.input_error);

  // Seven values: only the first five are compared.
  const std::vector<double> seven_current{0.0, 0.0, 0.0, 0.0, 0.0, 1.0, -1.0};
  const std::vector<double> seven_target{0.0, 0.0, 0.0, 0.0, 0.0, 3.0, 2.0};
  const auto check = qas::check_at_target_joints(seven_current, seven_target, kThreshold);
  EXPECT_TRUE(check.at_target);
  EXPECT_FALSE(check.input_error);
  EXPECT_TRUE(qas::check_at_target_joints(seven_current, five, kThreshold).at_target);
}

TEST(AtTargetJoints, NanReadingIsNeverAtTarget)
{
  std::vector<double> current(5, 0.0);
  current[3] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(qas::check_at_target_joints(current, std::vector<double>(5, 0.0), kThreshold)
    .at_target);
}

}  // namespace

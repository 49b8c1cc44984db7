#include <vector>

#include <gtest/gtest.h>

#include "quorvel_arm_supervisor/joint_arrays.hpp"

namespace qas = quorvel_arm_supervisor;

namespace
{

TEST(FormatJointArray, BlankAfterEveryValue)
{
  EXPECT_EQ(qas::format_joint_array("Target_Joints", {0.0, 1.5, -0.25}),
    "Target_Joints: [0 1.5 -0.25 ]");
  EXPECT_EQ(qas::format_joint_array("recover_movej_end_pos", {}), "recover_movej_end_pos: []");
  EXPECT_EQ(qas::format_joint_array("x", {2.0}), "x: [2 ]");
}

TEST(FormatJointArray, DefaultStreamNumberFormat)
{
  EXPECT_EQ(
    qas::format_joint_array("n", {1e-05, 1.5707963267948966, -0.35, 1234567.0, 100000.0}),
    "n: [1e-05 1.5708 -0.35 1.23457e+06 100000 ]");
}

TEST(FormatJointList, CommaSeparatedWithoutTrailingSeparator)
{
  EXPECT_EQ(qas::format_joint_list("req_arm_release_->target_joints", {0.1, -1.2, 2.0}),
    "req_arm_release_->target_joints: [0.1, -1.2, 2]");
  EXPECT_EQ(qas::format_joint_list("x", {}), "x: []");
  EXPECT_EQ(qas::format_joint_list("x", {1e-05}), "x: [1e-05]");
}

TEST(RecoveryTarget, FirstJointNumValuesWithEmptyLayout)
{
  std_msgs::msg::Float64MultiArray configured;
  configured.layout.data_offset = 3;
  configured.layout.dim.resize(1);
  configured.data = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7};

  const auto target = qas::make_recovery_target(configured, 5);
  ASSERT_TRUE(target.has_value());
  EXPECT_EQ(target->data, (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5}));
  EXPECT_TRUE(target->layout.dim.empty());
  EXPECT_EQ(target->layout.data_offset, 0U);

  configured.data.resize(5);
  ASSERT_TRUE(qas::make_recovery_target(configured, 5).has_value());
  EXPECT_EQ(qas::make_recovery_target(configured, 5)->data, configured.data);
}

TEST(RecoveryTarget, ShortConfiguredArrayIsRefused)
{
  std_msgs::msg::Float64MultiArray configured;
  configured.data = {0.1, 0.2, 0.3, 0.4};
  EXPECT_FALSE(qas::make_recovery_target(configured, 5).has_value());
  EXPECT_FALSE(qas::make_recovery_target(std_msgs::msg::Float64MultiArray{}, 5).has_value());
}

}  // namespace

// The joint motion model: when a motion arrives, where the arm is meanwhile, stop-short faults
// and targets that cannot be used.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "quorvel_arm_sim/joint_motion.hpp"

namespace quorvel_arm_sim
{
namespace
{

const Joints kObserve{{0.0, -0.5236, 1.0472, -0.5236, 0.0}};
const Joints kRelease{{1.5708, -0.35, 1.2, -0.85, 0.0}};

TEST(JointMotionTest, ArrivesWhenTheFarthestJointHasCoveredItsDistance)
{
  const JointMotion motion(kObserve, kRelease, 2.0, 10.0);
  EXPECT_DOUBLE_EQ(motion.arrival_time(), 10.0 + 1.5708 / 2.0);
  EXPECT_FALSE(motion.arrived(10.7));
  EXPECT_TRUE(motion.arrived(motion.arrival_time()));
  // Halfway in time is halfway for every joint: they all arrive together.
  const Joints half = motion.position_at(10.0 + 1.5708 / 4.0);
  for (std::size_t i = 0; i < kJointCount; ++i) {
    EXPECT_NEAR(half[i], (kObserve[i] + kRelease[i]) / 2.0, 1e-12) << "joint " << i;
  }
  EXPECT_EQ(motion.position_at(9.0), kObserve);
  EXPECT_EQ(motion.position_at(100.0), kRelease);
  // Standing still arrives at once.
  EXPECT_DOUBLE_EQ(JointMotion(kObserve, kObserve, 2.0, 3.0).arrival_time(), 3.0);
}

TEST(JointMotionTest, StopShortLeavesOneJointExactlyThatFarFromItsTarget)
{
  const Joints end = stop_short(kObserve, kRelease, 0, 0.1);
  EXPECT_NEAR(end[0], 1.4708, 1e-12);
  for (std::size_t i = 1; i < kJointCount; ++i) {
    EXPECT_EQ(end[i], kRelease[i]);
  }
  // Moving the other way: short on that side.
  EXPECT_NEAR(stop_short(kRelease, kObserve, 0, 0.1)[0], 0.1, 1e-12);
  // A posture the arm cannot hold: already at the target, or nearer to it than the stop, the
  // joint still ends that far away (below a target it stands at, back towards where it came
  // from otherwise).
  EXPECT_NEAR(stop_short(kObserve, kRelease, 4, 0.3)[4], -0.3, 1e-12);
  EXPECT_NEAR(stop_short(kRelease, kRelease, 2, 0.05)[2], 1.2 - 0.05, 1e-12);
  EXPECT_NEAR(stop_short(kObserve, kRelease, 1, 5.0)[1], -0.35 - 5.0, 1e-12);
  // A negative distance means the same as a positive one.
  EXPECT_NEAR(stop_short(kObserve, kRelease, 0, -0.1)[0], 1.4708, 1e-12);
}

TEST(JointMotionTest, TargetsOtherThanFiveFiniteValuesAreRefusedWithAReason)
{
  EXPECT_FALSE(joint_target_problem({0, 0, 0, 0, 0}));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<std::vector<double>, std::string>> bad{
      {{}, "must hold 5 values, got 0"},
      {{0, 0, 0, 0}, "must hold 5 values, got 4"},
      {{0, 0, 0, 0, 0, 0}, "must hold 5 values, got 6"},
      {{0, 0, nan, 0, 0}, "value 3 is not a finite number"},
      {{0, 0, 0, 0, -inf}, "value 5 is not a finite number"},
  };
  for (const auto & [values, reason] : bad) {
    const auto problem = joint_target_problem(values);
    ASSERT_TRUE(problem) << values.size() << " values";
    EXPECT_NE(problem->find(reason), std::string::npos) << *problem;
  }
}

TEST(JointMotionTest, GrabPostureFacesThePositionAndStaysFinite)
{
  const auto posture = grab_posture(0.35, 0.10, -0.17);
  ASSERT_TRUE(posture);
  EXPECT_NEAR((*posture)[0], std::atan2(0.10, 0.35), 1e-12);
  EXPECT_EQ(grab_posture(0.35, 0.10, -0.17), posture);  // deterministic
  // Out of reach, at the base and behind the arm: clamped, never NaN.
  for (const auto & p :
       std::vector<Joints>{{{5.0, 5.0, 5.0}}, {{0.0, 0.0, 0.0}}, {{-0.3, 0.0, -0.2}}}) {
    const auto q = grab_posture(p[0], p[1], p[2]);
    ASSERT_TRUE(q);
    for (const double value : *q) {
      EXPECT_TRUE(std::isfinite(value));
    }
  }
  EXPECT_FALSE(grab_posture(std::numeric_limits<double>::quiet_NaN(), 0.0, 0.0));
  EXPECT_FALSE(grab_posture(0.0, std::numeric_limits<double>::infinity(), 0.0));
}

}  // namespace
}  // namespace quorvel_arm_sim

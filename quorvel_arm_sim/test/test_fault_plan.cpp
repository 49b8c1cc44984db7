// Fault plan counting: the N-th call of each service, and time triggers that fire once.
#include <gtest/gtest.h>

#include "quorvel_arm_sim/fault_plan.hpp"

namespace quorvel_arm_sim
{
namespace
{

Fault on_call(Service service, int call, int times = 1)
{
  Fault fault;
  fault.service = service;
  fault.call = call;
  fault.times = times;
  fault.status = 1;
  return fault;
}

TEST(FaultPlanTest, CountsEachServiceOnItsOwn)
{
  FaultPlan plan({on_call(Service::kGrab, 2), on_call(Service::kRelease, 1, 2)});
  EXPECT_TRUE(plan.count_call(Service::kGrab).faults.empty());
  // Releases and detections in between do not move the grab count on.
  const auto release = plan.count_call(Service::kRelease);
  EXPECT_EQ(release.number, 1);
  ASSERT_EQ(release.faults.size(), 1u);
  EXPECT_EQ(release.faults[0], &plan.faults()[1]);
  plan.count_call(Service::kDetect);
  const auto second_grab = plan.count_call(Service::kGrab);
  EXPECT_EQ(second_grab.number, 2);
  ASSERT_EQ(second_grab.faults.size(), 1u);
  EXPECT_EQ(second_grab.faults[0], &plan.faults()[0]);
  EXPECT_TRUE(plan.count_call(Service::kGrab).faults.empty());
  // `times` 2 covers the first and the second release, not the third.
  EXPECT_EQ(plan.count_call(Service::kRelease).faults.size(), 1u);
  EXPECT_TRUE(plan.count_call(Service::kRelease).faults.empty());
}

TEST(FaultPlanTest, SeveralFaultsOnOneCallComeInSceneOrder)
{
  FaultPlan plan(
      {on_call(Service::kDetect, 1), on_call(Service::kGrab, 1), on_call(Service::kDetect, 1)});
  const auto call = plan.count_call(Service::kDetect);
  ASSERT_EQ(call.faults.size(), 2u);
  EXPECT_EQ(call.faults[0], &plan.faults()[0]);
  EXPECT_EQ(call.faults[1], &plan.faults()[2]);
}

TEST(FaultPlanTest, TimeTriggersFireOnceWhenTheirTimeHasCome)
{
  Fault early;
  early.at = 0.0;
  Fault later;
  later.at = 2.5;
  FaultPlan plan({later, early});
  const auto first = plan.due(0.0);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0], &plan.faults()[1]);
  EXPECT_TRUE(plan.due(2.4).empty());
  EXPECT_EQ(plan.due(10.0).size(), 1u);
  EXPECT_TRUE(plan.due(20.0).empty());
  // Call-triggered faults never fire on time.
  FaultPlan calls({on_call(Service::kGrab, 1)});
  EXPECT_TRUE(calls.due(1e9).empty());
}

}  // namespace
}  // namespace quorvel_arm_sim

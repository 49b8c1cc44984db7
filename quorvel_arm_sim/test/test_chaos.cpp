// Chaos: reproducible from its seed, only statuses of the right service, at about its rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "quorvel_arm_sim/chaos.hpp"

namespace quorvel_arm_sim
{
namespace
{

std::vector<std::optional<std::int32_t>> draws(std::uint64_t seed, double rate, int count)
{
  Chaos chaos(seed, rate);
  std::vector<std::optional<std::int32_t>> out;
  const Service services[] = {Service::kGrab, Service::kRelease, Service::kMoveJoints};
  for (int i = 0; i < count; ++i) {
    out.push_back(chaos.draw(services[i % 3]));
  }
  return out;
}

TEST(ChaosTest, TheSameSeedGivesTheSameFailures)
{
  EXPECT_EQ(draws(42, 0.3, 500), draws(42, 0.3, 500));
  EXPECT_NE(draws(42, 0.3, 500), draws(43, 0.3, 500));
}

TEST(ChaosTest, FailuresComeFromTheAnsweringServicesOwnStatuses)
{
  Chaos chaos(1, 1.0);
  for (const Service service : {Service::kGrab, Service::kRelease, Service::kMoveJoints}) {
    const auto & table = failure_statuses(service);
    std::vector<std::int32_t> seen;
    for (int i = 0; i < 2000; ++i) {
      const auto status = chaos.draw(service);
      ASSERT_TRUE(status);
      ASSERT_NE(std::find(table.begin(), table.end(), *status), table.end())
          << *status << " from " << service_name(service);
      seen.push_back(*status);
    }
    // Every status of the table turns up.
    for (const std::int32_t status : table) {
      EXPECT_NE(std::find(seen.begin(), seen.end(), status), seen.end()) << status;
    }
  }
  EXPECT_FALSE(chaos.draw(Service::kDetect));
  EXPECT_EQ(failure_statuses(Service::kGrab).front(), 102100005);
  EXPECT_EQ(failure_statuses(Service::kRelease).front(), 102100012);
  EXPECT_EQ(failure_statuses(Service::kMoveJoints).back(), 102001001);
}

TEST(ChaosTest, FailsAtAboutItsRate)
{
  for (const double rate : {0.0, 0.1, 0.5}) {
    const auto out = draws(99, rate, 20000);
    const auto failures =
        std::count_if(out.begin(), out.end(), [](const auto & s) { return s.has_value(); });
    EXPECT_NEAR(static_cast<double>(failures) / 20000.0, rate, 0.015) << "rate " << rate;
  }
}

}  // namespace
}  // namespace quorvel_arm_sim

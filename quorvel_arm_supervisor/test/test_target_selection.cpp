#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "quorvel_arm_supervisor/target_selection.hpp"

namespace qas = quorvel_arm_supervisor;
using quorvel_interfaces::msg::Trash;

namespace
{

Trash trash_at(double x, double y, double z, std::uint8_t type = 0)
{
  Trash trash;
  trash.type = type;
  trash.grab_pose.position.x = x;
  trash.grab_pose.position.y = y;
  trash.grab_pose.position.z = z;
  return trash;
}

constexpr float kRadius = 0.01F;

TEST(ChooseTarget, ReachLimitIsStrictAndInFloat32)
{
  // float32(0.9) is exactly the limit, so it is out of reach; 0.8999 is not.
  EXPECT_FALSE(qas::choose_target({trash_at(0.9, 0, 0)}, {}, kRadius).has_value());
  EXPECT_EQ(qas::choose_target({trash_at(0.8999, 0, 0)}, {}, kRadius), 0U);
  EXPECT_EQ(qas::choose_target({trash_at(0.9, 0, 0), trash_at(0.8999, 0, 0)}, {}, kRadius), 1U);
  // Nearer than 0.9 in double, but the same float32 as the limit.
  EXPECT_FALSE(qas::choose_target({trash_at(0.9 - 1e-9, 0, 0)}, {}, kRadius).has_value());
  // The limit applies to the 3D distance, not to one coordinate.
  EXPECT_FALSE(qas::choose_target({trash_at(0.6, 0.6, 0.3)}, {}, kRadius).has_value());
}

TEST(ChooseTarget, NearestWinsAndFirstOfEqualsWins)
{
  EXPECT_EQ(
    qas::choose_target({trash_at(0.6, 0, 0), trash_at(0, 0.3, 0), trash_at(0, 0, 0.5)}, {},
    kRadius), 1U);
  EXPECT_EQ(qas::choose_target({trash_at(0.5, 0, 0), trash_at(0, 0.5, 0)}, {}, kRadius), 0U);
  EXPECT_EQ(qas::choose_target({trash_at(0, -0.5, 0), trash_at(0.5, 0, 0)}, {}, kRadius), 0U);
  EXPECT_EQ(
    qas::choose_target({trash_at(0.7, 0, 0), trash_at(0.4, 0, 0), trash_at(0, 0.4, 0)}, {},
    kRadius), 1U);
}

TEST(ChooseTarget, GivenUpSpotsAreSkipped)
{
  const std::vector<qas::Point3f> given_up{{0.3F, 0.0F, 0.0F}};
  // The nearer one sits within the radius of a given-up spot; the farther one is taken.
  EXPECT_EQ(
    qas::choose_target({trash_at(0.305, 0, 0), trash_at(0.5, 0, 0)}, given_up, kRadius), 1U);
  EXPECT_FALSE(qas::choose_target({trash_at(0.3, 0.005, 0)}, given_up, kRadius).has_value());
  // Exactly at the radius is not "within": 0.5 - 0.25 is exact in float32.
  EXPECT_EQ(
    qas::choose_target({trash_at(0.25, 0, 0)}, {{0.5F, 0.0F, 0.0F}}, 0.25F), 0U);
  // Every given-up spot is checked, not only the first.
  EXPECT_FALSE(
    qas::choose_target(
      {trash_at(0.2, 0.2, 0)}, {{0.7F, 0.0F, 0.0F}, {0.2F, 0.2F, 0.0F}}, kRadius).has_value());
}

TEST(ChooseTarget, NothingToChoose)
{
  EXPECT_FALSE(qas::choose_target({}, {}, kRadius).has_value());
  EXPECT_FALSE(qas::choose_target({trash_at(1.0, 0, 0), trash_at(0, 2.0, 0)}, {}, kRadius));
}

struct TrackingState
{
  std::int32_t count = 1;
  qas::Point3f last{};
  std::vector<qas::Point3f> positions;
  std::vector<Trash> trashes;

  bool track(const qas::Point3f & p, std::int32_t threshold = 3, float radius = kRadius)
  {
    const Trash chosen = trash_at(p.x, p.y, p.z, 7);
    return qas::track_chosen_position({count, last, positions, trashes}, p, chosen, radius,
             threshold);
  }
};

TEST(TrackChosenPosition, ThirdChoiceOfTheSameSpotGivesItUp)
{
  TrackingState state;
  const qas::Point3f spot{0.5F, 0.1F, 0.0F};
  EXPECT_FALSE(state.track(spot));
  EXPECT_EQ(state.count, 1);
  EXPECT_FALSE(state.track(spot));
  EXPECT_EQ(state.count, 2);
  EXPECT_TRUE(state.track(spot));
  EXPECT_EQ(state.count, 3);
  ASSERT_EQ(state.positions.size(), 1U);
  EXPECT_EQ(state.positions[0].x, spot.x);
  ASSERT_EQ(state.trashes.size(), 1U);
  EXPECT_EQ(state.trashes[0].type, 7);
  EXPECT_EQ(state.last.x, spot.x);

  // The count is not reset: a fourth repetition gives the spot up again.
  EXPECT_TRUE(state.track(spot));
  EXPECT_EQ(state.count, 4);
  EXPECT_EQ(state.positions.size(), 2U);
}

TEST(TrackChosenPosition, ComparesWithThePreviousChoiceOnly)
{
  TrackingState state;
  // Each step stays within the radius of the one before, drifting 0.01 in all.
  EXPECT_FALSE(state.track({0.500F, 0.0F, 0.0F}));
  EXPECT_FALSE(state.track({0.505F, 0.0F, 0.0F}));
  EXPECT_TRUE(state.track({0.510F, 0.0F, 0.0F}));
}

TEST(TrackChosenPosition, AnotherSpotRestartsTheCount)
{
  TrackingState state;
  EXPECT_FALSE(state.track({0.5F, 0.0F, 0.0F}));
  EXPECT_FALSE(state.track({0.5F, 0.0F, 0.0F}));
  EXPECT_FALSE(state.track({0.2F, 0.3F, 0.0F}));
  EXPECT_EQ(state.count, 1);
  EXPECT_EQ(state.last.y, 0.3F);
  // A distance equal to the radius is another spot (0.75 - 0.5 is exact in float32).
  EXPECT_FALSE(state.track({0.5F, 0.0F, 0.0F}, 3, 0.25F));
  EXPECT_FALSE(state.track({0.75F, 0.0F, 0.0F}, 3, 0.25F));
  EXPECT_EQ(state.count, 1);
  EXPECT_TRUE(state.positions.empty());
}

TEST(TrackChosenPosition, ThresholdOneGivesUpAtOnce)
{
  TrackingState state;
  EXPECT_TRUE(state.track({0.4F, 0.0F, 0.0F}, 1));
  EXPECT_EQ(state.positions.size(), 1U);
}

}  // namespace

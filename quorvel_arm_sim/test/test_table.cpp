// Which items a detection reports after what the arm and the gripper did.
#include <gtest/gtest.h>

#include <vector>

#include "quorvel_arm_sim/table.hpp"

namespace quorvel_arm_sim
{
namespace
{

Item item(const std::string & name, double x, bool stuck = false)
{
  Item i;
  i.name = name;
  i.grab = {{x, 0.1, -0.17}};
  i.stuck = stuck;
  return i;
}

class TableTest : public ::testing::Test
{
protected:
  Table table_{{item("bottle", 0.3), item("can", 0.4), item("rock", 0.5, true)}, false};

  // The supervisor's pick: grab answered, gripper closed, release answered, gripper opened.
  std::optional<ItemEvent> pick(std::size_t index, bool grab_ok = true, bool release_ok = true)
  {
    table_.grab_started();
    table_.grab_answered(index, grab_ok);
    table_.gripper_closed();
    table_.arm_moved_away();
    table_.release_answered(release_ok);
    return table_.gripper_opened();
  }
};

TEST_F(TableTest, APickedItemLeavesTheTableAndDetectionKeepsTableOrder)
{
  EXPECT_EQ(table_.detect(), (std::vector<std::size_t>{0, 1, 2}));
  const auto event = pick(1);
  ASSERT_TRUE(event);
  EXPECT_EQ(event->fate, ItemFate::kPicked);
  EXPECT_EQ(event->item, 1u);
  EXPECT_EQ(table_.detect(), (std::vector<std::size_t>{0, 2}));
  EXPECT_EQ(table_.picked(), 1u);
  // A grab position of an item that is gone matches nothing any more.
  EXPECT_FALSE(table_.item_at(0.4, 0.1, -0.17));
  EXPECT_EQ(table_.item_at(0.3, 0.1, -0.17), 0u);
}

TEST_F(TableTest, CloseAndReleaseAnswerMayArriveInEitherOrder)
{
  table_.grab_started();
  table_.grab_answered(0, true);
  table_.arm_moved_away();
  table_.release_answered(true);
  table_.gripper_closed();  // the close message overtaken by the release request
  const auto event = table_.gripper_opened();
  ASSERT_TRUE(event);
  EXPECT_EQ(event->fate, ItemFate::kPicked);
}

TEST_F(TableTest, NothingLeavesWithoutAllFourSteps)
{
  // Grab failed: the gripper closes on nothing.
  EXPECT_FALSE(pick(0, false));
  // Gripper never closed (grab recovery opens it at the grab pose).
  table_.grab_started();
  table_.grab_answered(0, true);
  EXPECT_FALSE(table_.gripper_opened());
  // Closed, then opened where it was grabbed: left on the table.
  table_.grab_started();
  table_.grab_answered(0, true);
  table_.gripper_closed();
  const auto left = table_.gripper_opened();
  ASSERT_TRUE(left);
  EXPECT_EQ(left->fate, ItemFate::kLeft);
  EXPECT_EQ(table_.detect().size(), 3u);
  EXPECT_EQ(table_.picked() + table_.dropped(), 0u);
}

TEST_F(TableTest, AStuckItemStaysWhateverHappens)
{
  for (int attempt = 0; attempt < 3; ++attempt) {
    const auto event = pick(2);
    ASSERT_TRUE(event);
    EXPECT_EQ(event->fate, ItemFate::kStuck);
  }
  // Not even a failed release drops it.
  const auto after_failed_release = pick(2, true, false);
  ASSERT_TRUE(after_failed_release);
  EXPECT_EQ(after_failed_release->fate, ItemFate::kStuck);
  EXPECT_EQ(table_.detect(), (std::vector<std::size_t>{0, 1, 2}));
}

TEST_F(TableTest, AHeldItemWhoseReleaseFailedDropsWhereTheGripperOpensNext)
{
  table_.grab_started();
  table_.grab_answered(0, true);
  table_.gripper_closed();
  table_.arm_moved_away();
  table_.release_answered(false);
  // The release recovery moves on to its own posture before it opens the gripper.
  table_.arm_moved_away();
  const auto event = table_.gripper_opened();
  ASSERT_TRUE(event);
  EXPECT_EQ(event->fate, ItemFate::kDropped);
  EXPECT_EQ(table_.dropped(), 1u);
  EXPECT_EQ(table_.detect(), (std::vector<std::size_t>{1, 2}));
  // The next opening (before the next grab) finds the gripper empty.
  EXPECT_FALSE(table_.gripper_opened());
}

TEST_F(TableTest, ANewGrabForgetsWhatTheLastOneHeld)
{
  table_.grab_started();
  table_.grab_answered(0, true);
  table_.gripper_closed();
  table_.grab_started();
  table_.arm_moved_away();
  table_.release_answered(true);
  EXPECT_FALSE(table_.gripper_opened());
  EXPECT_EQ(table_.on_table(), 3u);
}

TEST(TableRestockTest, RestocksOnlyAfterReportingTheTableEmpty)
{
  Table table({item("bottle", 0.3)}, true);
  table.grab_started();
  table.grab_answered(0, true);
  table.gripper_closed();
  table.arm_moved_away();
  table.release_answered(true);
  ASSERT_EQ(table.gripper_opened()->fate, ItemFate::kPicked);
  EXPECT_TRUE(table.detect().empty());  // this task sees the empty table and ends
  EXPECT_TRUE(table.restocked());
  EXPECT_FALSE(table.restocked());
  EXPECT_EQ(table.detect(), (std::vector<std::size_t>{0}));  // the next one has work

  Table plain({}, true);
  EXPECT_TRUE(plain.detect().empty());
  EXPECT_FALSE(plain.restocked());
}

}  // namespace
}  // namespace quorvel_arm_sim

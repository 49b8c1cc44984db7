#include <initializer_list>
#include <utility>

#include <gtest/gtest.h>

#include "quorvel_arm_supervisor/env_monitor.hpp"

namespace qas = quorvel_arm_supervisor;

namespace
{

quorvel_protocol::msg::Trashes objects(std::initializer_list<std::pair<float, float>> xy)
{
  quorvel_protocol::msg::Trashes message;
  for (const auto & [x, y] : xy) {
    quorvel_protocol::msg::TrashObject object;
    object.x = x;
    object.y = y;
    message.trashes.push_back(object);
  }
  return message;
}

TEST(EnvStop, WholeMetreOfTheNearestObjectAgainstThreshold)
{
  // 1.697 -> 1 < 1.5 stops; 2.121 -> 2 does not.
  EXPECT_TRUE(qas::env_stop_requested(objects({{1.2F, 1.2F}}), 1.5F));
  EXPECT_FALSE(qas::env_stop_requested(objects({{1.5F, 1.5F}}), 1.5F));
  // 0.99 -> 0 < 1.0 stops; exactly 1.0 does not (strict).
  EXPECT_TRUE(qas::env_stop_requested(objects({{0.99F, 0.0F}}), 1.0F));
  EXPECT_FALSE(qas::env_stop_requested(objects({{0.0F, 1.0F}}), 1.0F));
  // 2.9 -> 2 < 2.5 stops although 2.9 is beyond the threshold.
  EXPECT_TRUE(qas::env_stop_requested(objects({{2.9F, 0.0F}}), 2.5F));
  // Just under 2.0 is still 1.
  EXPECT_TRUE(qas::env_stop_requested(objects({{1.99F, 0.0F}}), 1.5F));
  EXPECT_FALSE(qas::env_stop_requested(objects({{2.0F, 0.0F}}), 1.5F));
  // Negative coordinates count by distance.
  EXPECT_TRUE(qas::env_stop_requested(objects({{-1.2F, -1.2F}}), 1.5F));
}

TEST(EnvStop, NearestOfSeveralObjectsDecides)
{
  EXPECT_TRUE(qas::env_stop_requested(objects({{5.0F, 0.0F}, {1.2F, 1.2F}, {3.0F, 3.0F}}), 1.5F));
  EXPECT_TRUE(qas::env_stop_requested(objects({{1.2F, 1.2F}, {5.0F, 0.0F}}), 1.5F));
  EXPECT_FALSE(qas::env_stop_requested(objects({{5.0F, 0.0F}, {0.0F, 2.5F}}), 1.5F));
}

TEST(EnvStop, EmptyListAndZeroThresholdNeverStop)
{
  EXPECT_FALSE(qas::env_stop_requested(objects({}), 1.5F));
  EXPECT_FALSE(qas::env_stop_requested(objects({{0.1F, 0.1F}}), 0.0F));
}

}  // namespace

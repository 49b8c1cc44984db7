#include <cstdint>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "quorvel_arm_supervisor/arm_status.hpp"

namespace qas = quorvel_arm_supervisor;
using qas::CallOutcome;

namespace
{

using Table = std::vector<std::pair<std::int32_t, CallOutcome>>;

void expect_table(CallOutcome (* judge)(std::int32_t), const Table & table)
{
  for (const auto & [status, outcome] : table) {
    EXPECT_EQ(judge(status), outcome) << "status " << status;
  }
}

TEST(StatusJudgement, Grab)
{
  expect_table(
    qas::judge_grab_status, {
      {102100000, CallOutcome::kSuccess},
      {102100005, CallOutcome::kErrorReplan},
      {102100006, CallOutcome::kErrorReplan},
      {102100007, CallOutcome::kErrorReplan},
      {102100008, CallOutcome::kErrorRecover},
      {102100009, CallOutcome::kErrorOnly},
      {102100010, CallOutcome::kErrorRecover},
      {102100011, CallOutcome::kErrorRecover},
      {102001001, CallOutcome::kErrorRecover},
      // Codes of the other services and unknown ones.
      {102100001, CallOutcome::kErrorRecover},
      {102100012, CallOutcome::kErrorRecover},
      {0, CallOutcome::kErrorRecover},
      {-1, CallOutcome::kErrorRecover},
    });
}

TEST(StatusJudgement, Release)
{
  expect_table(
    qas::judge_release_status, {
      {102100000, CallOutcome::kSuccess},
      {102100012, CallOutcome::kErrorOnly},
      {102100013, CallOutcome::kErrorRecover},
      {102100014, CallOutcome::kErrorRecover},
      {102100015, CallOutcome::kErrorRecover},
      {102100016, CallOutcome::kErrorRecover},
      {102001001, CallOutcome::kErrorRecover},
      {102100005, CallOutcome::kErrorRecover},
      {102100009, CallOutcome::kErrorRecover},
      {102100001, CallOutcome::kErrorRecover},
      {0, CallOutcome::kErrorRecover},
    });
}

TEST(StatusJudgement, MoveJoints)
{
  expect_table(
    qas::judge_movejoints_status, {
      {102100000, CallOutcome::kSuccess},
      {102100001, CallOutcome::kErrorOnly},
      {102100002, CallOutcome::kErrorRecover},
      {102100003, CallOutcome::kErrorOnly},
      {102100004, CallOutcome::kErrorOnly},
      {102001001, CallOutcome::kErrorRecover},
      {102100005, CallOutcome::kErrorRecover},
      {102100012, CallOutcome::kErrorRecover},
      {0, CallOutcome::kErrorRecover},
    });
}

TEST(VoiceCode, RangesAndPassThrough)
{
  const std::vector<std::pair<std::int32_t, std::int32_t>> cases{
    {102100000, 102100000},
    {102100007, 2},
    {102001001, 1},
    {102000000, 3},
    {102300001, 102300001},
    {4, 4},
    // Range edges.
    {102100001, 2},
    {102199999, 2},
    {102200000, 102200000},
    {102099999, 3},
    {101999999, 101999999},
    {102001000, 3},
    {102001002, 3},
    // Negative codes are huge as unsigned and pass through.
    {-1, -1},
    {-102100001, -102100001},
  };
  for (const auto & [code, announced] : cases) {
    EXPECT_EQ(qas::voice_code(code), announced) << "code " << code;
  }
}

}  // namespace

TEST(StatusMeaning, SaysWhatTheTaskDoesWithTheAnswer)
{
  using quorvel_arm_supervisor::arm_status_meaning;
  using quorvel_arm_supervisor::judge_grab_status;
  EXPECT_EQ(arm_status_meaning(102100000, judge_grab_status(102100000)), "success");
  EXPECT_EQ(
      arm_status_meaning(102100006, judge_grab_status(102100006)),
      "failure: recover, then choose the target again");
  EXPECT_EQ(arm_status_meaning(102100009, judge_grab_status(102100009)), "failure, the task goes on");
  EXPECT_EQ(arm_status_meaning(102100008, judge_grab_status(102100008)), "failure: recover the arm");
  EXPECT_EQ(
      arm_status_meaning(102001001, judge_grab_status(102001001)), "common failure: recover the arm");
}

// The server's goal bookkeeping without DDS: states, results, cancel selection, expiry, and the
// order in which replies and status arrays leave.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rclcpp/logger.hpp"
#include "rclcpp_action/detail/goal_table.hpp"
#include "rclcpp_action/exceptions.hpp"

using action_msgs::msg::GoalStatus;
using action_msgs::msg::GoalStatusArray;
using CancelResponse = action_msgs::srv::CancelGoal::Response;
using rclcpp_action::GoalUUID;
using rclcpp_action::detail::GoalEvent;
using rclcpp_action::detail::GoalRecord;
using rclcpp_action::detail::GoalTable;

namespace
{

GoalUUID id(uint8_t n)
{
  GoalUUID uuid{};
  uuid[0] = n;
  uuid[15] = 0xa5;
  return uuid;
}

builtin_interfaces::msg::Time at(int32_t sec)
{
  builtin_interfaces::msg::Time t;
  t.sec = sec;
  t.nanosec = 0;
  return t;
}

rmw_request_id_t request(int64_t seq)
{
  rmw_request_id_t r{};
  r.sequence_number = seq;
  return r;
}

std::shared_ptr<const void> result_value(int value)
{
  return std::make_shared<const int>(value);
}

class GoalTableTest : public ::testing::Test
{
protected:
  struct Reply
  {
    int64_t seq;
    int8_t status;
    std::shared_ptr<const void> result;
  };

  void SetUp() override {make_table(std::chrono::minutes(15));}

  void make_table(std::chrono::nanoseconds result_timeout)
  {
    table = std::make_shared<GoalTable>(
      rclcpp::get_logger("test_goal_table"), result_timeout, [this]() {return now;});
    table->set_outputs(
      [this](const rmw_request_id_t & r, int8_t status, const std::shared_ptr<const void> & res) {
        events.push_back("result " + std::to_string(r.sequence_number));
        replies.push_back(Reply{r.sequence_number, status, res});
      },
      [this](const GoalStatusArray & array) {
        events.push_back("status");
        arrays.push_back(array);
      });
  }

  std::shared_ptr<GoalRecord> accept(uint8_t n, int32_t sec, bool execute = true)
  {
    auto goal = table->reserve(id(n));
    if (!goal) {
      ADD_FAILURE() << "id " << int(n) << " refused";
      return nullptr;
    }
    handles.push_back(std::make_shared<int>(n));
    table->accept(goal, at(sec), execute, handles.back());
    return goal;
  }

  std::vector<int8_t> listed_states()
  {
    std::vector<int8_t> states;
    for (const auto & s : table->status().status_list) {
      states.push_back(s.status);
    }
    return states;
  }

  GoalTable::TimePoint now = GoalTable::TimePoint() + std::chrono::hours(1);
  std::shared_ptr<GoalTable> table;
  std::vector<std::shared_ptr<void>> handles;
  std::vector<std::string> events;
  std::vector<Reply> replies;
  std::vector<GoalStatusArray> arrays;
};

TEST_F(GoalTableTest, AcceptedGoalsAreAnnouncedInAcceptanceOrder)
{
  accept(3, 30);
  accept(1, 10, false);
  accept(2, 20);

  ASSERT_EQ(arrays.size(), 3u);
  const auto & last = arrays.back().status_list;
  ASSERT_EQ(last.size(), 3u);
  EXPECT_EQ(last[0].goal_info.goal_id.uuid, id(3));
  EXPECT_EQ(last[1].goal_info.goal_id.uuid, id(1));
  EXPECT_EQ(last[2].goal_info.goal_id.uuid, id(2));
  EXPECT_EQ(last[1].goal_info.stamp.sec, 10);
  EXPECT_EQ(last[0].status, GoalStatus::STATUS_EXECUTING);
  EXPECT_EQ(last[1].status, GoalStatus::STATUS_ACCEPTED);
}

TEST_F(GoalTableTest, AnIdIsRefusedWhileTheServerKnowsIt)
{
  auto claim = table->reserve(id(7));
  ASSERT_TRUE(claim);
  EXPECT_FALSE(table->reserve(id(7))) << "claimed, not yet decided";
  table->release(claim);
  auto goal = accept(7, 1);
  EXPECT_FALSE(table->reserve(id(7))) << "active";
  table->apply(goal, GoalEvent::Succeed);
  EXPECT_FALSE(table->reserve(id(7))) << "finished, result still kept";
  EXPECT_TRUE(arrays.size() == 2u && arrays.back().status_list.size() == 1u)
    << "a refused claim is never announced";
}

TEST_F(GoalTableTest, ResultRequestsAreAnsweredWhenTheGoalEnds)
{
  table->request_result(id(9), request(1));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, GoalStatus::STATUS_UNKNOWN) << "unknown goal: answered at once";
  EXPECT_FALSE(replies[0].result);

  auto goal = accept(5, 1);
  table->request_result(id(5), request(2));
  table->request_result(id(5), request(3));
  EXPECT_EQ(replies.size(), 1u) << "active goal: deferred";

  events.clear();
  table->apply(goal, GoalEvent::Succeed, result_value(42));
  EXPECT_EQ(events, (std::vector<std::string>{"result 2", "result 3", "status"}))
    << "every waiting requester gets the result before the status array goes out";
  ASSERT_EQ(replies.size(), 3u);
  for (size_t i = 1; i < 3; ++i) {
    EXPECT_EQ(replies[i].status, GoalStatus::STATUS_SUCCEEDED);
    ASSERT_TRUE(replies[i].result);
    EXPECT_EQ(*std::static_pointer_cast<const int>(replies[i].result), 42);
  }

  table->request_result(id(5), request(4));
  ASSERT_EQ(replies.size(), 4u) << "terminal goal: answered at once";
  EXPECT_EQ(replies[3].status, GoalStatus::STATUS_SUCCEEDED);
}

TEST_F(GoalTableTest, RejectedClaimAnswersRequestsThatRacedIn)
{
  auto claim = table->reserve(id(4));
  table->request_result(id(4), request(1));
  EXPECT_TRUE(replies.empty());
  table->release(claim);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, GoalStatus::STATUS_UNKNOWN);
  EXPECT_TRUE(arrays.empty());
}

TEST_F(GoalTableTest, GoalsFollowTheStateMachine)
{
  struct Row
  {
    int8_t from;
    GoalEvent event;
    int8_t to;
  };
  using E = GoalEvent;
  const int8_t A = GoalStatus::STATUS_ACCEPTED, X = GoalStatus::STATUS_EXECUTING,
    C = GoalStatus::STATUS_CANCELING, S = GoalStatus::STATUS_SUCCEEDED,
    D = GoalStatus::STATUS_CANCELED, B = GoalStatus::STATUS_ABORTED,
    U = GoalStatus::STATUS_UNKNOWN;
  const Row rows[] = {
    {A, E::Execute, X}, {A, E::CancelGoal, C}, {A, E::Succeed, U}, {A, E::Abort, U},
    {A, E::Canceled, U}, {X, E::Execute, U}, {X, E::CancelGoal, C}, {X, E::Succeed, S},
    {X, E::Abort, B}, {X, E::Canceled, U}, {C, E::Execute, U}, {C, E::CancelGoal, U},
    {C, E::Succeed, S}, {C, E::Abort, B}, {C, E::Canceled, D}, {S, E::Succeed, U},
    {D, E::Abort, U}, {B, E::CancelGoal, U}, {U, E::Execute, U},
  };
  for (const auto & row : rows) {
    EXPECT_EQ(rclcpp_action::detail::transition(row.from, row.event), row.to)
      << rclcpp_action::detail::state_name(row.from) << " + " <<
      rclcpp_action::detail::event_name(row.event);
  }
}

TEST_F(GoalTableTest, IllegalCallsThrowAndChangeNothing)
{
  auto deferred = accept(1, 1, false);
  auto goal = accept(2, 2);
  const size_t arrays_before = arrays.size();

  EXPECT_THROW(
    table->apply(deferred, GoalEvent::Succeed),
    rclcpp_action::exceptions::InvalidGoalTransitionError);
  EXPECT_THROW(table->apply(goal, GoalEvent::Canceled), std::runtime_error) << "not canceling";
  EXPECT_THROW(table->apply(goal, GoalEvent::Execute), std::runtime_error);
  EXPECT_EQ(arrays.size(), arrays_before) << "a refused call publishes nothing";

  table->request_result(id(2), request(1));
  table->apply(goal, GoalEvent::Succeed, result_value(1));
  try {
    table->apply(goal, GoalEvent::Abort, result_value(2));
    FAIL() << "abort after succeed must throw";
  } catch (const rclcpp_action::exceptions::InvalidGoalTransitionError & e) {
    const std::string what = e.what();
    EXPECT_NE(what.find(rclcpp_action::to_string(id(2))), std::string::npos) << what;
    EXPECT_NE(what.find("SUCCEEDED"), std::string::npos) << what;
    EXPECT_NE(what.find("abort"), std::string::npos) << what;
    EXPECT_EQ(e.state, GoalStatus::STATUS_SUCCEEDED);
  }
  EXPECT_EQ(table->state_of(goal), GoalStatus::STATUS_SUCCEEDED);
  table->request_result(id(2), request(2));
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(*std::static_pointer_cast<const int>(replies[1].result), 1) << "first result kept";
  EXPECT_EQ(replies[1].status, GoalStatus::STATUS_SUCCEEDED);

  table->apply(deferred, GoalEvent::Execute);
  EXPECT_EQ(table->state_of(deferred), GoalStatus::STATUS_EXECUTING);
}

TEST_F(GoalTableTest, CancelRequestsSelectGoalsAndReportCodes)
{
  using rclcpp_action::GoalInfo;
  auto early = accept(1, 10);
  auto deferred = accept(2, 20, false);
  auto late = accept(3, 30);
  auto done = accept(4, 40);
  table->apply(done, GoalEvent::Succeed);

  const auto select = [this](const GoalInfo & info, int8_t & code) {
      std::vector<GoalTable::CancelCandidate> candidates;
      code = table->select_for_cancel(info, candidates);
      std::vector<uint8_t> ids;
      for (const auto & c : candidates) {
        ids.push_back(GoalTable::id_of(c.goal)[0]);
      }
      return ids;
    };
  int8_t code = -1;
  GoalInfo info;

  info.goal_id.uuid = id(99);
  EXPECT_TRUE(select(info, code).empty());
  EXPECT_EQ(code, CancelResponse::ERROR_UNKNOWN_GOAL_ID);

  info.goal_id.uuid = id(4);
  EXPECT_TRUE(select(info, code).empty());
  EXPECT_EQ(code, CancelResponse::ERROR_GOAL_TERMINATED);

  info.goal_id.uuid = id(2);
  EXPECT_EQ(select(info, code), (std::vector<uint8_t>{2}));
  EXPECT_EQ(code, CancelResponse::ERROR_NONE);

  info = GoalInfo();
  EXPECT_EQ(select(info, code), (std::vector<uint8_t>{1, 2, 3})) << "all cancelable goals";

  info.stamp = at(20);
  EXPECT_EQ(select(info, code), (std::vector<uint8_t>{1, 2})) << "accepted at or before";

  info.goal_id.uuid = id(3);
  EXPECT_EQ(select(info, code), (std::vector<uint8_t>{1, 2, 3})) << "by time plus by id";

  // The owner rejects every candidate: the request as a whole is rejected.
  auto rejected = table->finish_cancel(CancelResponse::ERROR_NONE, 2, {});
  EXPECT_EQ(rejected.return_code, CancelResponse::ERROR_REJECTED);

  const size_t arrays_before = arrays.size();
  ASSERT_TRUE(table->start_canceling(early));
  ASSERT_TRUE(table->start_canceling(deferred));
  auto response = table->finish_cancel(CancelResponse::ERROR_NONE, 3, {early, deferred});
  EXPECT_EQ(response.return_code, CancelResponse::ERROR_NONE);
  ASSERT_EQ(response.goals_canceling.size(), 2u);
  EXPECT_EQ(response.goals_canceling[1].goal_id.uuid, id(2));
  EXPECT_EQ(response.goals_canceling[1].stamp.sec, 20);
  EXPECT_EQ(arrays.size(), arrays_before + 1);
  EXPECT_EQ(listed_states(), (std::vector<int8_t>{
    GoalStatus::STATUS_CANCELING, GoalStatus::STATUS_CANCELING, GoalStatus::STATUS_EXECUTING,
    GoalStatus::STATUS_SUCCEEDED}));

  info = GoalInfo();
  info.goal_id.uuid = id(1);
  EXPECT_TRUE(select(info, code).empty());
  EXPECT_EQ(code, CancelResponse::ERROR_GOAL_TERMINATED) << "already canceling";
  EXPECT_FALSE(table->start_canceling(early));

  table->apply(early, GoalEvent::Canceled);
  EXPECT_EQ(table->state_of(early), GoalStatus::STATUS_CANCELED);
  (void)late;
}

TEST_F(GoalTableTest, GoalWhoseHandleIsGoneIsNotOfferedForCancel)
{
  auto goal = accept(1, 1);
  handles.clear();
  std::vector<GoalTable::CancelCandidate> candidates;
  rclcpp_action::GoalInfo info;
  info.goal_id.uuid = id(1);
  EXPECT_EQ(table->select_for_cancel(info, candidates), CancelResponse::ERROR_GOAL_TERMINATED);
  EXPECT_TRUE(candidates.empty());
  table->abandon(goal);
}

TEST_F(GoalTableTest, ResultsExpireATimeoutAfterTheGoalEnded)
{
  auto goal = accept(1, 1);
  now += std::chrono::minutes(20);  // ran longer than the timeout
  table->apply(goal, GoalEvent::Succeed, result_value(7));

  now += std::chrono::minutes(14);
  table->request_result(id(1), request(1));
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, GoalStatus::STATUS_SUCCEEDED) << "kept from the end, not the start";
  EXPECT_EQ(table->size(), 1u);

  now += std::chrono::minutes(1) + std::chrono::nanoseconds(1);
  table->request_result(id(1), request(2));
  ASSERT_EQ(replies.size(), 2u);
  EXPECT_EQ(replies[1].status, GoalStatus::STATUS_UNKNOWN);
  EXPECT_EQ(table->size(), 0u);
  EXPECT_TRUE(table->reserve(id(1))) << "the id is free again";
}

TEST_F(GoalTableTest, StatusArrayStaysBoundedUnderManyShortGoals)
{
  make_table(std::chrono::seconds(10));
  for (int i = 0; i < 200; ++i) {
    auto goal = accept(static_cast<uint8_t>(i), i);
    table->apply(goal, GoalEvent::Succeed);
    now += std::chrono::seconds(1);
  }
  EXPECT_LE(arrays.back().status_list.size(), 11u);
  EXPECT_GE(arrays.back().status_list.size(), 10u);
}

TEST_F(GoalTableTest, AbandonedActiveGoalEndsAborted)
{
  auto goal = accept(1, 1);
  table->request_result(id(1), request(1));
  table->abandon(goal);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].status, GoalStatus::STATUS_ABORTED);
  EXPECT_FALSE(replies[0].result) << "a default result";
  EXPECT_EQ(listed_states(), std::vector<int8_t>{GoalStatus::STATUS_ABORTED});

  auto deferred = accept(2, 2, false);
  table->abandon(deferred);
  EXPECT_EQ(table->state_of(deferred), GoalStatus::STATUS_ABORTED) << "never silently CANCELED";

  auto finished = accept(3, 3);
  table->apply(finished, GoalEvent::Succeed);
  const size_t arrays_before = arrays.size();
  table->abandon(finished);
  EXPECT_EQ(table->state_of(finished), GoalStatus::STATUS_SUCCEEDED);
  EXPECT_EQ(arrays.size(), arrays_before);
}

TEST_F(GoalTableTest, DetachedTableSendsNothing)
{
  auto goal = accept(1, 1);
  const size_t arrays_before = arrays.size();
  table->set_outputs(nullptr, nullptr);
  table->request_result(id(1), request(1));
  table->apply(goal, GoalEvent::Succeed);
  EXPECT_EQ(arrays.size(), arrays_before);
  EXPECT_TRUE(replies.empty());
  EXPECT_EQ(table->state_of(goal), GoalStatus::STATUS_SUCCEEDED);
}

// Goals finished from many threads at once: every published array must show at least as many
// finished goals as the one before it, or a late joiner could latch a stale array.
TEST(GoalTableConcurrency, StatusArraysLeaveInTheOrderOfTheChanges)
{
  std::mutex mutex;
  std::vector<size_t> finished_counts;
  auto table = std::make_shared<GoalTable>(
    rclcpp::get_logger("test_goal_table"), std::chrono::minutes(15));
  table->set_outputs(
    [](const rmw_request_id_t &, int8_t, const std::shared_ptr<const void> &) {},
    [&](const GoalStatusArray & array) {
      std::lock_guard<std::mutex> lock(mutex);
      finished_counts.push_back(
        static_cast<size_t>(std::count_if(
          array.status_list.begin(), array.status_list.end(),
          [](const GoalStatus & s) {return s.status == GoalStatus::STATUS_SUCCEEDED;})));
    });
  constexpr int kThreads = 4;
  constexpr int kGoalsPerThread = 50;
  std::vector<std::shared_ptr<GoalRecord>> goals;
  auto keep = std::make_shared<int>(0);
  for (int i = 0; i < kThreads * kGoalsPerThread; ++i) {
    GoalUUID uuid{};
    uuid[0] = static_cast<uint8_t>(i);
    uuid[1] = static_cast<uint8_t>(i >> 8);
    goals.push_back(table->reserve(uuid));
    table->accept(goals.back(), at(i), true, keep);
  }
  std::atomic_int started{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t]() {
        started++;
        while (started.load() < kThreads) {
          std::this_thread::yield();
        }
        for (int i = 0; i < kGoalsPerThread; ++i) {
          table->apply(goals[t * kGoalsPerThread + i], GoalEvent::Succeed);
          table->status();
        }
      });
  }
  for (auto & thread : threads) {
    thread.join();
  }
  EXPECT_TRUE(std::is_sorted(finished_counts.begin(), finished_counts.end()));
  EXPECT_EQ(finished_counts.back(), static_cast<size_t>(kThreads * kGoalsPerThread));
}

}  // namespace

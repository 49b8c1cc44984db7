// The dashboard over a recorded bag: the state at any moment, found from the model's copies,
// is the state the live page reaches with the same messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "commands.hpp"
#include "dashboard/feed.hpp"
#include "dashboard/replay.hpp"
#include "quorvel_bag/bag_error.hpp"
#include "quorvel_bag/writer.hpp"
#include "replay_fixture.hpp"

namespace quorvel_tools
{
namespace
{

using Json = nlohmann::json;
constexpr std::int64_t kStart = 1'765'171'339'937'000'000;  // ns

class TempDir
{
public:
  TempDir()
  {
    char path[] = "/tmp/quorvel-replay-test.XXXXXX";
    path_ = mkdtemp(path);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::filesystem::path operator/(const std::string & name) const { return path_ / name; }

private:
  std::filesystem::path path_;
};

// What the live dashboard holds after the messages received up to `at_ns`: each one handed to
// the model as its subscription's callback does.
Json live_state(const std::vector<replay_fixture::Received> & traffic, std::int64_t at_ns)
{
  DashboardModel model;
  for (const auto & r : traffic) {
    if (r.received_ns > at_ns) {
      break;
    }
    apply(model, r.message);
  }
  Json state = model.snapshot(at_ns / 1000000);
  state["replay"] = {{"at_ns", at_ns - kStart}};
  return state;
}

class Replay : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    dir_ = new TempDir();
    traffic_ = new std::vector<replay_fixture::Received>(replay_fixture::desk_traffic(6, kStart));
    replay_fixture::write_bag(*dir_ / "rec", *traffic_);
  }
  static void TearDownTestSuite()
  {
    delete traffic_;
    delete dir_;
  }

  static TempDir * dir_;
  static std::vector<replay_fixture::Received> * traffic_;
};
TempDir * Replay::dir_ = nullptr;
std::vector<replay_fixture::Received> * Replay::traffic_ = nullptr;

TEST_F(Replay, AnyMomentInAnyOrderShowsWhatTheLivePageShowedThen)
{
  // Few copies and few recent positions, so that every way to a moment is taken: from a copy,
  // from a recent position forward, after evicting one, backwards.
  ReplaySettings settings;
  settings.snapshot_every = 50;
  settings.recent_positions = 2;
  BagReplay replay(*dir_ / "rec", {}, settings);
  EXPECT_GT(replay.snapshot_count(), 10U);
  ASSERT_EQ(replay.start_ns(), kStart);

  std::vector<std::int64_t> moments;
  for (const auto & r : *traffic_) {
    if (r.topic == kTaskEventsTopic) {
      moments.push_back(r.received_ns);      // on an event
      moments.push_back(r.received_ns - 1);  // just before it
    }
  }
  std::mt19937 random(7);
  std::shuffle(moments.begin(), moments.end(), random);
  moments.resize(60);
  const std::int64_t end = traffic_->back().received_ns;
  moments.push_back(end);
  moments.push_back(kStart);
  // Playing: small steps forward from one moment.
  for (std::int64_t t = kStart + 3'000'000'000; t < kStart + 4'000'000'000; t += 100'000'000) {
    moments.push_back(t);
  }
  for (const std::int64_t at : moments) {
    const Json expected = live_state(*traffic_, at);
    const Json shown = replay.snapshot_at(at - kStart);
    ASSERT_EQ(shown, expected) << "at +" << (at - kStart) << " ns";
  }

  // The end of the recording is the end of the live run.
  EXPECT_EQ(replay.snapshot_at(replay.duration_ns()), live_state(*traffic_, end));
  // Moments outside the recording are its edges.
  EXPECT_EQ(
      replay.snapshot_at(replay.duration_ns() + 5'000'000'000)["task"],
      live_state(*traffic_, end)["task"]);
  EXPECT_FALSE(replay.snapshot_at(-5'000'000'000)["task"]["known"].get<bool>());
  EXPECT_FALSE(replay.snapshot_at(0, false).contains("plot"));
}

TEST_F(Replay, TheTasksTheirEventsAndTheirPlots)
{
  BagReplay replay(*dir_ / "rec");
  const Json info = replay.info();
  EXPECT_EQ(info["mode"], "replay");
  EXPECT_EQ(info["bag"], (*dir_ / "rec").string());
  ASSERT_EQ(info["tasks"].size(), 6U);
  const Json & third = info["tasks"][2];
  EXPECT_EQ(third["outcome"], "succeeded");
  EXPECT_EQ(third["error_code"], 102300003);
  EXPECT_EQ(third["error_meaning"], "recovery succeeded");
  EXPECT_LT(third["begin_ns"].get<std::int64_t>(), third["end_ns"].get<std::int64_t>());
  EXPECT_LE(info["tasks"][1]["end_ns"].get<std::int64_t>(), third["begin_ns"].get<std::int64_t>());

  const auto detail = replay.task_detail(2);
  ASSERT_TRUE(detail);
  const Json & events = (*detail)["events"];
  ASSERT_EQ(events.size(), third["events"].get<std::size_t>());
  EXPECT_EQ(events.front()["kind"], TaskEvent::TASK_STARTED);
  EXPECT_EQ(events.back()["kind"], TaskEvent::TASK_ENDED);
  EXPECT_EQ(events.front()["at_ns"], third["begin_ns"].get<std::int64_t>() + 2'000'000);

  // The task's whole plot: the curves to its end, the failed grab, the recovery with its
  // position reached, the arm abnormal meanwhile, and nothing of the next task.
  const Json & plot = (*detail)["plot"];
  EXPECT_EQ(plot["goal_id"], third["goal_id"]);
  EXPECT_EQ(plot["names"], Json({"joint1", "joint2", "joint3", "joint4", "joint5"}));
  EXPECT_GT(plot["samples"].size(), 30U);
  EXPECT_EQ(
      plot["samples"].back()[0],
      plot["ended_ms"].get<std::int64_t>() - plot["started_ms"].get<std::int64_t>());
  ASSERT_EQ(plot["recoveries"].size(), 1U);
  EXPECT_EQ(plot["recoveries"][0]["what"], "recover: recovered");
  ASSERT_EQ(plot["recovery_positions"].size(), 1U);
  EXPECT_TRUE(plot["recovery_positions"][0]["reached"].get<bool>());
  EXPECT_EQ(plot["recovery_positions"][0]["name"], "recover_movej_pos2");
  ASSERT_EQ(plot["abnormal"].size(), 1U);
  EXPECT_FALSE(plot["abnormal"][0]["to_ms"].is_null());
  std::vector<std::string> motions;
  for (const Json & m : plot["motions"]) {
    motions.push_back(
        m["name"].get<std::string>() + (m["recovery"].get<bool>() ? "*" : "") + " " +
        std::to_string(m["status"].get<int>()));
  }
  EXPECT_EQ(
      motions,
      std::vector<std::string>(
          {"grab_pose 102100010", "recover_movej_pos2* 102100000", "observe_joints 102100000"}));
  EXPECT_FALSE(replay.task_detail(6));
}

TEST(ReplayRefuses, ABagThatIsNotWholeAndOptionsForTheLivePage)
{
  EXPECT_EQ(parse_dashboard({"--bag", "rec", "--port", "9000"}).bag, "rec");
  EXPECT_TRUE(dashboard_replays({"--bag=rec"}));
  EXPECT_FALSE(dashboard_replays({"--port", "9000"}));
  EXPECT_THROW(parse_dashboard({"--bag", "rec", "--action", "/a"}), UsageError);
  EXPECT_THROW(parse_dashboard({"--detect-service", "/d", "--bag", "rec"}), UsageError);
  EXPECT_THROW(parse_dashboard({"--bag", ""}), UsageError);
}

TEST(ReplayRefuses, ABagThatIsNotWhole)
{
  TempDir dir;
  // A joint state whose bytes end half-way.
  {
    quorvel_bag::BagWriter writer(dir / "cut");
    quorvel_bag::TopicMetadata topic;
    topic.name = kJointAngleTopic;
    topic.type = "sensor_msgs/msg/JointState";
    topic.offered_qos_profiles = "[]";
    const std::int64_t id = writer.add_topic(topic);
    const std::uint8_t bytes[] = {0, 1, 0, 0, 9, 0, 0, 0, 1};
    writer.write(id, kStart, bytes, sizeof bytes);
    writer.close();
  }
  try {
    BagReplay replay(dir / "cut");
    FAIL() << "a bag with a message that does not decode was read";
  } catch (const quorvel_bag::BagError & error) {
    const std::string text = error.what();
    EXPECT_NE(text.find("bag '" + (dir / "cut").string() + "'"), std::string::npos) << text;
    EXPECT_NE(text.find("does not decode"), std::string::npos) << text;
  }
  EXPECT_THROW(BagReplay(dir / "none"), quorvel_bag::BagError);
}

}  // namespace
}  // namespace quorvel_tools

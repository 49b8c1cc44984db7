// The simulator as the supervisor meets it: answers come when the arm has arrived, faults hit the
// N-th call, the arm turns abnormal and normal again, bad requests are refused, never dropped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "quorvel_arm_sim/simulator.hpp"

namespace quorvel_arm_sim
{
namespace
{

const std::vector<double> kRelease{1.5708, -0.35, 1.2, -0.85, 0.0};
const std::vector<double> kObserve{0.0, -0.5236, 1.0472, -0.5236, 0.0};
const std::vector<double> kRecoverRelease{1.5708, -0.2, 1.0, -0.8, 0.0};

Scene base_scene(std::vector<Fault> faults = {})
{
  Scene scene = parse_scene(
      R"(
arm: {joint_speed: 2.0, start_joints: [0.0, -0.5236, 1.0472, -0.5236, 0.0]}
detect_latency: 0.3
table:
  items:
    - {name: bottle, grab: [0.35, 0.10, -0.17]}
    - {name: can, grab: [0.45, 0.15, -0.17]}
expect: {error_code: 102300000, unable_grab_trashes: 0}
)",
      "test.yaml");
  scene.faults = std::move(faults);
  for (std::size_t i = 0; i < scene.faults.size(); ++i) {
    scene.faults[i].number = i + 1;
  }
  return scene;
}

Fault fault_on(Service service, int call)
{
  Fault fault;
  fault.service = service;
  fault.call = call;
  return fault;
}

// Drives a simulator the way the supervisor does, with a clock that only the test moves.
class SimulatorTest : public ::testing::Test
{
protected:
  void make(std::vector<Fault> faults = {}, double chaos_rate = 0.0)
  {
    sim_ = std::make_unique<Simulator>(base_scene(std::move(faults)), Chaos(5, chaos_rate));
  }

  // Advances in 20 ms steps until `ticket` is answered; fails after `limit` seconds.
  Answer wait_answer(Ticket ticket, double limit = 10.0)
  {
    const double end = now_ + limit;
    while (now_ <= end) {
      for (const Answer & answer : sim_->advance(now_)) {
        if (answer.ticket == ticket) {
          return answer;
        }
        early_.push_back(answer);
      }
      now_ += 0.02;
    }
    ADD_FAILURE() << "ticket " << ticket << " not answered within " << limit << " s";
    return Answer{};
  }

  Answer detect()
  {
    sim_->detect_requested(now_, ++ticket_);
    return wait_answer(ticket_);
  }
  Answer grab(const Item & item)
  {
    sim_->grab_requested(now_, ++ticket_, item.grab[0], item.grab[1], item.grab[2]);
    return wait_answer(ticket_);
  }
  Answer move(Service service, const std::vector<double> & target)
  {
    sim_->joints_requested(now_, ++ticket_, service, target);
    return wait_answer(ticket_);
  }
  void gripper(int closed) { sim_->gripper_command(now_, {100, closed}); }

  std::vector<std::string> names(const Answer & answer)
  {
    std::vector<std::string> out;
    for (const Item & item : answer.items) {
      out.push_back(item.name);
    }
    return out;
  }

  bool logged(const std::string & part)
  {
    for (const auto & line : sim_->take_events()) {
      events_.push_back(line);
    }
    return std::any_of(events_.begin(), events_.end(), [&part](const std::string & line) {
      return line.find(part) != std::string::npos;
    });
  }

  std::unique_ptr<Simulator> sim_;
  double now_ = 0.0;
  Ticket ticket_ = 0;
  std::vector<Answer> early_;
  std::vector<std::string> events_;
};

TEST_F(SimulatorTest, AFullPickEmptiesTheTableOneItemAtATime)
{
  make();
  const Answer first = detect();
  EXPECT_EQ(first.status, kDetectSuccess);
  EXPECT_NEAR(now_, 0.3, 0.021);
  ASSERT_EQ(names(first), (std::vector<std::string>{"bottle", "can"}));
  for (const Item & item : first.items) {
    gripper(0);
    EXPECT_EQ(grab(item).status, kStatusSuccess);
    gripper(1);
    EXPECT_EQ(move(Service::kRelease, kRelease).status, kStatusSuccess);
    gripper(0);
    EXPECT_EQ(move(Service::kMoveJoints, kObserve).status, kStatusSuccess);
  }
  EXPECT_TRUE(detect().items.empty());
  EXPECT_EQ(sim_->table().picked(), 2u);
  EXPECT_TRUE(logged("item 'bottle' picked (1 left on the table)"));
  EXPECT_TRUE(logged("grab #1: item 'bottle' at (0.35, 0.10, -0.17) -> moving"));
}

TEST_F(SimulatorTest, AMotionIsAnsweredWhenTheJointsStandAtItsTarget)
{
  make();
  sim_->joints_requested(now_, 1, Service::kRelease, kRelease);
  const double expected_arrival = 1.5708 / 2.0;
  EXPECT_TRUE(sim_->advance(now_ + expected_arrival - 0.01).empty());
  const auto halfway = sim_->joint_feedback(now_ + expected_arrival / 2.0);
  EXPECT_NEAR(halfway[0], 1.5708 / 2.0, 1e-9);
  const auto answers = sim_->advance(now_ + expected_arrival);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].status, kStatusSuccess);
  // What a client reads right after the answer is the target.
  EXPECT_EQ(sim_->joint_feedback(now_ + expected_arrival), kRelease);
  EXPECT_FALSE(sim_->moving());
}

TEST_F(SimulatorTest, BadRequestsAreAnsweredWithAFailureAtOnce)
{
  make();
  sim_->joints_requested(0.0, 1, Service::kMoveJoints, {0.0, 0.0, 0.0, 0.0});
  sim_->joints_requested(0.0, 2, Service::kRelease, {0.0, 0.0, std::nan(""), 0.0, 0.0});
  sim_->grab_requested(0.0, 3, std::nan(""), 0.0, 0.0);
  const auto answers = sim_->advance(0.0);
  ASSERT_EQ(answers.size(), 3u);
  EXPECT_EQ(answers[0].status, kStatusMoveJointsInvalidTarget);
  EXPECT_NE(answers[0].errmsg.find("must hold 5 values, got 4"), std::string::npos);
  EXPECT_EQ(answers[1].status, kStatusReleaseInvalidTarget);
  EXPECT_EQ(answers[2].status, kStatusGrabInvalidTarget);
  EXPECT_FALSE(sim_->moving());
  EXPECT_EQ(sim_->joint_feedback(0.0), kObserve);
}

TEST_F(SimulatorTest, ASecondMotionWhileOneRunsIsRefusedAsBusy)
{
  make();
  sim_->joints_requested(0.0, 1, Service::kRelease, kRelease);
  sim_->joints_requested(0.1, 2, Service::kMoveJoints, kObserve);
  const auto refused = sim_->advance(0.1);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0].ticket, 2u);
  EXPECT_EQ(refused[0].status, kStatusCommonFailure);
  EXPECT_NE(refused[0].errmsg.find("busy"), std::string::npos);
  // The first one still arrives and is answered; a request once it has arrived is taken even
  // before the simulation was advanced.
  sim_->joints_requested(2.0, 3, Service::kMoveJoints, kObserve);
  const auto answers = sim_->advance(2.0);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].ticket, 1u);
  EXPECT_TRUE(sim_->moving());
}

TEST_F(SimulatorTest, AFaultHitsTheNthCallAndStartsAnAbnormalArmWithItsAnswer)
{
  Fault fault = fault_on(Service::kGrab, 2);
  fault.status = 102100010;
  fault.errmsg = "bumped";
  fault.abnormal = Abnormality{Abnormality::Kind::kUntilRecovers, 0.0, 2};
  Fault lost = fault_on(Service::kMoveJoints, 1);
  lost.status = 102100001;
  make({fault, lost});
  const Item bottle = base_scene().items[0];
  EXPECT_EQ(grab(bottle).status, kStatusSuccess);
  EXPECT_FALSE(sim_->abnormal(now_));
  sim_->grab_requested(now_, ++ticket_, bottle.grab[0], bottle.grab[1], bottle.grab[2]);
  EXPECT_FALSE(sim_->abnormal(now_));  // not before the answer
  const Answer failed = wait_answer(ticket_);
  EXPECT_EQ(failed.status, 102100010);
  EXPECT_EQ(failed.errmsg, "bumped");
  EXPECT_TRUE(sim_->abnormal(now_));
  // An abnormal arm takes no motion; the refused call uses up its number and its fault.
  EXPECT_EQ(move(Service::kMoveJoints, kObserve).status, kStatusCommonFailure);
  EXPECT_TRUE(logged("fault 2 of movejoints #1 not played: the call was refused"));
  sim_->recover_message(now_);
  EXPECT_TRUE(sim_->abnormal(now_));
  EXPECT_TRUE(logged("recover message #1 counted (arm abnormal, 1 more to go)"));
  sim_->recover_message(now_);
  EXPECT_FALSE(sim_->abnormal(now_));
  EXPECT_TRUE(logged("arm normal again"));
  EXPECT_EQ(move(Service::kMoveJoints, kObserve).status, kStatusSuccess);
}

TEST_F(SimulatorTest, ATimedAbnormalStateEndsByItself)
{
  Fault fault = fault_on(Service::kRelease, 1);
  fault.status = 102100015;
  fault.abnormal = Abnormality{Abnormality::Kind::kFor, 2.0, 0};
  make({fault});
  EXPECT_EQ(move(Service::kRelease, kRelease).status, 102100015);
  const double answered = now_;
  sim_->advance(answered + 1.9);
  EXPECT_TRUE(sim_->abnormal(answered + 1.9));
  sim_->advance(answered + 2.0);
  EXPECT_FALSE(sim_->abnormal(answered + 2.0));
}

TEST_F(SimulatorTest, AFailedReleaseDropsTheItemAtTheRecoveryPosture)
{
  Fault fault = fault_on(Service::kRelease, 1);
  fault.status = 102100014;
  make({fault});
  const Item bottle = detect().items.at(0);
  gripper(0);
  ASSERT_EQ(grab(bottle).status, kStatusSuccess);
  gripper(1);
  ASSERT_EQ(move(Service::kRelease, kRelease).status, 102100014);
  ASSERT_EQ(move(Service::kMoveJoints, kRecoverRelease).status, kStatusSuccess);
  gripper(0);
  EXPECT_TRUE(logged("item 'bottle' dropped"));
  ASSERT_EQ(move(Service::kMoveJoints, kObserve).status, kStatusSuccess);
  EXPECT_EQ(names(detect()), (std::vector<std::string>{"can"}));
  EXPECT_EQ(sim_->table().dropped(), 1u);
}

TEST_F(SimulatorTest, JointFaultsShowInTheFeedback)
{
  Fault short_stop = fault_on(Service::kMoveJoints, 1);
  short_stop.stop_short = StopShortFault{0, 0.2};
  Fault cut = fault_on(Service::kMoveJoints, 2);
  cut.short_feedback = ShortFeedbackFault{4, 1.0};
  make({short_stop, cut});
  // The controller believes it arrived: the answer is a success, the joint is 0.2 short.
  EXPECT_EQ(move(Service::kMoveJoints, kRelease).status, kStatusSuccess);
  EXPECT_NEAR(sim_->joint_feedback(now_)[0], 1.5708 - 0.2, 1e-9);
  sim_->joints_requested(now_, ++ticket_, Service::kMoveJoints, kRelease);
  EXPECT_EQ(sim_->joint_feedback(now_).size(), 4u);
  EXPECT_EQ(sim_->joint_feedback(now_ + 0.99).size(), 4u);
  EXPECT_EQ(sim_->joint_feedback(now_ + 1.0).size(), 5u);
}

TEST_F(SimulatorTest, StopShortHoldsAJointOffTheTargetTheArmAlreadyStandsAt)
{
  // The recovery moves to the posture the arm stands at; the joint still ends off it.
  Fault sag = fault_on(Service::kMoveJoints, 1);
  sag.stop_short = StopShortFault{2, 0.05};
  make({sag});
  EXPECT_EQ(move(Service::kMoveJoints, kObserve).status, kStatusSuccess);
  const std::vector<double> feedback = sim_->joint_feedback(now_);
  ASSERT_EQ(feedback.size(), 5u);
  EXPECT_NEAR(feedback[2], kObserve[2] - 0.05, 1e-9);
  for (const std::size_t joint : {0u, 1u, 3u, 4u}) {
    EXPECT_DOUBLE_EQ(feedback[joint], kObserve[joint]) << "joint " << joint + 1;
  }
  // The next move without the fault reaches the target.
  EXPECT_EQ(move(Service::kMoveJoints, kObserve).status, kStatusSuccess);
  EXPECT_DOUBLE_EQ(sim_->joint_feedback(now_)[2], kObserve[2]);
}

TEST_F(SimulatorTest, DetectionFaultsAndTimeTriggers)
{
  Fault never = fault_on(Service::kDetect, 2);
  never.never_answer = true;
  Fault failed = fault_on(Service::kDetect, 3);
  failed.status = 0;
  failed.errmsg = "camera dark";
  Fault person;
  person.at = 1.0;  // after the first detection request
  person.env_object = EnvObjectFault{1.2, 0.0, 3.0};
  make({never, failed, person});
  now_ = 5.0;
  EXPECT_EQ(detect().items.size(), 2u);
  sim_->detect_requested(now_, 99);
  EXPECT_EQ(sim_->take_unanswered(), (std::vector<Ticket>{99}));
  EXPECT_TRUE(sim_->advance(now_ + 30.0).empty());
  now_ += 30.0;
  const Answer dark = detect();
  EXPECT_EQ(dark.status, 0);
  EXPECT_EQ(dark.errmsg, "camera dark");
  EXPECT_TRUE(dark.items.empty());

  // The person came 1 s after the first detection request (at 5.0) and left 3 s later.
  make({person});
  sim_->detect_requested(5.0, 1);
  sim_->advance(5.9);
  EXPECT_TRUE(sim_->environment(5.9).empty());
  sim_->advance(6.0);
  ASSERT_EQ(sim_->environment(6.0).size(), 1u);
  EXPECT_DOUBLE_EQ(sim_->environment(8.9)[0].x, 1.2);
  sim_->advance(9.0);
  EXPECT_TRUE(sim_->environment(9.0).empty());
  EXPECT_TRUE(logged("leaves"));
}

TEST_F(SimulatorTest, ACallsLatencyHoldsItsAnswerButNoOtherOne)
{
  Fault late = fault_on(Service::kDetect, 1);
  late.latency = 2.0;
  Fault slow = fault_on(Service::kMoveJoints, 1);
  slow.latency = 1.5;
  make({late, slow});
  // The late detection answers after its 2 s; the next one, asked later, answers first.
  sim_->detect_requested(0.0, 1);
  sim_->detect_requested(0.1, 2);
  EXPECT_TRUE(sim_->advance(0.3).empty());
  const auto second = sim_->advance(0.4);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].ticket, 2u);
  EXPECT_TRUE(sim_->advance(1.99).empty());
  const auto first = sim_->advance(2.0);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].ticket, 1u);
  EXPECT_TRUE(logged("fault 1: detect #1 answers after 2.00 s"));

  // A move to where the arm stands arrives at once, but answers only after its latency.
  now_ = 3.0;
  sim_->joints_requested(now_, 10, Service::kMoveJoints, kObserve);
  EXPECT_TRUE(sim_->advance(4.49).empty());
  EXPECT_TRUE(sim_->moving());
  const auto moved = sim_->advance(4.5);
  ASSERT_EQ(moved.size(), 1u);
  EXPECT_EQ(moved[0].status, kStatusSuccess);
  // The next move has no latency of its own.
  now_ = 5.0;
  sim_->joints_requested(now_, 11, Service::kMoveJoints, kObserve);
  EXPECT_EQ(sim_->advance(5.0).size(), 1u);
}

TEST_F(SimulatorTest, ChaosNeverLeavesAnArmRequestUnanswered)
{
  make({}, 1.0);
  const Item bottle = base_scene().items[0];
  for (int i = 0; i < 30; ++i) {
    const Answer answer = grab(bottle);
    const auto & table = failure_statuses(Service::kGrab);
    EXPECT_NE(std::find(table.begin(), table.end(), answer.status), table.end());
    EXPECT_NE(move(Service::kMoveJoints, kObserve).status, kStatusSuccess);
  }
  // A scene fault's status wins over chaos.
  Fault fault = fault_on(Service::kRelease, 1);
  fault.status = 102100016;
  make({fault}, 1.0);
  EXPECT_EQ(move(Service::kRelease, kRelease).status, 102100016);
}

}  // namespace
}  // namespace quorvel_arm_sim

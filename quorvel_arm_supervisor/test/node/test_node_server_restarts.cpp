// An arm controller that goes away while the supervisor waits for its answer: every kind of arm
// call (grab, release, the move back to the observe posture, a recovery move), each with a
// controller that dies with the request and comes back, and with one that is replaced while the
// old one still answers late. The request is sent again once per return, a late answer to an
// earlier send never counts, and the task ends as it would have without the fault.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "supervisor_fixture.hpp"

namespace quorvel_arm_supervisor::node_test
{
namespace
{

using std::chrono::milliseconds;
using std::chrono::seconds;
using ResultCode = rclcpp_action::ResultCode;
using TaskEvent = quorvel_task_events::msg::TaskEvent;
using ArmGrab = quorvel_interfaces::srv::ArmGrab;
using ArmRelease = quorvel_interfaces::srv::ArmRelease;
using ArmMoveJoints = quorvel_interfaces::srv::ArmMoveJoints;

// Where in a task the controller goes away.
enum class Site
{
  kGrab,
  kRelease,
  kObserveMove,
  kRecoveryMove,
};

// How it goes away.
enum class Fault
{
  kGoneAndBack,          // dies with the request; a new one comes up after it left
  kReplacedAnswersLate,  // a new one comes up while the old one is still there; the old one
                         // answers its requests late, with a failure
};

const char * SiteName(Site site)
{
  switch (site) {
    case Site::kGrab:
      return "grab";
    case Site::kRelease:
      return "release";
    case Site::kObserveMove:
      return "observe move";
    case Site::kRecoveryMove:
      return "recovery move";
  }
  return "?";
}

class ServerRestartTest : public SupervisorTest
{
protected:
  // Runs one task with the fault at the site and checks what the supervisor did.
  void Play(Site site, Fault fault)
  {
    SCOPED_TRACE(
        std::string(SiteName(site)) +
        (fault == Fault::kGoneAndBack ? ", gone and back" : ", replaced"));
    ArmControllerNames names;
    // The call under test is served by the instances below, not by the scripted controller.
    if (site == Site::kGrab) {
      names.grab_service = "/unused/arm_grab";
    } else if (site == Site::kRelease) {
      names.release_service = "/unused/arm_release";
    } else {
      names.movejoints_service = "/unused/arm_movejoints";
    }
    StartFakes(names);
    ASSERT_NO_FATAL_FAILURE(StartSupervisor());
    FollowMoves();
    detector_->Script({Seen({trash_})});
    if (site == Site::kRecoveryMove) {
      arm_->ScriptGrab({102100010});  // asks for a recovery, whose first move is the one
    }
    switch (site) {
      case Site::kGrab:
        Run<ArmGrab>(site, fault, "/quorvel_service/arm_grab", 102100010);
        break;
      case Site::kRelease:
        Run<ArmRelease>(site, fault, "/quorvel_service/arm_release", 102100013);
        break;
      case Site::kObserveMove:
      case Site::kRecoveryMove:
        Run<ArmMoveJoints>(site, fault, "/quorvel_service/arm_movejoints", 102100002);
        break;
    }
  }

  static std::string ServiceOf(Site site)
  {
    return site == Site::kGrab      ? "arm_grab"
           : site == Site::kRelease ? "arm_release"
                                    : "arm_movejoints";
  }

  template <typename ServiceT>
  void Run(Site site, Fault fault, const std::string & service_name, std::int32_t failure)
  {
    using Instance = ArmServiceInstance<ServiceT>;
    // A move is answered once the supervisor holds the target as its joint position, as the
    // scripted controller does: a recovery checks the position right after the answer.
    std::function<void(const typename ServiceT::Request &)> arrive;
    if constexpr (std::is_same_v<ServiceT, ArmMoveJoints>) {
      arrive = [this](const ArmMoveJoints::Request & request) {
        const std::vector<double> target = request.target_joints.data;
        arm_->PublishJoints(target);
        WaitFor(
            [this, &target] { return supervisor_->CurrentJoints().data == target; }, seconds(2));
      };
    }
    auto first = std::make_shared<Instance>("controller_before", service_name, true, arrive);
    AddFake(first);
    auto goal = client_->Send(1);
    ASSERT_EQ(goal->WaitAccepted(seconds(10)), std::optional<bool>(true));
    ASSERT_TRUE(WaitFor([&first] { return first->Requests().size() == 1; }, seconds(10)));
    const auto asked = first->Requests().front();

    std::shared_ptr<Instance> second;
    const std::string service = ServiceOf(site);
    const auto answered_count = [this, &service] {
      std::size_t n = 0;
      for (const TaskEvent & event : events_->Events()) {
        n += event.kind == TaskEvent::MOTION_ANSWERED && event.service == service;
      }
      return n;
    };
    if (fault == Fault::kGoneAndBack) {
      RemoveFake(first);
      first.reset();
      ASSERT_TRUE(events_->WaitForKind(TaskEvent::SERVER_GONE, 1, seconds(5)));
      second = std::make_shared<Instance>("controller_after", service_name, false, arrive);
      AddFake(second);
    } else {
      second = std::make_shared<Instance>("controller_after", service_name, true, arrive);
      AddFake(second);
      // Sent again to both; the old one then answers the first send, too late to count.
      ASSERT_TRUE(WaitFor([&second] { return second->Requests().size() == 1; }, seconds(10)));
      ASSERT_TRUE(WaitFor([&first] { return first->Requests().size() == 2; }, seconds(5)));
      first->AnswerHeld(failure, 1);
      std::this_thread::sleep_for(milliseconds(500));
      EXPECT_EQ(answered_count(), 0u) << "an answer to the first send ended the wait";
      second->AnswerHeld(102100000);
    }

    ASSERT_TRUE(goal->WaitResult(seconds(30)));
    EXPECT_EQ(goal->Code(), ResultCode::SUCCEEDED);
    EXPECT_EQ(goal->Result().error_code, site == Site::kRecoveryMove ? 102300003 : 102300000);
    const auto resent = second->Requests();
    ASSERT_EQ(resent.size(), 1u) << "the request is sent again once per return";
    EXPECT_EQ(resent.front(), asked) << "the same request is sent again";
    EXPECT_EQ(answered_count(), 1u);

    if (fault == Fault::kReplacedAnswersLate) {
      // The old controller's answer to the second send comes after the wait ended: it changes
      // nothing (the client library already had that send's answer).
      first->AnswerHeld(failure);
      std::this_thread::sleep_for(milliseconds(300));
    }
    EXPECT_EQ(answered_count(), 1u);
    std::vector<TaskEvent> gone;
    std::vector<TaskEvent> back;
    for (const TaskEvent & event : events_->Events()) {
      if (event.kind == TaskEvent::SERVER_GONE) {
        gone.push_back(event);
      } else if (event.kind == TaskEvent::SERVER_BACK) {
        back.push_back(event);
      } else if (event.kind == TaskEvent::MOTION_LATE_ANSWER) {
        EXPECT_EQ(event.service, service);
        EXPECT_EQ(event.status, failure);
      }
    }
    ASSERT_EQ(gone.size(), 1u);
    ASSERT_EQ(back.size(), 1u);
    const char * outcome = fault == Fault::kGoneAndBack ? "gone" : "replaced";
    EXPECT_EQ(gone.front().service, service);
    EXPECT_EQ(gone.front().outcome, outcome);
    EXPECT_EQ(back.front().outcome, fault == Fault::kGoneAndBack ? "back" : "replaced");
    EXPECT_EQ(back.front().count, 2);
    if (fault == Fault::kGoneAndBack) {
      EXPECT_GT(back.front().seconds, 0.5) << "the server was gone for a while";
    }
    if (site == Site::kRecoveryMove) {
      EXPECT_EQ(back.front().target_name, "recover_movej_pos2");
    }

    if (first) {
      RemoveFake(first);
    }
    RemoveFake(second);
  }

  const Trash trash_ = MakeTrash(0.3, 0.0, 0.1, 5);
};

TEST_F(ServerRestartTest, GrabSentAgainWhenTheControllerComesBack)
{
  Play(Site::kGrab, Fault::kGoneAndBack);
}

TEST_F(ServerRestartTest, GrabOfAReplacedControllerAnsweredLateDoesNotCount)
{
  Play(Site::kGrab, Fault::kReplacedAnswersLate);
}

TEST_F(ServerRestartTest, ReleaseSentAgainWhenTheControllerComesBack)
{
  Play(Site::kRelease, Fault::kGoneAndBack);
}

TEST_F(ServerRestartTest, ReleaseOfAReplacedControllerAnsweredLateDoesNotCount)
{
  Play(Site::kRelease, Fault::kReplacedAnswersLate);
}

TEST_F(ServerRestartTest, ObserveMoveSentAgainWhenTheControllerComesBack)
{
  Play(Site::kObserveMove, Fault::kGoneAndBack);
}

TEST_F(ServerRestartTest, ObserveMoveOfAReplacedControllerAnsweredLateDoesNotCount)
{
  Play(Site::kObserveMove, Fault::kReplacedAnswersLate);
}

TEST_F(ServerRestartTest, RecoveryMoveSentAgainWhenTheControllerComesBack)
{
  Play(Site::kRecoveryMove, Fault::kGoneAndBack);
}

TEST_F(ServerRestartTest, RecoveryMoveOfAReplacedControllerAnsweredLateDoesNotCount)
{
  Play(Site::kRecoveryMove, Fault::kReplacedAnswersLate);
}

}  // namespace
}  // namespace quorvel_arm_supervisor::node_test

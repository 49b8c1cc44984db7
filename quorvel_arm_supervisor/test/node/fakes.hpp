// Fake robot-side nodes for the supervisor's node tests. Each name says what the fake injects
// or records. All member functions may be called from any thread.
#ifndef NODE__FAKES_HPP_
#define NODE__FAKES_HPP_

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <quorvel_interfaces/action/arm_task.hpp>
#include <quorvel_interfaces/msg/trash.hpp>
#include <quorvel_interfaces/srv/arm_grab.hpp>
#include <quorvel_interfaces/srv/arm_move_joints.hpp>
#include <quorvel_interfaces/srv/arm_release.hpp>
#include <quorvel_interfaces/srv/detect_trash.hpp>
#include <quorvel_protocol/msg/trashes.hpp>
#include <quorvel_task_events/msg/task_event.hpp>
#include <rclcpp/rclcpp.hpp>
#include <rclcpp_action/rclcpp_action.hpp>
#include <sensor_msgs/msg/joint_state.hpp>
#include <std_msgs/msg/bool.hpp>
#include <std_msgs/msg/int32.hpp>
#include <std_msgs/msg/int32_multi_array.hpp>

namespace quorvel_arm_supervisor::node_test
{

using Clock = std::chrono::steady_clock;
using Trash = quorvel_interfaces::msg::Trash;

// Polls `condition` every 5 ms until it holds (true) or `timeout` has passed (false).
bool WaitFor(const std::function<bool()> & condition, std::chrono::milliseconds timeout);

// A trash whose grab position is (x, y, z); the other fields are distinct, non-default values
// so that copies can be told from defaults.
Trash MakeTrash(double x, double y, double z, std::uint8_t type = 1);

// A pause that Interrupt() cuts short for good, so no fake holds a test up at teardown.
class InterruptiblePause
{
public:
  void Sleep(std::chrono::milliseconds duration);
  // Waits until `condition` holds, up to `timeout`; the caller's mutex-free check is re-run
  // whenever Notify() is called.
  void SleepUntil(const std::function<bool()> & condition, std::chrono::milliseconds timeout);
  void Notify();
  void Interrupt();

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool interrupted_ = false;
};

struct DetectAnswer
{
  std::int32_t status = 1;
  std::vector<Trash> trashes;
  std::chrono::milliseconds delay{0};
  std::string errmsg;
  // The answer is also held back until this many answers of other calls have gone out.
  std::size_t after_answers = 0;
};

// A detection that saw `trashes`, answered after `delay`.
DetectAnswer Seen(std::vector<Trash> trashes, std::chrono::milliseconds delay = {});
// A detection that failed (status 0).
DetectAnswer DetectionFailed(const std::string & errmsg);

// Serves DetectTrash with one scripted answer per call, in call order from the latest Script();
// calls past the end of the script get status 1 and no trash. Calls are served in parallel.
class ScriptedDetector : public rclcpp::Node
{
public:
  explicit ScriptedDetector(const std::string & service_name = "/quorvel_service/detect_trash");
  void Script(std::vector<DetectAnswer> answers);
  std::vector<quorvel_interfaces::srv::DetectTrash::Request> Requests() const;
  std::size_t AnswerCount() const;
  // When the answers went out, by call number (zero while a call is not answered yet).
  std::vector<Clock::time_point> AnswerTimes() const;
  void Interrupt() { pause_.Interrupt(); }

private:
  void Serve(
      const std::shared_ptr<quorvel_interfaces::srv::DetectTrash::Request> request,
      std::shared_ptr<quorvel_interfaces::srv::DetectTrash::Response> response);

  mutable std::mutex mutex_;
  std::vector<DetectAnswer> script_;
  std::size_t script_start_ = 0;  // first call the script applies to
  std::vector<quorvel_interfaces::srv::DetectTrash::Request> requests_;
  std::vector<Clock::time_point> answer_times_;
  InterruptiblePause pause_;
  rclcpp::CallbackGroup::SharedPtr group_;
  rclcpp::Service<quorvel_interfaces::srv::DetectTrash>::SharedPtr service_;
};

struct ArmControllerNames
{
  std::string grab_service = "/quorvel_service/arm_grab";
  std::string release_service = "/quorvel_service/arm_release";
  std::string movejoints_service = "/quorvel_service/arm_movejoints";
  std::string arm_state_topic = "/robot/unnormal_flag";
  std::string joint_topic = "/robot/joint_angle";
};

// Serves ArmGrab, ArmRelease and ArmMoveJoints with scripted statuses (one per call from the
// latest Script...(), then 102100000), records every request, and publishes the arm state and
// joint angles.
class ScriptedArmController : public rclcpp::Node
{
public:
  using ArmGrab = quorvel_interfaces::srv::ArmGrab;
  using ArmRelease = quorvel_interfaces::srv::ArmRelease;
  using ArmMoveJoints = quorvel_interfaces::srv::ArmMoveJoints;

  explicit ScriptedArmController(const ArmControllerNames & names = ArmControllerNames());

  void ScriptGrab(std::vector<std::int32_t> statuses);
  void ScriptRelease(std::vector<std::int32_t> statuses);
  void ScriptMoveJoints(std::vector<std::int32_t> statuses);
  // Waited before each answer of the named service.
  void SetGrabDelay(std::chrono::milliseconds delay);
  void SetMoveJointsDelay(std::chrono::milliseconds delay);

  // Makes the arm follow joint moves: before answering a move, the fake publishes the target as
  // the joint state and waits (up to 2 s) until `arrived(target)` reports that the supervisor
  // has it. Targets given to NeverReach are not followed.
  void FollowMoves(std::function<bool(const std::vector<double> &)> arrived);
  void NeverReach(const std::vector<double> & target);
  // Runs before the answer to each move, with the call number (from 0) and the target.
  void OnMoveJoints(std::function<void(std::size_t, const std::vector<double> &)> hook);

  void PublishArmState(bool abnormal);
  void PublishJoints(const std::vector<double> & positions);
  // True once the supervisor subscribes to the arm state and the joint angles.
  bool WaitForSubscribers(std::chrono::milliseconds timeout) const;

  std::vector<ArmGrab::Request> GrabRequests() const;
  std::vector<ArmRelease::Request> ReleaseRequests() const;
  std::vector<ArmMoveJoints::Request> MoveJointsRequests() const;
  // When each grab answer went out.
  std::vector<Clock::time_point> GrabAnswerTimes() const;
  void Interrupt() { pause_.Interrupt(); }

private:
  struct StatusScript
  {
    std::vector<std::int32_t> statuses;
    std::size_t start = 0;  // first call the statuses apply to
    std::int32_t For(std::size_t call) const;
  };

  mutable std::mutex mutex_;
  StatusScript grab_script_;
  StatusScript release_script_;
  StatusScript movejoints_script_;
  std::chrono::milliseconds grab_delay_{0};
  std::chrono::milliseconds movejoints_delay_{0};
  std::function<bool(const std::vector<double> &)> arrived_;
  std::vector<std::vector<double>> never_reached_;
  std::function<void(std::size_t, const std::vector<double> &)> on_move_;
  std::vector<ArmGrab::Request> grab_requests_;
  std::vector<ArmRelease::Request> release_requests_;
  std::vector<ArmMoveJoints::Request> movejoints_requests_;
  std::vector<Clock::time_point> grab_answer_times_;
  InterruptiblePause pause_;

  rclcpp::CallbackGroup::SharedPtr group_;
  rclcpp::Service<ArmGrab>::SharedPtr grab_service_;
  rclcpp::Service<ArmRelease>::SharedPtr release_service_;
  rclcpp::Service<ArmMoveJoints>::SharedPtr movejoints_service_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr arm_state_pub_;
  rclcpp::Publisher<sensor_msgs::msg::JointState>::SharedPtr joint_pub_;
};

// Records what the supervisor sends to the robot: voice codes, gripper commands and recover
// messages, each with its arrival time.
class RobotOutputRecorder : public rclcpp::Node
{
public:
  RobotOutputRecorder();
  std::vector<std::int32_t> VoiceCodes() const;
  std::vector<std::vector<std::int32_t>> GripperCommands() const;
  std::size_t RecoverCount() const;
  std::vector<Clock::time_point> RecoverTimes() const;
  std::vector<Clock::time_point> VoiceTimes() const;
  // Runs on each recover message with the number of recover messages so far.
  void OnRecover(std::function<void(std::size_t)> hook);
  // True once the supervisor's three publishers are matched.
  bool WaitForPublishers(std::chrono::milliseconds timeout) const;

private:
  mutable std::mutex mutex_;
  std::vector<std::int32_t> voice_codes_;
  std::vector<Clock::time_point> voice_times_;
  std::vector<std::vector<std::int32_t>> gripper_commands_;
  std::vector<Clock::time_point> recover_times_;
  std::function<void(std::size_t)> on_recover_;
  rclcpp::Subscription<std_msgs::msg::Int32>::SharedPtr voice_sub_;
  rclcpp::Subscription<std_msgs::msg::Int32MultiArray>::SharedPtr gripper_sub_;
  rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr recover_sub_;
};

// Records the supervisor's task events, as a viewer that may have joined late would (reliable,
// transient local, as deep as the supervisor's history).
class TaskEventRecorder : public rclcpp::Node
{
public:
  using TaskEvent = quorvel_task_events::msg::TaskEvent;
  explicit TaskEventRecorder(
      const std::string & name = "task_event_recorder",
      const std::string & topic = "/quorvel/arm_supervisor/task_events");
  std::vector<TaskEvent> Events() const;
  std::vector<std::uint8_t> Kinds() const;
  // Waits until an event of `kind` has arrived `count` times.
  bool WaitForKind(std::uint8_t kind, std::size_t count, std::chrono::milliseconds timeout) const;
  std::size_t PublisherCount() const { return sub_->get_publisher_count(); }

private:
  mutable std::mutex mutex_;
  std::vector<TaskEvent> events_;
  rclcpp::Subscription<TaskEvent>::SharedPtr sub_;
};

// Feeds the environment detection and its enable switch.
class EnvironmentFeed : public rclcpp::Node
{
public:
  explicit EnvironmentFeed(const std::string & env_topic = "/quorvel/env_detect_topic");
  // One Trashes message with an object at each (x, y).
  void PublishObjects(const std::vector<std::pair<float, float>> & positions);
  void PublishEnable(bool enable);
  bool WaitForSubscribers(std::chrono::milliseconds timeout) const;

private:
  rclcpp::Publisher<quorvel_protocol::msg::Trashes>::SharedPtr env_pub_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr enable_pub_;
};

// Sends ArmTask goals and collects their acceptance, feedback and result.
class TaskClient : public rclcpp::Node
{
public:
  using ArmTask = quorvel_interfaces::action::ArmTask;
  using GoalHandle = rclcpp_action::ClientGoalHandle<ArmTask>;

  class Goal
  {
  public:
    // nullopt while the server has not answered.
    std::optional<bool> WaitAccepted(std::chrono::milliseconds timeout);
    bool WaitResult(std::chrono::milliseconds timeout);
    // Waits up to 2 s for at least `count` feedback messages, then returns all of them.
    std::vector<std::int32_t> Feedback(std::size_t count = 0);
    rclcpp_action::ResultCode Code();
    ArmTask::Result Result();
    GoalHandle::SharedPtr Handle();

  private:
    friend class TaskClient;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<bool> accepted_;
    GoalHandle::SharedPtr handle_;
    std::vector<std::int32_t> feedback_;
    std::optional<GoalHandle::WrappedResult> result_;
  };

  explicit TaskClient(const std::string & action_name = "/quorvel_action/arm_task");
  bool WaitForServer(std::chrono::milliseconds timeout);
  // True once no action server is matched any more.
  bool WaitForServerGone(std::chrono::milliseconds timeout);
  std::shared_ptr<Goal> Send(std::int32_t cmd);
  void Cancel(const std::shared_ptr<Goal> & goal);

private:
  rclcpp_action::Client<ArmTask>::SharedPtr client_;
};

// Serves one arm service on its own node. Holding, it keeps every request unanswered until
// AnswerHeld(): a controller that dies with the requests it had (destroy the node) or answers
// them late. Otherwise it answers each request at once with success, after `before_answer`
// (for example publishing the target as the joint state).
template <typename ServiceT>
class ArmServiceInstance : public rclcpp::Node
{
public:
  using Request = typename ServiceT::Request;

  ArmServiceInstance(
      const std::string & node_name,
      const std::string & service_name,
      bool hold,
      std::function<void(const Request &)> before_answer = {})
      : rclcpp::Node(node_name), hold_(hold), before_answer_(std::move(before_answer))
  {
    service_ = this->template create_service<ServiceT>(
        service_name,
        [this](const std::shared_ptr<rmw_request_id_t> header, const std::shared_ptr<Request> request) {
          {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(*request);
            if (hold_) {
              held_.emplace_back(header, *request);
              return;
            }
          }
          if (before_answer_) {
            before_answer_(*request);
          }
          typename ServiceT::Response response;
          response.status = 102100000;
          service_->send_response(*header, response);
        });
  }

  std::vector<Request> Requests() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  // Answers the oldest `count` held requests (all of them by default) with `status`; a
  // success runs `before_answer` first, as an immediate answer does.
  void AnswerHeld(std::int32_t status, std::size_t count = SIZE_MAX)
  {
    std::vector<std::pair<std::shared_ptr<rmw_request_id_t>, Request>> held;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const std::size_t n = std::min(count, held_.size());
      held.assign(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(n));
      held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(n));
    }
    for (const auto & [header, request] : held) {
      if (status == 102100000 && before_answer_) {
        before_answer_(request);
      }
      typename ServiceT::Response response;
      response.status = status;
      response.errmsg = "a late answer";
      service_->send_response(*header, response);
    }
  }

private:
  mutable std::mutex mutex_;
  const bool hold_;
  std::function<void(const Request &)> before_answer_;
  std::vector<Request> requests_;
  std::vector<std::pair<std::shared_ptr<rmw_request_id_t>, Request>> held_;
  typename rclcpp::Service<ServiceT>::SharedPtr service_;
};

}  // namespace quorvel_arm_supervisor::node_test

#endif  // NODE__FAKES_HPP_

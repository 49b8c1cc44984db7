#include "fakes.hpp"

#include <algorithm>
#include <thread>

namespace quorvel_arm_supervisor::node_test
{

namespace
{

constexpr std::int32_t kSuccess = 102100000;

rclcpp::QoS RecorderQos() { return rclcpp::QoS(10); }

}  // namespace

bool WaitFor(const std::function<bool()> & condition, std::chrono::milliseconds timeout)
{
  const auto deadline = Clock::now() + timeout;
  while (!condition()) {
    if (Clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

Trash MakeTrash(double x, double y, double z, std::uint8_t type)
{
  Trash trash;
  trash.type = type;
  trash.flag_a = 2;
  trash.flag_b = 3;
  trash.grab_pose.position.x = x;
  trash.grab_pose.position.y = y;
  trash.grab_pose.position.z = z;
  trash.grab_pose.orientation.x = 0.0;
  trash.grab_pose.orientation.y = 1.0;
  trash.grab_pose.orientation.z = 0.0;
  trash.grab_pose.orientation.w = 0.0;
  trash.obb_pose.position.x = x + 0.01;
  trash.obb_pose.position.y = y + 0.02;
  trash.obb_pose.position.z = z + 0.03;
  trash.obb_pose.orientation.z = 0.5;
  trash.obb_pose.orientation.w = 0.75;
  trash.obb_size.x = 0.2;
  trash.obb_size.y = 0.1;
  trash.obb_size.z = 0.05;
  return trash;
}

DetectAnswer Seen(std::vector<Trash> trashes, std::chrono::milliseconds delay)
{
  DetectAnswer answer;
  answer.trashes = std::move(trashes);
  answer.delay = delay;
  return answer;
}

DetectAnswer DetectionFailed(const std::string & errmsg)
{
  DetectAnswer answer;
  answer.status = 0;
  answer.errmsg = errmsg;
  return answer;
}

void InterruptiblePause::Sleep(std::chrono::milliseconds duration)
{
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, duration, [this] { return interrupted_; });
}

void InterruptiblePause::SleepUntil(
    const std::function<bool()> & condition, std::chrono::milliseconds timeout)
{
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout, [this, &condition] { return interrupted_ || condition(); });
}

void InterruptiblePause::Notify()
{
  std::lock_guard<std::mutex> lock(mutex_);
  changed_.notify_all();
}

void InterruptiblePause::Interrupt()
{
  std::lock_guard<std::mutex> lock(mutex_);
  interrupted_ = true;
  changed_.notify_all();
}

// --- ScriptedDetector ---

ScriptedDetector::ScriptedDetector(const std::string & service_name)
    : rclcpp::Node("scripted_detector")
{
  group_ = create_callback_group(rclcpp::CallbackGroupType::Reentrant);
  service_ = create_service<quorvel_interfaces::srv::DetectTrash>(
      service_name,
      [this](
          const std::shared_ptr<quorvel_interfaces::srv::DetectTrash::Request> request,
          std::shared_ptr<quorvel_interfaces::srv::DetectTrash::Response> response) {
        Serve(request, response);
      },
      rmw_qos_profile_services_default,
      group_);
}

void ScriptedDetector::Script(std::vector<DetectAnswer> answers)
{
  std::lock_guard<std::mutex> lock(mutex_);
  script_ = std::move(answers);
  script_start_ = requests_.size();
}

void ScriptedDetector::Serve(
    const std::shared_ptr<quorvel_interfaces::srv::DetectTrash::Request> request,
    std::shared_ptr<quorvel_interfaces::srv::DetectTrash::Response> response)
{
  std::size_t call = 0;
  DetectAnswer answer;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    call = requests_.size();
    requests_.push_back(*request);
    answer_times_.resize(requests_.size());
    if (call >= script_start_ && call - script_start_ < script_.size()) {
      answer = script_[call - script_start_];
    }
  }
  if (answer.after_answers > 0) {
    pause_.SleepUntil(
        [this, &answer] { return AnswerCount() >= answer.after_answers; },
        std::chrono::seconds(10));
  }
  pause_.Sleep(answer.delay);
  response->status = answer.status;
  response->trash_list = answer.trashes;
  response->errmsg = answer.errmsg;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_times_[call] = Clock::now();
  }
  pause_.Notify();
}

std::vector<quorvel_interfaces::srv::DetectTrash::Request> ScriptedDetector::Requests() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::size_t ScriptedDetector::AnswerCount() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(answer_times_.begin(), answer_times_.end(), [](const Clock::time_point & t) {
        return t != Clock::time_point{};
      }));
}

std::vector<Clock::time_point> ScriptedDetector::AnswerTimes() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return answer_times_;
}

// --- ScriptedArmController ---

ScriptedArmController::ScriptedArmController(const ArmControllerNames & names)
    : rclcpp::Node("scripted_arm_controller")
{
  group_ = create_callback_group(rclcpp::CallbackGroupType::Reentrant);
  grab_service_ = create_service<ArmGrab>(
      names.grab_service,
      [this](
          const std::shared_ptr<ArmGrab::Request> request,
          std::shared_ptr<ArmGrab::Response> response) {
        std::int32_t status = kSuccess;
        std::chrono::milliseconds delay{0};
        {
          std::lock_guard<std::mutex> lock(mutex_);
          status = grab_script_.For(grab_requests_.size());
          grab_requests_.push_back(*request);
          delay = grab_delay_;
        }
        pause_.Sleep(delay);
        response->status = status;
        response->errmsg = status == kSuccess ? "" : "scripted grab failure";
        std::lock_guard<std::mutex> lock(mutex_);
        grab_answer_times_.push_back(Clock::now());
      },
      rmw_qos_profile_services_default,
      group_);

  release_service_ = create_service<ArmRelease>(
      names.release_service,
      [this](
          const std::shared_ptr<ArmRelease::Request> request,
          std::shared_ptr<ArmRelease::Response> response) {
        std::lock_guard<std::mutex> lock(mutex_);
        response->status = release_script_.For(release_requests_.size());
        response->errmsg = response->status == kSuccess ? "" : "scripted release failure";
        release_requests_.push_back(*request);
      },
      rmw_qos_profile_services_default,
      group_);

  movejoints_service_ = create_service<ArmMoveJoints>(
      names.movejoints_service,
      [this](
          const std::shared_ptr<ArmMoveJoints::Request> request,
          std::shared_ptr<ArmMoveJoints::Response> response) {
        std::size_t call = 0;
        std::int32_t status = kSuccess;
        std::chrono::milliseconds delay{0};
        std::function<bool(const std::vector<double> &)> arrived;
        std::function<void(std::size_t, const std::vector<double> &)> on_move;
        bool follow = false;
        const std::vector<double> & target = request->target_joints.data;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          call = movejoints_requests_.size();
          status = movejoints_script_.For(call);
          movejoints_requests_.push_back(*request);
          delay = movejoints_delay_;
          arrived = arrived_;
          on_move = on_move_;
          follow = static_cast<bool>(arrived_) &&
                   std::find(never_reached_.begin(), never_reached_.end(), target) ==
                       never_reached_.end();
        }
        if (on_move) {
          on_move(call, target);
        }
        if (follow) {
          PublishJoints(target);
          WaitFor([&arrived, &target] { return arrived(target); }, std::chrono::seconds(2));
        }
        pause_.Sleep(delay);
        response->status = status;
        response->errmsg = status == kSuccess ? "" : "scripted move failure";
      },
      rmw_qos_profile_services_default,
      group_);

  arm_state_pub_ = create_publisher<std_msgs::msg::Bool>(names.arm_state_topic, 10);
  joint_pub_ = create_publisher<sensor_msgs::msg::JointState>(names.joint_topic, 10);
}

std::int32_t ScriptedArmController::StatusScript::For(std::size_t call) const
{
  return call >= start && call - start < statuses.size() ? statuses[call - start] : kSuccess;
}

void ScriptedArmController::ScriptGrab(std::vector<std::int32_t> statuses)
{
  std::lock_guard<std::mutex> lock(mutex_);
  grab_script_ = StatusScript{std::move(statuses), grab_requests_.size()};
}

void ScriptedArmController::ScriptRelease(std::vector<std::int32_t> statuses)
{
  std::lock_guard<std::mutex> lock(mutex_);
  release_script_ = StatusScript{std::move(statuses), release_requests_.size()};
}

void ScriptedArmController::ScriptMoveJoints(std::vector<std::int32_t> statuses)
{
  std::lock_guard<std::mutex> lock(mutex_);
  movejoints_script_ = StatusScript{std::move(statuses), movejoints_requests_.size()};
}

void ScriptedArmController::SetGrabDelay(std::chrono::milliseconds delay)
{
  std::lock_guard<std::mutex> lock(mutex_);
  grab_delay_ = delay;
}

void ScriptedArmController::SetMoveJointsDelay(std::chrono::milliseconds delay)
{
  std::lock_guard<std::mutex> lock(mutex_);
  movejoints_delay_ = delay;
}

void ScriptedArmController::FollowMoves(std::function<bool(const std::vector<double> &)> arrived)
{
  std::lock_guard<std::mutex> lock(mutex_);
  arrived_ = std::move(arrived);
}

void ScriptedArmController::NeverReach(const std::vector<double> & target)
{
  std::lock_guard<std::mutex> lock(mutex_);
  never_reached_.push_back(target);
}

void ScriptedArmController::OnMoveJoints(
    std::function<void(std::size_t, const std::vector<double> &)> hook)
{
  std::lock_guard<std::mutex> lock(mutex_);
  on_move_ = std::move(hook);
}

void ScriptedArmController::PublishArmState(bool abnormal)
{
  std_msgs::msg::Bool message;
  message.data = abnormal;
  arm_state_pub_->publish(message);
}

void ScriptedArmController::PublishJoints(const std::vector<double> & positions)
{
  sensor_msgs::msg::JointState message;
  message.position = positions;
  joint_pub_->publish(message);
}

bool ScriptedArmController::WaitForSubscribers(std::chrono::milliseconds timeout) const
{
  return WaitFor(
      [this] {
        return arm_state_pub_->get_subscription_count() > 0 &&
               joint_pub_->get_subscription_count() > 0;
      },
      timeout);
}

std::vector<ScriptedArmController::ArmGrab::Request> ScriptedArmController::GrabRequests() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return grab_requests_;
}

std::vector<ScriptedArmController::ArmRelease::Request> ScriptedArmController::ReleaseRequests()
    const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return release_requests_;
}

std::vector<ScriptedArmController::ArmMoveJoints::Request>
ScriptedArmController::MoveJointsRequests() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return movejoints_requests_;
}

std::vector<Clock::time_point> ScriptedArmController::GrabAnswerTimes() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return grab_answer_times_;
}

// --- RobotOutputRecorder ---

TaskEventRecorder::TaskEventRecorder(const std::string & name, const std::string & topic)
    : rclcpp::Node(name)
{
  sub_ = create_subscription<TaskEvent>(
      topic, rclcpp::QoS(rclcpp::KeepLast(2000)).reliable().transient_local(),
      [this](const TaskEvent::ConstSharedPtr event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(*event);
      });
}

std::vector<TaskEventRecorder::TaskEvent> TaskEventRecorder::Events() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

std::vector<std::uint8_t> TaskEventRecorder::Kinds() const
{
  std::vector<std::uint8_t> kinds;
  for (const TaskEvent & event : Events()) {
    kinds.push_back(event.kind);
  }
  return kinds;
}

bool TaskEventRecorder::WaitForKind(
    const std::uint8_t kind, const std::size_t count, const std::chrono::milliseconds timeout) const
{
  return WaitFor(
      [this, kind, count] {
        const auto kinds = Kinds();
        return static_cast<std::size_t>(std::count(kinds.begin(), kinds.end(), kind)) >= count;
      },
      timeout);
}

RobotOutputRecorder::RobotOutputRecorder() : rclcpp::Node("robot_output_recorder")
{
  voice_sub_ = create_subscription<std_msgs::msg::Int32>(
      "/arm/voice_broadcast",
      RecorderQos(),
      [this](const std_msgs::msg::Int32::ConstSharedPtr message) {
        std::lock_guard<std::mutex> lock(mutex_);
        voice_codes_.push_back(message->data);
        voice_times_.push_back(Clock::now());
      });
  gripper_sub_ = create_subscription<std_msgs::msg::Int32MultiArray>(
      "/robot/ctrl_io_topic",
      RecorderQos(),
      [this](const std_msgs::msg::Int32MultiArray::ConstSharedPtr message) {
        std::lock_guard<std::mutex> lock(mutex_);
        gripper_commands_.push_back(message->data);
      });
  recover_sub_ = create_subscription<std_msgs::msg::Bool>(
      "/robot/recover_topic", RecorderQos(), [this](const std_msgs::msg::Bool::ConstSharedPtr) {
        std::function<void(std::size_t)> hook;
        std::size_t count = 0;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          recover_times_.push_back(Clock::now());
          count = recover_times_.size();
          hook = on_recover_;
        }
        if (hook) {
          hook(count);
        }
      });
}

std::vector<std::int32_t> RobotOutputRecorder::VoiceCodes() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return voice_codes_;
}

std::vector<std::vector<std::int32_t>> RobotOutputRecorder::GripperCommands() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return gripper_commands_;
}

std::size_t RobotOutputRecorder::RecoverCount() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return recover_times_.size();
}

std::vector<Clock::time_point> RobotOutputRecorder::RecoverTimes() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return recover_times_;
}

std::vector<Clock::time_point> RobotOutputRecorder::VoiceTimes() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return voice_times_;
}

void RobotOutputRecorder::OnRecover(std::function<void(std::size_t)> hook)
{
  std::lock_guard<std::mutex> lock(mutex_);
  on_recover_ = std::move(hook);
}

bool RobotOutputRecorder::WaitForPublishers(std::chrono::milliseconds timeout) const
{
  return WaitFor(
      [this] {
        return voice_sub_->get_publisher_count() > 0 && gripper_sub_->get_publisher_count() > 0 &&
               recover_sub_->get_publisher_count() > 0;
      },
      timeout);
}

// --- EnvironmentFeed ---

EnvironmentFeed::EnvironmentFeed(const std::string & env_topic) : rclcpp::Node("environment_feed")
{
  env_pub_ = create_publisher<quorvel_protocol::msg::Trashes>(env_topic, 10);
  enable_pub_ = create_publisher<std_msgs::msg::Bool>("/quorvel_topic/env_enable", 10);
}

void EnvironmentFeed::PublishObjects(const std::vector<std::pair<float, float>> & positions)
{
  quorvel_protocol::msg::Trashes message;
  message.header.frame_id = "map";
  for (const auto & [x, y] : positions) {
    quorvel_protocol::msg::TrashObject object;
    object.x = x;
    object.y = y;
    message.trashes.push_back(object);
  }
  env_pub_->publish(message);
}

void EnvironmentFeed::PublishEnable(bool enable)
{
  std_msgs::msg::Bool message;
  message.data = enable;
  enable_pub_->publish(message);
}

bool EnvironmentFeed::WaitForSubscribers(std::chrono::milliseconds timeout) const
{
  return WaitFor(
      [this] {
        return env_pub_->get_subscription_count() > 0 && enable_pub_->get_subscription_count() > 0;
      },
      timeout);
}

// --- TaskClient ---

TaskClient::TaskClient(const std::string & action_name) : rclcpp::Node("task_client")
{
  client_ = rclcpp_action::create_client<ArmTask>(this, action_name);
}

bool TaskClient::WaitForServer(std::chrono::milliseconds timeout)
{
  return client_->wait_for_action_server(timeout);
}

bool TaskClient::WaitForServerGone(std::chrono::milliseconds timeout)
{
  return WaitFor([this] { return !client_->action_server_is_ready(); }, timeout);
}

std::shared_ptr<TaskClient::Goal> TaskClient::Send(std::int32_t cmd)
{
  auto goal = std::make_shared<Goal>();
  const std::weak_ptr<Goal> weak = goal;
  rclcpp_action::Client<ArmTask>::SendGoalOptions options;
  options.goal_response_callback = [weak](GoalHandle::SharedPtr handle) {
    if (auto record = weak.lock()) {
      std::lock_guard<std::mutex> lock(record->mutex_);
      record->accepted_ = handle != nullptr;
      record->handle_ = handle;
      record->changed_.notify_all();
    }
  };
  options.feedback_callback =
      [weak](GoalHandle::SharedPtr, const std::shared_ptr<const ArmTask::Feedback> feedback) {
        if (auto record = weak.lock()) {
          std::lock_guard<std::mutex> lock(record->mutex_);
          record->feedback_.push_back(feedback->step_count);
          record->changed_.notify_all();
        }
      };
  options.result_callback = [weak](const GoalHandle::WrappedResult & result) {
    if (auto record = weak.lock()) {
      std::lock_guard<std::mutex> lock(record->mutex_);
      record->result_ = result;
      record->changed_.notify_all();
    }
  };
  ArmTask::Goal message;
  message.cmd = cmd;
  client_->async_send_goal(message, options);
  return goal;
}

void TaskClient::Cancel(const std::shared_ptr<Goal> & goal)
{
  client_->async_cancel_goal(goal->Handle());
}

std::optional<bool> TaskClient::Goal::WaitAccepted(std::chrono::milliseconds timeout)
{
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, timeout, [this] { return accepted_.has_value(); });
  return accepted_;
}

bool TaskClient::Goal::WaitResult(std::chrono::milliseconds timeout)
{
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [this] { return result_.has_value(); });
}

std::vector<std::int32_t> TaskClient::Goal::Feedback(std::size_t count)
{
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(
      lock, std::chrono::seconds(2), [this, count] { return feedback_.size() >= count; });
  return feedback_;
}

rclcpp_action::ResultCode TaskClient::Goal::Code()
{
  std::lock_guard<std::mutex> lock(mutex_);
  return result_ ? result_->code : rclcpp_action::ResultCode::UNKNOWN;
}

TaskClient::ArmTask::Result TaskClient::Goal::Result()
{
  std::lock_guard<std::mutex> lock(mutex_);
  return result_ && result_->result ? *result_->result : ArmTask::Result();
}

TaskClient::GoalHandle::SharedPtr TaskClient::Goal::Handle()
{
  std::lock_guard<std::mutex> lock(mutex_);
  return handle_;
}

}  // namespace quorvel_arm_supervisor::node_test

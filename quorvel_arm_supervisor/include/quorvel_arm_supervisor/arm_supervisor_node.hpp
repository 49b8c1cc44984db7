// ArmSupervisorNode: the arm task supervisor. It serves the ArmTask action and runs each
// accepted goal as one task on a detached thread of its own: detect trash, grab it, carry it to
// the release posture, return to the observe posture, detect again, with environment stops and
// recovery motions on the way.
//
// This header shows the whole class; the definitions are split by concern:
//   node_wiring.cpp    constructor, subscriptions, the three copy callbacks
//   action_server.cpp  goal admission, the task thread and its sleeps
//   config.cpp         parameters and the joint-array file
//   task.cpp           the pick cycle (execute_task)
//   recovery.cpp       joint moves and the two recovery procedures
//   detection.cpp      detection calls and target choice
//   motion_calls.cpp   the one way every arm service is called and its answer judged, voice
//                      codes
//   monitoring.cpp     environment stop and joint position check
//   task_events.cpp    the task events: what the task saw, chose, asked, got and decided
//
// Threads. Executor threads run every ROS callback: the action callbacks and the four service
// answer callbacks share the node's default (mutually exclusive) group, each subscription has a
// mutually exclusive group of its own. At most one task thread runs at a time. The comment on
// each shared member says which thread writes it and which reads it. Answer callbacks write
// their status and need-to flags before they set their completion flag (release); the task
// thread reads them only after it saw that flag (acquire).
#ifndef QUORVEL_ARM_SUPERVISOR__ARM_SUPERVISOR_NODE_HPP_
#define QUORVEL_ARM_SUPERVISOR__ARM_SUPERVISOR_NODE_HPP_

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <quorvel_interfaces/action/arm_task.hpp>
#include <quorvel_interfaces/msg/trash.hpp>
#include <quorvel_interfaces/srv/arm_grab.hpp>
#include <quorvel_interfaces/srv/arm_move_joints.hpp>
#include <quorvel_interfaces/srv/arm_release.hpp>
#include <quorvel_interfaces/srv/detect_trash.hpp>
#include <quorvel_protocol/msg/trashes.hpp>
#include <rclcpp/rclcpp.hpp>
#include <rclcpp_action/rclcpp_action.hpp>
#include <sensor_msgs/msg/joint_state.hpp>
#include <std_msgs/msg/bool.hpp>
#include <std_msgs/msg/float64_multi_array.hpp>
#include <std_msgs/msg/int32.hpp>
#include <std_msgs/msg/int32_multi_array.hpp>

#include "quorvel_arm_supervisor/arm_status.hpp"
#include "quorvel_arm_supervisor/point3f.hpp"
#include "quorvel_arm_supervisor/task_event_log.hpp"
#include "quorvel_arm_supervisor/task_error_code.hpp"
#include "quorvel_arm_supervisor/tuning_parameters.hpp"
#include "quorvel_server_watch/server_watch.hpp"

namespace quorvel_arm_supervisor
{

class ArmSupervisorNode : public rclcpp::Node
{
public:
  using ArmTask = quorvel_interfaces::action::ArmTask;
  using GoalHandleArmTask = rclcpp_action::ServerGoalHandle<ArmTask>;
  using DetectTrash = quorvel_interfaces::srv::DetectTrash;
  using ArmGrab = quorvel_interfaces::srv::ArmGrab;
  using ArmRelease = quorvel_interfaces::srv::ArmRelease;
  using ArmMoveJoints = quorvel_interfaces::srv::ArmMoveJoints;
  using Trash = quorvel_interfaces::msg::Trash;
  using JointArray = std_msgs::msg::Float64MultiArray;
  using TaskEvent = quorvel_task_events::msg::TaskEvent;

  // Node "ArmSupervisorNode" with parameters declared from the start-up overrides. Reads the
  // parameters and the joint-array file and creates every entity. Throws on any start-up
  // problem (parameter type, package share directory, YAML file, names, middleware); the
  // message names the cause.
  ArmSupervisorNode();
  // The same with the caller's options (for example parameter overrides); parameters are
  // always declared from the overrides.
  explicit ArmSupervisorNode(const rclcpp::NodeOptions & options);

  // For main, after the client library was shut down: waits until a running task thread is
  // between two steps (asleep or polling) and makes it stay asleep for good, so that it never
  // touches anything that the ending process tears down. The thread then no longer holds the
  // node, so the caller's reference is the one that destroys it. Returns at once when no task
  // runs.
  void StopTaskThreadForExit();

  // A copy of the latest joint positions (empty before the first non-empty JointState).
  // Any thread.
  JointArray CurrentJoints() const;

private:
  // Where a pick cycle left the task.
  enum class CycleEnd
  {
    kNextDetection,  // detect again
    kTaskFinished,   // the goal was ended, the node is idle again
    kTaskAbandoned,  // ROS shut down during a service wait; the goal is left as it is
  };
  // Per-task objects of execute_task (defined in task.cpp).
  struct TaskRun;
  // Lets StopTaskThreadForExit stop the task thread at a safe point: the task thread holds
  // `mutex` while it works and lets go of it only while it sleeps. The thread keeps its own
  // reference to the gate, so the gate outlives the node when the node goes first.
  struct TaskThreadGate
  {
    std::mutex mutex;
    bool closed = false;  // guarded by mutex
    // The running task's hold on the node; guarded by mutex. Released by the task thread when
    // the task ends, or taken over by StopTaskThreadForExit.
    std::shared_ptr<ArmSupervisorNode> task_node;
  };

  // --- Wiring (node_wiring.cpp) ---
  void InitializeSubscriber();
  void ArmStateCallback(const std_msgs::msg::Bool::ConstSharedPtr message);
  void EnvEnableCallback(const std_msgs::msg::Bool::ConstSharedPtr message);
  void JointStateCallback(const sensor_msgs::msg::JointState::ConstSharedPtr message);

  // --- Action server (action_server.cpp) ---
  rclcpp_action::GoalResponse handle_goal(
      const rclcpp_action::GoalUUID & uuid, std::shared_ptr<const ArmTask::Goal> goal);
  rclcpp_action::CancelResponse handle_cancel(std::shared_ptr<GoalHandleArmTask> goal_handle);
  void handle_accepted(std::shared_ptr<GoalHandleArmTask> goal_handle);
  // Body of the detached task thread.
  static void TaskThreadMain(
      std::shared_ptr<ArmSupervisorNode> node,
      std::shared_ptr<TaskThreadGate> gate,
      std::shared_ptr<GoalHandleArmTask> goal_handle);
  // Task thread only: sleeps `milliseconds` when it is greater than 0, resuming after signals.
  // Every configured delay and every poll of the task goes through here.
  void SleepMs(std::int32_t milliseconds);

  // --- Configuration (config.cpp) ---
  void get_config_params();
  void PrintfFloat64MultiArray(const std::string & name, const JointArray & array);
  // A parameter that was supplied at start replaces `value`; an absent one leaves it. Integers
  // are narrowed to 32 bits, floats to single precision. A value of another type throws
  // rclcpp::exceptions::InvalidParameterTypeException naming the parameter.
  void ReadParameter(const char * name, std::string & value);
  void ReadParameter(const char * name, std::int32_t & value);
  void ReadParameter(const char * name, double & value);
  void ReadParameter(const char * name, float & value);

  // --- Task (task.cpp); task thread ---
  void execute_task(const std::shared_ptr<GoalHandleArmTask> goal_handle);
  void FromReleasePoseToObservePose();
  CycleEnd RunPickCycle(TaskRun & run);
  CycleEnd EndAfterRecovery(TaskRun & run, const char * recovered_text, bool give_up_target);
  void PublishFeedback(TaskRun & run);
  // Fills the result, resets the per-task memory, marks the node idle and succeeds the goal.
  void FinishTask(TaskRun & run, std::int32_t code);
  void ResetTaskMemory();

  // --- Recovery (recovery.cpp); task thread ---
  void ArmAvoidObstacleMoveJoints(const JointArray & target_joints);
  void ArmRecoverFunc();
  void ArmReleaseRecoverFunc();
  // Phase 1: waits while the arm reports an abnormal state. False (error code stored) when
  // `abnormal_count` passes the count threshold.
  bool WaitForNormalArm(std::int32_t & abnormal_count);
  // One second of waiting for an abnormal arm: recover message, sleep, count.
  bool WaitOneAbnormalSecond(std::int32_t & abnormal_count);
  // Moves to the first joint_num_ values of `configured` until the joint feedback confirms the
  // position. False (error code stored) on time-out, too many abnormal waits, or a configured
  // array too short to build a target from.
  bool ReachRecoveryPosition(
      const JointArray & configured,
      const char * configured_name,
      const char * failure_text,
      std::int32_t & abnormal_count);
  void FailRecovery();
  void PublishGripperOpen();
  void EmitRecoveryStarted(const char * procedure);
  void EmitRecoveryEnded(bool recovered);

  // --- Detection (detection.cpp) ---
  void RequestDetectTrash();
  // Executor thread. `generation` identifies the request the answer belongs to; an answer to
  // a request whose wait already ended is dropped.
  void req_detect_callback(
      rclcpp::Client<DetectTrash>::SharedFuture future, std::uint64_t generation);
  // Task thread, after a detection wait ran out of time: true when the answer is now given up
  // on, false when it arrived in the meantime.
  bool AbandonDetectAnswer();

  // --- Motion calls (motion_calls.cpp) ---
  // A waiting line logged at most once a second by one call site. Task thread only.
  struct LineThrottle
  {
    std::int64_t last_ns = 0;
  };
  // One place in the task that calls an arm service, with its log lines.
  struct ArmCallSite
  {
    const char * service;           // for the events: "arm_grab", "arm_release", "arm_movejoints"
    const char * target_name;       // for the events: "grab_pose", "release_joints", ...
    const char * unavailable_line;  // INFO after each second the service is not there
    const char * interrupted_line;  // WARN when ROS shuts down meanwhile
    const char * waiting_line;      // INFO while waiting for the answer, once a second
    bool waiting_line_first;        // the waiting line is also logged once before the wait
    LineThrottle * throttle;        // the site's own once-a-second throttle
  };
  // How one arm service's answers are judged and logged.
  struct ArmAnswerRules
  {
    const char * service;
    const char * received_line;
    const char * status_label;
    const char * success_line;
    const char * error_line;  // "{}" for the status, then "{}" for errmsg
    CallOutcome (*judge)(std::int32_t status);
    std::atomic<std::int32_t> ArmSupervisorNode::*status;
    // A replan answer sets replan_flag where the service has one, recover_flag otherwise.
    std::atomic<bool> ArmSupervisorNode::*replan_flag;
    const char * replan_flag_line;
    std::atomic<bool> ArmSupervisorNode::*recover_flag;
    const char * recover_flag_line;
    std::atomic<bool> ArmSupervisorNode::*complete;
  };
  // Waits for `client` in 1 s steps. False, with `interrupted_line` logged at WARN, when ROS
  // shut down meanwhile.
  bool WaitForService(
      rclcpp::ClientBase & client, const char * unavailable_line, const char * interrupted_line);
  // Every arm motion goes through here, task thread only: waits for the service, sends
  // `request` with `on_answer` as its answer handler, then polls `complete` every 10 ms until
  // the handler set it, and clears it. The handler has judged the answer by then (statuses and
  // need-to flags are set). While it waits it follows the server the request went to: when that
  // server is gone (a restart, a cut longer than the lease) and a server is back, the request is
  // sent again; an answer to an earlier send is dropped from then on. False when ROS shut down
  // while waiting for the service; nothing was sent then.
  template <typename ServiceT>
  bool CallArmService(
      const ArmCallSite & site,
      rclcpp::Client<ServiceT> & client,
      const std::shared_ptr<typename ServiceT::Request> & request,
      void (ArmSupervisorNode::*on_answer)(typename rclcpp::Client<ServiceT>::SharedFuture),
      std::atomic<bool> & complete);
  // Sends `request` once more (or the first time) under a new call number, which the answer
  // must carry to count. Returns the client's request id, or nothing when the answer came
  // before the call was renumbered (then there is nothing to send again).
  template <typename ServiceT>
  std::optional<std::int64_t> SendArmRequest(
      rclcpp::Client<ServiceT> & client,
      const std::shared_ptr<typename ServiceT::Request> & request,
      void (ArmSupervisorNode::*on_answer)(typename rclcpp::Client<ServiceT>::SharedFuture),
      const std::atomic<bool> & complete);
  // The servers of `client`'s service the graph lists now; nothing when it cannot be read.
  std::optional<quorvel_server_watch::ServerIds> ListServers(rclcpp::ClientBase & client);
  // Executor thread: an answer whose call number is no longer the current one.
  void DropLateArmAnswer(const char * service, std::int32_t status);
  void req_grab_callback(rclcpp::Client<ArmGrab>::SharedFuture future);
  void req_release_callback(rclcpp::Client<ArmRelease>::SharedFuture future);
  void req_movejoints_callback(rclcpp::Client<ArmMoveJoints>::SharedFuture future);
  // The answer handlers' common body: store, log and judge the status, set the need-to flags,
  // tell the events, set the completion flag last.
  void HandleArmAnswer(const ArmAnswerRules & rules, std::int32_t status, const std::string & errmsg);
  void PublishVoiceBroadcast(std::int32_t code);

  // --- Monitoring (monitoring.cpp) ---
  void EnvDetectCallback(const quorvel_protocol::msg::Trashes::ConstSharedPtr message);
  void EnvDetectProcess();
  bool IsAtTargetJoints(const JointArray & current, const JointArray & target);

  static double SecondsSince(std::chrono::steady_clock::time_point start);

  // --- Task events (task_events.cpp) ---
  // An event of `kind` with its one-line summary; the log fills in the rest of the common
  // fields.
  static TaskEvent NewEvent(std::uint8_t kind, std::string summary);
  // Any thread. Hands the event over without waiting; nothing when the events are off.
  void EmitEvent(TaskEvent event);
  bool EventsOn() const { return task_events_ && task_events_->enabled(); }
  // `step` is the event's target_name ("grab", "release", "recovery"); `why` goes into the
  // summary.
  void EmitGripper(bool open, const char * step, const char * why);
  void EmitDetectAnswer(const DetectTrash::Response & response, std::optional<std::size_t> chosen);
  void EmitRecoveryPosition(
      const char * target_name, const JointArray & target, const JointArray & current, bool reached);

  static constexpr TuningParameters kTuningDefaults{};

  // ------------------------------------------------------------------------------------------
  // Members. Configuration values are written only by the constructor, before any other thread
  // can see the node, and only read afterwards.

  // Given-up grab positions. Task thread appends and clears, the detection callback reads;
  // both under detect_mutex_.
  std::vector<Point3f> unable_grab_positions_;
  // Given-up trashes of the current task; task thread only.
  std::vector<Trash> unable_grab_trashes_;
  // Written by the detection callback under detect_mutex_, read by the task thread after the
  // answer was seen (or under detect_mutex_).
  Trash chosen_trash_;
  // Task thread only.
  Point3f last_trash_position_;
  const std::uint32_t joint_num_ = 5;
  // Task thread only.
  std::int32_t same_position_count_ = 1;
  std::int32_t grab_count_threshold_ = kTuningDefaults.grab_count_threshold;
  float position_radius_threshold_ = kTuningDefaults.position_radius_threshold;
  std::int32_t detect_frame_num_ = kTuningDefaults.detect_frame_num;
  // Set by handle_goal (executor thread), cleared by the task thread.
  std::atomic<bool> is_task_running_{false};
  // Completion flags: set by their answer callback (executor thread), polled and cleared by
  // the task thread.
  std::atomic<bool> req_detect_complete_{false};
  std::atomic<bool> req_grab_complete_{false};
  std::atomic<bool> req_release_complete_{false};
  std::atomic<bool> req_movejoints_complete_{false};
  // Set by the detection callback, read and cleared by the task thread.
  std::atomic<bool> is_continue_to_grab_{false};
  // Set by the answer callbacks, read and cleared by the task thread.
  std::atomic<bool> is_grab_need_to_replan_{false};
  std::atomic<bool> is_grab_need_to_recover_{false};
  std::atomic<bool> is_release_need_to_recover_{false};
  std::atomic<bool> is_movejoints_need_to_recover_{false};
  std::int32_t arm_recover_count_threshold_ = kTuningDefaults.arm_recover_count_threshold;
  double arm_movejoints_time_threshold_ = kTuningDefaults.arm_movejoints_time_threshold;
  double detect_timeout_threshold_ = kTuningDefaults.detect_timeout_threshold;
  // Written by EnvEnableCallback, read by the task thread.
  std::atomic<bool> env_enable_{true};
  // Written by the answer callbacks, read by the task thread.
  std::atomic<std::int32_t> arm_grab_status_{0};
  std::atomic<std::int32_t> arm_release_status_{0};
  std::atomic<std::int32_t> arm_movejoints_status_{0};
  // Task thread only (atomic for observers on other threads).
  std::atomic<std::int32_t> error_code_{kTaskErrorInitial};
  std::int32_t init_detect_delay_ = kTuningDefaults.init_detect_delay;
  std::int32_t gripper_open_delay_ = kTuningDefaults.gripper_open_delay;
  std::int32_t gripper_release_delay_ = kTuningDefaults.gripper_release_delay;
  std::int32_t gripper_close_delay_ = kTuningDefaults.gripper_close_delay;
  std::int32_t arm_voice_broadcast_delay_ = kTuningDefaults.arm_voice_broadcast_delay;
  std::int32_t recover_movej_delay_ = kTuningDefaults.recover_movej_delay;
  float env_stop_threshold_ = kTuningDefaults.env_stop_threshold;
  float angle_delta_threshold_ = kTuningDefaults.angle_delta_threshold;
  JointArray release_joints_;
  JointArray observe_joints_;
  JointArray recover_movej_transition_pos_;
  JointArray recover_movej_pos1_;
  JointArray recover_movej_pos2_;
  JointArray recover_movej_release_pos_;
  JointArray recover_movej_end_pos_;
  // Written by JointStateCallback, read through CurrentJoints(); under joints_mutex_.
  JointArray current_joints_;
  // The task thread writes cmd and target_joints; the detection callback writes obb_pose and
  // obb_size while the task thread waits for it (under detect_mutex_).
  ArmRelease::Request::SharedPtr req_arm_release_;
  // Written by the detection callback while the task thread waits for it (under
  // detect_mutex_), sent by the task thread.
  ArmGrab::Request::SharedPtr req_grab_;
  // Task thread only.
  ArmMoveJoints::Request::SharedPtr req_arm_movejoints_;
  rclcpp_action::Server<ArmTask>::SharedPtr arm_task_server_;
  rclcpp::Client<DetectTrash>::SharedPtr detect_client_;
  rclcpp::Client<ArmRelease>::SharedPtr arm_release_client_;
  rclcpp::Client<ArmGrab>::SharedPtr arm_grab_client_;
  rclcpp::Client<ArmMoveJoints>::SharedPtr arm_movejoints_client_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr grasp_pub_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr recover_pub_;
  rclcpp::Publisher<std_msgs::msg::Bool>::SharedPtr collision_enable_pub_;
  rclcpp::Publisher<std_msgs::msg::Float64MultiArray>::SharedPtr movj_pub_;
  rclcpp::Publisher<std_msgs::msg::Int32>::SharedPtr voice_broadcast_pub_;
  rclcpp::CallbackGroup::SharedPtr arm_state_cb_group_;
  rclcpp::CallbackGroup::SharedPtr env_detect_cb_group_;
  rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr arm_state_sub_;
  // Written by ArmStateCallback, read by the task thread.
  std::atomic<bool> arm_unnormal_flag_{false};
  rclcpp::Subscription<quorvel_protocol::msg::Trashes>::SharedPtr env_detect_sub_;
  // Written by EnvDetectCallback, read by the task thread.
  std::atomic<bool> env_detect_stop_{false};
  rclcpp::CallbackGroup::SharedPtr joint_state_cb_group_;
  rclcpp::Subscription<sensor_msgs::msg::JointState>::SharedPtr joint_state_sub_;
  rclcpp::CallbackGroup::SharedPtr env_enable_cb_group_;
  rclcpp::Subscription<std_msgs::msg::Bool>::SharedPtr env_enable_sub_;
  rclcpp::Publisher<std_msgs::msg::Int32MultiArray>::SharedPtr ctrl_io_pub_;

  // --- Synchronisation ---
  mutable std::mutex joints_mutex_;
  // Guards the detection choice (chosen_trash_, the detection-written request fields,
  // unable_grab_positions_) and detect_generation_.
  std::mutex detect_mutex_;
  // Number of the detection request whose answer the task thread currently waits for.
  std::uint64_t detect_generation_ = 0;
  // Number of the arm request (one send of it) whose answer the task thread waits for; an
  // answer carrying another number is dropped. Guarded by arm_answer_mutex_, which an answer
  // handler holds from its check to its completion flag, so that a request is never sent again
  // once its answer is being handled.
  std::mutex arm_answer_mutex_;
  std::uint64_t arm_call_generation_ = 0;
  std::shared_ptr<TaskThreadGate> task_gate_ = std::make_shared<TaskThreadGate>();
  // Nearest object of the latest environment detection (planar distance); written by
  // EnvDetectCallback, read by the task thread for the events.
  std::atomic<float> env_nearest_distance_{0.0F};
  // Target of the arm call in flight, for the answer's event: written by the task thread before
  // it sends, read by the answer handler.
  std::atomic<const char *> arm_call_target_{""};
  // Service of the latest arm call (what a recovery follows); task thread writes, task thread
  // and answer handlers read.
  std::atomic<const char *> arm_call_service_{""};
  // Configured posture the recovery moves towards, for the move's events; task thread only.
  const char * recovery_target_name_ = "";
  // Declared last, so that its publishing thread stops first.
  std::unique_ptr<TaskEventLog> task_events_;
};

}  // namespace quorvel_arm_supervisor

#endif  // QUORVEL_ARM_SUPERVISOR__ARM_SUPERVISOR_NODE_HPP_

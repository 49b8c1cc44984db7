// Detection calls, target choice and the give-up bookkeeping.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "console_output.hpp"
#include "quorvel_arm_supervisor/arm_logger.hpp"
#include "quorvel_arm_supervisor/arm_supervisor_node.hpp"
#include "quorvel_arm_supervisor/target_selection.hpp"

namespace quorvel_arm_supervisor
{

void ArmSupervisorNode::RequestDetectTrash()
{
  auto request = std::make_shared<DetectTrash::Request>();
  request->cmd = 1;
  request->cam_choice = 1;
  if (!WaitForService(
          *detect_client_,
          "Detect trash service not available, waiting again...",
          "Interrupted while waiting for detect trash service. Exiting.")) {
    return;
  }

  const auto start = std::chrono::steady_clock::now();
  for (std::int32_t frame = 0; frame < detect_frame_num_; ++frame) {
    // Each request gets its own number, so that an answer whose wait has already ended can
    // be told apart from the one waited for, and a stale completion never ends this wait.
    std::uint64_t generation = 0;
    {
      std::lock_guard<std::mutex> lock(detect_mutex_);
      generation = ++detect_generation_;
      req_detect_complete_.store(false);
    }
    if (EventsOn()) {
      TaskEvent asked = NewEvent(
          TaskEvent::DETECT_REQUESTED,
          detect_frame_num_ == 1 ? std::string("asking for a detection")
                                 : "asking for a detection (frame " + std::to_string(frame + 1) +
                                       " of " + std::to_string(detect_frame_num_) + ")");
      asked.service = "detect_trash";
      asked.count = frame + 1;
      asked.threshold = detect_frame_num_;
      EmitEvent(std::move(asked));
    }
    detect_client_->async_send_request(
        request, [this, generation](rclcpp::Client<DetectTrash>::SharedFuture future) {
          req_detect_callback(future, generation);
        });
    const auto sent = std::chrono::steady_clock::now();
    while (!req_detect_complete_.load(std::memory_order_acquire)) {
      if (SecondsSince(sent) > detect_timeout_threshold_ && AbandonDetectAnswer()) {
        error_code_.store(kTaskErrorDetectTimeout);
        ARM_LOG_ERROR("ErrorCode: {}, Detect service status abnormal", kTaskErrorDetectTimeout);
        if (EventsOn()) {
          TaskEvent late = NewEvent(
              TaskEvent::DETECT_TIMED_OUT,
              "no detection answer within the time limit: error_code " +
                  std::to_string(kTaskErrorDetectTimeout));
          late.service = "detect_trash";
          late.seconds = detect_timeout_threshold_;
          late.error_code = kTaskErrorDetectTimeout;
          EmitEvent(std::move(late));
        }
        return;
      }
      RCLCPP_INFO_THROTTLE(
          get_logger(), *get_clock(), 1000, "waiting req_detect to complete................");
      SleepMs(10);
    }
    req_detect_complete_.store(false);
  }

  if (is_continue_to_grab_.load()) {
    std::lock_guard<std::mutex> lock(detect_mutex_);
    const Point3f position = to_point3f(req_grab_->target_pose.position);
    const bool given_up = track_chosen_position(
        RepeatTracking{
            same_position_count_,
            last_trash_position_,
            unable_grab_positions_,
            unable_grab_trashes_},
        position,
        chosen_trash_,
        position_radius_threshold_,
        grab_count_threshold_);
    if (given_up) {
      PrintColouredLine(
          COLOR_YELLOW,
          "position: " + JoinValues({position.x, position.y, position.z}) + " unable to grab !");
      if (EventsOn()) {
        TaskEvent event = NewEvent(
            TaskEvent::SPOT_GIVEN_UP,
            "spot (" + JoinValues({position.x, position.y, position.z}, ", ") +
                ") given up after " + std::to_string(same_position_count_) +
                " choices in a row");
        event.target_position = req_grab_->target_pose.position;
        event.items.push_back(chosen_trash_);
        event.count = same_position_count_;
        EmitEvent(std::move(event));
      }
    }
  }

  const auto end = std::chrono::steady_clock::now();
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(end - start).count();
  RCLCPP_INFO(get_logger(), "detect cost %2.4lf ms", static_cast<double>(micros) / 1000.0);
}

bool ArmSupervisorNode::AbandonDetectAnswer()
{
  std::lock_guard<std::mutex> lock(detect_mutex_);
  if (req_detect_complete_.load()) {
    return false;
  }
  // From here on an answer to the abandoned request is dropped by its callback.
  ++detect_generation_;
  return true;
}

void ArmSupervisorNode::req_detect_callback(
    rclcpp::Client<DetectTrash>::SharedFuture future, const std::uint64_t generation)
{
  const auto response = future.get();
  RCLCPP_INFO(get_logger(), "Succeed to receive response from detect trash service");

  std::lock_guard<std::mutex> lock(detect_mutex_);
  if (generation != detect_generation_) {
    // Its wait timed out; letting it count would end a later wait with a stale choice.
    RCLCPP_WARN(get_logger(), "Dropped a detect trash answer that came after its wait ended");
    if (EventsOn()) {
      TaskEvent event = NewEvent(
          TaskEvent::DETECT_LATE_ANSWER,
          "a detection answer came after its wait ended: dropped");
      event.service = "detect_trash";
      event.status = response->status;
      EmitEvent(std::move(event));
    }
    return;
  }
  if (response->status == 0) {
    RCLCPP_INFO(get_logger(), "Failed to detect trashes, errmsg: %s", response->errmsg.c_str());
    EmitDetectAnswer(*response, std::nullopt);
    req_detect_complete_.store(true, std::memory_order_release);
    return;
  }
  RCLCPP_INFO(get_logger(), "Succeed to detect trashes !");
  RCLCPP_INFO(
      get_logger(),
      "Received status: %d trash list size: %lu",
      response->status,
      static_cast<unsigned long>(response->trash_list.size()));

  const std::optional<std::size_t> choice =
      choose_target(response->trash_list, unable_grab_positions_, position_radius_threshold_);
  if (!choice) {
    PrintColouredLine(COLOR_YELLOW, "Can not choose a trash able to grab !");
    EmitDetectAnswer(*response, std::nullopt);
    req_detect_complete_.store(true, std::memory_order_release);
    return;
  }

  const Trash & trash = response->trash_list[*choice];
  is_continue_to_grab_.store(true);
  chosen_trash_ = trash;
  req_grab_->cmd = 1;
  req_grab_->trash_type = trash.type;
  req_grab_->target_pose = trash.grab_pose;
  req_grab_->obb_pose = trash.obb_pose;
  req_grab_->obb_size = trash.obb_size;
  req_arm_release_->obb_pose = trash.obb_pose;
  req_arm_release_->obb_size = trash.obb_size;

  const auto & grab = req_grab_->target_pose;
  const auto & obb = req_grab_->obb_pose;
  const auto & size = req_grab_->obb_size;
  PrintColouredLine(
      COLOR_MAGENTA,
      "choosed trash type: " + std::to_string(static_cast<unsigned>(req_grab_->trash_type)));
  PrintColouredLine(
      COLOR_GREEN,
      "choosed trash grab_pose.position: " +
          JoinValues({grab.position.x, grab.position.y, grab.position.z}));
  PrintColouredLine(
      COLOR_GREEN,
      "choosed trash grab_pose.orientation: " +
          JoinValues(
              {grab.orientation.w, grab.orientation.x, grab.orientation.y, grab.orientation.z}));
  PrintColouredLine(
      COLOR_BLUE,
      "choosed trash obb_pose.position: " +
          JoinValues({obb.position.x, obb.position.y, obb.position.z}));
  PrintColouredLine(
      COLOR_BLUE,
      "choosed trash obb_pose.orientation: " +
          JoinValues({obb.orientation.w, obb.orientation.x, obb.orientation.y, obb.orientation.z}));
  PrintColouredLine(COLOR_BLUE, "choosed trash obb size: " + JoinValues({size.x, size.y, size.z}));
  EmitDetectAnswer(*response, choice);

  req_detect_complete_.store(true, std::memory_order_release);
}

}  // namespace quorvel_arm_supervisor

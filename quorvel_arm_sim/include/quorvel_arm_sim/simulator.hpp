// The simulated arm controller, detector and surroundings, without any ROS: requests go in with
// the time they arrived, answers come out when they are due.
#ifndef QUORVEL_ARM_SIM__SIMULATOR_HPP_
#define QUORVEL_ARM_SIM__SIMULATOR_HPP_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "quorvel_arm_sim/chaos.hpp"
#include "quorvel_arm_sim/fault_plan.hpp"
#include "quorvel_arm_sim/joint_motion.hpp"
#include "quorvel_arm_sim/scene.hpp"
#include "quorvel_arm_sim/table.hpp"

namespace quorvel_arm_sim
{

// Identifies one request until it is answered; chosen by the caller.
using Ticket = std::uint64_t;

struct Answer
{
  Ticket ticket = 0;
  Service service = Service::kDetect;
  std::int32_t status = 0;
  std::string errmsg;
  std::vector<Item> items;  // detection only: the items reported, in table order
};

struct EnvObject
{
  double x = 0.0;
  double y = 0.0;
};

// Times are seconds on one steady clock, chosen by the caller, never going back. One motion at a
// time: a motion request while another runs is answered at once with the common failure
// ("busy"), as is one while the arm is abnormal. A detection never blocks anything.
// Readable event lines (without a prefix) collect until take_events(). Not thread-safe: one
// thread drives it.
class Simulator
{
public:
  // `scene` as it will run (already scaled).
  Simulator(Scene scene, Chaos chaos);

  void detect_requested(double now, Ticket ticket);
  void grab_requested(double now, Ticket ticket, double x, double y, double z);
  // Release or move-joints to `target`.
  void joints_requested(
      double now, Ticket ticket, Service service, const std::vector<double> & target);
  // A gripper command: [100, 0] opens, [100, 1] closes; anything else is ignored (and told).
  void gripper_command(double now, const std::vector<std::int32_t> & data);
  void recover_message(double now);

  // Moves the arm on to `now` and returns the answers due by then, oldest first. A motion's
  // answer comes once the joints stand at its end, so joint_feedback(now) already shows it.
  std::vector<Answer> advance(double now);
  // Tickets that will never be answered (detections a fault swallows); each reported once.
  std::vector<Ticket> take_unanswered();

  // The joint positions to publish: normally five values, fewer while a fault cuts them short.
  std::vector<double> joint_feedback(double now) const;
  bool moving() const { return motion_.has_value(); }
  bool abnormal(double now) const;
  // The objects near the robot at `now`.
  std::vector<EnvObject> environment(double now) const;

  std::vector<std::string> take_events();

  const Table & table() const { return table_; }
  const Scene & scene() const { return scene_; }
  std::size_t recover_messages() const { return recover_messages_; }

private:
  struct Motion
  {
    Ticket ticket = 0;
    Service service = Service::kGrab;
    std::string label;
    JointMotion motion;
    std::int32_t status = kStatusSuccess;
    std::string errmsg;
    std::vector<Abnormality> abnormal_after;  // started with the answer
    double not_before = 0.0;                  // a fault's latency: no answer before this

    bool answer_due(double now) const { return motion.arrived(now) && now >= not_before; }
    double answer_time() const { return std::max(motion.arrival_time(), not_before); }
  };
  struct PendingDetect
  {
    Ticket ticket = 0;
    std::string label;
    double due = 0.0;
    std::int32_t status = kDetectSuccess;
    std::string errmsg;
  };
  struct Episode
  {
    Abnormality detail;
    double start = 0.0;
    std::size_t recovers_at_start = 0;
  };
  struct Feedback
  {
    std::size_t values = 0;
    double until = 0.0;
  };
  struct Env
  {
    EnvObject object;
    double until = 0.0;
  };

  void start_motion(
      double now,
      Ticket ticket,
      Service service,
      const FaultPlan::Call & call,
      const std::string & label,
      const std::string & what,
      Joints target);
  void finish_motion();
  // The effects of `fault` that are not part of an answer; the abnormal state only when
  // `with_abnormal` (an arm service's fault starts it with the answer instead).
  void apply_effects(double now, const Fault & fault, bool with_abnormal);
  void start_abnormal(double now, const Abnormality & detail, const std::string & cause);
  bool episode_over(const Episode & episode, double now) const;
  void expire(double now);
  // `call` describes the request, e.g. "grab #2: item 'can' at (0.30, 0.32, -0.17)".
  void refuse(
      Ticket ticket,
      Service service,
      const std::string & call,
      std::int32_t status,
      const std::string & why);
  void event(std::string line) { events_.push_back(std::move(line)); }
  Joints position(double now) const;

  Scene scene_;
  Chaos chaos_;
  FaultPlan plan_;
  Table table_;
  Joints joints_;
  std::optional<Motion> motion_;
  std::optional<std::size_t> grab_item_;
  std::deque<PendingDetect> detections_;
  std::vector<Answer> ready_;
  std::vector<Ticket> unanswered_;
  std::vector<Episode> episodes_;
  bool reported_abnormal_ = false;
  std::vector<Feedback> feedback_;
  std::vector<Env> env_;
  std::optional<double> task_start_;
  std::size_t recover_messages_ = 0;
  std::vector<std::string> events_;
};

}  // namespace quorvel_arm_sim

#endif  // QUORVEL_ARM_SIM__SIMULATOR_HPP_

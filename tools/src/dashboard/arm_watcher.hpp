// The ROS side of one arm's live page: its subscriptions feed a DashboardHub, its supervisor's
// endpoints are probed once a second, the page's buttons become goals and cancels, and the
// running task's goal is followed across its action server's absence. quorvel dashboard has one;
// quorvel fleet one per arm, each on the node of that arm's domain.
#ifndef QUORVEL_TOOLS__DASHBOARD__ARM_WATCHER_HPP_
#define QUORVEL_TOOLS__DASHBOARD__ARM_WATCHER_HPP_

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <rclcpp/rclcpp.hpp>

#include "dashboard/hub.hpp"
#include "dashboard/server.hpp"

namespace quorvel_tools
{

class ArmWatcher
{
public:
  // Subscribes and makes the action client on `node`; the hub must outlive the watcher. Throws
  // what the client library throws.
  ArmWatcher(
      const rclcpp::Node::SharedPtr & node,
      DashboardHub & hub,
      const std::string & action,
      const std::string & detect_service);
  ~ArmWatcher();

  ArmWatcher(const ArmWatcher &) = delete;
  ArmWatcher & operator=(const ArmWatcher &) = delete;

  // HTTP threads: hands a button to the ROS side and waits for its answer (bounded).
  ButtonAnswer ask(ButtonAction action, std::int32_t cmd);
  // Whether a button waits for step().
  bool has_presses() const;
  // The ROS thread, after spinning the node: the buttons, the probes, the followed goal.
  void step();
  // Answers what is queued and refuses later buttons; the process is stopping.
  void close();

private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__DASHBOARD__ARM_WATCHER_HPP_

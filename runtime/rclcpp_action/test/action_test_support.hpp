// Shared helpers of the action tests: a private domain, bounded waits, and goal/result builders
// for the ArmTask action.
#ifndef ACTION_TEST_SUPPORT_HPP_
#define ACTION_TEST_SUPPORT_HPP_

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "quorvel_interfaces/action/arm_task.hpp"

namespace action_test
{

using ArmTask = quorvel_interfaces::action::ArmTask;

constexpr std::chrono::seconds kWait{10};

/// Keeps the test's participants on loopback, in the domain given, with no user configuration.
inline void use_private_domain(const char * domain_id)
{
  setenv("ROS_DOMAIN_ID", domain_id, 1);
  setenv("ROS_LOCALHOST_ONLY", "1", 1);
  unsetenv("CYCLONEDDS_URI");
}

/// Polls `condition` until it holds or `timeout` passes; returns its last value.
template<typename ConditionT>
bool eventually(ConditionT condition, std::chrono::milliseconds timeout = kWait)
{
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return condition();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

inline ArmTask::Goal goal(int32_t cmd)
{
  ArmTask::Goal g;
  g.cmd = cmd;
  return g;
}

inline std::shared_ptr<ArmTask::Result> result(int32_t error_code)
{
  auto r = std::make_shared<ArmTask::Result>();
  r->error_code = error_code;
  return r;
}

inline std::shared_ptr<ArmTask::Feedback> feedback(int32_t step)
{
  auto f = std::make_shared<ArmTask::Feedback>();
  f->step_count = step;
  return f;
}

/// A flag one thread raises and another waits for, bounded.
class Latch
{
public:
  void open()
  {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      open_ = true;
    }
    cv_.notify_all();
  }
  bool wait(std::chrono::milliseconds timeout = kWait)
  {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, timeout, [this]() {return open_;});
  }
  bool is_open()
  {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
  }

private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool open_ = false;
};

}  // namespace action_test

#endif  // ACTION_TEST_SUPPORT_HPP_

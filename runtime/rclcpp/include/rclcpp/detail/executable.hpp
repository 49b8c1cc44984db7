// What an executor runs: an entity with one or more DDS conditions to wait on, each of which
// leads to one unit of work (take one sample and run its callback) when it fires.
#ifndef RCLCPP__DETAIL__EXECUTABLE_HPP_
#define RCLCPP__DETAIL__EXECUTABLE_HPP_

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace rclcpp
{
class CallbackGroup;

namespace detail
{

class Executable
{
public:
  virtual ~Executable() = default;

  /// Number of DDS conditions (read conditions, guard conditions) this entity waits on.
  virtual size_t condition_count() const = 0;
  /// DDS handle of condition `index`.
  virtual int32_t condition(size_t index) const = 0;
  /// Does one unit of work for condition `index` if any is pending. Called by one executor
  /// thread at a time per entity; may throw what a user callback throws.
  virtual void execute(size_t index) = 0;
  /// For timers: time of the next call (steady clock); time_point::max() for other entities.
  virtual std::chrono::steady_clock::time_point next_call_time() const
  {
    return std::chrono::steady_clock::time_point::max();
  }
  /// Name used in log lines about this entity (topic, service or timer).
  virtual std::string describe() const = 0;

  /// Set by the executor while this entity's work runs, so it is not dispatched twice at once.
  std::atomic_bool in_use{false};
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__EXECUTABLE_HPP_

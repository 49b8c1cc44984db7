// Functions that wake executors (or other waiters), registered and removed by handle.
#ifndef RCLCPP__DETAIL__INTERRUPT_LIST_HPP_
#define RCLCPP__DETAIL__INTERRUPT_LIST_HPP_

#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace rclcpp
{
namespace detail
{

/// Thread-safe. The functions run under the list's lock, so one that was removed is never called
/// afterwards (its owner may be gone); they must only set flags or guard conditions.
class InterruptList
{
public:
  uint64_t add(std::function<void ()> interrupt)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const uint64_t handle = next_handle_++;
    interrupts_.emplace_back(handle, std::move(interrupt));
    return handle;
  }

  void remove(uint64_t handle)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = interrupts_.begin(); it != interrupts_.end(); ++it) {
      if (it->first == handle) {
        interrupts_.erase(it);
        return;
      }
    }
  }

  void call_all() const
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto & entry : interrupts_) {
      entry.second();
    }
  }

private:
  mutable std::mutex mutex_;
  std::vector<std::pair<uint64_t, std::function<void ()>>> interrupts_;
  uint64_t next_handle_ = 1;
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__INTERRUPT_LIST_HPP_

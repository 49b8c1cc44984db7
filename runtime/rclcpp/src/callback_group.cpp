#include "rclcpp/callback_group.hpp"

#include <algorithm>

#include "rclcpp/detail/executable.hpp"

namespace rclcpp
{

CallbackGroup::CallbackGroup(CallbackGroupType group_type, bool automatically_add_to_executor_with_node)
: type_(group_type), auto_add_(automatically_add_to_executor_with_node)
{}

void CallbackGroup::add_executable(const std::shared_ptr<detail::Executable> & executable)
{
  std::lock_guard<std::mutex> lock(mutex_);
  executables_.push_back(executable);
  generation_.fetch_add(1);
}

std::vector<std::shared_ptr<detail::Executable>> CallbackGroup::executables()
{
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<detail::Executable>> live;
  live.reserve(executables_.size());
  executables_.erase(
    std::remove_if(
      executables_.begin(), executables_.end(),
      [&live](const std::weak_ptr<detail::Executable> & weak) {
        auto strong = weak.lock();
        if (!strong) {
          return true;
        }
        live.push_back(std::move(strong));
        return false;
      }),
    executables_.end());
  return live;
}

}  // namespace rclcpp

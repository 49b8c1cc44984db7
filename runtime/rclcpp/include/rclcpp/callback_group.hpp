// Callback groups: which callbacks an executor may run at the same time.
#ifndef RCLCPP__CALLBACK_GROUP_HPP_
#define RCLCPP__CALLBACK_GROUP_HPP_

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace rclcpp
{

namespace detail
{
class Executable;
}

enum class CallbackGroupType
{
  MutuallyExclusive,
  Reentrant
};

/// A set of entities whose callbacks an executor schedules together. In a mutually exclusive
/// group at most one callback runs at any time; a reentrant group allows any number.
/// Thread-safe.
class CallbackGroup
{
public:
  using SharedPtr = std::shared_ptr<CallbackGroup>;
  using WeakPtr = std::weak_ptr<CallbackGroup>;

  explicit CallbackGroup(
    CallbackGroupType group_type, bool automatically_add_to_executor_with_node = true);

  CallbackGroupType type() const {return type_;}
  bool automatically_add_to_executor_with_node() const {return auto_add_;}

  /// False while a callback of a mutually exclusive group runs (used by executors).
  std::atomic_bool & can_be_taken_from() {return can_be_taken_from_;}
  std::atomic_bool & get_associated_with_executor_atomic() {return associated_with_executor_;}

  /// Adds an entity; the group keeps only a weak reference.
  void add_executable(const std::shared_ptr<detail::Executable> & executable);
  /// The live entities of the group (expired ones are pruned).
  std::vector<std::shared_ptr<detail::Executable>> executables();
  /// Changes each time an entity is added.
  uint64_t generation() const {return generation_.load();}

private:
  CallbackGroupType type_;
  bool auto_add_;
  std::atomic_bool can_be_taken_from_{true};
  std::atomic_bool associated_with_executor_{false};
  std::mutex mutex_;
  std::vector<std::weak_ptr<detail::Executable>> executables_;
  std::atomic<uint64_t> generation_{0};
};

}  // namespace rclcpp

#endif  // RCLCPP__CALLBACK_GROUP_HPP_

// Executors: wait for work on DDS conditions, guard conditions and timers, and run callbacks,
// honouring callback groups. An idle executor sleeps in the DDS waitset (no CPU).
#ifndef RCLCPP__EXECUTOR_HPP_
#define RCLCPP__EXECUTOR_HPP_

#include <atomic>
#include <chrono>
#include <exception>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/detail/executable.hpp"
#include "rclcpp/executor_options.hpp"
#include "rclcpp/future_return_code.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/node_base.hpp"

namespace rclcpp
{
class Node;
namespace dds
{
class WaitSet;
class GuardCondition;
}

class Executor
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(Executor)

  explicit Executor(const ExecutorOptions & options = ExecutorOptions());
  virtual ~Executor();

  /// Runs callbacks until the context shuts down or cancel() is called.
  virtual void spin() = 0;

  void add_callback_group(
    CallbackGroup::SharedPtr group, node_interfaces::NodeBase::SharedPtr node, bool notify = true);
  void remove_callback_group(CallbackGroup::SharedPtr group, bool notify = true);
  void add_node(node_interfaces::NodeBase::SharedPtr node, bool notify = true);
  void add_node(std::shared_ptr<Node> node, bool notify = true);
  void remove_node(node_interfaces::NodeBase::SharedPtr node, bool notify = true);
  void remove_node(std::shared_ptr<Node> node, bool notify = true);

  template<typename RepT = int64_t, typename T = std::milli>
  void spin_node_once(
    std::shared_ptr<Node> node,
    std::chrono::duration<RepT, T> timeout = std::chrono::duration<RepT, T>(-1))
  {
    add_node(node, false);
    spin_once(timeout);
    remove_node(node, false);
  }
  void spin_node_some(std::shared_ptr<Node> node);

  /// Runs the work that is ready now, without waiting for more.
  virtual void spin_some(std::chrono::nanoseconds max_duration = std::chrono::nanoseconds(0));
  /// Runs ready work until none is left or max_duration passes.
  virtual void spin_all(std::chrono::nanoseconds max_duration);
  /// Waits up to `timeout` (negative: forever) for one piece of work and runs it.
  virtual void spin_once(std::chrono::nanoseconds timeout = std::chrono::nanoseconds(-1));

  template<typename FutureT, typename TimeRepT = int64_t, typename TimeT = std::milli>
  FutureReturnCode spin_until_future_complete(
    const FutureT & future,
    std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1))
  {
    const auto timeout_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout);
    const auto start = std::chrono::steady_clock::now();
    const auto is_done = [&future]() {
        return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
      };
    if (is_done()) {
      return FutureReturnCode::SUCCESS;
    }
    spinning_guard_begin();
    struct End
    {
      Executor * e;
      ~End() {e->spinning_guard_end();}
    } end{this};
    while (spinning_.load() && context_is_ok()) {
      std::chrono::nanoseconds wait = std::chrono::nanoseconds(-1);
      if (timeout_ns >= std::chrono::nanoseconds(0)) {
        wait = timeout_ns - (std::chrono::steady_clock::now() - start);
        if (wait < std::chrono::nanoseconds(0)) {
          return is_done() ? FutureReturnCode::SUCCESS : FutureReturnCode::TIMEOUT;
        }
      }
      // Bounded so a future fulfilled by another thread is noticed promptly.
      if (wait < std::chrono::nanoseconds(0) || wait > std::chrono::milliseconds(100)) {
        wait = std::chrono::milliseconds(100);
      }
      spin_once_impl(wait);
      if (is_done()) {
        return FutureReturnCode::SUCCESS;
      }
    }
    return is_done() ? FutureReturnCode::SUCCESS : FutureReturnCode::INTERRUPTED;
  }

  /// Makes spin() return soon; thread-safe.
  void cancel();
  bool is_spinning() const {return spinning_.load();}

protected:
  struct AnyExecutable
  {
    std::shared_ptr<detail::Executable> entity;
    size_t index = 0;
    CallbackGroup::SharedPtr group;
  };

  /// Returns ready work, waiting up to `timeout` for some. Not reentrant: one thread at a time.
  bool get_next_executable(AnyExecutable & any, std::chrono::nanoseconds timeout);
  /// Runs it and releases its callback group; rethrows what the callback throws (after
  /// logging it).
  void execute_any_executable(AnyExecutable & any);
  void spin_once_impl(std::chrono::nanoseconds timeout);
  bool context_is_ok() const;
  void spinning_guard_begin();
  void spinning_guard_end();
  /// Wakes a thread blocked in get_next_executable.
  void interrupt();
  void set_wake_after_execution(bool wake) {wake_after_execution_ = wake;}

  Context::SharedPtr context_;
  std::atomic_bool spinning_{false};

private:
  struct Slot
  {
    std::weak_ptr<detail::Executable> entity;
    CallbackGroup::WeakPtr group;
  };
  struct NodeEntry
  {
    node_interfaces::NodeBase::WeakPtr node;
    uint64_t interrupt_handle = 0;
  };
  struct GroupEntry
  {
    CallbackGroup::WeakPtr group;
    node_interfaces::NodeBase::WeakPtr node;
  };

  void refresh_entities_if_changed();
  bool take_ready(AnyExecutable & any);
  void sync_attachments();
  void wait_for_work(std::chrono::nanoseconds timeout);

  std::unique_ptr<dds::WaitSet> waitset_;
  std::unique_ptr<dds::GuardCondition> interrupt_guard_;
  uint64_t context_interrupt_ = 0;
  bool wake_after_execution_ = false;

  std::mutex nodes_mutex_;
  std::vector<NodeEntry> nodes_;
  std::vector<GroupEntry> groups_;
  /// Set whenever nodes, groups or entities may have changed; the next wait re-collects.
  std::atomic_bool entities_changed_{true};

  // Owned by the thread inside get_next_executable.
  std::vector<Slot> slots_;
  /// The attached conditions are exactly those of all slots (nothing was left out as busy).
  bool attached_complete_ = false;
  std::map<int32_t, intptr_t> attached_;  // condition handle -> key
  std::vector<std::pair<size_t, size_t>> ready_;  // (slot, condition index)
};

}  // namespace rclcpp

#endif  // RCLCPP__EXECUTOR_HPP_

#include "rclcpp/executors.hpp"

#include <thread>

#include "rclcpp/logging.hpp"

namespace rclcpp
{
namespace executors
{

SingleThreadedExecutor::SingleThreadedExecutor(const ExecutorOptions & options)
: Executor(options)
{}

void SingleThreadedExecutor::spin()
{
  spinning_guard_begin();
  struct End
  {
    SingleThreadedExecutor * e;
    ~End() {e->spinning_guard_end();}
  } end{this};
  while (spinning_.load() && context_is_ok()) {
    AnyExecutable any;
    if (get_next_executable(any, std::chrono::nanoseconds(-1))) {
      execute_any_executable(any);
    }
  }
}

MultiThreadedExecutor::MultiThreadedExecutor(
  const ExecutorOptions & options, size_t number_of_threads, bool yield_before_execute,
  std::chrono::nanoseconds timeout)
: Executor(options),
  number_of_threads_(number_of_threads ? number_of_threads :
    std::max<size_t>(2, std::thread::hardware_concurrency())),
  yield_before_execute_(yield_before_execute),
  next_exec_timeout_(timeout)
{
  // A thread waiting in the waitset must re-evaluate which groups are free after each callback.
  set_wake_after_execution(true);
}

void MultiThreadedExecutor::spin()
{
  spinning_guard_begin();
  struct End
  {
    MultiThreadedExecutor * e;
    ~End() {e->spinning_guard_end();}
  } end{this};
  std::vector<std::thread> threads;
  for (size_t i = 1; i < number_of_threads_; ++i) {
    threads.emplace_back([this]() {run();});
  }
  run();
  for (auto & thread : threads) {
    thread.join();
  }
  std::lock_guard<std::mutex> lock(exception_mutex_);
  if (first_exception_) {
    std::rethrow_exception(first_exception_);
  }
}

void MultiThreadedExecutor::run()
{
  while (spinning_.load() && context_is_ok()) {
    AnyExecutable any;
    {
      std::lock_guard<std::mutex> lock(wait_mutex_);
      if (!spinning_.load() || !context_is_ok()) {
        break;
      }
      if (!get_next_executable(any, next_exec_timeout_)) {
        continue;
      }
    }
    if (yield_before_execute_) {
      std::this_thread::yield();
    }
    try {
      execute_any_executable(any);
    } catch (...) {
      {
        std::lock_guard<std::mutex> lock(exception_mutex_);
        if (!first_exception_) {
          first_exception_ = std::current_exception();
        }
      }
      cancel();
      break;
    }
  }
}

}  // namespace executors

void spin(node_interfaces::NodeBase::SharedPtr node_ptr)
{
  executors::SingleThreadedExecutor executor;
  executor.add_node(node_ptr);
  executor.spin();
  executor.remove_node(node_ptr);
}

void spin(rclcpp::Node::SharedPtr node_ptr)
{
  spin(node_ptr->get_node_base_interface());
}

void spin_some(node_interfaces::NodeBase::SharedPtr node_ptr)
{
  executors::SingleThreadedExecutor executor;
  executor.add_node(node_ptr);
  executor.spin_some();
  executor.remove_node(node_ptr);
}

void spin_some(rclcpp::Node::SharedPtr node_ptr)
{
  spin_some(node_ptr->get_node_base_interface());
}

}  // namespace rclcpp

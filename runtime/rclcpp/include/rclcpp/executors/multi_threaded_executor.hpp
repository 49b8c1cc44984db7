#ifndef RCLCPP__EXECUTORS__MULTI_THREADED_EXECUTOR_HPP_
#define RCLCPP__EXECUTORS__MULTI_THREADED_EXECUTOR_HPP_

#include <chrono>
#include <cstddef>
#include <mutex>

#include "rclcpp/executor.hpp"

namespace rclcpp
{
namespace executors
{

/// Runs callbacks on a pool of threads (the caller of spin() is one of them). Callbacks of one
/// mutually exclusive group never overlap; different groups run in parallel.
class MultiThreadedExecutor : public rclcpp::Executor
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS(MultiThreadedExecutor)

  /// number_of_threads 0 means one per hardware thread (at least two).
  explicit MultiThreadedExecutor(
    const ExecutorOptions & options = ExecutorOptions(), size_t number_of_threads = 0,
    bool yield_before_execute = false,
    std::chrono::nanoseconds timeout = std::chrono::nanoseconds(-1));

  void spin() override;
  size_t get_number_of_threads() const {return number_of_threads_;}

private:
  void run();

  size_t number_of_threads_;
  bool yield_before_execute_;
  std::chrono::nanoseconds next_exec_timeout_;
  std::mutex wait_mutex_;
  std::mutex exception_mutex_;
  std::exception_ptr first_exception_;
};

}  // namespace executors
}  // namespace rclcpp

#endif  // RCLCPP__EXECUTORS__MULTI_THREADED_EXECUTOR_HPP_

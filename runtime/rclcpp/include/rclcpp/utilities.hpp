// Process-level entry points: init, shutdown, ok, signal handling.
#ifndef RCLCPP__UTILITIES_HPP_
#define RCLCPP__UTILITIES_HPP_

#include <chrono>
#include <string>
#include <vector>

#include "rclcpp/context.hpp"

namespace rclcpp
{

/// Initialises the global context from argv and installs the SIGINT/SIGTERM handlers that shut
/// it down. Throws rclcpp::exceptions::UnknownROSArgsError for unknown --ros-args flags and a
/// std::runtime_error naming the argument for malformed ones.
void init(
  int argc, char const * const * argv, const InitOptions & init_options = InitOptions(),
  SignalHandlerOptions signal_handler_options = SignalHandlerOptions::All);

std::vector<std::string> init_and_remove_ros_arguments(
  int argc, char const * const * argv, const InitOptions & init_options = InitOptions());
std::vector<std::string> remove_ros_arguments(int argc, char const * const * argv);

bool install_signal_handlers(SignalHandlerOptions signal_handler_options = SignalHandlerOptions::All);
bool signal_handlers_installed();
bool uninstall_signal_handlers();

/// True while the context is initialised and not shut down.
bool ok(Context::SharedPtr context = nullptr);

bool shutdown(
  Context::SharedPtr context = nullptr,
  const std::string & reason = "user called rclcpp::shutdown()");

void on_shutdown(std::function<void ()> callback, Context::SharedPtr context = nullptr);

/// Sleeps, returning early (false) if the context is shut down.
bool sleep_for(
  const std::chrono::nanoseconds & nanoseconds, Context::SharedPtr context = nullptr);

}  // namespace rclcpp

#endif  // RCLCPP__UTILITIES_HPP_

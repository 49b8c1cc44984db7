// The process's client-library context: parsed command line, DDS participant, shutdown state.
#ifndef RCLCPP__CONTEXT_HPP_
#define RCLCPP__CONTEXT_HPP_

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rcl/domain_id.h"
#include "rclcpp/detail/interrupt_list.hpp"

namespace rclcpp
{

namespace dds
{
class Participant;
}
namespace base
{
struct ParsedArguments;
}

/// Which signals rclcpp::init installs handlers for.
enum class SignalHandlerOptions
{
  All,
  SigInt,
  SigTerm,
  None
};

class InitOptions
{
public:
  InitOptions() = default;
  bool shutdown_on_signal = true;
  bool auto_initialize_logging() const {return auto_initialize_logging_;}
  InitOptions & auto_initialize_logging(bool value)
  {
    auto_initialize_logging_ = value;
    return *this;
  }

  /// The DDS domain of the context's participant: the one ROS_DOMAIN_ID names (0 without it).
  /// Throws rclcpp::exceptions::RCLError for a ROS_DOMAIN_ID that is not a domain id.
  void use_default_domain_id();
  /// The DDS domain of the context's participant, whatever ROS_DOMAIN_ID says; a context per
  /// domain lets one process take part in several.
  void set_domain_id(size_t domain_id) {domain_id_ = domain_id;}
  /// RCL_DEFAULT_DOMAIN_ID until one is set.
  size_t get_domain_id() const {return domain_id_;}

private:
  bool auto_initialize_logging_ = true;
  size_t domain_id_ = RCL_DEFAULT_DOMAIN_ID;
};

/// One initialisation of the client library. Thread-safe.
class Context : public std::enable_shared_from_this<Context>
{
public:
  using SharedPtr = std::shared_ptr<Context>;
  using OnShutdownCallback = std::function<void ()>;

  Context();
  virtual ~Context();
  Context(const Context &) = delete;
  Context & operator=(const Context &) = delete;

  /// Parses the arguments (throws on malformed ROS arguments) and marks the context valid.
  void init(int argc, char const * const * argv, const InitOptions & init_options = InitOptions());
  bool is_valid() const {return valid_.load();}
  /// Shuts the context down: every spin on it returns, on_shutdown callbacks run once.
  /// Returns false if it was not valid.
  bool shutdown(const std::string & reason);
  std::string shutdown_reason() const;

  OnShutdownCallback on_shutdown(OnShutdownCallback callback);
  /// Arguments the program should handle itself (those outside --ros-args), argv[0] first.
  std::vector<std::string> get_unparsed_arguments() const;

  /// Blocks until shutdown or the timeout passes; returns true if shut down.
  bool sleep_for(std::chrono::nanoseconds nanoseconds);

  // Runtime internals used by nodes and executors.
  const base::ParsedArguments & arguments() const;
  /// The DDS participant, created on first use (throws a clear error if DDS cannot start).
  std::shared_ptr<dds::Participant> participant();
  /// Registers a function run at shutdown to wake a waiting executor; returns a handle.
  uint64_t add_interrupt(std::function<void ()> interrupt);
  /// Drops the context's reference to its participant (entities still alive keep it).
  void release_participant();
  void remove_interrupt(uint64_t handle);

private:
  std::atomic_bool valid_{false};
  mutable std::mutex mutex_;
  std::condition_variable shutdown_cv_;
  /// Shutdowns still running on other threads (e.g. the signal thread); the destructor waits
  /// for them, since a program may return from main while one is finishing.
  int shutdowns_running_ = 0;
  std::string shutdown_reason_;
  std::unique_ptr<base::ParsedArguments> arguments_;
  std::shared_ptr<dds::Participant> participant_;
  size_t domain_id_ = RCL_DEFAULT_DOMAIN_ID;  // from the init options
  std::vector<OnShutdownCallback> on_shutdown_callbacks_;
  detail::InterruptList interrupts_;
};

namespace contexts
{
/// The context that rclcpp::init initialises and nodes use by default.
Context::SharedPtr get_global_default_context();
}

}  // namespace rclcpp

#endif  // RCLCPP__CONTEXT_HPP_

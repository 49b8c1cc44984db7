// rclcpp::Logger: a named logger handle, as in ROS 2 Humble's rclcpp. Loggers are cheap to copy
// and may be used from any thread; levels are process-wide, keyed by name.
#ifndef RCLCPP__LOGGER_HPP_
#define RCLCPP__LOGGER_HPP_

#include <memory>
#include <string>

#include "rcutils/logging.h"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp
{

class Logger;

/// The logger called `name` (dotted names form a hierarchy for levels: "a.b" inherits from "a").
/// Any thread.
RCLCPP_PUBLIC
Logger get_logger(const std::string & name);

class Logger
{
public:
  /// Severity levels, numerically equal to RCUTILS_LOG_SEVERITY_*.
  enum class Level
  {
    Unset = RCUTILS_LOG_SEVERITY_UNSET,
    Debug = RCUTILS_LOG_SEVERITY_DEBUG,
    Info = RCUTILS_LOG_SEVERITY_INFO,
    Warn = RCUTILS_LOG_SEVERITY_WARN,
    Error = RCUTILS_LOG_SEVERITY_ERROR,
    Fatal = RCUTILS_LOG_SEVERITY_FATAL,
  };

  Logger(const Logger &) = default;
  Logger & operator=(const Logger &) = default;

  /// The logger's name; valid as long as this Logger or a copy of it lives.
  RCLCPP_PUBLIC
  const char * get_name() const;

  /// The logger "<name>.<suffix>".
  RCLCPP_PUBLIC
  Logger get_child(const std::string & suffix);

  /// Sets this logger's own level (Unset makes it inherit again). Takes effect for every thread
  /// from the next log call. Throws rclcpp::exceptions::RCLInvalidArgument for a level outside
  /// the enumeration.
  RCLCPP_PUBLIC
  void set_level(Level level);

  /// The level in force: the logger's own, else its nearest dotted ancestor's, else the default.
  RCLCPP_PUBLIC
  Level get_effective_level() const;

private:
  friend Logger rclcpp::get_logger(const std::string & name);

  explicit Logger(const std::string & name);

  std::shared_ptr<const std::string> name_;
};

}  // namespace rclcpp

#endif  // RCLCPP__LOGGER_HPP_

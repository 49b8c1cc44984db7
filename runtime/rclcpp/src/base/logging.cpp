// The functions behind the RCLCPP_* macros and the --log-level settings.
#include "rclcpp/logging.hpp"

#include <cstdarg>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "base/arguments.hpp"
#include "base/logging_backend.hpp"

namespace rclcpp
{
namespace logging_detail
{

bool logger_enabled_for(const Logger & logger, int severity)
{
  return base::logger_enabled_for(logger.get_name(), severity);
}

void log(
  const rcutils_log_location_t * location, int severity, const Logger & logger,
  const char * format, ...)
{
  va_list args;
  va_start(args, format);
  base::write_record(location, severity, logger.get_name(), format, &args);
  va_end(args);
}

void log_string(
  const rcutils_log_location_t * location, int severity, const Logger & logger,
  const std::string & message)
{
  log(location, severity, logger, "%s", message.c_str());
}

void report_clock_failure(const rcutils_log_location_t * location)
{
  std::fprintf(
    stderr, "[rclcpp] %s:%zu: a THROTTLE logging call could not read its clock; logging anyway\n",
    location ? location->file_name : "?", location ? location->line_number : 0);
}

}  // namespace logging_detail

namespace base
{

void apply_log_levels(const LogLevels & levels)
{
  const std::string & error = initialize_logging();
  if (!error.empty()) {
    throw std::runtime_error("failed to configure logging: " + error);
  }
  if (levels.default_level) {
    set_default_logger_level(*levels.default_level);
  }
  for (const auto & logger : levels.loggers) {
    set_logger_level(logger.first, logger.second);
  }
}

}  // namespace base
}  // namespace rclcpp

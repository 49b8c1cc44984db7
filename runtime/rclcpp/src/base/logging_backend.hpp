// The process-wide logging state behind rclcpp::Logger and the RCLCPP_* macros: console set-up
// from the RCUTILS_* environment, logger levels and the record sink. Every function may be
// called from any thread.
//
// Levels live here rather than in rcutils: rcutils' level map is not safe against concurrent
// readers and writers. Records are written by rcutils' console handler (format, stream,
// buffering, colour) unless the environment made rcutils refuse to initialise, in which case a
// plain stderr line in the default format keeps messages from being lost.
#ifndef RCLCPP__BASE__LOGGING_BACKEND_HPP_
#define RCLCPP__BASE__LOGGING_BACKEND_HPP_

#include <cstdarg>
#include <string>

#include "rcutils/logging.h"

namespace rclcpp
{
namespace base
{

/// The error rcutils would fail with for these values of RCUTILS_LOGGING_USE_STDOUT,
/// RCUTILS_LOGGING_BUFFERED_STREAM and RCUTILS_COLORIZED_OUTPUT (nullptr = unset), or "" when
/// all are acceptable.
std::string check_logging_environment(
  const char * use_stdout, const char * buffered_stream, const char * colorized_output);

/// Sets up console logging once per process from the environment. Returns the environment
/// error ("" if none); with an error, records still reach stderr in the default format.
const std::string & initialize_logging();

/// The default level (RCUTILS_LOG_SEVERITY_INFO until changed); UNSET restores INFO.
int default_logger_level();
void set_default_logger_level(int level);

/// Sets `name`'s own level; UNSET removes it. Throws std::invalid_argument for a value that is
/// not an RCUTILS_LOG_SEVERITY_*.
void set_logger_level(const std::string & name, int level);

/// Own level, else the nearest dotted ancestor's, else the default.
int logger_effective_level(const char * name);

bool logger_enabled_for(const char * name, int severity);

/// Replaces the sink that receives every record passing the filter; nullptr restores the
/// console. The handler runs under the sink's (recursive) lock, one record at a time.
void set_output_handler(rcutils_logging_output_handler_t handler);

/// Receives every record the sink got, with the same time stamp, after the sink and outside its
/// lock; `args` is the observer's own copy.
using RecordObserver = void (*)(
  const rcutils_log_location_t * location, int severity, const char * name,
  rcutils_time_point_value_t timestamp, const char * format, va_list * args);

/// Installs the observer (nullptr removes it); one per process.
void set_record_observer(RecordObserver observer);

/// Time-stamps a record with the wall clock now and hands it to the sink, then to the observer.
void write_record(
  const rcutils_log_location_t * location, int severity, const char * name, const char * format,
  va_list * args);

}  // namespace base
}  // namespace rclcpp

#endif  // RCLCPP__BASE__LOGGING_BACKEND_HPP_

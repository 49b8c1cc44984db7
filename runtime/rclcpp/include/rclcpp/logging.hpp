// The RCLCPP_<SEVERITY>[_<condition>][_STREAM] logging macros of ROS 2 Humble's rclcpp.
//
// Every macro takes an rclcpp::Logger first. The severity filter runs first; only a call that
// passes it evaluates its condition (ONCE, SKIPFIRST, EXPRESSION, FUNCTION, THROTTLE) and then
// its format arguments or stream expression. Conditions keep their state in function-local
// statics, one set per call site, shared by every thread and object that runs that line; the
// state is atomic, so call sites may run concurrently. A record goes to the console (format,
// stream and colour from the RCUTILS_* environment variables) with the wall-clock time of the
// call. The macros block only briefly: on the level table and on the output stream.
//
// THROTTLE forms take (logger, clock, duration_ms, ...) where clock is an rclcpp::Clock object
// or reference (e.g. *node->get_clock()), never a pointer. A call is emitted when
// clock.now() >= last + duration_ms, `last` starting at 0 and set to now on each emission; the
// duration is taken on the first call that passes the filter. If reading the clock throws, an
// error is printed and the message is emitted.
#ifndef RCLCPP__LOGGING_HPP_
#define RCLCPP__LOGGING_HPP_

#include <atomic>
#include <cstdint>
#include <sstream>
#include <string>
#include <type_traits>

#include "rclcpp/clock.hpp"
#include "rclcpp/logger.hpp"
#include "rclcpp/visibility_control.hpp"
#include "rcutils/logging.h"

namespace rclcpp
{
namespace logging_detail
{

/// Whether `logger` passes the severity filter for `severity` (an RCUTILS_LOG_SEVERITY_*).
RCLCPP_PUBLIC
bool logger_enabled_for(const Logger & logger, int severity);

/// Formats and writes one record unconditionally.
RCLCPP_PUBLIC
void log(
  const rcutils_log_location_t * location, int severity, const Logger & logger,
  const char * format, ...)
#if defined(__GNUC__) || defined(__clang__)
__attribute__((format(printf, 4, 5)))
#endif
;

/// Writes one already formatted record unconditionally.
RCLCPP_PUBLIC
void log_string(
  const rcutils_log_location_t * location, int severity, const Logger & logger,
  const std::string & message);

/// Tells the user on stderr that a THROTTLE call site could not read its clock.
RCLCPP_PUBLIC
void report_clock_failure(const rcutils_log_location_t * location);

template<typename DurationT>
int64_t throttle_period_ns(DurationT duration_ms)
{
  return static_cast<int64_t>(duration_ms) * 1000 * 1000;
}

/// The THROTTLE decision for one call site. `last` holds the time of the last emission.
template<typename ClockT>
bool throttle_gate(
  ClockT & clock, int64_t period_ns, std::atomic<int64_t> & last,
  const rcutils_log_location_t * location)
{
  int64_t now = 0;
  try {
    now = clock.now().nanoseconds();
  } catch (...) {
    report_clock_failure(location);
    last.store(now);
    return true;
  }
  int64_t previous = last.load();
  do {
    if (now < previous + period_ns) {
      return false;
    }
  } while (!last.compare_exchange_weak(previous, now));
  return true;
}

}  // namespace logging_detail
}  // namespace rclcpp

#define RCLCPP_LOG_CHECK_LOGGER_(logger) \
  static_assert( \
    ::std::is_same<::std::remove_cv_t<::std::remove_reference_t<decltype(logger)>>, \
    ::rclcpp::Logger>::value, \
    "First argument to logging macros must be an rclcpp::Logger")

#define RCLCPP_LOG_CHECK_CLOCK_(clock) \
  static_assert( \
    ::std::is_same<::std::remove_cv_t<::std::remove_reference_t<decltype(clock)>>, \
    ::rclcpp::Clock>::value, \
    "Second argument to logging macros must be an rclcpp::Clock");

// `decls` declares a call site's condition state inside the filtered branch, so it is created
// by the first call that passes the filter; `emit` is evaluated only when `condition` holds.
#define RCLCPP_LOG_IMPL_(severity, logger, decls, condition, emit) \
  do { \
    RCLCPP_LOG_CHECK_LOGGER_(logger); \
    static const ::rcutils_log_location_t rclcpp_log_location_ = {__func__, __FILE__, __LINE__}; \
    const ::rclcpp::Logger & rclcpp_log_logger_ = (logger); \
    if (::rclcpp::logging_detail::logger_enabled_for(rclcpp_log_logger_, severity)) { \
      decls \
      if (condition) { \
        emit; \
      } \
    } \
  } while (0)

#define RCLCPP_LOG_EMIT_FORMAT_(severity, ...) \
  ::rclcpp::logging_detail::log(&rclcpp_log_location_, severity, rclcpp_log_logger_, __VA_ARGS__)

#define RCLCPP_LOG_EMIT_STREAM_(severity, stream_arg) \
  do { \
    ::std::stringstream rclcpp_stream_ss_; \
    rclcpp_stream_ss_ << stream_arg; \
    ::rclcpp::logging_detail::log_string( \
      &rclcpp_log_location_, severity, rclcpp_log_logger_, rclcpp_stream_ss_.str()); \
  } while (0)

#define RCLCPP_LOG_ONCE_DECLS_ static ::std::atomic<bool> rclcpp_log_once_done_{false};
#define RCLCPP_LOG_ONCE_COND_ (!rclcpp_log_once_done_.exchange(true))
#define RCLCPP_LOG_SKIPFIRST_DECLS_ static ::std::atomic<bool> rclcpp_log_first_seen_{false};
#define RCLCPP_LOG_SKIPFIRST_COND_ (rclcpp_log_first_seen_.exchange(true))
#define RCLCPP_LOG_THROTTLE_DECLS_(clock, duration) \
  RCLCPP_LOG_CHECK_CLOCK_(clock) \
  static const ::std::int64_t rclcpp_log_period_ = \
    ::rclcpp::logging_detail::throttle_period_ns(duration); \
  static ::std::atomic<::std::int64_t> rclcpp_log_last_{0};
#define RCLCPP_LOG_THROTTLE_COND_(clock) \
  (::rclcpp::logging_detail::throttle_gate( \
    clock, rclcpp_log_period_, rclcpp_log_last_, &rclcpp_log_location_))

// Generic forms, severity as an RCUTILS_LOG_SEVERITY_* value.
#define RCLCPP_LOG_(severity, logger, ...) \
  RCLCPP_LOG_IMPL_( \
    severity, logger, , true, RCLCPP_LOG_EMIT_FORMAT_(severity, __VA_ARGS__))
#define RCLCPP_LOG_ONCE_(severity, logger, ...) \
  RCLCPP_LOG_IMPL_( \
    severity, logger, RCLCPP_LOG_ONCE_DECLS_, RCLCPP_LOG_ONCE_COND_, \
    RCLCPP_LOG_EMIT_FORMAT_(severity, __VA_ARGS__))
#define RCLCPP_LOG_EXPRESSION_(severity, logger, expression, ...) \
  RCLCPP_LOG_IMPL_( \
    severity, logger, , (expression), RCLCPP_LOG_EMIT_FORMAT_(severity, __VA_ARGS__))
#define RCLCPP_LOG_FUNCTION_(severity, logger, function, ...) \
  RCLCPP_LOG_IMPL_( \
    severity, logger, , ((*function)()), RCLCPP_LOG_EMIT_FORMAT_(severity, __VA_ARGS__))
#define RCLCPP_LOG_SKIPFIRST_(severity, logger, ...) \
  RCLCPP_LOG_IMPL_( \
    severity, logger, RCLCPP_LOG_SKIPFIRST_DECLS_, RCLCPP_LOG_SKIPFIRST_COND_, \
    RCLCPP_LOG_EMIT_FORMAT_(severity, __VA_ARGS__))
#define RCLCPP_LOG_THROTTLE_(severity, logger, clock, duration, ...) \
  RCLCPP_LOG_IMPL_( \
    severity, logger, RCLCPP_LOG_THROTTLE_DECLS_(clock, duration), \
    RCLCPP_LOG_THROTTLE_COND_(clock), RCLCPP_LOG_EMIT_FORMAT_(severity, __VA_ARGS__))
#define RCLCPP_LOG_SKIPFIRST_THROTTLE_(severity, logger, clock, duration, ...) \
  RCLCPP_LOG_IMPL_( \
    severity, logger, \
    RCLCPP_LOG_THROTTLE_DECLS_(clock, duration) RCLCPP_LOG_SKIPFIRST_DECLS_, \
    RCLCPP_LOG_THROTTLE_COND_(clock) && RCLCPP_LOG_SKIPFIRST_COND_, \
    RCLCPP_LOG_EMIT_FORMAT_(severity, __VA_ARGS__))

#define RCLCPP_LOG_STREAM_(severity, logger, stream_arg) \
  RCLCPP_LOG_IMPL_( \
    severity, logger, , true, RCLCPP_LOG_EMIT_STREAM_(severity, stream_arg))
#define RCLCPP_LOG_STREAM_ONCE_(severity, logger, stream_arg) \
  RCLCPP_LOG_IMPL_( \
    severity, logger, RCLCPP_LOG_ONCE_DECLS_, RCLCPP_LOG_ONCE_COND_, \
    RCLCPP_LOG_EMIT_STREAM_(severity, stream_arg))
#define RCLCPP_LOG_STREAM_EXPRESSION_(severity, logger, expression, stream_arg) \
  RCLCPP_LOG_IMPL_( \
    severity, logger, , (expression), RCLCPP_LOG_EMIT_STREAM_(severity, stream_arg))
#define RCLCPP_LOG_STREAM_FUNCTION_(severity, logger, function, stream_arg) \
  RCLCPP_LOG_IMPL_( \
    severity, logger, , ((*function)()), RCLCPP_LOG_EMIT_STREAM_(severity, stream_arg))
#define RCLCPP_LOG_STREAM_SKIPFIRST_(severity, logger, stream_arg) \
  RCLCPP_LOG_IMPL_( \
    severity, logger, RCLCPP_LOG_SKIPFIRST_DECLS_, RCLCPP_LOG_SKIPFIRST_COND_, \
    RCLCPP_LOG_EMIT_STREAM_(severity, stream_arg))
#define RCLCPP_LOG_STREAM_THROTTLE_(severity, logger, clock, duration, stream_arg) \
  RCLCPP_LOG_IMPL_( \
    severity, logger, RCLCPP_LOG_THROTTLE_DECLS_(clock, duration), \
    RCLCPP_LOG_THROTTLE_COND_(clock), RCLCPP_LOG_EMIT_STREAM_(severity, stream_arg))
#define RCLCPP_LOG_STREAM_SKIPFIRST_THROTTLE_(severity, logger, clock, duration, stream_arg) \
  RCLCPP_LOG_IMPL_( \
    severity, logger, \
    RCLCPP_LOG_THROTTLE_DECLS_(clock, duration) RCLCPP_LOG_SKIPFIRST_DECLS_, \
    RCLCPP_LOG_THROTTLE_COND_(clock) && RCLCPP_LOG_SKIPFIRST_COND_, \
    RCLCPP_LOG_EMIT_STREAM_(severity, stream_arg))

// DEBUG
#define RCLCPP_DEBUG(logger, ...) RCLCPP_LOG_(RCUTILS_LOG_SEVERITY_DEBUG, logger, __VA_ARGS__)
#define RCLCPP_DEBUG_ONCE(logger, ...) \
  RCLCPP_LOG_ONCE_(RCUTILS_LOG_SEVERITY_DEBUG, logger, __VA_ARGS__)
#define RCLCPP_DEBUG_EXPRESSION(logger, expression, ...) \
  RCLCPP_LOG_EXPRESSION_(RCUTILS_LOG_SEVERITY_DEBUG, logger, expression, __VA_ARGS__)
#define RCLCPP_DEBUG_FUNCTION(logger, function, ...) \
  RCLCPP_LOG_FUNCTION_(RCUTILS_LOG_SEVERITY_DEBUG, logger, function, __VA_ARGS__)
#define RCLCPP_DEBUG_SKIPFIRST(logger, ...) \
  RCLCPP_LOG_SKIPFIRST_(RCUTILS_LOG_SEVERITY_DEBUG, logger, __VA_ARGS__)
#define RCLCPP_DEBUG_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_THROTTLE_(RCUTILS_LOG_SEVERITY_DEBUG, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_DEBUG_SKIPFIRST_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_SKIPFIRST_THROTTLE_(RCUTILS_LOG_SEVERITY_DEBUG, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_DEBUG_STREAM(logger, stream_arg) \
  RCLCPP_LOG_STREAM_(RCUTILS_LOG_SEVERITY_DEBUG, logger, stream_arg)
#define RCLCPP_DEBUG_STREAM_ONCE(logger, stream_arg) \
  RCLCPP_LOG_STREAM_ONCE_(RCUTILS_LOG_SEVERITY_DEBUG, logger, stream_arg)
#define RCLCPP_DEBUG_STREAM_EXPRESSION(logger, expression, stream_arg) \
  RCLCPP_LOG_STREAM_EXPRESSION_(RCUTILS_LOG_SEVERITY_DEBUG, logger, expression, stream_arg)
#define RCLCPP_DEBUG_STREAM_FUNCTION(logger, function, stream_arg) \
  RCLCPP_LOG_STREAM_FUNCTION_(RCUTILS_LOG_SEVERITY_DEBUG, logger, function, stream_arg)
#define RCLCPP_DEBUG_STREAM_SKIPFIRST(logger, stream_arg) \
  RCLCPP_LOG_STREAM_SKIPFIRST_(RCUTILS_LOG_SEVERITY_DEBUG, logger, stream_arg)
#define RCLCPP_DEBUG_STREAM_THROTTLE(logger, clock, duration, stream_arg) \
  RCLCPP_LOG_STREAM_THROTTLE_(RCUTILS_LOG_SEVERITY_DEBUG, logger, clock, duration, stream_arg)
#define RCLCPP_DEBUG_STREAM_SKIPFIRST_THROTTLE(logger, clock, duration, stream_arg) \
  RCLCPP_LOG_STREAM_SKIPFIRST_THROTTLE_(RCUTILS_LOG_SEVERITY_DEBUG, logger, clock, duration, stream_arg)

// INFO
#define RCLCPP_INFO(logger, ...) RCLCPP_LOG_(RCUTILS_LOG_SEVERITY_INFO, logger, __VA_ARGS__)
#define RCLCPP_INFO_ONCE(logger, ...) \
  RCLCPP_LOG_ONCE_(RCUTILS_LOG_SEVERITY_INFO, logger, __VA_ARGS__)
#define RCLCPP_INFO_EXPRESSION(logger, expression, ...) \
  RCLCPP_LOG_EXPRESSION_(RCUTILS_LOG_SEVERITY_INFO, logger, expression, __VA_ARGS__)
#define RCLCPP_INFO_FUNCTION(logger, function, ...) \
  RCLCPP_LOG_FUNCTION_(RCUTILS_LOG_SEVERITY_INFO, logger, function, __VA_ARGS__)
#define RCLCPP_INFO_SKIPFIRST(logger, ...) \
  RCLCPP_LOG_SKIPFIRST_(RCUTILS_LOG_SEVERITY_INFO, logger, __VA_ARGS__)
#define RCLCPP_INFO_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_THROTTLE_(RCUTILS_LOG_SEVERITY_INFO, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_INFO_SKIPFIRST_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_SKIPFIRST_THROTTLE_(RCUTILS_LOG_SEVERITY_INFO, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_INFO_STREAM(logger, stream_arg) \
  RCLCPP_LOG_STREAM_(RCUTILS_LOG_SEVERITY_INFO, logger, stream_arg)
#define RCLCPP_INFO_STREAM_ONCE(logger, stream_arg) \
  RCLCPP_LOG_STREAM_ONCE_(RCUTILS_LOG_SEVERITY_INFO, logger, stream_arg)
#define RCLCPP_INFO_STREAM_EXPRESSION(logger, expression, stream_arg) \
  RCLCPP_LOG_STREAM_EXPRESSION_(RCUTILS_LOG_SEVERITY_INFO, logger, expression, stream_arg)
#define RCLCPP_INFO_STREAM_FUNCTION(logger, function, stream_arg) \
  RCLCPP_LOG_STREAM_FUNCTION_(RCUTILS_LOG_SEVERITY_INFO, logger, function, stream_arg)
#define RCLCPP_INFO_STREAM_SKIPFIRST(logger, stream_arg) \
  RCLCPP_LOG_STREAM_SKIPFIRST_(RCUTILS_LOG_SEVERITY_INFO, logger, stream_arg)
#define RCLCPP_INFO_STREAM_THROTTLE(logger, clock, duration, stream_arg) \
  RCLCPP_LOG_STREAM_THROTTLE_(RCUTILS_LOG_SEVERITY_INFO, logger, clock, duration, stream_arg)
#define RCLCPP_INFO_STREAM_SKIPFIRST_THROTTLE(logger, clock, duration, stream_arg) \
  RCLCPP_LOG_STREAM_SKIPFIRST_THROTTLE_(RCUTILS_LOG_SEVERITY_INFO, logger, clock, duration, stream_arg)

// WARN
#define RCLCPP_WARN(logger, ...) RCLCPP_LOG_(RCUTILS_LOG_SEVERITY_WARN, logger, __VA_ARGS__)
#define RCLCPP_WARN_ONCE(logger, ...) \
  RCLCPP_LOG_ONCE_(RCUTILS_LOG_SEVERITY_WARN, logger, __VA_ARGS__)
#define RCLCPP_WARN_EXPRESSION(logger, expression, ...) \
  RCLCPP_LOG_EXPRESSION_(RCUTILS_LOG_SEVERITY_WARN, logger, expression, __VA_ARGS__)
#define RCLCPP_WARN_FUNCTION(logger, function, ...) \
  RCLCPP_LOG_FUNCTION_(RCUTILS_LOG_SEVERITY_WARN, logger, function, __VA_ARGS__)
#define RCLCPP_WARN_SKIPFIRST(logger, ...) \
  RCLCPP_LOG_SKIPFIRST_(RCUTILS_LOG_SEVERITY_WARN, logger, __VA_ARGS__)
#define RCLCPP_WARN_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_THROTTLE_(RCUTILS_LOG_SEVERITY_WARN, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_WARN_SKIPFIRST_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_SKIPFIRST_THROTTLE_(RCUTILS_LOG_SEVERITY_WARN, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_WARN_STREAM(logger, stream_arg) \
  RCLCPP_LOG_STREAM_(RCUTILS_LOG_SEVERITY_WARN, logger, stream_arg)
#define RCLCPP_WARN_STREAM_ONCE(logger, stream_arg) \
  RCLCPP_LOG_STREAM_ONCE_(RCUTILS_LOG_SEVERITY_WARN, logger, stream_arg)
#define RCLCPP_WARN_STREAM_EXPRESSION(logger, expression, stream_arg) \
  RCLCPP_LOG_STREAM_EXPRESSION_(RCUTILS_LOG_SEVERITY_WARN, logger, expression, stream_arg)
#define RCLCPP_WARN_STREAM_FUNCTION(logger, function, stream_arg) \
  RCLCPP_LOG_STREAM_FUNCTION_(RCUTILS_LOG_SEVERITY_WARN, logger, function, stream_arg)
#define RCLCPP_WARN_STREAM_SKIPFIRST(logger, stream_arg) \
  RCLCPP_LOG_STREAM_SKIPFIRST_(RCUTILS_LOG_SEVERITY_WARN, logger, stream_arg)
#define RCLCPP_WARN_STREAM_THROTTLE(logger, clock, duration, stream_arg) \
  RCLCPP_LOG_STREAM_THROTTLE_(RCUTILS_LOG_SEVERITY_WARN, logger, clock, duration, stream_arg)
#define RCLCPP_WARN_STREAM_SKIPFIRST_THROTTLE(logger, clock, duration, stream_arg) \
  RCLCPP_LOG_STREAM_SKIPFIRST_THROTTLE_(RCUTILS_LOG_SEVERITY_WARN, logger, clock, duration, stream_arg)

// ERROR
#define RCLCPP_ERROR(logger, ...) RCLCPP_LOG_(RCUTILS_LOG_SEVERITY_ERROR, logger, __VA_ARGS__)
#define RCLCPP_ERROR_ONCE(logger, ...) \
  RCLCPP_LOG_ONCE_(RCUTILS_LOG_SEVERITY_ERROR, logger, __VA_ARGS__)
#define RCLCPP_ERROR_EXPRESSION(logger, expression, ...) \
  RCLCPP_LOG_EXPRESSION_(RCUTILS_LOG_SEVERITY_ERROR, logger, expression, __VA_ARGS__)
#define RCLCPP_ERROR_FUNCTION(logger, function, ...) \
  RCLCPP_LOG_FUNCTION_(RCUTILS_LOG_SEVERITY_ERROR, logger, function, __VA_ARGS__)
#define RCLCPP_ERROR_SKIPFIRST(logger, ...) \
  RCLCPP_LOG_SKIPFIRST_(RCUTILS_LOG_SEVERITY_ERROR, logger, __VA_ARGS__)
#define RCLCPP_ERROR_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_THROTTLE_(RCUTILS_LOG_SEVERITY_ERROR, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_ERROR_SKIPFIRST_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_SKIPFIRST_THROTTLE_(RCUTILS_LOG_SEVERITY_ERROR, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_ERROR_STREAM(logger, stream_arg) \
  RCLCPP_LOG_STREAM_(RCUTILS_LOG_SEVERITY_ERROR, logger, stream_arg)
#define RCLCPP_ERROR_STREAM_ONCE(logger, stream_arg) \
  RCLCPP_LOG_STREAM_ONCE_(RCUTILS_LOG_SEVERITY_ERROR, logger, stream_arg)
#define RCLCPP_ERROR_STREAM_EXPRESSION(logger, expression, stream_arg) \
  RCLCPP_LOG_STREAM_EXPRESSION_(RCUTILS_LOG_SEVERITY_ERROR, logger, expression, stream_arg)
#define RCLCPP_ERROR_STREAM_FUNCTION(logger, function, stream_arg) \
  RCLCPP_LOG_STREAM_FUNCTION_(RCUTILS_LOG_SEVERITY_ERROR, logger, function, stream_arg)
#define RCLCPP_ERROR_STREAM_SKIPFIRST(logger, stream_arg) \
  RCLCPP_LOG_STREAM_SKIPFIRST_(RCUTILS_LOG_SEVERITY_ERROR, logger, stream_arg)
#define RCLCPP_ERROR_STREAM_THROTTLE(logger, clock, duration, stream_arg) \
  RCLCPP_LOG_STREAM_THROTTLE_(RCUTILS_LOG_SEVERITY_ERROR, logger, clock, duration, stream_arg)
#define RCLCPP_ERROR_STREAM_SKIPFIRST_THROTTLE(logger, clock, duration, stream_arg) \
  RCLCPP_LOG_STREAM_SKIPFIRST_THROTTLE_(RCUTILS_LOG_SEVERITY_ERROR, logger, clock, duration, stream_arg)

// FATAL
#define RCLCPP_FATAL(logger, ...) RCLCPP_LOG_(RCUTILS_LOG_SEVERITY_FATAL, logger, __VA_ARGS__)
#define RCLCPP_FATAL_ONCE(logger, ...) \
  RCLCPP_LOG_ONCE_(RCUTILS_LOG_SEVERITY_FATAL, logger, __VA_ARGS__)
#define RCLCPP_FATAL_EXPRESSION(logger, expression, ...) \
  RCLCPP_LOG_EXPRESSION_(RCUTILS_LOG_SEVERITY_FATAL, logger, expression, __VA_ARGS__)
#define RCLCPP_FATAL_FUNCTION(logger, function, ...) \
  RCLCPP_LOG_FUNCTION_(RCUTILS_LOG_SEVERITY_FATAL, logger, function, __VA_ARGS__)
#define RCLCPP_FATAL_SKIPFIRST(logger, ...) \
  RCLCPP_LOG_SKIPFIRST_(RCUTILS_LOG_SEVERITY_FATAL, logger, __VA_ARGS__)
#define RCLCPP_FATAL_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_THROTTLE_(RCUTILS_LOG_SEVERITY_FATAL, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_FATAL_SKIPFIRST_THROTTLE(logger, clock, duration, ...) \
  RCLCPP_LOG_SKIPFIRST_THROTTLE_(RCUTILS_LOG_SEVERITY_FATAL, logger, clock, duration, __VA_ARGS__)
#define RCLCPP_FATAL_STREAM(logger, stream_arg) \
  RCLCPP_LOG_STREAM_(RCUTILS_LOG_SEVERITY_FATAL, logger, stream_arg)
#define RCLCPP_FATAL_STREAM_ONCE(logger, stream_arg) \
  RCLCPP_LOG_STREAM_ONCE_(RCUTILS_LOG_SEVERITY_FATAL, logger, stream_arg)
#define RCLCPP_FATAL_STREAM_EXPRESSION(logger, expression, stream_arg) \
  RCLCPP_LOG_STREAM_EXPRESSION_(RCUTILS_LOG_SEVERITY_FATAL, logger, expression, stream_arg)
#define RCLCPP_FATAL_STREAM_FUNCTION(logger, function, stream_arg) \
  RCLCPP_LOG_STREAM_FUNCTION_(RCUTILS_LOG_SEVERITY_FATAL, logger, function, stream_arg)
#define RCLCPP_FATAL_STREAM_SKIPFIRST(logger, stream_arg) \
  RCLCPP_LOG_STREAM_SKIPFIRST_(RCUTILS_LOG_SEVERITY_FATAL, logger, stream_arg)
#define RCLCPP_FATAL_STREAM_THROTTLE(logger, clock, duration, stream_arg) \
  RCLCPP_LOG_STREAM_THROTTLE_(RCUTILS_LOG_SEVERITY_FATAL, logger, clock, duration, stream_arg)
#define RCLCPP_FATAL_STREAM_SKIPFIRST_THROTTLE(logger, clock, duration, stream_arg) \
  RCLCPP_LOG_STREAM_SKIPFIRST_THROTTLE_(RCUTILS_LOG_SEVERITY_FATAL, logger, clock, duration, stream_arg)

#endif  // RCLCPP__LOGGING_HPP_

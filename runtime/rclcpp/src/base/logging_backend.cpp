// Process-wide logging state: console set-up, levels and the record sink.
#include "base/logging_backend.hpp"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "rcutils/error_handling.h"
#include "rcutils/time.h"

namespace rclcpp
{
namespace base
{

namespace
{

bool is_severity(int level)
{
  switch (level) {
    case RCUTILS_LOG_SEVERITY_UNSET:
    case RCUTILS_LOG_SEVERITY_DEBUG:
    case RCUTILS_LOG_SEVERITY_INFO:
    case RCUTILS_LOG_SEVERITY_WARN:
    case RCUTILS_LOG_SEVERITY_ERROR:
    case RCUTILS_LOG_SEVERITY_FATAL:
      return true;
    default:
      return false;
  }
}

std::string check_flag(const char * variable, const char * value, const char * meaning)
{
  if (value == nullptr || std::string(value).empty() || std::string(value) == "0" ||
    std::string(value) == "1")
  {
    return "";
  }
  return std::string(variable) + " has the unexpected value '" + value + "'; valid values are " +
         meaning;
}

// Written once under std::call_once, read-only afterwards.
struct ConsoleSetup
{
  std::string environment_error;
  bool rcutils_console = false;
};

std::once_flag g_setup_once;
ConsoleSetup g_setup;

// Readers test g_have_logger_levels without the lock so that the common case (no per-logger
// levels) costs two atomic loads. Writers hold the table's mutex.
std::atomic<int> g_default_level{RCUTILS_LOG_SEVERITY_INFO};
std::atomic<bool> g_have_logger_levels{false};

struct LevelTable
{
  std::mutex mutex;
  std::map<std::string, int, std::less<>> levels;
};

LevelTable & level_table()
{
  static LevelTable table;
  return table;
}

// Recursive: a sink (e.g. one that also publishes records) may log while writing one.
struct Sink
{
  std::recursive_mutex mutex;
  rcutils_logging_output_handler_t handler = nullptr;
};

Sink & sink()
{
  static Sink instance;
  return instance;
}

std::atomic<RecordObserver> g_record_observer{nullptr};

std::string format_timestamp(rcutils_time_point_value_t timestamp)
{
  const bool negative = timestamp < 0;
  const uint64_t magnitude = negative ?
    static_cast<uint64_t>(-(timestamp + 1)) + 1 : static_cast<uint64_t>(timestamp);
  char buffer[48];
  std::snprintf(
    buffer, sizeof(buffer), "%s%010" PRIu64 ".%09" PRIu64, negative ? "-" : "",
    static_cast<uint64_t>(magnitude / 1000000000U), static_cast<uint64_t>(magnitude % 1000000000U));
  return buffer;
}

// Used only when rcutils refused the environment: the default format on stderr, uncoloured.
void fallback_console_handler(
  const rcutils_log_location_t *, int severity, const char * name,
  rcutils_time_point_value_t timestamp, const char * format, va_list * args)
{
  va_list size_args;
  va_copy(size_args, *args);
  const int length = std::vsnprintf(nullptr, 0, format, size_args);
  va_end(size_args);
  std::vector<char> message(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
  if (length > 0) {
    std::vsnprintf(message.data(), message.size(), format, *args);
  }
  const char * severity_name =
    (severity >= RCUTILS_LOG_SEVERITY_DEBUG && severity <= RCUTILS_LOG_SEVERITY_FATAL) ?
    g_rcutils_log_severity_names[severity] : "UNKNOWN";
  std::fprintf(
    stderr, "[%s] [%s] [%s]: %s\n", severity_name, format_timestamp(timestamp).c_str(),
    name ? name : "", message.data());
}

}  // namespace

std::string check_logging_environment(
  const char * use_stdout, const char * buffered_stream, const char * colorized_output)
{
  std::string error = check_flag(
    "RCUTILS_LOGGING_USE_STDOUT", use_stdout, "0 (stderr) or 1 (stdout)");
  if (error.empty()) {
    error = check_flag(
      "RCUTILS_LOGGING_BUFFERED_STREAM", buffered_stream, "0 (unbuffered) or 1 (line buffered)");
  }
  if (error.empty()) {
    error = check_flag(
      "RCUTILS_COLORIZED_OUTPUT", colorized_output, "0 (no colour) or 1 (colour)");
  }
  return error;
}

const std::string & initialize_logging()
{
  std::call_once(
    g_setup_once, []() {
      g_setup.environment_error = check_logging_environment(
        std::getenv("RCUTILS_LOGGING_USE_STDOUT"), std::getenv("RCUTILS_LOGGING_BUFFERED_STREAM"),
        std::getenv("RCUTILS_COLORIZED_OUTPUT"));
      if (!g_setup.environment_error.empty()) {
        // rcutils would return early and then reject every record as "not initialized".
        return;
      }
      if (rcutils_logging_initialize() != RCUTILS_RET_OK) {
        g_setup.environment_error = rcutils_get_error_string().str;
        rcutils_reset_error();
      }
      g_setup.rcutils_console = g_rcutils_logging_initialized;
    });
  return g_setup.environment_error;
}

int default_logger_level()
{
  return g_default_level.load();
}

void set_default_logger_level(int level)
{
  if (!is_severity(level)) {
    throw std::invalid_argument("invalid logger level " + std::to_string(level));
  }
  g_default_level.store(level == RCUTILS_LOG_SEVERITY_UNSET ? RCUTILS_LOG_SEVERITY_INFO : level);
}

void set_logger_level(const std::string & name, int level)
{
  if (!is_severity(level)) {
    throw std::invalid_argument(
            "invalid level " + std::to_string(level) + " for logger '" + name + "'");
  }
  auto & table = level_table();
  std::lock_guard<std::mutex> lock(table.mutex);
  if (level == RCUTILS_LOG_SEVERITY_UNSET) {
    auto it = table.levels.find(name);
    if (it != table.levels.end()) {
      table.levels.erase(it);
    }
  } else {
    table.levels[name] = level;
  }
  g_have_logger_levels.store(!table.levels.empty());
}

int logger_effective_level(const char * name)
{
  if (!g_have_logger_levels.load() || name == nullptr) {
    return g_default_level.load();
  }
  auto & table = level_table();
  std::lock_guard<std::mutex> lock(table.mutex);
  std::string_view candidate(name);
  while (true) {
    const auto it = table.levels.find(candidate);
    if (it != table.levels.end()) {
      return it->second;
    }
    const size_t dot = candidate.rfind('.');
    if (dot == std::string_view::npos) {
      break;
    }
    candidate = candidate.substr(0, dot);
  }
  return g_default_level.load();
}

bool logger_enabled_for(const char * name, int severity)
{
  return severity >= logger_effective_level(name);
}

void set_output_handler(rcutils_logging_output_handler_t handler)
{
  auto & s = sink();
  std::lock_guard<std::recursive_mutex> lock(s.mutex);
  s.handler = handler;
}

void write_record(
  const rcutils_log_location_t * location, int severity, const char * name, const char * format,
  va_list * args)
{
  initialize_logging();
  rcutils_time_point_value_t now = 0;
  if (rcutils_system_time_now(&now) != RCUTILS_RET_OK) {
    rcutils_reset_error();
  }
  const RecordObserver observer = g_record_observer.load(std::memory_order_acquire);
  va_list observer_args;
  va_copy(observer_args, *args);
  {
    auto & s = sink();
    std::lock_guard<std::recursive_mutex> lock(s.mutex);
    rcutils_logging_output_handler_t handler = s.handler;
    if (handler == nullptr) {
      handler = g_setup.rcutils_console ?
        rcutils_logging_console_output_handler : fallback_console_handler;
    }
    handler(location, severity, name ? name : "", now, format, args);
  }
  // Outside the sink's lock: an observer that publishes must not hold up other threads' console
  // output, nor wait on anything while holding it.
  if (observer != nullptr) {
    observer(location, severity, name ? name : "", now, format, &observer_args);
  }
  va_end(observer_args);
}

void set_record_observer(RecordObserver observer)
{
  g_record_observer.store(observer, std::memory_order_release);
}

}  // namespace base
}  // namespace rclcpp

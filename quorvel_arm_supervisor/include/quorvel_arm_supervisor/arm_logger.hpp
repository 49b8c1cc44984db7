// Numbered task logger over spdlog, configured once from the environment, and the console
// colour constants the programs use for their direct writes to standard output.
#ifndef QUORVEL_ARM_SUPERVISOR__ARM_LOGGER_HPP_
#define QUORVEL_ARM_SUPERVISOR__ARM_LOGGER_HPP_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

#include <fmt/format.h>
#include <spdlog/common.h>
#include <spdlog/logger.h>

namespace quorvel_arm_supervisor
{

// ANSI escape sequences for coloured console lines; always end a coloured line with COLOR_RESET.
inline constexpr char COLOR_GREEN[] = "\033[1;32m";
inline constexpr char COLOR_RED[] = "\033[1;31m";
inline constexpr char COLOR_YELLOW[] = "\033[1;33m";
inline constexpr char COLOR_MAGENTA[] = "\033[1;35m";
inline constexpr char COLOR_BLUE[] = "\033[1;34m";
inline constexpr char COLOR_CYAN[] = "\033[1;36m";
inline constexpr char COLOR_RESET[] = "\033[0m";

// Level numbers as spdlog counts them: 0 trace ... 5 critical.
inline constexpr int kDefaultLogLevel = 2;

// A value read from one environment variable, and the notice to print about it
// (empty when the variable held a valid value).
template<typename T>
struct EnvSetting
{
  T value;
  std::string message;
};

// `value` is the variable's text, or nullptr when it is not set. Exactly "true" or "false"
// (case-sensitive) is taken; anything else, and an unset variable, yields `default_value` and
// the notice "environment variable <name> is {not set|invalid}, and set {true|false}\n".
EnvSetting<bool> parse_bool_env(const char * value, bool default_value, std::string_view name);

// SPDLOG_LEVEL: exactly one of "trace" 0, "debug" 1, "info" 2, "warning" 3, "error" 4,
// "critical" 5. Unset or any other text (also "warn", "err", "off") yields 2 with the notice
// "environment variable SPDLOG_LEVEL is {not set|invalid}, and set default level\n".
EnvSetting<int> parse_level_env(const char * value);

// The three variables the logger reads; nullptr means "not set". The pointers are read only
// during ArmLogger construction.
struct LoggerEnvironment
{
  const char * stdout_value = nullptr;   // SPDLOG_STDOUT
  const char * systemd_value = nullptr;  // SPDLOG_SYSTEMD
  const char * level_value = nullptr;    // SPDLOG_LEVEL
};

// Snapshot of SPDLOG_STDOUT, SPDLOG_SYSTEMD and SPDLOG_LEVEL from the process environment.
LoggerEnvironment read_logger_environment();

// Where the logger's console and journal records go. Either factory may throw; that ends
// set-up at that point (see ArmLogger).
struct LoggerSinks
{
  std::function<spdlog::sink_ptr()> make_console;
  std::function<spdlog::sink_ptr()> make_journal;
};

// spdlog's ansicolor_stdout_sink_mt and systemd_sink_mt, both with default arguments.
LoggerSinks default_logger_sinks();

// Holder of the numbered logger named "spdlog". The process-wide one comes from instance();
// tests build their own with an explicit environment and sinks.
//
// Lines are "<n> [INFO] <message>" / "<n> [ERROR] <message>" where n is a three-column,
// right-aligned count of the lines let through so far, modulo 128, shared by both levels and
// all threads. A line below the configured level is dropped without advancing the count.
// Records flush at error level so that error lines survive a crash.
//
// All member functions may be called from any thread at once.
class ArmLogger
{
public:
  // Configures from `env`, writing its notices to `notices` in the order stdout, systemd,
  // level. The console sink is made when SPDLOG_STDOUT is true (default), the journal sink when
  // SPDLOG_SYSTEMD is true (default false), in that order. Never throws: if spdlog or a sink
  // factory throws, set-up stops where it was; without a logger every later call does nothing.
  // The logger is not registered in spdlog's registry.
  ArmLogger(const LoggerEnvironment & env, std::ostream & notices, const LoggerSinks & sinks);

  ArmLogger(const ArmLogger &) = delete;
  ArmLogger & operator=(const ArmLogger &) = delete;

  // The process-wide holder, configured from the process environment on the first call
  // (notices go to standard output). Thread-safe; never destroyed, so threads that still log
  // while the process exits stay safe.
  static ArmLogger & instance();

  // Formats and logs one line at info / error level with the caller's source location.
  template<typename ... Args>
  void info(const spdlog::source_loc & where, fmt::format_string<Args...> format, Args &&... args)
  {
    if (passes(spdlog::level::info)) {
      write(spdlog::level::info, where, fmt::format(format, std::forward<Args>(args)...));
    }
  }

  template<typename ... Args>
  void error(const spdlog::source_loc & where, fmt::format_string<Args...> format, Args &&... args)
  {
    if (passes(spdlog::level::err)) {
      write(spdlog::level::err, where, fmt::format(format, std::forward<Args>(args)...));
    }
  }

  // Configured threshold, 0..5.
  int level() const noexcept {return level_;}

  // False when set-up failed before the logger was made.
  bool has_logger() const noexcept {return static_cast<bool>(logger_);}

  // Lines counted so far, modulo 256.
  std::uint8_t counter() const noexcept {return counter_.load();}

private:
  // A filtered line is neither formatted nor counted; the logger's own level equals level_.
  bool passes(spdlog::level::level_enum level) const noexcept
  {
    return logger_ && level_ <= static_cast<int>(level);
  }

  // `level` is info or err and passes().
  void write(spdlog::level::level_enum level, const spdlog::source_loc & where,
    std::string_view message);

  std::shared_ptr<spdlog::logger> logger_;
  // Written only by the constructor, so plain reads afterwards are race-free.
  int level_ = kDefaultLogLevel;
  std::atomic<std::uint8_t> counter_{0};
};

}  // namespace quorvel_arm_supervisor

// ARM_LOG_INFO(format, args...) / ARM_LOG_ERROR(format, args...): one numbered line through the
// process-wide logger; `format` uses fmt's "{}" syntax and is checked at compile time. The
// format is taken as part of __VA_ARGS__ so that a call without arguments stays ISO C++17.
#define ARM_LOG_INFO(...) \
  ::quorvel_arm_supervisor::ArmLogger::instance().info( \
    ::spdlog::source_loc{__FILE__, __LINE__, SPDLOG_FUNCTION}, __VA_ARGS__)

#define ARM_LOG_ERROR(...) \
  ::quorvel_arm_supervisor::ArmLogger::instance().error( \
    ::spdlog::source_loc{__FILE__, __LINE__, SPDLOG_FUNCTION}, __VA_ARGS__)

#endif  // QUORVEL_ARM_SUPERVISOR__ARM_LOGGER_HPP_

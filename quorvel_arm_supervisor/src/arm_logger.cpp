#include "quorvel_arm_supervisor/arm_logger.hpp"

#include <array>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <vector>

#include <spdlog/sinks/ansicolor_sink.h>
#include <spdlog/sinks/systemd_sink.h>

namespace quorvel_arm_supervisor
{

EnvSetting<bool> parse_bool_env(const char * value, bool default_value, std::string_view name)
{
  const char * fallback = default_value ? "true" : "false";
  if (value == nullptr) {
    return {default_value,
      fmt::format("environment variable {} is not set, and set {}\n", name, fallback)};
  }
  const std::string_view text{value};
  if (text == "true") {
    return {true, {}};
  }
  if (text == "false") {
    return {false, {}};
  }
  return {default_value,
    fmt::format("environment variable {} is invalid, and set {}\n", name, fallback)};
}

EnvSetting<int> parse_level_env(const char * value)
{
  if (value == nullptr) {
    return {kDefaultLogLevel,
      "environment variable SPDLOG_LEVEL is not set, and set default level\n"};
  }
  // spdlog's own name table would also take "warn", "err" and "off"; these names are exact.
  static constexpr std::array<std::string_view, 6> names{
    "trace", "debug", "info", "warning", "error", "critical"};
  const std::string_view text{value};
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (text == names[i]) {
      return {static_cast<int>(i), {}};
    }
  }
  return {kDefaultLogLevel,
    "environment variable SPDLOG_LEVEL is invalid, and set default level\n"};
}

LoggerEnvironment read_logger_environment()
{
  return {std::getenv("SPDLOG_STDOUT"), std::getenv("SPDLOG_SYSTEMD"),
    std::getenv("SPDLOG_LEVEL")};
}

LoggerSinks default_logger_sinks()
{
  return {
    [] {return std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>();},
    [] {return std::make_shared<spdlog::sinks::systemd_sink_mt>();}};
}

ArmLogger::ArmLogger(const LoggerEnvironment & env, std::ostream & notices, const LoggerSinks & sinks)
{
  const auto notify = [&notices](const std::string & message) {
      if (!message.empty()) {
        notices << message << std::flush;
      }
    };
  // Logging must never be the reason the supervisor stops, so a failure here only leaves the
  // holder less configured than asked for.
  try {
    std::vector<spdlog::sink_ptr> sink_list;
    const auto to_console = parse_bool_env(env.stdout_value, true, "SPDLOG_STDOUT");
    notify(to_console.message);
    if (to_console.value) {
      sink_list.push_back(sinks.make_console());
    }
    const auto to_journal = parse_bool_env(env.systemd_value, false, "SPDLOG_SYSTEMD");
    notify(to_journal.message);
    if (to_journal.value) {
      sink_list.push_back(sinks.make_journal());
    }
    logger_ = std::make_shared<spdlog::logger>("spdlog", sink_list.begin(), sink_list.end());

    const auto level = parse_level_env(env.level_value);
    notify(level.message);
    level_ = level.value;
    logger_->set_level(static_cast<spdlog::level::level_enum>(level_));
    logger_->set_pattern("%v");
    logger_->flush_on(spdlog::level::err);
  } catch (const std::exception &) {
  }
}

ArmLogger & ArmLogger::instance()
{
  // Never destroyed: the detached task thread may still log while the process exits, after
  // function-local statics are gone. Every record is already written out when it is logged,
  // so nothing is lost by skipping the destructor.
  static ArmLogger * const holder =
    new ArmLogger(read_logger_environment(), std::cout, default_logger_sinks());
  return *holder;
}

void ArmLogger::write(
  spdlog::level::level_enum level, const spdlog::source_loc & where, std::string_view message)
{
  const unsigned number = static_cast<std::uint8_t>(counter_.fetch_add(1) + 1U);
  const bool is_error = level == spdlog::level::err;
  std::string line = is_error ?
    fmt::format("{0:3d} [ERROR] ", number % 128U) :
    fmt::format("{0:3d} [INFO] ", number % 128U);
  line.append(message);
  logger_->log(where, level, line);
}

}  // namespace quorvel_arm_supervisor

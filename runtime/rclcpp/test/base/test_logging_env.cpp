// Console output as the RCUTILS_* environment selects it: format, stream and colour. The console
// is configured once per process, so every case runs in a child process of its own (gtest's
// "threadsafe" death tests re-execute this binary) and is judged by what the child writes to
// stderr and its exit code.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "base/arguments.hpp"
#include "rclcpp/logging.hpp"

namespace
{

using Environment = std::vector<std::pair<const char *, const char *>>;

const std::string kEsc = "\x1b";

void set_environment(const Environment & environment)
{
  for (const auto & variable : environment) {
    setenv(variable.first, variable.second, 1);
  }
}

[[noreturn]] void log_and_exit(const Environment & environment)
{
  set_environment(environment);
  RCLCPP_WARN(rclcpp::get_logger("env_test"), "hello %d", 42);
  std::fflush(nullptr);
  std::exit(0);
}

// Sends the child's stdout to a file and appends it to stderr after a marker, so that the parent
// sees both streams in order.
[[noreturn]] void log_to_stdout_and_exit(const Environment & environment)
{
  char path[] = "/tmp/base_log_stdout_XXXXXX";
  std::fflush(stdout);
  const int fd = mkstemp(path);
  if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) {
    std::exit(2);
  }
  set_environment(environment);
  RCLCPP_WARN(rclcpp::get_logger("env_test"), "hello %d", 42);
  std::fflush(stdout);
  std::ifstream captured(path);
  const std::string text((std::istreambuf_iterator<char>(captured)), {});
  std::remove(path);
  std::fprintf(stderr, "STDOUT:%s", text.c_str());
  std::exit(0);
}

// Puts a pseudo-terminal behind stderr while logging, then reports what the terminal received
// on the original stderr.
[[noreturn]] void log_to_terminal_and_exit(const Environment & environment)
{
  const int original_stderr = dup(STDERR_FILENO);
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (original_stderr < 0 || master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::exit(2);
  }
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  if (slave < 0 || dup2(slave, STDERR_FILENO) < 0) {
    std::exit(2);
  }
  set_environment(environment);
  RCLCPP_WARN(rclcpp::get_logger("env_test"), "hello %d", 42);
  std::fflush(stderr);
  dup2(original_stderr, STDERR_FILENO);
  char buffer[512] = {};
  const ssize_t length = read(master, buffer, sizeof(buffer) - 1);
  std::fprintf(stderr, "TTY:%s", length > 0 ? buffer : "");
  std::exit(0);
}

[[noreturn]] void log_every_severity_and_exit(const Environment & environment)
{
  set_environment(environment);
  rclcpp::base::LogLevels levels;
  levels.default_level = RCUTILS_LOG_SEVERITY_DEBUG;
  rclcpp::base::apply_log_levels(levels);
  const auto logger = rclcpp::get_logger("c");
  RCLCPP_DEBUG(logger, "d");
  RCLCPP_INFO(logger, "i");
  RCLCPP_WARN(logger, "w");
  RCLCPP_ERROR(logger, "e");
  RCLCPP_FATAL(logger, "f");
  std::exit(0);
}

[[noreturn]] void configure_and_exit(const Environment & environment)
{
  set_environment(environment);
  try {
    rclcpp::base::apply_log_levels({});
    std::fprintf(stderr, "NOT THROWN\n");
  } catch (const std::runtime_error & e) {
    std::fprintf(stderr, "THROWN: %s\n", e.what());
  }
  RCLCPP_WARN(rclcpp::get_logger("env_test"), "still logged");
  std::exit(0);
}

const char * kDefaultLine = "\\[WARN\\] \\[[0-9]{10}\\.[0-9]{9}\\] \\[env_test\\]: hello 42\n";

class ConsoleOutput : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
};

}  // namespace

TEST_F(ConsoleOutput, DefaultIsStderrDefaultFormatNoColourOnAPipe)
{
  EXPECT_EXIT(
    log_and_exit({}), ::testing::ExitedWithCode(0), std::string("^") + kDefaultLine + "$");
}

TEST_F(ConsoleOutput, UseStdoutMovesRecordsToStdout)
{
  EXPECT_EXIT(
    log_to_stdout_and_exit({{"RCUTILS_LOGGING_USE_STDOUT", "1"}}), ::testing::ExitedWithCode(0),
    std::string("^STDOUT:") + kDefaultLine + "$");
  EXPECT_EXIT(
    log_to_stdout_and_exit({{"RCUTILS_LOGGING_USE_STDOUT", "0"}}), ::testing::ExitedWithCode(0),
    std::string("^") + kDefaultLine + "STDOUT:$");
}

TEST_F(ConsoleOutput, FormatVariableSelectsTokens)
{
  EXPECT_EXIT(
    log_and_exit(
      {{"RCUTILS_CONSOLE_OUTPUT_FORMAT",
        "{severity}|{name}|{function_name}|{message}|{time_as_nanoseconds}|{unknown}|{line_number}"
      }}),
    ::testing::ExitedWithCode(0), "^WARN\\|env_test\\|log_and_exit\\|hello 42\\|[0-9]{19}\\|"
    "\\{unknown\\}\\|[0-9]+\n$");
}

TEST_F(ConsoleOutput, ForcedColourWrapsEveryLineBySeverity)
{
  const std::string colour_reset = kEsc + "\\[0m";
  EXPECT_EXIT(
    log_every_severity_and_exit({{"RCUTILS_COLORIZED_OUTPUT", "1"}}),
    ::testing::ExitedWithCode(0),
    "^" + kEsc + "\\[32m\\[DEBUG\\][^\n]*: d" + colour_reset + "\n" +
    colour_reset + "\\[INFO\\][^\n]*: i" + colour_reset + "\n" +
    kEsc + "\\[33m\\[WARN\\][^\n]*: w" + colour_reset + "\n" +
    kEsc + "\\[31m\\[ERROR\\][^\n]*: e" + colour_reset + "\n" +
    kEsc + "\\[31m\\[FATAL\\][^\n]*: f" + colour_reset + "\n$");
}

TEST_F(ConsoleOutput, UnsetColourFollowsWhetherTheStreamIsATerminal)
{
  EXPECT_EXIT(
    log_to_terminal_and_exit({}), ::testing::ExitedWithCode(0),
    "^TTY:" + kEsc + "\\[33m\\[WARN\\][^\n]*hello 42" + kEsc + "\\[0m\r?\n$");
  EXPECT_EXIT(
    log_to_terminal_and_exit({{"RCUTILS_COLORIZED_OUTPUT", "0"}}), ::testing::ExitedWithCode(0),
    "^TTY:\\[WARN\\][^\n]*hello 42\r?\n$");
}

TEST_F(ConsoleOutput, InvalidStreamVariableFailsConfigurationButKeepsLogging)
{
  EXPECT_EXIT(
    configure_and_exit({{"RCUTILS_LOGGING_USE_STDOUT", "yes"}}), ::testing::ExitedWithCode(0),
    "^THROWN: failed to configure logging: RCUTILS_LOGGING_USE_STDOUT[^\n]*'yes'[^\n]*\n"
    "\\[WARN\\] \\[[0-9]{10}\\.[0-9]{9}\\] \\[env_test\\]: still logged\n$");
  EXPECT_EXIT(
    configure_and_exit({{"RCUTILS_LOGGING_BUFFERED_STREAM", "1"}}), ::testing::ExitedWithCode(0),
    "^NOT THROWN\n\\[WARN\\][^\n]*still logged\n$");
}

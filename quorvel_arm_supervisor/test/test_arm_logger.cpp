#include <cstdlib>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <spdlog/sinks/base_sink.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include "quorvel_arm_supervisor/arm_logger.hpp"

namespace qas = quorvel_arm_supervisor;

namespace
{

TEST(LoggerEnvParsing, BoolVariable)
{
  const auto unset = qas::parse_bool_env(nullptr, true, "SPDLOG_STDOUT");
  EXPECT_TRUE(unset.value);
  EXPECT_EQ(unset.message, "environment variable SPDLOG_STDOUT is not set, and set true\n");

  const auto unset_journal = qas::parse_bool_env(nullptr, false, "SPDLOG_SYSTEMD");
  EXPECT_FALSE(unset_journal.value);
  EXPECT_EQ(
    unset_journal.message, "environment variable SPDLOG_SYSTEMD is not set, and set false\n");

  for (const bool fallback : {true, false}) {
    const auto yes = qas::parse_bool_env("true", fallback, "X");
    EXPECT_TRUE(yes.value);
    EXPECT_TRUE(yes.message.empty());
    const auto no = qas::parse_bool_env("false", fallback, "X");
    EXPECT_FALSE(no.value);
    EXPECT_TRUE(no.message.empty());
  }

  // Only the exact lower-case words count.
  for (const char * bad : {"TRUE", "True", "1", "", " true", "yes"}) {
    const auto console = qas::parse_bool_env(bad, true, "SPDLOG_STDOUT");
    EXPECT_TRUE(console.value) << bad;
    EXPECT_EQ(console.message, "environment variable SPDLOG_STDOUT is invalid, and set true\n");
    const auto journal = qas::parse_bool_env(bad, false, "SPDLOG_SYSTEMD");
    EXPECT_FALSE(journal.value) << bad;
    EXPECT_EQ(journal.message, "environment variable SPDLOG_SYSTEMD is invalid, and set false\n");
  }
}

TEST(LoggerEnvParsing, LevelVariable)
{
  const std::vector<std::string> names{"trace", "debug", "info", "warning", "error", "critical"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    const auto level = qas::parse_level_env(names[i].c_str());
    EXPECT_EQ(level.value, static_cast<int>(i)) << names[i];
    EXPECT_TRUE(level.message.empty()) << names[i];
  }

  const auto unset = qas::parse_level_env(nullptr);
  EXPECT_EQ(unset.value, 2);
  EXPECT_EQ(unset.message, "environment variable SPDLOG_LEVEL is not set, and set default level\n");

  // spdlog's short names are not accepted, nor other spellings.
  for (const char * bad : {"warn", "err", "off", "ERROR", "Info", "", "4"}) {
    const auto level = qas::parse_level_env(bad);
    EXPECT_EQ(level.value, 2) << bad;
    EXPECT_EQ(
      level.message, "environment variable SPDLOG_LEVEL is invalid, and set default level\n")
      << bad;
  }
}

// A logger whose console and journal records land in strings.
struct CapturedLogger
{
  explicit CapturedLogger(const qas::LoggerEnvironment & env)
  {
    qas::LoggerSinks sinks{
      [this] {
        ++consoles_made;
        return std::make_shared<spdlog::sinks::ostream_sink_mt>(console);
      },
      [this] {
        ++journals_made;
        return std::make_shared<spdlog::sinks::ostream_sink_mt>(journal);
      }};
    logger = std::make_unique<qas::ArmLogger>(env, notices, sinks);
  }

  std::ostringstream notices;
  std::ostringstream console;
  std::ostringstream journal;
  int consoles_made = 0;
  int journals_made = 0;
  std::unique_ptr<qas::ArmLogger> logger;
};

#define LOG_INFO_TO(holder, ...) \
  (holder).info(spdlog::source_loc{__FILE__, __LINE__, SPDLOG_FUNCTION}, __VA_ARGS__)
#define LOG_ERROR_TO(holder, ...) \
  (holder).error(spdlog::source_loc{__FILE__, __LINE__, SPDLOG_FUNCTION}, __VA_ARGS__)

TEST(ArmLoggerSetup, NothingSetMeansConsoleOnlyAtInfo)
{
  CapturedLogger captured{qas::LoggerEnvironment{}};
  EXPECT_EQ(
    captured.notices.str(),
    "environment variable SPDLOG_STDOUT is not set, and set true\n"
    "environment variable SPDLOG_SYSTEMD is not set, and set false\n"
    "environment variable SPDLOG_LEVEL is not set, and set default level\n");
  EXPECT_EQ(captured.consoles_made, 1);
  EXPECT_EQ(captured.journals_made, 0);
  EXPECT_EQ(captured.logger->level(), 2);

  LOG_ERROR_TO(*captured.logger, "ErrorCode: {}, Arm status abnormal", 102300005);
  LOG_INFO_TO(*captured.logger, "is_grab_need_to_replan_: {}", true);
  LOG_INFO_TO(*captured.logger, "no arguments");
  EXPECT_EQ(
    captured.console.str(),
    "  1 [ERROR] ErrorCode: 102300005, Arm status abnormal\n"
    "  2 [INFO] is_grab_need_to_replan_: true\n"
    "  3 [INFO] no arguments\n");
}

TEST(ArmLoggerSetup, ValidValuesPrintNoNoticeAndJournalFollowsConsole)
{
  CapturedLogger captured{qas::LoggerEnvironment{"true", "true", "debug"}};
  EXPECT_EQ(captured.notices.str(), "");
  EXPECT_EQ(captured.logger->level(), 1);
  LOG_INFO_TO(*captured.logger, "x={}", 1.5);
  EXPECT_EQ(captured.console.str(), "  1 [INFO] x=1.5\n");
  EXPECT_EQ(captured.journal.str(), "  1 [INFO] x=1.5\n");
}

TEST(ArmLoggerSetup, ConsoleOffStillNotifiesAndCounts)
{
  CapturedLogger captured{qas::LoggerEnvironment{"false", nullptr, "info"}};
  EXPECT_EQ(
    captured.notices.str(), "environment variable SPDLOG_SYSTEMD is not set, and set false\n");
  EXPECT_EQ(captured.consoles_made, 0);
  EXPECT_EQ(captured.journals_made, 0);
  ASSERT_TRUE(captured.logger->has_logger());
  LOG_INFO_TO(*captured.logger, "dropped");
  LOG_ERROR_TO(*captured.logger, "dropped");
  EXPECT_EQ(captured.console.str(), "");
  EXPECT_EQ(captured.logger->counter(), 2);
}

TEST(ArmLoggerSetup, InvalidValuesFallBackToDefaults)
{
  CapturedLogger captured{qas::LoggerEnvironment{"TRUE", "yes", "off"}};
  EXPECT_EQ(
    captured.notices.str(),
    "environment variable SPDLOG_STDOUT is invalid, and set true\n"
    "environment variable SPDLOG_SYSTEMD is invalid, and set false\n"
    "environment variable SPDLOG_LEVEL is invalid, and set default level\n");
  EXPECT_EQ(captured.consoles_made, 1);
  EXPECT_EQ(captured.journals_made, 0);
  EXPECT_EQ(captured.logger->level(), 2);
  LOG_INFO_TO(*captured.logger, "shown");
  EXPECT_EQ(captured.console.str(), "  1 [INFO] shown\n");
}

TEST(ArmLoggerSetup, FailingSinkIsSwallowedAndLoggingBecomesANoOp)
{
  std::ostringstream notices;
  qas::LoggerSinks sinks{
    []() -> spdlog::sink_ptr {throw spdlog::spdlog_ex("no console");},
    []() -> spdlog::sink_ptr {throw std::runtime_error("not reached");}};
  qas::ArmLogger logger{qas::LoggerEnvironment{nullptr, "true", "error"}, notices, sinks};
  // Set-up stops at the failure: the later variables are not even reported.
  EXPECT_EQ(notices.str(), "environment variable SPDLOG_STDOUT is not set, and set true\n");
  EXPECT_FALSE(logger.has_logger());
  LOG_ERROR_TO(logger, "nowhere {}", 1);
  EXPECT_EQ(logger.counter(), 0);
}

TEST(ArmLoggerLevels, FilteredLinesDoNotAdvanceTheCounter)
{
  CapturedLogger captured{qas::LoggerEnvironment{"true", "false", "error"}};
  LOG_INFO_TO(*captured.logger, "hidden {}", 1);
  LOG_ERROR_TO(*captured.logger, "first");
  LOG_INFO_TO(*captured.logger, "hidden {}", 2);
  LOG_ERROR_TO(*captured.logger, "second");
  EXPECT_EQ(captured.console.str(), "  1 [ERROR] first\n  2 [ERROR] second\n");
  EXPECT_EQ(captured.logger->counter(), 2);
}

// Counts the flushes the logger asks for.
class FlushCountingSink : public spdlog::sinks::base_sink<std::mutex>
{
public:
  int flushes = 0;

protected:
  void sink_it_(const spdlog::details::log_msg &) override {}
  void flush_() override {++flushes;}
};

TEST(ArmLoggerLevels, ErrorLinesAreFlushedAtOnce)
{
  std::ostringstream notices;
  auto sink = std::make_shared<FlushCountingSink>();
  qas::LoggerSinks sinks{[sink] {return sink;}, [] {return spdlog::sink_ptr{};}};
  qas::ArmLogger logger{qas::LoggerEnvironment{"true", "false", "info"}, notices, sinks};
  LOG_INFO_TO(logger, "info");
  EXPECT_EQ(sink->flushes, 0);
  LOG_ERROR_TO(logger, "error");
  EXPECT_EQ(sink->flushes, 1);
}

TEST(ArmLoggerCounter, ShownModulo128AndSharedByLevels)
{
  CapturedLogger captured{qas::LoggerEnvironment{"true", "false", "info"}};
  for (int i = 1; i <= 127; ++i) {
    if (i % 2 == 0) {
      LOG_INFO_TO(*captured.logger, "line");
    } else {
      LOG_ERROR_TO(*captured.logger, "line");
    }
  }
  captured.console.str("");
  LOG_INFO_TO(*captured.logger, "128th");
  LOG_ERROR_TO(*captured.logger, "129th");
  EXPECT_EQ(captured.console.str(), "  0 [INFO] 128th\n  1 [ERROR] 129th\n");

  // The byte itself wraps at 256; the shown number stays continuous across it.
  for (int i = 130; i <= 255; ++i) {
    LOG_INFO_TO(*captured.logger, "line");
  }
  captured.console.str("");
  LOG_INFO_TO(*captured.logger, "256th");
  LOG_INFO_TO(*captured.logger, "257th");
  EXPECT_EQ(captured.console.str(), "  0 [INFO] 256th\n  1 [INFO] 257th\n");
  EXPECT_EQ(captured.logger->counter(), 1);
}

// The process-wide holder: reads the real environment once and is what the macros write to.
TEST(ArmLoggerInstance, ConfiguredFromEnvironmentOnFirstMacroCall)
{
  ASSERT_EQ(setenv("SPDLOG_STDOUT", "false", 1), 0);
  ASSERT_EQ(unsetenv("SPDLOG_SYSTEMD"), 0);
  ASSERT_EQ(setenv("SPDLOG_LEVEL", "error", 1), 0);

  testing::internal::CaptureStdout();
  ARM_LOG_INFO("filtered {}", 1);
  ARM_LOG_ERROR("ErrorCode: {}, no trash to grab detected !", 102300002);
  ARM_LOG_ERROR("no arguments");
  const std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ(out, "environment variable SPDLOG_SYSTEMD is not set, and set false\n");
  auto & holder = qas::ArmLogger::instance();
  // Owned by the holder alone: another "spdlog" logger elsewhere must not collide with it.
  EXPECT_EQ(spdlog::get("spdlog"), nullptr);
  EXPECT_EQ(holder.level(), 4);
  EXPECT_EQ(holder.counter(), 2);

  // Read once: later changes of the environment have no effect.
  ASSERT_EQ(setenv("SPDLOG_LEVEL", "info", 1), 0);
  EXPECT_EQ(&qas::ArmLogger::instance(), &holder);
  ARM_LOG_INFO("still filtered");
  EXPECT_EQ(holder.counter(), 2);
}

}  // namespace

// Logging macros: severity filtering, levels, and the ONCE / SKIPFIRST / EXPRESSION / THROTTLE /
// STREAM conditions, observed through a capturing sink.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/arguments.hpp"
#include "base/logging_backend.hpp"
#include "rclcpp/logging.hpp"

using namespace std::chrono_literals;

namespace
{

struct Record
{
  int severity;
  std::string name;
  std::string message;
  int64_t timestamp;
};

std::mutex g_records_mutex;
std::vector<Record> g_records;

void capture(
  const rcutils_log_location_t *, int severity, const char * name,
  rcutils_time_point_value_t timestamp, const char * format, va_list * args)
{
  char buffer[1024];
  std::vsnprintf(buffer, sizeof(buffer), format, *args);
  std::lock_guard<std::mutex> lock(g_records_mutex);
  g_records.push_back({severity, name, buffer, timestamp});
}

// Each test uses its own logger names, so levels set by one test do not leak into another.
class Logging : public ::testing::Test
{
protected:
  void SetUp() override
  {
    rclcpp::base::set_output_handler(&capture);
    std::lock_guard<std::mutex> lock(g_records_mutex);
    g_records.clear();
  }

  void TearDown() override
  {
    rclcpp::base::set_output_handler(nullptr);
    rclcpp::base::set_default_logger_level(RCUTILS_LOG_SEVERITY_INFO);
  }

  static std::vector<Record> records()
  {
    std::lock_guard<std::mutex> lock(g_records_mutex);
    return g_records;
  }

  static std::vector<std::string> messages()
  {
    std::vector<std::string> out;
    for (const auto & record : records()) {
      out.push_back(record.message);
    }
    return out;
  }
};

// One-hour throttles use the system clock: the first call is only emitted once the clock reads
// at least the period, and a steady clock may read less than an hour after boot.
//
// One call site each, so that their statics are shared across calls as in a loop body. Each
// test that throttles gets its own instantiation, hence its own call-site state.
template<int Site>
void throttled(const rclcpp::Logger & logger, rclcpp::Clock & clock, int period_ms, int tag)
{
  RCLCPP_INFO_THROTTLE(logger, clock, period_ms, "tick %d", tag);
}

void once(const rclcpp::Logger & logger, int tag)
{
  RCLCPP_INFO_ONCE(logger, "once %d", tag);
}

void skip_first(const rclcpp::Logger & logger, int tag)
{
  RCLCPP_WARN_SKIPFIRST(logger, "skip %d", tag);
}

void stream_once(const rclcpp::Logger & logger, int tag)
{
  RCLCPP_ERROR_STREAM_ONCE(logger, "stream once " << tag);
}

void stream_throttled(const rclcpp::Logger & logger, rclcpp::Clock & clock, int tag)
{
  RCLCPP_INFO_STREAM_THROTTLE(logger, clock, 3600 * 1000, "stream tick " << tag);
}

int g_evaluations = 0;
int count_evaluation()
{
  return ++g_evaluations;
}

bool always_true()
{
  return true;
}

}  // namespace

TEST_F(Logging, RecordsCarryNameSeverityFormattedTextAndWallTime)
{
  auto logger = rclcpp::get_logger("rec");
  const auto before = std::chrono::system_clock::now().time_since_epoch();
  RCLCPP_WARN(logger, "value %d of %s", 3, "x");
  RCLCPP_INFO(logger.get_child("sub"), "plain");
  const auto after = std::chrono::system_clock::now().time_since_epoch();
  const auto got = records();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].severity, RCUTILS_LOG_SEVERITY_WARN);
  EXPECT_EQ(got[0].name, "rec");
  EXPECT_EQ(got[0].message, "value 3 of x");
  EXPECT_GE(got[0].timestamp, std::chrono::duration_cast<std::chrono::nanoseconds>(before).count());
  EXPECT_LE(got[0].timestamp, std::chrono::duration_cast<std::chrono::nanoseconds>(after).count());
  EXPECT_EQ(got[1].name, "rec.sub");
}

TEST_F(Logging, SeverityFilterRunsBeforeArgumentsAreEvaluated)
{
  const auto logger = rclcpp::get_logger("filter");
  g_evaluations = 0;
  RCLCPP_DEBUG(logger, "%d", count_evaluation());
  RCLCPP_DEBUG_STREAM(logger, count_evaluation());
  EXPECT_EQ(g_evaluations, 0);
  RCLCPP_INFO(logger, "%d", count_evaluation());
  EXPECT_EQ(g_evaluations, 1);
  EXPECT_EQ(messages(), std::vector<std::string>{"1"});
}

TEST_F(Logging, LevelsInheritAlongDottedNames)
{
  auto parent = rclcpp::get_logger("lvl");
  auto child = parent.get_child("c");
  auto grandchild = child.get_child("g");
  parent.set_level(rclcpp::Logger::Level::Error);
  EXPECT_EQ(grandchild.get_effective_level(), rclcpp::Logger::Level::Error);
  RCLCPP_WARN(grandchild, "dropped");
  child.set_level(rclcpp::Logger::Level::Debug);
  RCLCPP_DEBUG(grandchild, "kept");
  RCLCPP_WARN(parent, "dropped too");
  child.set_level(rclcpp::Logger::Level::Unset);
  RCLCPP_DEBUG(grandchild, "dropped again");
  EXPECT_EQ(messages(), std::vector<std::string>{"kept"});
  // "lvlx" is not a child of "lvl".
  EXPECT_EQ(rclcpp::get_logger("lvlx").get_effective_level(), rclcpp::Logger::Level::Info);
  EXPECT_THROW(parent.set_level(static_cast<rclcpp::Logger::Level>(15)),
    rclcpp::exceptions::RCLInvalidArgument);
}

TEST_F(Logging, LogLevelArgumentsSetDefaultThenNamedLoggers)
{
  const auto parsed = rclcpp::base::parse_arguments(
    {"prog", "--ros-args", "--log-level", "error", "--log-level", "cli_node:=debug",
      "--log-level", "cli_node.quiet:=FATAL"});
  rclcpp::base::apply_log_levels(parsed.log_levels);
  RCLCPP_WARN(rclcpp::get_logger("cli_other"), "dropped by the default");
  RCLCPP_DEBUG(rclcpp::get_logger("cli_node"), "node debug");
  RCLCPP_ERROR(rclcpp::get_logger("cli_node.quiet"), "dropped by its own level");
  RCLCPP_ERROR(rclcpp::get_logger("cli_other"), "other error");
  EXPECT_EQ(messages(), (std::vector<std::string>{"node debug", "other error"}));

  rclcpp::base::apply_log_levels(rclcpp::base::parse_arguments(
      {"prog", "--ros-args", "--log-level", "unset"}).log_levels);
  EXPECT_EQ(rclcpp::base::default_logger_level(), RCUTILS_LOG_SEVERITY_INFO);
}

TEST_F(Logging, OnceSkipFirstExpressionAndFunctionConditions)
{
  auto logger = rclcpp::get_logger("cond");
  logger.set_level(rclcpp::Logger::Level::Error);
  once(logger, 0);  // filtered: must not use up the one message
  logger.set_level(rclcpp::Logger::Level::Unset);
  for (int i = 1; i <= 3; ++i) {
    once(logger, i);
    skip_first(logger, i);
    stream_once(logger, i);
    RCLCPP_INFO_EXPRESSION(logger, i == 2, "expr %d", i);
    RCLCPP_INFO_FUNCTION(logger, &always_true, "func %d", i);
  }
  EXPECT_EQ(messages(), (std::vector<std::string>{
    "once 1", "stream once 1", "func 1", "skip 2", "expr 2", "func 2", "skip 3", "func 3"}));
}

TEST_F(Logging, StreamFormsUseStreamFormatting)
{
  const auto logger = rclcpp::get_logger("stream");
  RCLCPP_INFO_STREAM(logger, "joints: " << 1.5708 << " " << 0 << " " << 1e-05);
  rclcpp::Clock clock(RCL_SYSTEM_TIME);
  stream_throttled(logger, clock, 1);
  stream_throttled(logger, clock, 2);
  EXPECT_EQ(messages(), (std::vector<std::string>{"joints: 1.5708 0 1e-05", "stream tick 1"}));
}

TEST_F(Logging, ThrottleEmitsFirstCallThenOncePerPeriodPerCallSite)
{
  const auto logger = rclcpp::get_logger("thr");
  rclcpp::Clock clock(RCL_SYSTEM_TIME);
  for (int i = 0; i < 5; ++i) {
    throttled<1>(logger, clock, 3600 * 1000, i);
  }
  // A different call site with the same arguments has its own state.
  RCLCPP_INFO_THROTTLE(logger, clock, 3600 * 1000, "other site");
  EXPECT_EQ(messages(), (std::vector<std::string>{"tick 0", "other site"}));
}

TEST_F(Logging, ThrottleIgnoresFilteredCallsAndKeepsItsFirstDuration)
{
  auto logger = rclcpp::get_logger("thr_filter");
  rclcpp::Clock clock(RCL_SYSTEM_TIME);
  auto site = [&](int period_ms, int tag) {
      RCLCPP_INFO_THROTTLE(logger, clock, period_ms, "t %d", tag);
    };
  logger.set_level(rclcpp::Logger::Level::Warn);
  site(0, 0);  // filtered: neither the timestamp nor the duration may be taken from it
  logger.set_level(rclcpp::Logger::Level::Unset);
  site(3600 * 1000, 1);
  site(0, 2);  // the one-hour duration captured above still applies
  EXPECT_EQ(messages(), std::vector<std::string>{"t 1"});
}

TEST_F(Logging, ThrottleEmitsAgainOnlyOncePeriodHasPassed)
{
  const auto logger = rclcpp::get_logger("thr_period");
  rclcpp::Clock clock(RCL_STEADY_TIME);
  constexpr auto period = 30ms;
  struct Call
  {
    std::chrono::steady_clock::time_point before, after;
    size_t records_after;
  };
  std::vector<Call> calls;
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (records().size() < 2 && std::chrono::steady_clock::now() < deadline) {
    Call call;
    call.before = std::chrono::steady_clock::now();
    throttled<2>(logger, clock, static_cast<int>(period.count()), static_cast<int>(calls.size()));
    call.after = std::chrono::steady_clock::now();
    call.records_after = records().size();
    calls.push_back(call);
    std::this_thread::yield();
  }
  ASSERT_EQ(records().size(), 2u);
  ASSERT_EQ(calls.front().records_after, 1u);
  size_t second = 0;
  while (calls[second].records_after < 2) {
    ++second;
  }
  // The second emission read the clock no earlier than one period after the first did...
  EXPECT_GE(calls[second].after - calls.front().before, period);
  // ...and no call that certainly read the clock a period after the first stayed silent.
  for (size_t i = 1; i < second; ++i) {
    EXPECT_LT(calls[i].before, calls.front().after + period) << "call " << i;
  }
}

TEST_F(Logging, ThrottleIsOneSharedGateAcrossThreads)
{
  const auto logger = rclcpp::get_logger("thr_threads");
  rclcpp::Clock clock(RCL_SYSTEM_TIME);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t]() {
        for (int i = 0; i < 500; ++i) {
          throttled<3>(logger, clock, 3600 * 1000, t);
        }
      });
  }
  for (auto & thread : threads) {
    thread.join();
  }
  EXPECT_EQ(records().size(), 1u);
}

TEST_F(Logging, ThrottleLogsAnywayWhenTheClockFails)
{
  const auto logger = rclcpp::get_logger("thr_broken");
  rclcpp::Clock broken(RCL_CLOCK_UNINITIALIZED);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) {
    RCLCPP_WARN_THROTTLE(logger, broken, 3600 * 1000, "w %d", i);
  }
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(messages(), (std::vector<std::string>{"w 0", "w 1", "w 2"}));
  EXPECT_NE(err.find("could not read its clock"), std::string::npos) << err;
}

TEST_F(Logging, DeprecatedArgumentFormsWarnOnTheRclLogger)
{
  rclcpp::base::parse_arguments({"prog", "chatter:=talk"});
  EXPECT_THROW(
    rclcpp::base::parse_arguments({"prog", "--ros-args", "-r", "__ns:=relative"}),
    rclcpp::base::InvalidRosArgsError);
  const auto got = records();
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].name, "rcl");
  EXPECT_EQ(got[0].severity, RCUTILS_LOG_SEVERITY_WARN);
  EXPECT_NE(got[0].message.find("'--ros-args --remap chatter:=talk'"), std::string::npos);
  EXPECT_NE(got[1].message.find("relative"), std::string::npos);
}

TEST(LoggingEnvironment, InvalidValuesAreReportedWithTheVariable)
{
  using rclcpp::base::check_logging_environment;
  EXPECT_EQ(check_logging_environment(nullptr, nullptr, nullptr), "");
  EXPECT_EQ(check_logging_environment("", "0", "1"), "");
  EXPECT_NE(check_logging_environment("2", nullptr, nullptr).find("RCUTILS_LOGGING_USE_STDOUT"),
    std::string::npos);
  EXPECT_NE(check_logging_environment(nullptr, "yes", nullptr).find(
      "RCUTILS_LOGGING_BUFFERED_STREAM"), std::string::npos);
  EXPECT_NE(check_logging_environment(nullptr, nullptr, "true").find("RCUTILS_COLORIZED_OUTPUT"),
    std::string::npos);
}

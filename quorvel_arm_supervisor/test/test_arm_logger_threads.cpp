#include <array>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>

#include "quorvel_arm_supervisor/arm_logger.hpp"

namespace qas = quorvel_arm_supervisor;

namespace
{

// The task thread and the executor threads log through one holder at once: no line may be lost
// or torn and no number may be handed out twice.
TEST(ArmLoggerThreads, ConcurrentLinesShareOneCounter)
{
  constexpr int kThreads = 8;
  constexpr int kLinesPerThread = 1024;  // 8192 lines: every number 0..127 exactly 64 times

  std::ostringstream notices;
  std::ostringstream console;
  qas::LoggerSinks sinks{
    [&console] {return std::make_shared<spdlog::sinks::ostream_sink_mt>(console);},
    [] {return spdlog::sink_ptr{};}};
  qas::ArmLogger logger{qas::LoggerEnvironment{"true", "false", "info"}, notices, sinks};

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back(
      [&logger, t] {
        for (int i = 0; i < kLinesPerThread; ++i) {
          if (i % 2 == 0) {
            logger.info(spdlog::source_loc{__FILE__, __LINE__, SPDLOG_FUNCTION}, "t{} i{}", t, i);
          } else {
            logger.error(spdlog::source_loc{__FILE__, __LINE__, SPDLOG_FUNCTION}, "t{} i{}", t, i);
          }
        }
      });
  }
  for (auto & thread : threads) {
    thread.join();
  }

  EXPECT_EQ(logger.counter(), (kThreads * kLinesPerThread) % 256);

  std::array<int, 128> seen{};
  std::istringstream lines{console.str()};
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    ++count;
    ASSERT_GE(line.size(), 4U) << line;
    const int number = std::stoi(line.substr(0, 3));
    ASSERT_GE(number, 0);
    ASSERT_LT(number, 128);
    ++seen[static_cast<std::size_t>(number)];
    const std::string tag = line.substr(3, 8);
    EXPECT_TRUE(tag == " [INFO] " || line.compare(3, 9, " [ERROR] ") == 0) << line;
  }
  EXPECT_EQ(count, kThreads * kLinesPerThread);
  for (std::size_t n = 0; n < seen.size(); ++n) {
    EXPECT_EQ(seen[n], kThreads * kLinesPerThread / 128) << "number " << n;
  }
}

}  // namespace

// /rosout as a log viewer sees it: a node's records with level, logger name, text and source
// position; nothing below the logger's level, nothing of child loggers or of nodes that turned
// it off; records kept for a viewer that joins later; and logging that never hangs, from many
// threads, from callbacks, while nodes come and go, after shutdown.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rcl_interfaces/msg/log.hpp"
#include "rclcpp/rclcpp.hpp"
#include "std_msgs/msg/bool.hpp"
#include "test_support.hpp"

using rcl_interfaces::msg::Log;

namespace
{
constexpr int kDomain = 136;

/// A log viewer in a context of its own: subscribes to /rosout with rclcpp's QoS for it
/// (transient local, so it also gets what was logged before it joined).
class Viewer
{
public:
  Viewer()
  : context_(make_context()), executor_(options(context_))
  {
    node_ = std::make_shared<rclcpp::Node>(
      "viewer", rclcpp::NodeOptions().context(context_).enable_rosout(false));
    subscription_ = node_->create_subscription<Log>(
      "/rosout", rclcpp::RosoutQoS(), [this](const Log & record) {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.push_back(record);
      });
    executor_.add_node(node_);
    spinner_ = std::thread([this]() {executor_.spin();});
  }
  ~Viewer()
  {
    executor_.cancel();
    spinner_.join();
    context_->shutdown("viewer done");
  }

  /// Waits for a record whose text is `text`; returns it, or an empty record on timeout.
  Log wait_for(const std::string & text, std::chrono::seconds timeout = std::chrono::seconds(10))
  {
    Log found;
    test_support::wait_until([&]() {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto & record : records_) {
          if (record.msg == text) {
            found = record;
            return true;
          }
        }
        return false;
      }, timeout);
    return found;
  }

  bool seen(const std::string & text)
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto & record : records_) {
      if (record.msg == text) {
        return true;
      }
    }
    return false;
  }

private:
  static rclcpp::Context::SharedPtr make_context()
  {
    auto context = std::make_shared<rclcpp::Context>();
    const char * argv[] = {"viewer"};
    context->init(1, argv);
    return context;
  }
  static rclcpp::ExecutorOptions options(const rclcpp::Context::SharedPtr & context)
  {
    rclcpp::ExecutorOptions options;
    options.context = context;
    return options;
  }

  rclcpp::Context::SharedPtr context_;
  rclcpp::Node::SharedPtr node_;
  rclcpp::Subscription<Log>::SharedPtr subscription_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::thread spinner_;
  std::mutex mutex_;
  std::vector<Log> records_;
};

class Rosout : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    test_support::use_domain(kDomain);
    const char * argv[] = {"test_rosout"};
    rclcpp::init(1, argv);
  }
  static void TearDownTestSuite() {rclcpp::shutdown();}
};
}  // namespace

TEST_F(Rosout, records_carry_level_name_text_and_source_and_stop_at_the_level)
{
  auto node = std::make_shared<rclcpp::Node>("talker", "/rosout_test");
  Viewer viewer;
  const int info_line = __LINE__ + 1;
  RCLCPP_INFO(node->get_logger(), "started with %d items", 3);
  RCLCPP_DEBUG(node->get_logger(), "below the level");
  RCLCPP_INFO(node->get_logger().get_child("part"), "from a child logger");
  RCLCPP_WARN_STREAM(node->get_logger(), "a warning " << 7);

  const Log info = viewer.wait_for("started with 3 items");
  ASSERT_EQ(info.msg, "started with 3 items");
  EXPECT_EQ(info.level, Log::INFO);
  EXPECT_EQ(info.name, "rosout_test.talker");
  EXPECT_EQ(info.file, __FILE__);
  EXPECT_EQ(info.function, "TestBody");
  EXPECT_EQ(info.line, static_cast<uint32_t>(info_line));
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  EXPECT_NEAR(
    static_cast<double>(info.stamp.sec),
    static_cast<double>(std::chrono::duration_cast<std::chrono::seconds>(now).count()), 60.0);

  // The warning was logged after the other two: once it is here, they would be too.
  const Log warning = viewer.wait_for("a warning 7");
  EXPECT_EQ(warning.level, Log::WARN);
  EXPECT_FALSE(viewer.seen("below the level"));
  EXPECT_FALSE(viewer.seen("from a child logger"));

  node->get_logger().set_level(rclcpp::Logger::Level::Debug);
  RCLCPP_DEBUG(node->get_logger(), "now at debug");
  EXPECT_EQ(viewer.wait_for("now at debug").level, Log::DEBUG);
  node->get_logger().set_level(rclcpp::Logger::Level::Unset);
}

TEST_F(Rosout, a_viewer_that_joins_later_gets_the_start_lines_and_disabled_nodes_stay_silent)
{
  auto node = std::make_shared<rclcpp::Node>("early", "/rosout_test");
  auto silent = std::make_shared<rclcpp::Node>(
    "silent", "/rosout_test", rclcpp::NodeOptions().enable_rosout(false));
  // --disable-rosout-logs turns /rosout off for every node of the program.
  auto no_rosout = std::make_shared<rclcpp::Context>();
  const char * argv[] = {"no_rosout", "--ros-args", "--disable-rosout-logs"};
  no_rosout->init(3, argv);
  auto muted = std::make_shared<rclcpp::Node>(
    "muted", "/rosout_test", rclcpp::NodeOptions().context(no_rosout));
  RCLCPP_INFO(silent->get_logger(), "not for rosout");
  RCLCPP_INFO(muted->get_logger(), "not for rosout either");
  RCLCPP_INFO(node->get_logger(), "logged before the viewer");
  Viewer viewer;
  EXPECT_EQ(viewer.wait_for("logged before the viewer").name, "rosout_test.early");
  EXPECT_FALSE(viewer.seen("not for rosout"));
  EXPECT_FALSE(viewer.seen("not for rosout either"));
  no_rosout->shutdown("test done");
}

TEST_F(Rosout, logging_never_hangs_from_threads_callbacks_node_churn_and_after_shutdown)
{
  Viewer viewer;
  auto context = std::make_shared<rclcpp::Context>();
  const char * argv[] = {"churn"};
  context->init(1, argv);
  auto node = std::make_shared<rclcpp::Node>(
    "busy", "/rosout_test", rclcpp::NodeOptions().context(context));
  auto publisher = node->create_publisher<std_msgs::msg::Bool>("/rosout_test/tick", 10);
  std::atomic<int> callbacks{0};
  auto subscription = node->create_subscription<std_msgs::msg::Bool>(
    "/rosout_test/tick", 10, [&node, &callbacks](const std_msgs::msg::Bool &) {
      RCLCPP_INFO(node->get_logger(), "from a callback");
      ++callbacks;
    });
  rclcpp::ExecutorOptions options;
  options.context = context;
  rclcpp::executors::MultiThreadedExecutor executor(options, 2);
  executor.add_node(node);
  std::thread spinner([&executor]() {executor.spin();});

  auto work = std::async(std::launch::async, [&]() {
      std::vector<std::thread> loggers;
      for (int t = 0; t < 4; ++t) {
        loggers.emplace_back([&node, t]() {
          for (int i = 0; i < 300; ++i) {
            RCLCPP_INFO(node->get_logger(), "thread %d line %d", t, i);
          }
        });
      }
      // Nodes of the same logger name come and go while others log.
      for (int i = 0; i < 20; ++i) {
        auto churn = std::make_shared<rclcpp::Node>(
          "busy", "/rosout_test", rclcpp::NodeOptions().context(context));
        RCLCPP_INFO(churn->get_logger(), "churn %d", i);
        publisher->publish(std_msgs::msg::Bool());
      }
      for (auto & t : loggers) {
        t.join();
      }
      RCLCPP_INFO(node->get_logger(), "all logged");
    });
  ASSERT_EQ(work.wait_for(std::chrono::seconds(60)), std::future_status::ready);
  EXPECT_EQ(viewer.wait_for("all logged").name, "rosout_test.busy");
  EXPECT_TRUE(test_support::wait_until([&callbacks]() {return callbacks.load() > 0;}));

  executor.cancel();
  spinner.join();
  context->shutdown("test done");
  auto after = std::async(std::launch::async, [&node]() {
      RCLCPP_INFO(node->get_logger(), "after shutdown");
      node.reset();
      RCLCPP_INFO(rclcpp::get_logger("rosout_test.busy"), "after the node");
    });
  EXPECT_EQ(after.wait_for(std::chrono::seconds(30)), std::future_status::ready);
}

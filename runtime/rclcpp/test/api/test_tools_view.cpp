// What `ros2 param`, `ros2 topic echo /rosout` and `/parameter_events` listeners see of a
// program built on this runtime: the peer program is queried over DDS by a client built on it,
// as a tool in another process would query an rclcpp node.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "rcl_interfaces/msg/log.hpp"
#include "rcl_interfaces/msg/parameter_event.hpp"
#include "rcl_interfaces/srv/describe_parameters.hpp"
#include "rcl_interfaces/srv/get_parameter_types.hpp"
#include "rcl_interfaces/srv/get_parameters.hpp"
#include "rcl_interfaces/srv/list_parameters.hpp"
#include "rcl_interfaces/srv/set_parameters.hpp"
#include "rcl_interfaces/srv/set_parameters_atomically.hpp"
#include "rclcpp/rclcpp.hpp"
#include "test_support.hpp"

namespace srv = rcl_interfaces::srv;
using rcl_interfaces::msg::Log;
using rcl_interfaces::msg::ParameterEvent;
using test_support::Peer;

namespace
{
constexpr int kDomain = 138;

class ToolsView : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    test_support::use_domain(kDomain);
    const char * argv[] = {"test_tools_view"};
    rclcpp::init(1, argv);
  }
  static void TearDownTestSuite() {rclcpp::shutdown();}

  // Each test's program has a name of its own, so that a tool never mistakes the endpoints of
  // the previous test's program (gone, but maybe not yet forgotten by discovery) for its own.
  void SetUp() override
  {
    static int count = 0;
    name_ = "tools_view_" + std::to_string(++count);
    peer_ = std::make_unique<Peer>(
      std::vector<std::string>{"params", "--ros-args", "-r", "__node:=" + name_});
    ASSERT_TRUE(peer_->wait_for_output("ready", std::chrono::seconds(15))) << peer_->output();
    tool_ = std::make_shared<rclcpp::Node>("tool", rclcpp::NodeOptions().enable_rosout(false));
    executor_.add_node(tool_);
    spinner_ = std::thread([this]() {executor_.spin();});
  }
  void TearDown() override
  {
    executor_.cancel();
    spinner_.join();
    if (!peer_->exited()) {
      peer_->signal(SIGINT);
      peer_->wait_exit(std::chrono::seconds(10));
    }
  }

  template<typename ServiceT>
  typename ServiceT::Response::SharedPtr call(
    const std::string & service, typename ServiceT::Request::SharedPtr request)
  {
    auto client = tool_->create_client<ServiceT>("/" + name_ + "/" + service);
    if (!client->wait_for_service(std::chrono::seconds(10))) {
      ADD_FAILURE() << service << " is not served; the program said:\n" << peer_->output();
      return nullptr;
    }
    auto future = client->async_send_request(request);
    if (future.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << service << " did not answer; the program said:\n" << peer_->output();
      return nullptr;
    }
    return future.get();
  }

  static rcl_interfaces::msg::Parameter parameter(
    const std::string & name, const rclcpp::ParameterValue & value)
  {
    return rclcpp::Parameter(name, value).to_parameter_msg();
  }

  std::string name_;
  std::unique_ptr<Peer> peer_;
  rclcpp::Node::SharedPtr tool_;
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::thread spinner_;
};
}  // namespace

TEST_F(ToolsView, param_list_get_describe_and_types_answer_over_dds)
{
  auto listed = call<srv::ListParameters>(
    "list_parameters", std::make_shared<srv::ListParameters::Request>());
  ASSERT_TRUE(listed);
  EXPECT_EQ(
    listed->result.names,
    (std::vector<std::string>{"count", "frame", "gain", "nested.deep.flag", "use_sim_time"}));
  EXPECT_EQ(listed->result.prefixes, std::vector<std::string>{"nested.deep"});

  auto get = std::make_shared<srv::GetParameters::Request>();
  get->names = {"count", "frame"};
  auto values = call<srv::GetParameters>("get_parameters", get);
  ASSERT_TRUE(values);
  ASSERT_EQ(values->values.size(), 2u);
  EXPECT_EQ(values->values[0].type, rclcpp::PARAMETER_INTEGER);
  EXPECT_EQ(values->values[0].integer_value, 3);
  EXPECT_EQ(values->values[1].string_value, "base_link");
  get->names = {"ghost"};
  values = call<srv::GetParameters>("get_parameters", get);
  ASSERT_TRUE(values);
  EXPECT_TRUE(values->values.empty());

  auto describe = std::make_shared<srv::DescribeParameters::Request>();
  describe->names = {"frame", "gain"};
  auto descriptors = call<srv::DescribeParameters>("describe_parameters", describe);
  ASSERT_TRUE(descriptors);
  ASSERT_EQ(descriptors->descriptors.size(), 2u);
  EXPECT_TRUE(descriptors->descriptors[0].read_only);
  EXPECT_EQ(descriptors->descriptors[1].description, "controller gain");
  ASSERT_EQ(descriptors->descriptors[1].floating_point_range.size(), 1u);
  EXPECT_DOUBLE_EQ(descriptors->descriptors[1].floating_point_range[0].to_value, 1.0);

  auto types = std::make_shared<srv::GetParameterTypes::Request>();
  types->names = {"nested.deep.flag", "use_sim_time"};
  auto type_values = call<srv::GetParameterTypes>("get_parameter_types", types);
  ASSERT_TRUE(type_values);
  EXPECT_EQ(
    type_values->types,
    (std::vector<uint8_t>{rclcpp::PARAMETER_BOOL, rclcpp::PARAMETER_BOOL}));
}

TEST_F(ToolsView, sets_are_refused_with_reasons_and_accepted_ones_reach_parameter_events)
{
  std::mutex mutex;
  std::vector<ParameterEvent> events;
  auto subscription = tool_->create_subscription<ParameterEvent>(
    "/parameter_events", rclcpp::ParameterEventsQoS(),
    [&mutex, &events](const ParameterEvent & event) {
      std::lock_guard<std::mutex> lock(mutex);
      events.push_back(event);
    });
  ASSERT_TRUE(test_support::wait_until([&subscription]() {
      return subscription->get_publisher_count() > 0;
    }, std::chrono::seconds(10)));

  auto set = std::make_shared<srv::SetParameters::Request>();
  set->parameters = {
    parameter("count", rclcpp::ParameterValue(7)),
    parameter("count", rclcpp::ParameterValue("seven")),
    parameter("frame", rclcpp::ParameterValue("odom")),
    parameter("ghost", rclcpp::ParameterValue(1))};
  auto results = call<srv::SetParameters>("set_parameters", set);
  ASSERT_TRUE(results);
  ASSERT_EQ(results->results.size(), 4u);
  EXPECT_TRUE(results->results[0].successful) << results->results[0].reason;
  EXPECT_EQ(
    results->results[1].reason,
    "Wrong parameter type, parameter {count} is of type {integer}, setting it to {string} is "
    "not allowed.");
  EXPECT_EQ(results->results[2].reason, "parameter 'frame' cannot be set because it is read-only");
  EXPECT_EQ(
    results->results[3].reason, "parameter 'ghost' cannot be set because it was not declared");

  auto atomic = std::make_shared<srv::SetParametersAtomically::Request>();
  atomic->parameters = {
    parameter("count", rclcpp::ParameterValue(9)), parameter("gain", rclcpp::ParameterValue(2.0))};
  auto refused = call<srv::SetParametersAtomically>("set_parameters_atomically", atomic);
  ASSERT_TRUE(refused);
  EXPECT_FALSE(refused->result.successful);
  EXPECT_EQ(refused->result.reason, "Parameter {gain} doesn't comply with floating point range.");

  auto get = std::make_shared<srv::GetParameters::Request>();
  get->names = {"count"};
  auto values = call<srv::GetParameters>("get_parameters", get);
  ASSERT_TRUE(values);
  ASSERT_EQ(values->values.size(), 1u);
  EXPECT_EQ(values->values[0].integer_value, 7);

  ASSERT_TRUE(test_support::wait_until([&]() {
      std::lock_guard<std::mutex> lock(mutex);
      return !events.empty();
    }, std::chrono::seconds(10)));
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].node, "/" + name_);
  ASSERT_EQ(events[0].changed_parameters.size(), 1u);
  EXPECT_EQ(events[0].changed_parameters[0].name, "count");
  EXPECT_EQ(events[0].changed_parameters[0].value.integer_value, 7);
}

TEST_F(ToolsView, rosout_keeps_the_start_lines_for_a_late_viewer_and_nothing_below_the_level)
{
  std::mutex mutex;
  std::vector<Log> records;
  auto subscription = tool_->create_subscription<Log>(
    "/rosout", rclcpp::RosoutQoS(), [&mutex, &records](const Log & record) {
      std::lock_guard<std::mutex> lock(mutex);
      records.push_back(record);
    });
  // The start line was logged before this subscription existed: transient local brings it.
  Log start;
  ASSERT_TRUE(test_support::wait_until([&]() {
      std::lock_guard<std::mutex> lock(mutex);
      for (const auto & record : records) {
        if (record.msg == "parameters declared: count 3") {
          start = record;
          return true;
        }
      }
      return false;
    }, std::chrono::seconds(10))) << peer_->output();
  EXPECT_EQ(start.level, Log::INFO);
  EXPECT_EQ(start.name, name_);
  EXPECT_NE(start.file.find("api_peer.cpp"), std::string::npos) << start.file;
  EXPECT_EQ(start.function, "main");
  EXPECT_GT(start.line, 0u);
  std::lock_guard<std::mutex> lock(mutex);
  for (const auto & record : records) {
    EXPECT_NE(record.msg, "a line below the level");
  }
  // The console got the same line.
  EXPECT_NE(peer_->output().find("parameters declared: count 3"), std::string::npos);
}

TEST_F(ToolsView, the_program_still_ends_cleanly_on_sigint)
{
  peer_->signal(SIGINT);
  EXPECT_EQ(peer_->wait_exit(std::chrono::seconds(10)), 0) << peer_->output();
}

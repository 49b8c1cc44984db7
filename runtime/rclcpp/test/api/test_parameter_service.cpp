// The parameter services' answers and the node's parameter API: what a tool gets for unknown
// names, refused and hostile sets, the events a change publishes, use_sim_time, and the
// NodeOptions that switch the services, the event publisher and /rosout off.
#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "node_parameters.hpp"
#include "parameter_service.hpp"
#include "rcl_interfaces/msg/log.hpp"
#include "rcl_interfaces/msg/parameter_event.hpp"
#include "rclcpp/rclcpp.hpp"
#include "test_support.hpp"

namespace srv = rcl_interfaces::srv;
using rcl_interfaces::msg::ParameterEvent;
using rclcpp::ParameterValue;
using rclcpp::detail::NodeParameters;

namespace
{
constexpr int kDomain = 135;

rcl_interfaces::msg::Parameter parameter_msg(const std::string & name, const ParameterValue & value)
{
  return rclcpp::Parameter(name, value).to_parameter_msg();
}

/// Parameters of a node "/ns/unit": `count` (integer 3), `frame` (read-only string), and
/// `level` from an override, declared automatically; events are collected.
class Answers : public ::testing::Test
{
protected:
  Answers()
  : parameters_(
      "/ns/unit", std::make_shared<rclcpp::Clock>(RCL_SYSTEM_TIME),
      {{"level", ParameterValue(2)}}, false, true,
      [this](const ParameterEvent & event) {events_.push_back(event);})
  {
    parameters_.declare("count", rclcpp::PARAMETER_NOT_SET, ParameterValue(3),
      rcl_interfaces::msg::ParameterDescriptor(), false);
    rcl_interfaces::msg::ParameterDescriptor fixed;
    fixed.read_only = true;
    fixed.description = "the robot's base frame";
    parameters_.declare(
      "frame", rclcpp::PARAMETER_NOT_SET, ParameterValue("base_link"), fixed, false);
    events_.clear();
  }

  std::vector<ParameterEvent> events_;
  NodeParameters parameters_;
};
}  // namespace

TEST_F(Answers, reads_of_unknown_names_answer_empty_as_rclcpp_does)
{
  srv::GetParameters::Request get;
  get.names = {"count", "frame"};
  srv::GetParameters::Response values;
  rclcpp::detail::answer(parameters_, get, values);
  ASSERT_EQ(values.values.size(), 2u);
  EXPECT_EQ(values.values[0].integer_value, 3);
  EXPECT_EQ(values.values[1].string_value, "base_link");

  // One unknown name empties the whole answer; `ros2 param get` then says it is not set.
  get.names = {"count", "ghost"};
  values = srv::GetParameters::Response();
  rclcpp::detail::answer(parameters_, get, values);
  EXPECT_TRUE(values.values.empty());

  srv::GetParameterTypes::Request types;
  types.names = {"level", "frame"};
  srv::GetParameterTypes::Response type_values;
  rclcpp::detail::answer(parameters_, types, type_values);
  EXPECT_EQ(
    type_values.types,
    (std::vector<uint8_t>{rclcpp::PARAMETER_INTEGER, rclcpp::PARAMETER_STRING}));
  types.names = {"ghost"};
  type_values = srv::GetParameterTypes::Response();
  rclcpp::detail::answer(parameters_, types, type_values);
  EXPECT_TRUE(type_values.types.empty());

  srv::DescribeParameters::Request describe;
  describe.names = {"frame", "level"};
  srv::DescribeParameters::Response descriptors;
  rclcpp::detail::answer(parameters_, describe, descriptors);
  ASSERT_EQ(descriptors.descriptors.size(), 2u);
  EXPECT_EQ(descriptors.descriptors[0].name, "frame");
  EXPECT_TRUE(descriptors.descriptors[0].read_only);
  EXPECT_EQ(descriptors.descriptors[0].description, "the robot's base frame");
  EXPECT_EQ(descriptors.descriptors[0].type, rclcpp::PARAMETER_STRING);
  EXPECT_TRUE(descriptors.descriptors[1].dynamic_typing);  // declared from an override

  srv::ListParameters::Request list;
  srv::ListParameters::Response names;
  rclcpp::detail::answer(parameters_, list, names);
  EXPECT_EQ(
    names.result.names,
    (std::vector<std::string>{"count", "frame", "level", "use_sim_time"}));
}

TEST_F(Answers, each_set_gets_its_own_result_and_hostile_values_are_refused)
{
  srv::SetParameters::Request request;
  request.parameters.push_back(parameter_msg("count", ParameterValue(7)));
  request.parameters.push_back(parameter_msg("count", ParameterValue("seven")));
  request.parameters.push_back(parameter_msg("frame", ParameterValue("odom")));
  request.parameters.push_back(parameter_msg("ghost", ParameterValue(1)));
  request.parameters.push_back(parameter_msg("", ParameterValue(1)));
  rcl_interfaces::msg::Parameter unknown_type;
  unknown_type.name = "count";
  unknown_type.value.type = 42;
  request.parameters.push_back(unknown_type);
  request.parameters.push_back(parameter_msg("level", ParameterValue("high")));

  srv::SetParameters::Response response;
  rclcpp::detail::answer(parameters_, request, response);
  ASSERT_EQ(response.results.size(), 7u);
  EXPECT_TRUE(response.results[0].successful);
  EXPECT_FALSE(response.results[1].successful);
  EXPECT_EQ(
    response.results[1].reason,
    "Wrong parameter type, parameter {count} is of type {integer}, setting it to {string} is "
    "not allowed.");
  EXPECT_EQ(response.results[2].reason, "parameter 'frame' cannot be set because it is read-only");
  EXPECT_FALSE(response.results[3].successful);
  EXPECT_EQ(
    response.results[3].reason, "parameter 'ghost' cannot be set because it was not declared");
  EXPECT_FALSE(response.results[4].successful);
  EXPECT_EQ(response.results[4].reason, "parameter name must not be empty");
  EXPECT_FALSE(response.results[5].successful);
  EXPECT_EQ(response.results[5].reason, "Unknown type: 42");
  EXPECT_TRUE(response.results[6].successful);  // dynamically typed

  EXPECT_EQ(parameters_.get_parameter("count").as_int(), 7);
  EXPECT_EQ(parameters_.get_parameter("level").as_string(), "high");
  // One event per accepted set, naming the node.
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[0].node, "/ns/unit");
  ASSERT_EQ(events_[0].changed_parameters.size(), 1u);
  EXPECT_EQ(events_[0].changed_parameters[0].name, "count");
  EXPECT_EQ(events_[0].changed_parameters[0].value.integer_value, 7);
  EXPECT_GT(events_[0].stamp.sec, 0);
  EXPECT_EQ(events_[1].changed_parameters[0].value.string_value, "high");
}

TEST_F(Answers, an_atomic_set_is_refused_whole_with_rclcpps_reason)
{
  srv::SetParametersAtomically::Request request;
  request.parameters.push_back(parameter_msg("count", ParameterValue(9)));
  request.parameters.push_back(parameter_msg("ghost", ParameterValue(1)));
  srv::SetParametersAtomically::Response response;
  rclcpp::detail::answer(parameters_, request, response);
  EXPECT_FALSE(response.result.successful);
  EXPECT_EQ(response.result.reason, "One or more parameters were not declared before setting");

  request.parameters[1] = parameter_msg("frame", ParameterValue("odom"));
  rclcpp::detail::answer(parameters_, request, response);
  EXPECT_FALSE(response.result.successful);
  EXPECT_EQ(response.result.reason, "parameter 'frame' cannot be set because it is read-only");
  EXPECT_EQ(parameters_.get_parameter("count").as_int(), 3);
  EXPECT_TRUE(events_.empty());

  request.parameters[1] = parameter_msg("level", ParameterValue(5));
  rclcpp::detail::answer(parameters_, request, response);
  EXPECT_TRUE(response.result.successful) << response.result.reason;
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].changed_parameters.size(), 2u);
}

TEST(NodeParametersSetUp, overrides_declared_automatically_publish_and_use_sim_time_is_false)
{
  std::vector<ParameterEvent> events;
  NodeParameters parameters(
    "/auto", std::make_shared<rclcpp::Clock>(RCL_SYSTEM_TIME),
    {{"a", ParameterValue(1)}, {"b", ParameterValue("x")}}, false, true,
    [&events](const ParameterEvent & event) {events.push_back(event);});
  // One event per declaration, as rclcpp publishes them.
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].new_parameters.at(0).name, "a");
  EXPECT_EQ(events[1].new_parameters.at(0).name, "b");
  EXPECT_EQ(events[2].new_parameters.at(0).name, "use_sim_time");
  EXPECT_FALSE(parameters.get_parameter("use_sim_time").as_bool());

  // This runtime cannot follow /clock: saying it does would be a lie.
  const auto result = parameters.set_atomically({rclcpp::Parameter("use_sim_time", true)});
  EXPECT_FALSE(result.successful);
  EXPECT_NE(result.reason.find("use_sim_time true is not supported"), std::string::npos);
  EXPECT_TRUE(parameters.set_atomically({rclcpp::Parameter("use_sim_time", false)}).successful);
  EXPECT_THROW(
    NodeParameters(
      "/sim", std::make_shared<rclcpp::Clock>(RCL_SYSTEM_TIME),
      {{"use_sim_time", ParameterValue(true)}}, false, false, nullptr),
    rclcpp::exceptions::InvalidParameterValueException);
}

namespace
{
class NodeSwitches : public ::testing::Test
{
protected:
  static void SetUpTestSuite()
  {
    test_support::use_domain(kDomain);
    const char * argv[] = {"test_parameter_service"};
    rclcpp::init(1, argv);
  }
  static void TearDownTestSuite() {rclcpp::shutdown();}
};

template<typename ServiceT>
typename ServiceT::Response::SharedPtr call(
  const typename rclcpp::Client<ServiceT>::SharedPtr & client,
  typename ServiceT::Request::SharedPtr request)
{
  auto future = client->async_send_request(request);
  if (future.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    return nullptr;
  }
  return future.get();
}
}  // namespace

TEST_F(NodeSwitches, a_node_serves_its_parameters_unless_told_not_to)
{
  auto served = std::make_shared<rclcpp::Node>("served", "/switches");
  served->declare_parameter("speed", 0.5);
  auto quiet = std::make_shared<rclcpp::Node>(
    "quiet", "/switches", rclcpp::NodeOptions()
    .start_parameter_services(false).start_parameter_event_publisher(false).enable_rosout(false));
  quiet->declare_parameter("speed", 0.5);
  rclcpp::executors::MultiThreadedExecutor executor(rclcpp::ExecutorOptions(), 2);
  executor.add_node(served);
  executor.add_node(quiet);
  std::thread spinner([&executor]() {executor.spin();});
  struct Stop
  {
    rclcpp::Executor & e;
    std::thread & t;
    ~Stop()
    {
      e.cancel();
      t.join();
    }
  } stop{executor, spinner};

  // The tool's side lives in a context of its own, as a separate program would.
  auto tool_context = std::make_shared<rclcpp::Context>();
  const char * argv[] = {"tool"};
  tool_context->init(1, argv);
  auto tool = std::make_shared<rclcpp::Node>(
    "tool", rclcpp::NodeOptions().context(tool_context));
  rclcpp::ExecutorOptions tool_options;
  tool_options.context = tool_context;
  rclcpp::executors::SingleThreadedExecutor tool_executor(tool_options);
  tool_executor.add_node(tool);
  std::thread tool_spinner([&tool_executor]() {tool_executor.spin();});
  Stop stop_tool{tool_executor, tool_spinner};

  std::mutex mutex;
  std::vector<ParameterEvent> events;
  auto subscription = tool->create_subscription<ParameterEvent>(
    "/parameter_events", rclcpp::ParameterEventsQoS(),
    [&mutex, &events](const ParameterEvent & event) {
      std::lock_guard<std::mutex> lock(mutex);
      events.push_back(event);
    });
  auto list = tool->create_client<srv::ListParameters>("/switches/served/list_parameters");
  auto quiet_list = tool->create_client<srv::ListParameters>("/switches/quiet/list_parameters");
  ASSERT_TRUE(list->wait_for_service(std::chrono::seconds(10)));
  auto listed = call<srv::ListParameters>(list, std::make_shared<srv::ListParameters::Request>());
  ASSERT_TRUE(listed);
  EXPECT_EQ(listed->result.names, (std::vector<std::string>{"speed", "use_sim_time"}));
  // Both nodes share one participant, so the tool has seen all of its endpoints by now.
  EXPECT_FALSE(quiet_list->service_is_ready());

  ASSERT_TRUE(test_support::wait_until([&subscription]() {
      return subscription->get_publisher_count() > 0;
    }, std::chrono::seconds(10)));
  EXPECT_TRUE(quiet->set_parameter(rclcpp::Parameter("speed", 0.75)).successful);
  EXPECT_TRUE(served->set_parameter(rclcpp::Parameter("speed", 0.25)).successful);
  ASSERT_TRUE(test_support::wait_until([&]() {
      std::lock_guard<std::mutex> lock(mutex);
      return !events.empty();
    }, std::chrono::seconds(10)));
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].node, "/switches/served");
  ASSERT_EQ(events[0].changed_parameters.size(), 1u);
  EXPECT_DOUBLE_EQ(events[0].changed_parameters[0].value.double_value, 0.25);
  tool_context->shutdown("test done");
}

TEST_F(NodeSwitches, the_node_api_reports_refusals_and_describes_parameters)
{
  auto node = std::make_shared<rclcpp::Node>("api", "/switches");
  rcl_interfaces::msg::ParameterDescriptor fixed;
  fixed.read_only = true;
  EXPECT_EQ(node->declare_parameter("frame", std::string("map"), fixed), "map");
  EXPECT_EQ(node->declare_parameter<int64_t>("count", 2), 2);
  EXPECT_EQ(
    node->declare_parameter("typed", rclcpp::PARAMETER_STRING).get_type(),
    rclcpp::PARAMETER_NOT_SET);
  EXPECT_THROW(node->get_parameter("typed"), rclcpp::exceptions::ParameterUninitializedException);
  // Refused for want of a value, yet declared with its type, as in rclcpp.
  EXPECT_THROW(
    node->declare_parameter<double>("from_overrides"),
    rclcpp::exceptions::UninitializedStaticallyTypedParameterException);
  EXPECT_EQ(node->describe_parameter("from_overrides").type, rclcpp::PARAMETER_DOUBLE);

  const auto results = node->set_parameters(
    {rclcpp::Parameter("frame", "odom"), rclcpp::Parameter("count", 4)});
  ASSERT_EQ(results.size(), 2u);
  EXPECT_FALSE(results[0].successful);
  EXPECT_TRUE(results[1].successful);
  EXPECT_THROW(
    node->set_parameter(rclcpp::Parameter("ghost", 1)),
    rclcpp::exceptions::ParameterNotDeclaredException);
  EXPECT_FALSE(
    node->set_parameters_atomically(
      {rclcpp::Parameter("count", 5), rclcpp::Parameter("frame", "odom")}).successful);
  EXPECT_EQ(node->get_parameter("count").as_int(), 4);

  EXPECT_TRUE(node->describe_parameter("frame").read_only);
  EXPECT_THROW(node->describe_parameter("ghost"), rclcpp::exceptions::ParameterNotDeclaredException);
  EXPECT_EQ(
    node->get_parameter_types({"count", "frame"}),
    (std::vector<uint8_t>{rclcpp::PARAMETER_INTEGER, rclcpp::PARAMETER_STRING}));
  EXPECT_EQ(
    node->list_parameters({}, srv::ListParameters::Request::DEPTH_RECURSIVE).names,
    (std::vector<std::string>{"count", "frame", "from_overrides", "typed", "use_sim_time"}));
  EXPECT_THROW(node->undeclare_parameter("frame"), rclcpp::exceptions::ParameterImmutableException);
}

TEST_F(NodeSwitches, default_options_match_rclcpps)
{
  const rclcpp::NodeOptions options;
  EXPECT_TRUE(options.enable_rosout());
  EXPECT_TRUE(options.start_parameter_services());
  EXPECT_TRUE(options.start_parameter_event_publisher());
  const auto & rosout = options.rosout_qos().get_rmw_qos_profile();
  EXPECT_EQ(rosout.depth, 1000u);
  EXPECT_EQ(rosout.reliability, RMW_QOS_POLICY_RELIABILITY_RELIABLE);
  EXPECT_EQ(rosout.durability, RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL);
  EXPECT_EQ(rosout.lifespan.sec, 10u);
  EXPECT_EQ(options.parameter_event_qos(), rclcpp::ParameterEventsQoS());
  EXPECT_EQ(options.parameter_event_qos().depth(), 1000u);
}

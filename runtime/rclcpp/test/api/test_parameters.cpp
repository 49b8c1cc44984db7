// Parameters and remapping as a node sees them: -p, parameter files, NodeOptions overrides,
// type mismatches, remapped names.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "rclcpp/rclcpp.hpp"
#include "std_msgs/msg/bool.hpp"
#include "test_support.hpp"

namespace
{
constexpr int kDomain = 132;

rclcpp::Context::SharedPtr make_context(std::vector<std::string> args)
{
  test_support::use_domain(kDomain);
  args.insert(args.begin(), "test_parameters");
  std::vector<const char *> argv;
  for (const auto & a : args) {
    argv.push_back(a.c_str());
  }
  auto context = std::make_shared<rclcpp::Context>();
  context->init(static_cast<int>(argv.size()), argv.data());
  return context;
}

std::string write_file(const std::string & name, const std::string & content)
{
  const std::string path = ::testing::TempDir() + name;
  std::ofstream(path) << content;
  return path;
}
}  // namespace

TEST(Parameters, values_from_the_command_line_and_files_are_typed_and_ordered)
{
  const std::string file = write_file(
    "params_a.yaml",
    "/**:\n  ros__parameters:\n    from_file: 5.0\n    shared: 1\n"
    "param_node:\n  ros__parameters:\n    shared: 2\n    nested:\n      depth: 3\n");
  auto context = make_context(
    {"--ros-args", "--params-file", file, "-p", "count:=5", "-p", "ratio:=5.0",
      "-p", "name:=arm", "-p", "quoted:='7'", "-p", "list:=[1, 2, 3]"});
  auto node = std::make_shared<rclcpp::Node>(
    "param_node", rclcpp::NodeOptions().context(context)
    .automatically_declare_parameters_from_overrides(true)
    .append_parameter_override("from_options", true));

  int64_t count = 0;
  double ratio = 0.0;
  std::string name;
  ASSERT_TRUE(node->get_parameter("count", count));
  EXPECT_EQ(count, 5);
  ASSERT_TRUE(node->get_parameter("ratio", ratio));
  EXPECT_DOUBLE_EQ(ratio, 5.0);
  ASSERT_TRUE(node->get_parameter("name", name));
  EXPECT_EQ(name, "arm");
  EXPECT_EQ(node->get_parameter("quoted").get_type(), rclcpp::ParameterType::PARAMETER_STRING);
  EXPECT_EQ(node->get_parameter("list").as_integer_array(), (std::vector<int64_t>{1, 2, 3}));
  EXPECT_DOUBLE_EQ(node->get_parameter("from_file").as_double(), 5.0);
  EXPECT_EQ(node->get_parameter("shared").as_int(), 2);  // the node's own key wins over /**
  EXPECT_EQ(node->get_parameter("nested.depth").as_int(), 3);
  EXPECT_TRUE(node->get_parameter("from_options").as_bool());

  // Absent: the default stays.
  int32_t absent = 77;
  EXPECT_FALSE(node->get_parameter("absent", absent));
  EXPECT_EQ(absent, 77);
  EXPECT_FALSE(node->has_parameter("absent"));
  context->shutdown("test done");
}

TEST(Parameters, a_type_mismatch_throws_and_integers_narrow)
{
  auto context = make_context(
    {"--ros-args", "-p", "timeout:=5", "-p", "big:=4294967297", "-p", "gain:=0.5"});
  auto node = std::make_shared<rclcpp::Node>(
    "mismatch_node", rclcpp::NodeOptions().context(context)
    .automatically_declare_parameters_from_overrides(true));
  double timeout = 1.0;
  EXPECT_THROW(node->get_parameter("timeout", timeout), rclcpp::exceptions::InvalidParameterTypeException);
  try {
    node->get_parameter("timeout", timeout);
  } catch (const rclcpp::exceptions::InvalidParameterTypeException & e) {
    EXPECT_NE(std::string(e.what()).find("timeout"), std::string::npos) << e.what();
  }
  int32_t big = 0;
  ASSERT_TRUE(node->get_parameter("big", big));
  EXPECT_EQ(big, 1);  // low 32 bits
  float gain = 0.0f;
  ASSERT_TRUE(node->get_parameter("gain", gain));
  EXPECT_FLOAT_EQ(gain, 0.5f);
  EXPECT_THROW(node->declare_parameter("gain", 1), rclcpp::exceptions::ParameterAlreadyDeclaredException);
  context->shutdown("test done");
}

TEST(Parameters, undeclared_overrides_stay_invisible_without_auto_declare)
{
  auto context = make_context({"--ros-args", "-p", "x:=1"});
  auto node = std::make_shared<rclcpp::Node>("plain_node", rclcpp::NodeOptions().context(context));
  EXPECT_FALSE(node->has_parameter("x"));
  EXPECT_EQ(node->declare_parameter<int64_t>("x", 9), 1);
  EXPECT_THROW(node->declare_parameter("x", 2.0), rclcpp::exceptions::ParameterAlreadyDeclaredException);
  context->shutdown("test done");
}

TEST(Remapping, topic_and_node_rules_apply_to_the_node)
{
  auto context = make_context(
    {"--ros-args", "-r", "/robot/unnormal_flag:=/moved/flag", "-r", "__node:=renamed",
      "-r", "__ns:=/ns1"});
  auto node = std::make_shared<rclcpp::Node>("original", rclcpp::NodeOptions().context(context));
  EXPECT_STREQ(node->get_name(), "renamed");
  EXPECT_STREQ(node->get_namespace(), "/ns1");
  EXPECT_STREQ(node->get_fully_qualified_name(), "/ns1/renamed");
  auto moved = node->create_subscription<std_msgs::msg::Bool>(
    "/robot/unnormal_flag", 1, [](const std_msgs::msg::Bool &) {});
  auto kept = node->create_subscription<std_msgs::msg::Bool>(
    "/quorvel_topic/env_enable", 1, [](const std_msgs::msg::Bool &) {});
  auto relative = node->create_publisher<std_msgs::msg::Bool>("rel", 1);
  auto private_name = node->create_publisher<std_msgs::msg::Bool>("~/priv", 1);
  EXPECT_STREQ(moved->get_topic_name(), "/moved/flag");
  EXPECT_STREQ(kept->get_topic_name(), "/quorvel_topic/env_enable");
  EXPECT_STREQ(relative->get_topic_name(), "/ns1/rel");
  EXPECT_STREQ(private_name->get_topic_name(), "/ns1/renamed/priv");
  EXPECT_THROW(
    node->create_publisher<std_msgs::msg::Bool>("bad name!", 1),
    rclcpp::exceptions::InvalidTopicNameError);
  EXPECT_THROW(
    std::make_shared<rclcpp::Node>("bad-node", rclcpp::NodeOptions().context(context)),
    rclcpp::exceptions::InvalidNodeNameError);
  context->shutdown("test done");
}

TEST(Arguments, unknown_and_malformed_ros_arguments_are_refused)
{
  auto context = std::make_shared<rclcpp::Context>();
  const char * unknown[] = {"prog", "--ros-args", "--no-such-flag"};
  EXPECT_THROW(context->init(3, unknown), rclcpp::exceptions::UnknownROSArgsError);
  const char * malformed[] = {"prog", "--ros-args", "-p", "novalue"};
  EXPECT_ANY_THROW(context->init(4, malformed));
  const char * missing_file[] = {"prog", "--ros-args", "--params-file", "/nonexistent/x.yaml"};
  try {
    context->init(4, missing_file);
    FAIL() << "a missing parameter file must be refused";
  } catch (const std::exception & e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/x.yaml"), std::string::npos) << e.what();
  }
}

// ParameterValue / Parameter typing, text forms and the exception texts callers match on.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "rclcpp/exceptions.hpp"
#include "rclcpp/parameter.hpp"
#include "rclcpp/parameter_value.hpp"

using rclcpp::Parameter;
using rclcpp::ParameterType;
using rclcpp::ParameterValue;

TEST(ParameterValueTyping, ConstructorsPickTheRosType)
{
  EXPECT_EQ(ParameterValue().get_type(), ParameterType::PARAMETER_NOT_SET);
  EXPECT_EQ(ParameterValue(true).get_type(), ParameterType::PARAMETER_BOOL);
  EXPECT_EQ(ParameterValue(5).get_type(), ParameterType::PARAMETER_INTEGER);
  EXPECT_EQ(ParameterValue(5.0f).get_type(), ParameterType::PARAMETER_DOUBLE);
  EXPECT_EQ(ParameterValue("s").get_type(), ParameterType::PARAMETER_STRING);
  EXPECT_EQ(ParameterValue(std::vector<uint8_t>{1}).get_type(), ParameterType::PARAMETER_BYTE_ARRAY);
  EXPECT_EQ(ParameterValue(std::vector<int>{1, 2}), ParameterValue(std::vector<int64_t>{1, 2}));
  EXPECT_EQ(ParameterValue(std::vector<float>{0.5f}), ParameterValue(std::vector<double>{0.5}));
  EXPECT_NE(ParameterValue(5), ParameterValue(5.0));
  EXPECT_NE(ParameterValue(true), ParameterValue(1));
}

TEST(ParameterValueTyping, GetByCppTypeReadsTheStoredType)
{
  const ParameterValue integer(int64_t{7});
  EXPECT_EQ(integer.get<int>(), 7);
  EXPECT_EQ(integer.get<uint8_t>(), 7);
  EXPECT_EQ(integer.get<ParameterType::PARAMETER_INTEGER>(), 7);
  EXPECT_EQ(&integer.get<ParameterValue>(), &integer);
  EXPECT_DOUBLE_EQ(ParameterValue(2.5).get<float>(), 2.5);
  EXPECT_EQ(ParameterValue("x").get<const char *>(), "x");
  EXPECT_EQ(ParameterValue(std::vector<int>{1}).get<std::vector<int>>(),
    std::vector<int64_t>{1});
  EXPECT_EQ(ParameterValue(std::vector<float>{1.f}).get<std::vector<float>>(),
    std::vector<double>{1.0});
}

TEST(ParameterValueTyping, MismatchThrowsParameterTypeException)
{
  try {
    ParameterValue(5).get<double>();
    FAIL() << "no exception";
  } catch (const rclcpp::ParameterTypeException & e) {
    EXPECT_STREQ(e.what(), "expected [double] got [integer]");
  }
  EXPECT_THROW(ParameterValue().get<bool>(), rclcpp::ParameterTypeException);
  EXPECT_THROW(ParameterValue(true).get<int64_t>(), rclcpp::ParameterTypeException);
  EXPECT_THROW(ParameterValue("5").get<int>(), rclcpp::ParameterTypeException);
  EXPECT_THROW(
    ParameterValue(std::vector<int64_t>{}).get<std::vector<double>>(),
    rclcpp::ParameterTypeException);
}

TEST(ParameterText, TypeNamesAndValueStrings)
{
  const std::vector<std::string> names{"not set", "bool", "integer", "double", "string",
    "byte_array", "bool_array", "integer_array", "double_array", "string_array"};
  for (size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(rclcpp::to_string(static_cast<ParameterType>(i)), names[i]);
  }
  EXPECT_EQ(rclcpp::to_string(ParameterValue()), "not set");
  EXPECT_EQ(rclcpp::to_string(ParameterValue(false)), "false");
  EXPECT_EQ(rclcpp::to_string(ParameterValue(-3)), "-3");
  EXPECT_EQ(rclcpp::to_string(ParameterValue(1.5)), "1.500000");
  EXPECT_EQ(rclcpp::to_string(ParameterValue(std::vector<uint8_t>{1, 255})), "[1, 255]");
  EXPECT_EQ(rclcpp::to_string(ParameterValue(std::vector<bool>{true, false})), "[true, false]");
  EXPECT_EQ(rclcpp::to_string(ParameterValue(std::vector<double>{0.5, 1e-05})), "[0.5, 1e-05]");
  EXPECT_EQ(rclcpp::to_string(ParameterValue(std::vector<std::string>{"a", "b"})), "[a, b]");

  std::ostringstream out;
  out << Parameter("rate", 10);
  EXPECT_EQ(out.str(), R"({"name": "rate", "type": "integer", "value": "10"})");
}

TEST(ParameterAccess, TypedAccessorsNameTheParameterOnMismatch)
{
  const Parameter p("detect_timeout_threshold", 5);
  EXPECT_EQ(p.get_name(), "detect_timeout_threshold");
  EXPECT_EQ(p.get_type_name(), "integer");
  EXPECT_EQ(p.as_int(), 5);
  EXPECT_EQ(p.get_value<int>(), 5);
  EXPECT_EQ(p.get_value<rclcpp::Parameter>(), p);
  try {
    p.as_double();
    FAIL() << "no exception";
  } catch (const rclcpp::exceptions::InvalidParameterTypeException & e) {
    EXPECT_STREQ(
      e.what(),
      "parameter 'detect_timeout_threshold' has invalid type: expected [double] got [integer]");
  }
  EXPECT_THROW(p.get_value<std::string>(), rclcpp::exceptions::InvalidParameterTypeException);
  EXPECT_THROW(
    p.get_value<ParameterType::PARAMETER_BOOL>(),
    rclcpp::exceptions::InvalidParameterTypeException);
  EXPECT_EQ(Parameter("s", std::vector<std::string>{"a"}).as_string_array().at(0), "a");
}

TEST(ExceptionText, FormsCallersMatchOn)
{
  const rclcpp::exceptions::InvalidParameterTypeException declared(
    "x", "Wrong parameter type, parameter {x} is of type {double}, setting it to {integer} is "
    "not allowed.");
  EXPECT_STREQ(declared.what(), "parameter 'x' has invalid type: Wrong parameter type, parameter "
    "{x} is of type {double}, setting it to {integer} is not allowed.");

  const rclcpp::exceptions::InvalidTopicNameError topic("a b", "must not contain ' '", 1);
  EXPECT_STREQ(topic.what(), "Invalid topic name: must not contain ' ':\n  'a b'\n    ^\n");
  EXPECT_EQ(topic.invalid_index, 1u);
  const std::invalid_argument & as_base = topic;
  EXPECT_NE(std::string(as_base.what()).find("a b"), std::string::npos);

  const rclcpp::exceptions::UnknownROSArgsError unknown({"--foo", "-x"});
  EXPECT_STREQ(unknown.what(), "found unknown ROS arguments: '--foo', '-x'");
  EXPECT_EQ(unknown.unknown_ros_args.size(), 2u);

  EXPECT_STREQ(
    rclcpp::exceptions::ParameterUninitializedException("p").what(),
    "parameter 'p' is not initialized");
  EXPECT_STREQ(rclcpp::exceptions::RCLError(RCL_RET_ERROR, "boom", "doing x").what(),
    "doing x: boom");
  EXPECT_THROW(
    rclcpp::exceptions::throw_from_rcl_error(RCL_RET_INVALID_ARGUMENT, "p", "m"),
    rclcpp::exceptions::RCLInvalidArgument);
}

// Command-line parsing: sections, flags, -p typing, remap rules, log levels and their errors.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "base/arguments.hpp"
#include "rcutils/logging.h"

using rclcpp::ParameterType;
using rclcpp::ParameterValue;
using rclcpp::base::InvalidRosArgsError;
using rclcpp::base::ParsedArguments;
using rclcpp::base::RemapRule;
using rclcpp::base::parse_arguments;

namespace
{

ParsedArguments parse(std::vector<std::string> args)
{
  args.insert(args.begin(), "prog");
  return parse_arguments(args);
}

// The value of `name` under node key "/**" from a single -p rule.
ParameterValue typed(const std::string & value_text)
{
  const auto parsed = parse({"--ros-args", "-p", "x:=" + value_text});
  EXPECT_EQ(parsed.parameter_overrides.size(), 1u);
  EXPECT_EQ(parsed.parameter_overrides.at(0).node_key, "/**");
  EXPECT_EQ(parsed.parameter_overrides.at(0).parameters.at(0).first, "x");
  return parsed.parameter_overrides.at(0).parameters.at(0).second;
}

std::string error_of(const std::vector<std::string> & args)
{
  try {
    parse(args);
  } catch (const InvalidRosArgsError & e) {
    return e.what();
  }
  ADD_FAILURE() << "no InvalidRosArgsError";
  return "";
}

}  // namespace

TEST(ArgumentSections, ProgramArgumentsStayOutsideSections)
{
  const auto parsed = parse(
    {"a", "--ros-args", "-r", "x:=y", "--", "b", "--ros-args", "--ros-args", "-p", "p:=1"});
  EXPECT_EQ(parsed.unparsed, (std::vector<std::string>{"prog", "a", "b"}));
  EXPECT_EQ(parsed.remap_rules.size(), 1u);
  EXPECT_EQ(parsed.parameter_overrides.size(), 1u);
  EXPECT_TRUE(parsed.unknown_ros_args.empty());
}

TEST(ArgumentSections, UnknownFlagsAreCollectedNotFatal)
{
  const auto parsed = parse({"--ros-args", "--bogus", "-x", "--", "--bogus2"});
  EXPECT_EQ(parsed.unknown_ros_args, (std::vector<std::string>{"--bogus", "-x"}));
  EXPECT_EQ(parsed.unparsed, (std::vector<std::string>{"prog", "--bogus2"}));
}

TEST(ArgumentSections, BareRemapOutsideSectionIsStillARule)
{
  const auto parsed = parse({"chatter:=talk", "not_a_rule", "1bad:=x"});
  ASSERT_EQ(parsed.remap_rules.size(), 1u);
  EXPECT_EQ(parsed.remap_rules[0].from, "chatter");
  EXPECT_EQ(parsed.remap_rules[0].to, "talk");
  // A malformed one is left to the program rather than failing.
  EXPECT_EQ(parsed.unparsed, (std::vector<std::string>{"prog", "not_a_rule", "1bad:=x"}));
}

TEST(ArgumentSections, ValuelessFlagsAndOptions)
{
  const auto parsed = parse(
    {"--ros-args", "--disable-stdout-logs", "--enable-rosout-logs", "--disable-external-lib-logs",
      "--log-config-file", "cfg.conf", "-e", "/secure", "--enclave", "/other"});
  EXPECT_EQ(parsed.stdout_logs, false);
  EXPECT_EQ(parsed.rosout_logs, true);
  EXPECT_EQ(parsed.external_lib_logs, false);
  EXPECT_EQ(parsed.log_config_file, "cfg.conf");
  EXPECT_EQ(parsed.enclave, "/other");
  EXPECT_TRUE(parsed.unknown_ros_args.empty());
}

TEST(ArgumentErrors, MessagesNameTheArgument)
{
  EXPECT_NE(error_of({"--ros-args", "-p"}).find("'-p'"), std::string::npos);
  EXPECT_NE(error_of({"--ros-args", "--remap"}).find("'--remap'"), std::string::npos);
  EXPECT_NE(error_of({"--ros-args", "-p", "x"}).find("'-p x'"), std::string::npos);
  EXPECT_NE(error_of({"--ros-args", "-p", "x:="}).find("'-p x:='"), std::string::npos);
  EXPECT_NE(error_of({"--ros-args", "-r", "a:=1b"}).find("'-r a:=1b'"), std::string::npos);
  EXPECT_NE(
    error_of({"--ros-args", "--log-level", "loud"}).find("'--log-level loud'"),
    std::string::npos);
  EXPECT_NE(error_of({"--ros-args", "-e", "relative"}).find("'-e relative'"), std::string::npos);
  EXPECT_NE(
    error_of({"--ros-args", "--params-file", "/nonexistent/p.yaml"}).find("/nonexistent/p.yaml"),
    std::string::npos);
}

TEST(ArgumentErrors, FlagTakesNextElementEvenIfItLooksLikeAFlag)
{
  // "--" is consumed as the -r value and is not a remap rule.
  EXPECT_THROW(parse({"--ros-args", "-r", "--"}), InvalidRosArgsError);
}

TEST(ParameterRuleTyping, ScalarsFollowYamlAndStrtollStrtod)
{
  EXPECT_EQ(typed("5"), ParameterValue(int64_t{5}));
  EXPECT_EQ(typed("-3"), ParameterValue(int64_t{-3}));
  EXPECT_EQ(typed("5.0"), ParameterValue(5.0));
  EXPECT_EQ(typed("1e3"), ParameterValue(1000.0));
  EXPECT_EQ(typed(".5"), ParameterValue(0.5));
  EXPECT_EQ(typed("\"5\""), ParameterValue("5"));
  EXPECT_EQ(typed("'true'"), ParameterValue("true"));
  EXPECT_EQ(typed("0x10"), ParameterValue(int64_t{16}));
  EXPECT_EQ(typed("010"), ParameterValue(int64_t{8}));
  EXPECT_EQ(typed("08"), ParameterValue(8.0));
  EXPECT_EQ(typed("99999999999999999999"), ParameterValue(1e20));
  EXPECT_EQ(typed("hello"), ParameterValue("hello"));
  EXPECT_EQ(typed("null"), ParameterValue("null"));
  EXPECT_EQ(typed("-.inf"), ParameterValue(-INFINITY));
  EXPECT_TRUE(std::isnan(typed(".NaN").get<double>()));
  for (const char * word : {"true", "True", "TRUE", "yes", "Y", "on", "ON"}) {
    EXPECT_EQ(typed(word), ParameterValue(true)) << word;
  }
  for (const char * word : {"false", "no", "N", "off", "Off"}) {
    EXPECT_EQ(typed(word), ParameterValue(false)) << word;
  }
}

TEST(ParameterRuleTyping, SequencesBecomeArraysOfOneType)
{
  EXPECT_EQ(typed("[1, 2, 3]"), ParameterValue(std::vector<int64_t>{1, 2, 3}));
  EXPECT_EQ(typed("[1.5, 2.0]"), ParameterValue(std::vector<double>{1.5, 2.0}));
  EXPECT_EQ(typed("[true, off]"), ParameterValue(std::vector<bool>{true, false}));
  EXPECT_EQ(typed("[a, '1']"), ParameterValue(std::vector<std::string>{"a", "1"}));
  EXPECT_NE(error_of({"--ros-args", "-p", "x:=[1, 2.5]"}).find("integer and double"),
    std::string::npos);
  EXPECT_THROW(typed("[1, [2]]"), InvalidRosArgsError);
  EXPECT_THROW(typed("[]"), InvalidRosArgsError);
  EXPECT_THROW(typed("{a: 1}"), InvalidRosArgsError);
}

TEST(ParameterRuleTyping, NamesAndNodePrefixes)
{
  const auto parsed = parse(
    {"--ros-args", "-p", "pid.kp:=1.0", "-p", "my_node:rate:=10", "--param", "pid.kp:=2.0"});
  ASSERT_EQ(parsed.parameter_overrides.size(), 2u);
  EXPECT_EQ(parsed.parameter_overrides[0].node_key, "/**");
  ASSERT_EQ(parsed.parameter_overrides[0].parameters.size(), 1u);
  EXPECT_EQ(parsed.parameter_overrides[0].parameters[0].second, ParameterValue(2.0));
  EXPECT_EQ(parsed.parameter_overrides[1].node_key, "/my_node");
  EXPECT_EQ(parsed.parameter_overrides[1].parameters[0].first, "rate");

  EXPECT_THROW(parse({"--ros-args", "-p", "*:x:=1"}), InvalidRosArgsError);
  EXPECT_THROW(parse({"--ros-args", "-p", "**:x:=1"}), InvalidRosArgsError);
  EXPECT_THROW(parse({"--ros-args", "-p", "a.1b:=1"}), InvalidRosArgsError);
  EXPECT_THROW(parse({"--ros-args", "-p", "a..b:=1"}), InvalidRosArgsError);
  EXPECT_THROW(parse({"--ros-args", "-p", ":=1"}), InvalidRosArgsError);
  EXPECT_NO_THROW(parse({"--ros-args", "-p", "ns/param:=1"}));
}

TEST(RemapRules, Forms)
{
  const auto parsed = parse(
    {"--ros-args", "-r", "foo:=bar", "-r", "talker:chatter:=/news", "--remap",
      "rostopic://t:=u", "-r", "rosservice://s:=v", "-r", "__node:=renamed", "-r",
      "talker:__name:=other", "-r", "__ns:=/robot", "-r", "~/private:=public"});
  const auto & rules = parsed.remap_rules;
  ASSERT_EQ(rules.size(), 8u);
  EXPECT_EQ(rules[0].kind, RemapRule::Kind::TopicOrService);
  EXPECT_EQ(rules[1].node, "talker");
  EXPECT_EQ(rules[1].from, "chatter");
  EXPECT_EQ(rules[1].to, "/news");
  EXPECT_EQ(rules[2].kind, RemapRule::Kind::TopicOnly);
  EXPECT_EQ(rules[2].from, "t");
  EXPECT_EQ(rules[3].kind, RemapRule::Kind::ServiceOnly);
  EXPECT_EQ(rules[4].kind, RemapRule::Kind::NodeName);
  EXPECT_EQ(rules[4].to, "renamed");
  EXPECT_EQ(rules[5].kind, RemapRule::Kind::NodeName);
  EXPECT_EQ(rules[5].node, "talker");
  EXPECT_EQ(rules[6].kind, RemapRule::Kind::Namespace);
  EXPECT_EQ(rules[6].to, "/robot");
  EXPECT_EQ(rules[7].from, "~/private");
}

TEST(RemapRules, Rejections)
{
  for (const char * bad : {"__ns:=relative", "__node:=1abc", "__node:=a/b", "a:=", ":=b",
      "no_separator", "a*:=b", "rostopic://__node:=x", "1node:a:=b", "a:=b/"})
  {
    EXPECT_THROW(rclcpp::base::parse_remap_rule(bad), InvalidRosArgsError) << bad;
  }
}

TEST(LogLevelRules, DefaultAndNamedLevelsCaseInsensitive)
{
  const auto parsed = parse(
    {"--ros-args", "--log-level", "WARN", "--log-level", "my_node:=Debug", "--log-level",
      "a.b:=unset", "--log-level", "error"});
  ASSERT_TRUE(parsed.log_levels.default_level.has_value());
  EXPECT_EQ(*parsed.log_levels.default_level, RCUTILS_LOG_SEVERITY_ERROR);
  ASSERT_EQ(parsed.log_levels.loggers.size(), 2u);
  EXPECT_EQ(parsed.log_levels.loggers[0], std::make_pair(std::string("my_node"),
    static_cast<int>(RCUTILS_LOG_SEVERITY_DEBUG)));
  EXPECT_EQ(parsed.log_levels.loggers[1].second, RCUTILS_LOG_SEVERITY_UNSET);
  EXPECT_THROW(parse({"--ros-args", "--log-level", ":=info"}), InvalidRosArgsError);
  EXPECT_THROW(parse({"--ros-args", "--log-level", "x:=verbose"}), InvalidRosArgsError);
}

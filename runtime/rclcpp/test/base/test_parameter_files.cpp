// Parameter YAML files and the choice and precedence of overrides for one node.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "base/arguments.hpp"

using rclcpp::ParameterValue;
using rclcpp::base::InvalidRosArgsError;
using rclcpp::base::ParameterKeyOverrides;
using rclcpp::base::parse_arguments;
using rclcpp::base::resolve_parameter_overrides;

namespace
{

// Writes YAML files into a private directory removed at the end of each test.
class ParameterFiles : public ::testing::Test
{
protected:
  void SetUp() override
  {
    char pattern[] = "/tmp/base_params_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }

  void TearDown() override
  {
    for (const auto & file : files_) {
      std::remove(file.c_str());
    }
    rmdir(dir_.c_str());
  }

  std::string write(const std::string & name, const std::string & text)
  {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    files_.push_back(path);
    return path;
  }

  std::vector<ParameterKeyOverrides> load(const std::string & text)
  {
    std::vector<ParameterKeyOverrides> out;
    rclcpp::base::parse_parameter_file(write("p.yaml", text), out);
    return out;
  }

  std::string load_error(const std::string & name, const std::string & text)
  {
    const std::string path = write(name, text);
    std::vector<ParameterKeyOverrides> out;
    try {
      rclcpp::base::parse_parameter_file(path, out);
    } catch (const InvalidRosArgsError & e) {
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
      return e.what();
    }
    ADD_FAILURE() << "no error for " << text;
    return "";
  }

  // The overrides node `fq_name` gets from a command line.
  std::map<std::string, ParameterValue> overrides_for(
    const std::string & fq_name, const std::vector<std::string> & args,
    const std::vector<rclcpp::Parameter> & options = {})
  {
    std::vector<std::string> argv{"prog"};
    argv.insert(argv.end(), args.begin(), args.end());
    return resolve_parameter_overrides(
      fq_name, parse_arguments(argv).parameter_overrides, {}, options);
  }

  std::string dir_;
  std::vector<std::string> files_;
};

}  // namespace

TEST_F(ParameterFiles, NodeKeysNestedNamesAndTypes)
{
  const auto out = load(
    "/**:\n"
    "  ros__parameters:\n"
    "    use_sim_time: false\n"
    "my_node:\n"
    "  ros__parameters:\n"
    "    rate_hz: 10\n"
    "    gain: 0.5\n"
    "    name: \"arm\"\n"
    "    joints: [0.0, 1.5]\n"
    "    pid:\n"
    "      kp: 1.0\n"
    "      inner: {ki: 2}\n"
    "ns1:\n"
    "  other_node:\n"
    "    ros__parameters: {a: x}\n"
    "  /deep/node:\n"
    "    ros__parameters: {b: y}\n");
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].node_key, "/**");
  EXPECT_EQ(out[1].node_key, "/my_node");
  EXPECT_EQ(out[2].node_key, "/ns1/other_node");
  EXPECT_EQ(out[3].node_key, "/ns1/deep/node");
  std::map<std::string, ParameterValue> my_node(
    out[1].parameters.begin(), out[1].parameters.end());
  EXPECT_EQ(my_node.at("rate_hz"), ParameterValue(int64_t{10}));
  EXPECT_EQ(my_node.at("gain"), ParameterValue(0.5));
  EXPECT_EQ(my_node.at("name"), ParameterValue("arm"));
  EXPECT_EQ(my_node.at("joints"), ParameterValue(std::vector<double>{0.0, 1.5}));
  EXPECT_EQ(my_node.at("pid.kp"), ParameterValue(1.0));
  EXPECT_EQ(my_node.at("pid.inner.ki"), ParameterValue(int64_t{2}));
}

TEST_F(ParameterFiles, WrittenNullIsTextButMissingValueIsAnError)
{
  const auto out = load("n:\n  ros__parameters:\n    a: null\n    b: ~\n    c: 'null'\n");
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].parameters.at(0).second, ParameterValue("null"));
  EXPECT_EQ(out[0].parameters.at(1).second, ParameterValue("~"));
  EXPECT_NE(load_error("empty.yaml", "n:\n  ros__parameters:\n    a:\n    b: 1\n").find("'a'"),
    std::string::npos);
}

TEST_F(ParameterFiles, ErrorsNameFileAndKey)
{
  EXPECT_NE(load_error("broken.yaml", "n:\n  ros__parameters: [1\n").find("line"),
    std::string::npos);
  EXPECT_NE(load_error("mixed.yaml", "n:\n  ros__parameters:\n    arr: [1, a]\n").find("'arr'"),
    std::string::npos);
  EXPECT_NE(load_error("top.yaml", "ros__parameters:\n  a: 1\n").find("ros__parameters"),
    std::string::npos);
  EXPECT_NE(load_error("scalar.yaml", "n:\n  stray: 1\n").find("/n/stray"), std::string::npos);
  EXPECT_NE(load_error("nested.yaml", "n:\n  ros__parameters:\n    a: [[1]]\n").find("'a'"),
    std::string::npos);
  load_error("root.yaml", "just text\n");

  std::vector<ParameterKeyOverrides> out;
  EXPECT_THROW(rclcpp::base::parse_parameter_file(dir_ + "/absent.yaml", out),
    InvalidRosArgsError);
}

TEST_F(ParameterFiles, NodeKeyMatching)
{
  using rclcpp::base::node_key_matches;
  EXPECT_TRUE(node_key_matches("/**", "/n"));
  EXPECT_TRUE(node_key_matches("/**", "/a/b/n"));
  EXPECT_TRUE(node_key_matches("my_node", "/my_node"));
  EXPECT_TRUE(node_key_matches("/my_node", "/my_node"));
  EXPECT_FALSE(node_key_matches("/my_node", "/ns/my_node"));
  EXPECT_TRUE(node_key_matches("/ns/*", "/ns/my_node"));
  EXPECT_FALSE(node_key_matches("/ns/*", "/ns/a/my_node"));
  EXPECT_TRUE(node_key_matches("/*/my_node", "/ns/my_node"));
  EXPECT_TRUE(node_key_matches("/ns/**", "/ns/a/b"));
  EXPECT_FALSE(node_key_matches("/ns/**", "/other/a"));
  EXPECT_FALSE(node_key_matches("/my_node", "/my_node_2"));
  EXPECT_TRUE(node_key_matches("/**/my_node", "/my_node"));
  EXPECT_TRUE(node_key_matches("/**/my_node", "/a/b/my_node"));
  EXPECT_FALSE(node_key_matches("/**/my_node", "/a/other"));
  EXPECT_TRUE(node_key_matches("/*_x/n", "/ab_x/n"));
  EXPECT_FALSE(node_key_matches("/*", "/"));
}

TEST_F(ParameterFiles, LaterKeysOfFirstAppearanceWinAcrossFilesAndRules)
{
  const std::string specific = write("specific.yaml", "my_node:\n  ros__parameters: {x: 1}\n");
  const std::string wildcard = write("wildcard.yaml", "/**:\n  ros__parameters: {x: 2}\n");

  // /my_node appears first, so /** (appearing later) wins for a parameter in both.
  EXPECT_EQ(
    overrides_for("/my_node", {"--ros-args", "--params-file", specific, "--params-file",
      wildcard}).at("x"), ParameterValue(int64_t{2}));
  EXPECT_EQ(
    overrides_for("/my_node", {"--ros-args", "--params-file", wildcard, "--params-file",
      specific}).at("x"), ParameterValue(int64_t{1}));
  // -p without a prefix is /**: after the file it replaces the file's /** value...
  EXPECT_EQ(
    overrides_for("/my_node", {"--ros-args", "--params-file", wildcard, "-p", "x:=3"}).at("x"),
    ParameterValue(int64_t{3}));
  // ...but its key appeared before /my_node, so the specific file still wins.
  EXPECT_EQ(
    overrides_for("/my_node", {"--ros-args", "-p", "x:=3", "--params-file", specific}).at("x"),
    ParameterValue(int64_t{1}));
  // A non-matching key contributes nothing.
  EXPECT_EQ(overrides_for("/other", {"--ros-args", "--params-file", specific}).count("x"), 0u);
}

TEST_F(ParameterFiles, LocalArgumentsThenNodeOptionsOverrideGlobal)
{
  const auto global = parse_arguments({"prog", "--ros-args", "-p", "a:=1", "-p", "b:=1", "-p",
      "c:=1"}).parameter_overrides;
  const auto local = parse_arguments({"prog", "--ros-args", "-p", "b:=2", "-p", "c:=2"})
    .parameter_overrides;
  const auto result = resolve_parameter_overrides(
    "/n", global, local, {rclcpp::Parameter("c", 3.0)});
  EXPECT_EQ(result.at("a"), ParameterValue(int64_t{1}));
  EXPECT_EQ(result.at("b"), ParameterValue(int64_t{2}));
  EXPECT_EQ(result.at("c"), ParameterValue(3.0));
}

TEST_F(ParameterFiles, BadFileLeavesEarlierOverridesIntact)
{
  std::vector<ParameterKeyOverrides> out;
  rclcpp::base::add_parameter_override(out, "/**", "keep", ParameterValue(true));
  const std::string bad = write("bad.yaml", "n:\n  ros__parameters:\n    good: 1\n    bad:\n");
  EXPECT_THROW(rclcpp::base::parse_parameter_file(bad, out), InvalidRosArgsError);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].parameters.size(), 1u);
}

// Name validation, expansion and remapping of node, topic and service names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/arguments.hpp"

using rclcpp::base::InvalidNameError;
using rclcpp::base::RemapRule;

namespace
{

std::vector<RemapRule> rules(const std::vector<std::string> & texts)
{
  std::vector<RemapRule> out;
  for (const auto & text : texts) {
    out.push_back(rclcpp::base::parse_remap_rule(text));
  }
  return out;
}

std::string resolve(
  const std::string & name, const std::string & node, const std::string & ns,
  const std::vector<std::string> & local = {}, const std::vector<std::string> & global = {},
  bool is_service = false)
{
  return rclcpp::base::resolve_name(name, node, ns, is_service, rules(local), rules(global));
}

size_t invalid_index(void (* validate)(const std::string &), const std::string & name)
{
  try {
    validate(name);
  } catch (const InvalidNameError & e) {
    EXPECT_NE(std::string(e.what()).find("'" + name + "'"), std::string::npos);
    return e.invalid_index;
  }
  ADD_FAILURE() << "'" << name << "' accepted";
  return std::string::npos;
}

}  // namespace

TEST(NameValidation, NodeNames)
{
  using rclcpp::base::validate_node_name;
  EXPECT_NO_THROW(validate_node_name("ArmSupervisorNode"));
  EXPECT_NO_THROW(validate_node_name("_n1"));
  EXPECT_EQ(invalid_index(validate_node_name, ""), 0u);
  EXPECT_EQ(invalid_index(validate_node_name, "1node"), 0u);
  EXPECT_EQ(invalid_index(validate_node_name, "my-node"), 2u);
  EXPECT_EQ(invalid_index(validate_node_name, "a/b"), 1u);
  invalid_index(validate_node_name, std::string(256, 'a'));
}

TEST(NameValidation, Namespaces)
{
  using rclcpp::base::validate_namespace;
  EXPECT_NO_THROW(validate_namespace("/"));
  EXPECT_NO_THROW(validate_namespace("/a/b_2"));
  EXPECT_EQ(invalid_index(validate_namespace, "relative"), 0u);
  EXPECT_EQ(invalid_index(validate_namespace, "/a/"), 2u);
  EXPECT_EQ(invalid_index(validate_namespace, "/a//b"), 3u);
  EXPECT_EQ(invalid_index(validate_namespace, "/a/1b"), 3u);
  invalid_index(validate_namespace, "/" + std::string(245, 'a'));
}

TEST(NameValidation, TopicNamesBeforeExpansion)
{
  using rclcpp::base::validate_topic_name;
  for (const char * good : {"foo", "/foo/bar", "~", "~/foo", "{node}/x", "/{ns}/x", "a_1/b"}) {
    EXPECT_NO_THROW(validate_topic_name(good)) << good;
  }
  EXPECT_EQ(invalid_index(validate_topic_name, ""), 0u);
  EXPECT_EQ(invalid_index(validate_topic_name, "foo/"), 3u);
  EXPECT_EQ(invalid_index(validate_topic_name, "a~"), 1u);
  EXPECT_EQ(invalid_index(validate_topic_name, "~foo"), 1u);
  EXPECT_EQ(invalid_index(validate_topic_name, "a/1b"), 2u);
  EXPECT_EQ(invalid_index(validate_topic_name, "1b"), 0u);
  EXPECT_EQ(invalid_index(validate_topic_name, "a b"), 1u);
  EXPECT_EQ(invalid_index(validate_topic_name, "{a{b}}"), 2u);
  EXPECT_EQ(invalid_index(validate_topic_name, "{}"), 1u);
  EXPECT_EQ(invalid_index(validate_topic_name, "a}"), 1u);
  EXPECT_EQ(invalid_index(validate_topic_name, "{node"), 0u);
}

TEST(NameExpansion, RelativePrivateAndSubstitutions)
{
  EXPECT_EQ(resolve("foo", "n", "/a/b"), "/a/b/foo");
  EXPECT_EQ(resolve("foo", "n", "/"), "/foo");
  EXPECT_EQ(resolve("/abs", "n", "/a"), "/abs");
  EXPECT_EQ(resolve("~/foo", "n", "/"), "/n/foo");
  EXPECT_EQ(resolve("~/foo", "n", "/a"), "/a/n/foo");
  EXPECT_EQ(resolve("~", "n", "/a"), "/a/n");
  EXPECT_EQ(resolve("{node}/x", "n", "/a"), "/a/n/x");
  EXPECT_EQ(resolve("{ns}/x", "n", "/a"), "/a/x");
  EXPECT_EQ(resolve("{namespace}/x", "n", "/a"), "/a/x");
  EXPECT_THROW(resolve("{bogus}/x", "n", "/a"), InvalidNameError);
  // Expansion may produce an invalid full name, which is caught after remapping.
  EXPECT_THROW(resolve("{ns}/x", "n", "/"), InvalidNameError);
  EXPECT_THROW(resolve("/{ns}/x", "n", "/a"), InvalidNameError);
}

TEST(Remapping, ExactMatchAfterExpansionFirstRuleWins)
{
  EXPECT_EQ(resolve("chatter", "n", "/a", {}, {"chatter:=talk"}), "/a/talk");
  EXPECT_EQ(resolve("chatter", "n", "/a", {}, {"/a/chatter:=/talk"}), "/talk");
  EXPECT_EQ(resolve("/a/chatter", "n", "/a", {}, {"chatter:=~/x"}), "/a/n/x");
  EXPECT_EQ(resolve("chatter", "n", "/a", {}, {"/chatter:=x"}), "/a/chatter");
  EXPECT_EQ(resolve("chatter", "n", "/", {}, {"chatter:=one", "chatter:=two"}), "/one");
  EXPECT_EQ(resolve("chatter", "n", "/", {"chatter:=local"}, {"chatter:=global"}), "/local");
  // Only the exact name: sub-names (such as an action's entities) are not moved.
  EXPECT_EQ(resolve("fib/_action/send_goal", "n", "/", {}, {"fib:=other"}),
    "/fib/_action/send_goal");
}

TEST(Remapping, NodePrefixAndKindRestrictions)
{
  EXPECT_EQ(resolve("x", "talker", "/", {}, {"talker:x:=y"}), "/y");
  EXPECT_EQ(resolve("x", "listener", "/", {}, {"talker:x:=y"}), "/x");
  EXPECT_EQ(resolve("x", "n", "/", {}, {"rostopic://x:=y"}, false), "/y");
  EXPECT_EQ(resolve("x", "n", "/", {}, {"rostopic://x:=y"}, true), "/x");
  EXPECT_EQ(resolve("x", "n", "/", {}, {"rosservice://x:=y"}, true), "/y");
  EXPECT_EQ(resolve("x", "n", "/", {}, {"rosservice://x:=y"}, false), "/x");
  EXPECT_EQ(resolve("x", "n", "/", {}, {"x:=y"}, true), "/y");
}

TEST(Remapping, NodeNameAndNamespace)
{
  using rclcpp::base::remap_node_name;
  const auto none = rules({});
  EXPECT_EQ(remap_node_name("n", "/", none, rules({"__node:=m"})), std::make_pair(
      std::string("m"), std::string("/")));
  EXPECT_EQ(remap_node_name("n", "/", rules({"__name:=local"}), rules({"__node:=global"})).first,
    "local");
  EXPECT_EQ(remap_node_name("n", "/", none, rules({"other:__node:=m"})).first, "n");
  EXPECT_EQ(remap_node_name("n", "/", none, rules({"__ns:=/robot"})).second, "/robot");
  // The namespace rule is chosen by the node's new name.
  EXPECT_EQ(remap_node_name("n", "/", none, rules({"__node:=m", "m:__ns:=/r"})).second, "/r");
  EXPECT_EQ(remap_node_name("n", "/", none, rules({"__node:=m", "n:__ns:=/r"})).second, "/");
}

TEST(NodeNames, FullyQualifiedAndLoggerNames)
{
  using rclcpp::base::fully_qualified_name;
  using rclcpp::base::node_logger_name;
  using rclcpp::base::normalize_namespace;
  EXPECT_EQ(normalize_namespace(""), "/");
  EXPECT_EQ(normalize_namespace("ns"), "/ns");
  EXPECT_EQ(fully_qualified_name("n", "/"), "/n");
  EXPECT_EQ(fully_qualified_name("n", "a/b"), "/a/b/n");
  EXPECT_EQ(node_logger_name("ArmSupervisorNode", ""), "ArmSupervisorNode");
  EXPECT_EQ(node_logger_name("c", "/a/b"), "a.b.c");
}

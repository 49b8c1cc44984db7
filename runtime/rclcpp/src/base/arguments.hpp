// Command-line (--ros-args) parsing, parameter overrides and name resolution, as ROS 2 Humble's
// rcl does them. Pure C++: no DDS, no global state. Used by the context and the node.
#ifndef RCLCPP__BASE__ARGUMENTS_HPP_
#define RCLCPP__BASE__ARGUMENTS_HPP_

#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "rclcpp/parameter.hpp"
#include "rclcpp/parameter_value.hpp"

namespace rclcpp
{
namespace base
{

/// One remap rule (-r [node:]from:=to, or __node/__ns).
struct RemapRule
{
  enum class Kind { TopicOrService, TopicOnly, ServiceOnly, NodeName, Namespace };
  Kind kind = Kind::TopicOrService;
  std::string node;   ///< node-name prefix of the rule, empty for all nodes
  std::string from;   ///< unexpanded match side (empty for NodeName / Namespace)
  std::string to;     ///< replacement (new node name / absolute namespace for those kinds)
};

/// Parameter overrides of one node key ("/**", "/my_node", "/ns/*" ...), in first-appearance order.
struct ParameterKeyOverrides
{
  std::string node_key;  ///< as written, normalised to start with "/"
  std::vector<std::pair<std::string, rclcpp::ParameterValue>> parameters;  ///< later replaces earlier
};

/// Log-level settings from --log-level.
struct LogLevels
{
  std::optional<int> default_level;                  ///< RCUTILS_LOG_SEVERITY_* value
  std::vector<std::pair<std::string, int>> loggers;  ///< logger name -> severity
};

/// Everything parsed from an argument vector.
struct ParsedArguments
{
  std::vector<std::string> unparsed;          ///< arguments outside --ros-args sections (argv[0] first)
  std::vector<std::string> unknown_ros_args;  ///< unknown flags inside a --ros-args section
  std::vector<ParameterKeyOverrides> parameter_overrides;
  std::vector<RemapRule> remap_rules;
  LogLevels log_levels;
  std::string enclave;                        ///< empty = default "/"
};

/// Thrown for a malformed --ros-args section (bad -p value, unreadable or bad params file,
/// bad remap rule, bad log level, missing flag value). The message names the argument.
class InvalidRosArgsError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// Parses argv as rcl does (ros2-wire section 7). Throws InvalidRosArgsError.
ParsedArguments parse_arguments(const std::vector<std::string> & args);

/// Parses a ROS 2 parameter YAML file into `out` (appending / merging by node key in
/// first-appearance order). Throws InvalidRosArgsError naming the file and the problem.
void parse_parameter_file(const std::string & path, std::vector<ParameterKeyOverrides> & out);

/// Types one scalar YAML text by the rcl rules (quoted -> string, bool words, strtoll integer,
/// strtod double / .nan / .inf, else string). `quoted` tells whether the YAML scalar was quoted.
rclcpp::ParameterValue parse_scalar(const std::string & text, bool quoted);

/// Collects the overrides that apply to the node with fully qualified name `fq_node_name`:
/// global arguments first, then the node's local arguments, then `node_options_overrides`
/// (which win). Within one argument set, node keys are applied in first-appearance order.
std::map<std::string, rclcpp::ParameterValue> resolve_parameter_overrides(
  const std::string & fq_node_name,
  const std::vector<ParameterKeyOverrides> & global_overrides,
  const std::vector<ParameterKeyOverrides> & local_overrides,
  const std::vector<rclcpp::Parameter> & node_options_overrides);

/// Name validation; each throws std::invalid_argument with the reason and the offending name.
void validate_node_name(const std::string & name);
void validate_namespace(const std::string & namespace_);
/// Validates a topic or service name before expansion (relative, absolute or ~).
void validate_topic_name(const std::string & name);

/// Normalises a namespace: "" -> "/", "ns" -> "/ns".
std::string normalize_namespace(const std::string & namespace_);
/// "/ns/name" or "/name".
std::string fully_qualified_name(const std::string & node_name, const std::string & namespace_);
/// Logger name of a node: "name" in "/", "a.b.name" in "/a/b".
std::string node_logger_name(const std::string & node_name, const std::string & namespace_);

/// Applies the __node / __ns rules (local rules before global ones) to a node's name and
/// namespace. Returns {name, namespace}.
std::pair<std::string, std::string> remap_node_name(
  const std::string & node_name, const std::string & namespace_,
  const std::vector<RemapRule> & local_rules, const std::vector<RemapRule> & global_rules);

/// Expands (~, {node}, {ns}, relative names), remaps (local rules first, then global; topic or
/// service rules as `is_service` says) and validates a topic or service name.
/// Throws std::invalid_argument with the reason and the name.
std::string resolve_name(
  const std::string & name, const std::string & node_name, const std::string & namespace_,
  bool is_service, const std::vector<RemapRule> & local_rules,
  const std::vector<RemapRule> & global_rules);

}  // namespace base
}  // namespace rclcpp

#endif  // RCLCPP__BASE__ARGUMENTS_HPP_

// Command-line (--ros-args) parsing, parameter overrides and name resolution, as ROS 2 Humble's
// rcl does them. Pure C++ without DDS; only apply_log_levels touches process-wide state. Used by
// the context and the node.
#ifndef RCLCPP__BASE__ARGUMENTS_HPP_
#define RCLCPP__BASE__ARGUMENTS_HPP_

#include <cstddef>
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
  std::string log_config_file;                ///< --log-config-file, empty when not given
  /// --enable-/--disable- stdout-logs, rosout-logs, external-lib-logs; unset when not given.
  std::optional<bool> stdout_logs;
  std::optional<bool> rosout_logs;
  std::optional<bool> external_lib_logs;
};

/// Thrown for a malformed --ros-args section (bad -p value, unreadable or bad params file,
/// bad remap rule, bad log level, missing flag value). The message names the argument.
class InvalidRosArgsError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// Thrown by the name functions below. what() is "<reason>: '<name>'"; `reason` and
/// `invalid_index` (position of the offending character in `name`) are what
/// rclcpp::exceptions::NameValidationError wants.
class InvalidNameError : public std::invalid_argument
{
public:
  InvalidNameError(const std::string & reason, const std::string & name, size_t invalid_index);

  std::string reason;
  std::string name;
  size_t invalid_index;
};

/// Parses argv as ROS 2 Humble's rcl does. Throws InvalidRosArgsError.
ParsedArguments parse_arguments(const std::vector<std::string> & args);

/// Parses one remap rule text ("[node:][rostopic://|rosservice://]from:=to", "__node:=n",
/// "__name:=n", "__ns:=/ns"). Throws InvalidRosArgsError with the reason.
RemapRule parse_remap_rule(const std::string & rule);

/// Types the value of a -p rule (a YAML scalar or sequence). Throws InvalidRosArgsError.
rclcpp::ParameterValue parse_parameter_value(const std::string & yaml_text);

/// Adds one override to a store: the node key's entry is created at the end on first use; a
/// parameter already in it gets the new value.
void add_parameter_override(
  std::vector<ParameterKeyOverrides> & store, const std::string & node_key,
  const std::string & parameter_name, const rclcpp::ParameterValue & value);

/// Whether a node key ("/**", "/ns/*", "my_node", ...) selects the node with fully qualified
/// name `fq_node_name`.
bool node_key_matches(const std::string & node_key, const std::string & fq_node_name);

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

/// Name validation; each throws InvalidNameError (a std::invalid_argument) with the reason and
/// the offending name. validate_namespace expects a normalised (absolute) namespace.
void validate_node_name(const std::string & name);
void validate_namespace(const std::string & namespace_);
/// Validates a topic or service name before expansion (relative, absolute or ~).
void validate_topic_name(const std::string & name);
/// Validates an expanded, absolute topic or service name.
void validate_full_topic_name(const std::string & name);

/// Expands ~, {node}, {ns}/{namespace} and relative names; `name` must be valid. Throws
/// InvalidNameError for an unknown substitution.
std::string expand_topic_name(
  const std::string & name, const std::string & node_name, const std::string & namespace_);

/// Normalises a namespace: "" -> "/", "ns" -> "/ns".
std::string normalize_namespace(const std::string & namespace_);
/// "/ns/name" or "/name".
std::string fully_qualified_name(const std::string & node_name, const std::string & namespace_);
/// Logger name of a node: "name" in "/", "a.b.name" in "/a/b".
std::string node_logger_name(const std::string & node_name, const std::string & namespace_);

/// Applies the __node / __ns rules (local rules before global ones) to a node's name and
/// namespace. __node rules are selected by the given name, __ns rules by the remapped name.
/// Returns {name, namespace}.
std::pair<std::string, std::string> remap_node_name(
  const std::string & node_name, const std::string & namespace_,
  const std::vector<RemapRule> & local_rules, const std::vector<RemapRule> & global_rules);

/// Expands (~, {node}, {ns}, relative names), remaps (local rules first, then global; topic or
/// service rules as `is_service` says) and validates a topic or service name.
/// Throws InvalidNameError (a std::invalid_argument) with the reason and the name.
std::string resolve_name(
  const std::string & name, const std::string & node_name, const std::string & namespace_,
  bool is_service, const std::vector<RemapRule> & local_rules,
  const std::vector<RemapRule> & global_rules);

/// Initialises console logging from the RCUTILS_* environment if that has not happened yet, then
/// applies --log-level settings (default level first, then loggers in order). This is the one
/// function here with process-wide effect; any thread. Throws std::runtime_error naming the
/// variable when an RCUTILS_* logging variable has an invalid value.
void apply_log_levels(const LogLevels & levels);

}  // namespace base
}  // namespace rclcpp

#endif  // RCLCPP__BASE__ARGUMENTS_HPP_

// The --ros-args command line: sections, flags, remap rules, -p rules and log levels.
#include <cctype>
#include <string>
#include <vector>

#include "base/arguments.hpp"
#include "rclcpp/logging.hpp"
#include "rcutils/logging.h"

namespace rclcpp
{
namespace base
{

namespace
{

constexpr const char * kRosArgsFlag = "--ros-args";
constexpr const char * kSectionEnd = "--";
constexpr const char * kTopicScheme = "rostopic://";
constexpr const char * kServiceScheme = "rosservice://";

bool starts_with(const std::string & text, const std::string & prefix)
{
  return text.compare(0, prefix.size(), prefix) == 0;
}

rclcpp::Logger rcl_logger()
{
  return rclcpp::get_logger("rcl");
}

// Strips a rostopic:// or rosservice:// prefix from `match`, returning the kind it selects.
RemapRule::Kind take_scheme(std::string & match)
{
  if (starts_with(match, kTopicScheme)) {
    match.erase(0, std::string(kTopicScheme).size());
    return RemapRule::Kind::TopicOnly;
  }
  if (starts_with(match, kServiceScheme)) {
    match.erase(0, std::string(kServiceScheme).size());
    return RemapRule::Kind::ServiceOnly;
  }
  return RemapRule::Kind::TopicOrService;
}

std::string reason_of(const InvalidNameError & e)
{
  return e.reason + " ('" + e.name + "')";
}

bool is_parameter_name_char(char c)
{
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '/';
}

// A parameter name is '.'-separated tokens; a token must not start with a digit.
void validate_parameter_name(const std::string & name)
{
  if (name.empty()) {
    throw InvalidRosArgsError("the parameter name is empty");
  }
  size_t token_start = 0;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i == name.size() || name[i] == '.') {
      if (i == token_start) {
        throw InvalidRosArgsError("parameter name '" + name + "' has an empty token");
      }
      token_start = i + 1;
      continue;
    }
    if (!is_parameter_name_char(name[i])) {
      throw InvalidRosArgsError(
              "parameter name '" + name + "' contains '" + std::string(1, name[i]) + "'");
    }
    if (i == token_start && std::isdigit(static_cast<unsigned char>(name[i]))) {
      throw InvalidRosArgsError(
              "a token of parameter name '" + name + "' starts with a number");
    }
  }
}

void parse_parameter_rule(const std::string & rule, std::vector<ParameterKeyOverrides> & store)
{
  const size_t separator = rule.find(":=");
  if (separator == std::string::npos) {
    throw InvalidRosArgsError("expected 'name:=value'");
  }
  const std::string lhs = rule.substr(0, separator);
  const std::string value_text = rule.substr(separator + 2);
  if (lhs.find('*') != std::string::npos) {
    throw InvalidRosArgsError("wildcards ('*', '**') are not allowed in parameter rules");
  }
  std::string node;
  std::string name = lhs;
  const size_t colon = lhs.find(':');
  if (colon != std::string::npos) {
    node = lhs.substr(0, colon);
    name = lhs.substr(colon + 1);
    if (node.empty()) {
      throw InvalidRosArgsError("the node name before ':' is empty");
    }
    for (char c : node) {
      if (!is_parameter_name_char(c)) {
        throw InvalidRosArgsError("node name '" + node + "' contains '" + std::string(1, c) + "'");
      }
    }
  }
  validate_parameter_name(name);
  if (value_text.empty()) {
    throw InvalidRosArgsError("the value of parameter '" + name + "' is empty");
  }
  add_parameter_override(store, node.empty() ? "/**" : node, name, parse_parameter_value(value_text));
}

std::optional<int> severity_from_name(std::string level)
{
  for (auto & c : level) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (level == "debug") {
    return RCUTILS_LOG_SEVERITY_DEBUG;
  }
  if (level == "info") {
    return RCUTILS_LOG_SEVERITY_INFO;
  }
  if (level == "warn") {
    return RCUTILS_LOG_SEVERITY_WARN;
  }
  if (level == "error") {
    return RCUTILS_LOG_SEVERITY_ERROR;
  }
  if (level == "fatal") {
    return RCUTILS_LOG_SEVERITY_FATAL;
  }
  if (level == "unset") {
    return RCUTILS_LOG_SEVERITY_UNSET;
  }
  return std::nullopt;
}

void parse_log_level_rule(const std::string & rule, LogLevels & levels)
{
  const size_t separator = rule.find(":=");
  const std::string level_text = separator == std::string::npos ? rule : rule.substr(separator + 2);
  const auto severity = severity_from_name(level_text);
  if (!severity) {
    throw InvalidRosArgsError(
            "unknown level '" + level_text + "' (debug, info, warn, error, fatal or unset)");
  }
  if (separator == std::string::npos) {
    levels.default_level = *severity;
    return;
  }
  const std::string logger = rule.substr(0, separator);
  if (logger.empty()) {
    throw InvalidRosArgsError("the logger name before ':=' is empty");
  }
  levels.loggers.emplace_back(logger, *severity);
}

std::string quoted_pair(const std::string & flag, const std::string & value)
{
  return "'" + flag + " " + value + "'";
}

}  // namespace

RemapRule parse_remap_rule(const std::string & rule)
{
  const size_t separator = rule.find(":=");
  if (separator == std::string::npos) {
    throw InvalidRosArgsError("expected 'from:=to'");
  }
  std::string match = rule.substr(0, separator);
  RemapRule result;
  result.to = rule.substr(separator + 2);
  if (!starts_with(match, kTopicScheme) && !starts_with(match, kServiceScheme)) {
    const size_t colon = match.find(':');
    if (colon != std::string::npos) {
      result.node = match.substr(0, colon);
      match.erase(0, colon + 1);
      try {
        validate_node_name(result.node);
      } catch (const InvalidNameError & e) {
        throw InvalidRosArgsError("invalid node name prefix: " + reason_of(e));
      }
    }
  }
  result.kind = take_scheme(match);
  const bool has_scheme = result.kind != RemapRule::Kind::TopicOrService;
  if (match.empty()) {
    throw InvalidRosArgsError("the name to remap is empty");
  }
  if (result.to.empty()) {
    throw InvalidRosArgsError("the replacement is empty");
  }
  if (match == "__node" || match == "__name" || match == "__ns") {
    if (has_scheme) {
      throw InvalidRosArgsError("'" + match + "' cannot take a rostopic:// or rosservice:// prefix");
    }
    if (match == "__ns") {
      result.kind = RemapRule::Kind::Namespace;
      try {
        validate_namespace(result.to);
      } catch (const InvalidNameError & e) {
        RCLCPP_WARN(
          rcl_logger(), "Namespace not remapped to invalid name '%s': %s", result.to.c_str(),
          e.reason.c_str());
        throw InvalidRosArgsError("invalid namespace: " + reason_of(e));
      }
    } else {
      result.kind = RemapRule::Kind::NodeName;
      try {
        validate_node_name(result.to);
      } catch (const InvalidNameError & e) {
        throw InvalidRosArgsError("invalid node name: " + reason_of(e));
      }
    }
    return result;
  }
  if (match.find('*') != std::string::npos) {
    throw InvalidRosArgsError("wildcards are not supported in remap rules");
  }
  try {
    validate_topic_name(match);
    validate_topic_name(result.to);
  } catch (const InvalidNameError & e) {
    throw InvalidRosArgsError(reason_of(e));
  }
  result.from = match;
  return result;
}

ParsedArguments parse_arguments(const std::vector<std::string> & args)
{
  ParsedArguments out;
  bool in_section = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string & arg = args[i];
    if (i == 0) {
      out.unparsed.push_back(arg);
      continue;
    }
    if (!in_section) {
      if (arg == kRosArgsFlag) {
        in_section = true;
        continue;
      }
      if (arg.find(":=") != std::string::npos) {
        try {
          out.remap_rules.push_back(parse_remap_rule(arg));
          RCLCPP_WARN(
            rcl_logger(), "Remap rule '%s' outside a --ros-args section is deprecated; use "
            "'--ros-args --remap %s' instead.", arg.c_str(), arg.c_str());
          continue;
        } catch (const InvalidRosArgsError &) {
          // Not a remap rule after all: it belongs to the program.
        }
      }
      out.unparsed.push_back(arg);
      continue;
    }
    if (arg == kRosArgsFlag) {
      continue;
    }
    if (arg == kSectionEnd) {
      in_section = false;
      continue;
    }
    auto take_value = [&]() -> const std::string & {
        if (i + 1 >= args.size()) {
          throw InvalidRosArgsError("Couldn't parse trailing '" + arg + "' flag: no value follows");
        }
        return args[++i];
      };
    if (arg == "-p" || arg == "--param") {
      const std::string & value = take_value();
      try {
        parse_parameter_rule(value, out.parameter_overrides);
      } catch (const InvalidRosArgsError & e) {
        throw InvalidRosArgsError(
                "Couldn't parse parameter override rule " + quoted_pair(arg, value) + ": " +
                e.what());
      }
    } else if (arg == "--params-file") {
      parse_parameter_file(take_value(), out.parameter_overrides);
    } else if (arg == "-r" || arg == "--remap") {
      const std::string & value = take_value();
      try {
        out.remap_rules.push_back(parse_remap_rule(value));
      } catch (const InvalidRosArgsError & e) {
        throw InvalidRosArgsError(
                "Couldn't parse remap rule " + quoted_pair(arg, value) + ": " + e.what());
      }
    } else if (arg == "--log-level") {
      const std::string & value = take_value();
      try {
        parse_log_level_rule(value, out.log_levels);
      } catch (const InvalidRosArgsError & e) {
        throw InvalidRosArgsError(
                "Couldn't parse log level rule " + quoted_pair(arg, value) + ": " + e.what());
      }
    } else if (arg == "-e" || arg == "--enclave") {
      const std::string & value = take_value();
      try {
        validate_namespace(value);
      } catch (const InvalidNameError & e) {
        throw InvalidRosArgsError(
                "Couldn't parse enclave " + quoted_pair(arg, value) + ": " + reason_of(e));
      }
      out.enclave = value;
    } else if (arg == "--log-config-file") {
      out.log_config_file = take_value();
    } else if (arg == "--enable-stdout-logs" || arg == "--disable-stdout-logs") {
      out.stdout_logs = arg == "--enable-stdout-logs";
    } else if (arg == "--enable-rosout-logs" || arg == "--disable-rosout-logs") {
      out.rosout_logs = arg == "--enable-rosout-logs";
    } else if (arg == "--enable-external-lib-logs" || arg == "--disable-external-lib-logs") {
      out.external_lib_logs = arg == "--enable-external-lib-logs";
    } else {
      out.unknown_ros_args.push_back(arg);
    }
  }
  return out;
}

}  // namespace base
}  // namespace rclcpp

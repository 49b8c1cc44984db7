#include "quorvel_arm_supervisor/yaml_config.hpp"

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <utility>

#include <fmt/format.h>
#include <yaml-cpp/yaml.h>

namespace quorvel_arm_supervisor
{

namespace
{

using JointArrayMember = std_msgs::msg::Float64MultiArray JointArrayConfig::*;

constexpr std::array<std::pair<std::string_view, JointArrayMember>, kJointArrayKeys.size()>
kKeyMembers{{
  {kJointArrayKeys[0], &JointArrayConfig::release_joints},
  {kJointArrayKeys[1], &JointArrayConfig::observe_joints},
  {kJointArrayKeys[2], &JointArrayConfig::recover_movej_pos1},
  {kJointArrayKeys[3], &JointArrayConfig::recover_movej_pos2},
  {kJointArrayKeys[4], &JointArrayConfig::recover_movej_end_pos},
  {kJointArrayKeys[5], &JointArrayConfig::recover_movej_release_pos},
  {kJointArrayKeys[6], &JointArrayConfig::recover_movej_transition_pos},
}};

std::string where_in_file(const YAML::Mark & mark)
{
  if (mark.is_null()) {
    return {};
  }
  return fmt::format(" (line {}, column {})", mark.line + 1, mark.column + 1);
}

std::string read_whole_file(const std::string & path)
{
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    throw ConfigError(fmt::format("cannot open config file '{}': it is a directory", path));
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int cause = errno;
    throw ConfigError(fmt::format(
        "cannot open config file '{}': {}", path,
        std::error_code(cause, std::generic_category()).message()));
  }
  std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) {
    throw ConfigError(fmt::format("cannot read config file '{}'", path));
  }
  return content;
}

std::string element_problem(const YAML::Node & element)
{
  switch (element.Type()) {
    case YAML::NodeType::Null:
      return "(null) is not a number";
    case YAML::NodeType::Sequence:
      return "is a sequence, expected a number";
    case YAML::NodeType::Map:
      return "is a mapping, expected a number";
    case YAML::NodeType::Scalar:
    case YAML::NodeType::Undefined:
      break;
  }
  return fmt::format("('{}') is not a number", element.IsScalar() ? element.Scalar() : "");
}

void read_key(
  const std::string & path, const YAML::Node & root, std::string_view key,
  std_msgs::msg::Float64MultiArray & out)
{
  const YAML::Node value = root[std::string(key)];
  if (!value.IsDefined() || value.IsNull() || value.IsScalar()) {
    return;
  }
  if (value.IsMap()) {
    throw ConfigError(fmt::format(
        "config file '{}': key '{}' is a mapping, expected a sequence of numbers{}", path, key,
        where_in_file(value.Mark())));
  }
  for (std::size_t i = 0; i < value.size(); ++i) {
    const YAML::Node element = value[i];
    double number = 0.0;
    if (!element.IsScalar() || !YAML::convert<double>::decode(element, number)) {
      throw ConfigError(fmt::format(
          "config file '{}': key '{}' element {} {}{}", path, key, i, element_problem(element),
          where_in_file(element.Mark())));
    }
    if (!std::isfinite(number)) {
      throw ConfigError(fmt::format(
          "config file '{}': key '{}' element {} ('{}') is not a finite number{}", path, key, i,
          element.Scalar(), where_in_file(element.Mark())));
    }
    out.data.push_back(number);
  }
}

}  // namespace

std::string joint_config_path(std::string_view share_directory, std::string_view file_name)
{
  std::string path{share_directory};
  path.append("/config/");
  path.append(file_name);
  return path;
}

JointArrayConfig load_joint_array_config(
    const std::string & path, const JointArrayLoaded & loaded)
{
  const std::string content = read_whole_file(path);
  JointArrayConfig config;
  try {
    const YAML::Node root = YAML::Load(content);
    if (root.IsNull()) {
      return config;
    }
    if (!root.IsMap()) {
      throw ConfigError(fmt::format(
          "config file '{}': root is not a mapping of joint arrays{}", path,
          where_in_file(root.Mark())));
    }
    for (const auto & [key, member] : kKeyMembers) {
      read_key(path, root, key, config.*member);
      if (loaded) {
        loaded(key, config.*member);
      }
    }
  } catch (const YAML::ParserException & e) {
    throw ConfigError(fmt::format(
        "config file '{}': not valid YAML: {}{}", path, e.msg, where_in_file(e.mark)));
  } catch (const YAML::Exception & e) {
    throw ConfigError(fmt::format("config file '{}': {}", path, e.what()));
  }
  return config;
}

}  // namespace quorvel_arm_supervisor

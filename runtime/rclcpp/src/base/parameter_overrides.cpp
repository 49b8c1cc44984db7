// The parameter override store and the choice of overrides for one node.
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "base/arguments.hpp"

namespace rclcpp
{
namespace base
{

void add_parameter_override(
  std::vector<ParameterKeyOverrides> & store, const std::string & node_key,
  const std::string & parameter_name, const rclcpp::ParameterValue & value)
{
  const std::string key = (!node_key.empty() && node_key[0] == '/') ? node_key : "/" + node_key;
  ParameterKeyOverrides * entry = nullptr;
  for (auto & candidate : store) {
    if (candidate.node_key == key) {
      entry = &candidate;
      break;
    }
  }
  if (entry == nullptr) {
    store.push_back(ParameterKeyOverrides{key, {}});
    entry = &store.back();
  }
  for (auto & parameter : entry->parameters) {
    if (parameter.first == parameter_name) {
      parameter.second = value;
      return;
    }
  }
  entry->parameters.emplace_back(parameter_name, value);
}

bool node_key_matches(const std::string & node_key, const std::string & fq_node_name)
{
  std::string key = (!node_key.empty() && node_key[0] == '/') ? node_key : "/" + node_key;
  // Every "/*" stands for one name token, so "/**" (one "/*" plus a repetition) stands for any
  // number of them. The rest of the key is used as a regular expression unchanged, as rclcpp does.
  std::string pattern;
  for (size_t i = 0; i < key.size(); ++i) {
    if (key[i] == '/' && i + 1 < key.size() && key[i + 1] == '*') {
      pattern += "(/\\w+)";
      ++i;
    } else {
      pattern += key[i];
    }
  }
  try {
    return std::regex_match(fq_node_name, std::regex(pattern));
  } catch (const std::regex_error &) {
    return false;
  }
}

std::map<std::string, rclcpp::ParameterValue> resolve_parameter_overrides(
  const std::string & fq_node_name,
  const std::vector<ParameterKeyOverrides> & global_overrides,
  const std::vector<ParameterKeyOverrides> & local_overrides,
  const std::vector<rclcpp::Parameter> & node_options_overrides)
{
  std::map<std::string, rclcpp::ParameterValue> result;
  for (const auto * source : {&global_overrides, &local_overrides}) {
    for (const auto & key : *source) {
      if (!node_key_matches(key.node_key, fq_node_name)) {
        continue;
      }
      for (const auto & parameter : key.parameters) {
        result[parameter.first] = parameter.second;
      }
    }
  }
  for (const auto & parameter : node_options_overrides) {
    result[parameter.get_name()] = parameter.get_parameter_value();
  }
  return result;
}

}  // namespace base
}  // namespace rclcpp

// Parameter values from YAML: -p values and parameter files, typed as rcl types them.
#include <yaml-cpp/yaml.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "base/arguments.hpp"

namespace rclcpp
{
namespace base
{

namespace
{

constexpr const char * kParametersKey = "ros__parameters";

bool is_one_of(const std::string & text, std::initializer_list<const char *> words)
{
  for (const char * word : words) {
    if (text == word) {
      return true;
    }
  }
  return false;
}

// yaml-cpp marks plain scalars "?" and quoted or block scalars "!"; an explicit !!str also means
// the author wanted a string.
bool is_quoted(const YAML::Node & node)
{
  return node.Tag() == "!" || node.Tag() == "tag:yaml.org,2002:str";
}

// yaml-cpp turns "null", "~" and an absent value alike into a Null node, but rcl sees the
// text: a written null is the string it spells, nothing at all is an error. The node's mark
// tells which, by looking at the source text there.
std::string null_spelling(const YAML::Node & node, const std::string & source)
{
  const auto pos = node.Mark().pos;
  if (pos < 0 || static_cast<size_t>(pos) >= source.size()) {
    return "";
  }
  for (const char * word : {"null", "Null", "NULL", "~"}) {
    const std::string spelling(word);
    if (source.compare(static_cast<size_t>(pos), spelling.size(), spelling) != 0) {
      continue;
    }
    const size_t end = static_cast<size_t>(pos) + spelling.size();
    if (end == source.size() || std::string(" \t\r\n,]}#").find(source[end]) != std::string::npos) {
      return spelling;
    }
  }
  return "";
}

int line_of(const YAML::Node & node)
{
  return node.Mark().line + 1;
}

// A scalar or null node typed by the rcl rules; empty text is `nullopt` (no value).
std::optional<ParameterValue> scalar_value(const YAML::Node & node, const std::string & source)
{
  if (node.IsNull()) {
    const std::string spelling = null_spelling(node, source);
    if (spelling.empty()) {
      return std::nullopt;
    }
    return parse_scalar(spelling, false);
  }
  if (!is_quoted(node) && node.Scalar().empty()) {
    return std::nullopt;
  }
  return parse_scalar(node.Scalar(), is_quoted(node));
}

template<typename T>
std::vector<T> collect(const std::vector<ParameterValue> & items)
{
  std::vector<T> out;
  out.reserve(items.size());
  for (const auto & item : items) {
    out.push_back(item.get<T>());
  }
  return out;
}

// Converts a parameter's value node. Errors are returned as text (empty = success) so that the
// two callers can say where the value came from.
std::string to_parameter_value(
  const YAML::Node & node, const std::string & source, ParameterValue & out)
{
  if (node.IsMap()) {
    return "a mapping is not a parameter value";
  }
  if (!node.IsSequence()) {
    auto value = scalar_value(node, source);
    if (!value) {
      return "no value";
    }
    out = *value;
    return "";
  }
  if (node.size() == 0) {
    return "an empty sequence has no element type to make an array of";
  }
  std::vector<ParameterValue> items;
  for (const auto & element : node) {
    if (element.IsMap() || element.IsSequence()) {
      return "array elements must be scalars (line " + std::to_string(line_of(element)) + ")";
    }
    auto value = scalar_value(element, source);
    if (!value) {
      return "array element without a value (line " + std::to_string(line_of(element)) + ")";
    }
    if (!items.empty() && value->get_type() != items.front().get_type()) {
      return "array elements must all have one type, found " +
             rclcpp::to_string(items.front().get_type()) + " and " +
             rclcpp::to_string(value->get_type());
    }
    items.push_back(*value);
  }
  switch (items.front().get_type()) {
    case PARAMETER_BOOL:
      out = ParameterValue(collect<bool>(items));
      break;
    case PARAMETER_INTEGER:
      out = ParameterValue(collect<int64_t>(items));
      break;
    case PARAMETER_DOUBLE:
      out = ParameterValue(collect<double>(items));
      break;
    case PARAMETER_STRING:
      out = ParameterValue(collect<std::string>(items));
      break;
    case PARAMETER_NOT_SET:
    case PARAMETER_BYTE_ARRAY:
    case PARAMETER_BOOL_ARRAY:
    case PARAMETER_INTEGER_ARRAY:
    case PARAMETER_DOUBLE_ARRAY:
    case PARAMETER_STRING_ARRAY:
      return "unsupported array element type";
  }
  return "";
}

// Joins the keys above ros__parameters; each key may itself carry slashes ("/ns1/node").
std::string join_node_key(const std::string & prefix, std::string key)
{
  while (!key.empty() && key.front() == '/') {
    key.erase(0, 1);
  }
  while (!key.empty() && key.back() == '/') {
    key.pop_back();
  }
  return prefix + "/" + key;
}

class ParameterFileParser
{
public:
  ParameterFileParser(
    const std::string & path, const std::string & source,
    std::vector<ParameterKeyOverrides> & out)
  : path_(path), source_(source), out_(out)
  {}

  void parse_root(const YAML::Node & root)
  {
    if (root.IsNull()) {
      return;
    }
    if (!root.IsMap()) {
      fail("the document must be a mapping of node names", root);
    }
    parse_node_level(root, "");
  }

private:
  [[noreturn]] void fail(const std::string & what, const YAML::Node & where) const
  {
    throw InvalidRosArgsError(
            "Couldn't parse params file '" + path_ + "': " + what + " (line " +
            std::to_string(line_of(where)) + ")");
  }

  void parse_node_level(const YAML::Node & map, const std::string & prefix)
  {
    for (const auto & entry : map) {
      const std::string key = entry.first.Scalar();
      const YAML::Node & value = entry.second;
      if (key == kParametersKey) {
        if (prefix.empty()) {
          fail("'" + std::string(kParametersKey) + "' must be below a node name", entry.first);
        }
        if (value.IsNull()) {
          continue;
        }
        if (!value.IsMap()) {
          fail("'" + prefix + "/" + kParametersKey + "' must be a mapping", value);
        }
        parse_parameters(value, prefix, "");
        continue;
      }
      const std::string node_key = join_node_key(prefix, key);
      if (!value.IsMap()) {
        fail("key '" + node_key + "' must hold a mapping: parameters belong under '" +
          std::string(kParametersKey) + "'", entry.first);
      }
      parse_node_level(value, node_key);
    }
  }

  void parse_parameters(
    const YAML::Node & map, const std::string & node_key, const std::string & name_prefix)
  {
    for (const auto & entry : map) {
      const std::string name = name_prefix.empty() ?
        entry.first.Scalar() : name_prefix + "." + entry.first.Scalar();
      if (entry.second.IsMap()) {
        parse_parameters(entry.second, node_key, name);
        continue;
      }
      ParameterValue value;
      const std::string error = to_parameter_value(entry.second, source_, value);
      if (!error.empty()) {
        fail("parameter '" + name + "' of '" + node_key + "': " + error, entry.first);
      }
      add_parameter_override(out_, node_key, name, value);
    }
  }

  const std::string & path_;
  const std::string & source_;
  std::vector<ParameterKeyOverrides> & out_;
};

}  // namespace

rclcpp::ParameterValue parse_scalar(const std::string & text, bool quoted)
{
  if (quoted) {
    return ParameterValue(text);
  }
  if (is_one_of(text, {"true", "True", "TRUE", "yes", "Yes", "YES", "y", "Y", "on", "On", "ON"})) {
    return ParameterValue(true);
  }
  if (is_one_of(text,
    {"false", "False", "FALSE", "no", "No", "NO", "n", "N", "off", "Off", "OFF"}))
  {
    return ParameterValue(false);
  }
  if (text.empty()) {
    return ParameterValue(text);
  }
  // strtoll/strtod with base 0 decide, exactly as rcl: "0x10" is 16, "010" is 8, "08" is the
  // double 8.0, an out-of-range integer falls through to double.
  char * end = nullptr;
  errno = 0;
  const long long integer = std::strtoll(text.c_str(), &end, 0);
  if (errno == 0 && end != text.c_str() && *end == '\0') {
    return ParameterValue(static_cast<int64_t>(integer));
  }
  if (is_one_of(text, {".nan", ".NaN", ".NAN"})) {
    return ParameterValue(std::numeric_limits<double>::quiet_NaN());
  }
  if (is_one_of(text, {".inf", ".Inf", ".INF", "+.inf", "+.Inf", "+.INF"})) {
    return ParameterValue(std::numeric_limits<double>::infinity());
  }
  if (is_one_of(text, {"-.inf", "-.Inf", "-.INF"})) {
    return ParameterValue(-std::numeric_limits<double>::infinity());
  }
  errno = 0;
  end = nullptr;
  const double real = std::strtod(text.c_str(), &end);
  if (errno == 0 && end != text.c_str() && *end == '\0') {
    return ParameterValue(real);
  }
  return ParameterValue(text);
}

rclcpp::ParameterValue parse_parameter_value(const std::string & yaml_text)
{
  YAML::Node node;
  try {
    node = YAML::Load(yaml_text);
  } catch (const YAML::Exception & e) {
    throw InvalidRosArgsError("value '" + yaml_text + "' is not valid YAML: " + e.msg);
  }
  ParameterValue value;
  const std::string error = to_parameter_value(node, yaml_text, value);
  if (!error.empty()) {
    throw InvalidRosArgsError("value '" + yaml_text + "': " + error);
  }
  return value;
}

void parse_parameter_file(const std::string & path, std::vector<ParameterKeyOverrides> & out)
{
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    throw InvalidRosArgsError("Couldn't open params file '" + path + "'");
  }
  std::stringstream buffer;
  buffer << file.rdbuf();
  if (file.bad()) {
    throw InvalidRosArgsError("Couldn't read params file '" + path + "'");
  }
  const std::string source = buffer.str();
  YAML::Node root;
  try {
    root = YAML::Load(source);
  } catch (const YAML::Exception & e) {
    throw InvalidRosArgsError(
            "Couldn't parse params file '" + path + "': " + e.msg + " (line " +
            std::to_string(e.mark.line + 1) + ")");
  }
  // The file is parsed completely before anything is merged, so a bad file leaves `out` as it was.
  std::vector<ParameterKeyOverrides> parsed;
  ParameterFileParser(path, source, parsed).parse_root(root);
  for (const auto & key : parsed) {
    for (const auto & parameter : key.parameters) {
      add_parameter_override(out, key.node_key, parameter.first, parameter.second);
    }
  }
}

}  // namespace base
}  // namespace rclcpp

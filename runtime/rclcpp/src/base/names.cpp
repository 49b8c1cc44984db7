// Name validation, expansion and remapping of nodes, namespaces, topics and services.
#include <string>
#include <utility>
#include <vector>

#include "base/arguments.hpp"

namespace rclcpp
{
namespace base
{

namespace
{

// rmw reserves 8 of DDS's 255 characters for the "rt"/"rq"/"rr" prefixes and suffixes.
constexpr size_t kMaxTopicNameLength = 247;
constexpr size_t kMaxNodeNameLength = 255;
constexpr size_t kMaxNamespaceLength = 245;

// Locale-independent on purpose: names are ASCII on the wire whatever the user's locale.
bool is_alnum(char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool is_digit(char c)
{
  return c >= '0' && c <= '9';
}

[[noreturn]] void fail(const std::string & reason, const std::string & name, size_t index)
{
  throw InvalidNameError(reason, name, index);
}

// Checks the rules shared by full topic names and namespaces: absolute, only [A-Za-z0-9_/],
// no "//", no token starting with a digit, no trailing '/' (except the root "/" where allowed).
void validate_absolute_path(
  const std::string & name, const std::string & what, bool root_allowed, size_t max_length)
{
  if (name.empty()) {
    fail(what + " must not be empty", name, 0);
  }
  if (name[0] != '/') {
    fail(what + " must be absolute, it must lead with a '/'", name, 0);
  }
  if (name == "/") {
    if (!root_allowed) {
      fail(what + " must not end with a forward slash", name, 0);
    }
    return;
  }
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (!is_alnum(c) && c != '_' && c != '/') {
      fail(what + " must not contain characters other than alphanumerics, '_', or '/'", name, i);
    }
    if (c == '/' && i + 1 < name.size() && name[i + 1] == '/') {
      fail(what + " must not contain repeated '/'", name, i + 1);
    }
    if (c == '/' && i + 1 < name.size() && is_digit(name[i + 1])) {
      fail(what + " must not have a token that starts with a number", name, i + 1);
    }
  }
  if (name.back() == '/') {
    fail(what + " must not end with a forward slash", name, name.size() - 1);
  }
  if (name.size() > max_length) {
    fail(what + " should not exceed " + std::to_string(max_length) + " characters", name,
      max_length);
  }
}

// The root namespace gets no separator of its own: "~" in "/" is "/node", not "//node".
std::string join_namespace(const std::string & namespace_, const std::string & tail)
{
  return namespace_ == "/" ? "/" + tail : namespace_ + "/" + tail;
}

bool rule_applies_to(
  const RemapRule & rule, bool is_service, const std::string & node_name)
{
  switch (rule.kind) {
    case RemapRule::Kind::TopicOrService:
      break;
    case RemapRule::Kind::TopicOnly:
      if (is_service) {
        return false;
      }
      break;
    case RemapRule::Kind::ServiceOnly:
      if (!is_service) {
        return false;
      }
      break;
    case RemapRule::Kind::NodeName:
    case RemapRule::Kind::Namespace:
      return false;
  }
  return rule.node.empty() || rule.node == node_name;
}

const RemapRule * first_rule_of_kind(
  RemapRule::Kind kind, const std::string & node_name,
  const std::vector<RemapRule> & local_rules, const std::vector<RemapRule> & global_rules)
{
  for (const auto * rules : {&local_rules, &global_rules}) {
    for (const auto & rule : *rules) {
      if (rule.kind == kind && (rule.node.empty() || rule.node == node_name)) {
        return &rule;
      }
    }
  }
  return nullptr;
}

}  // namespace

InvalidNameError::InvalidNameError(
  const std::string & reason_, const std::string & name_, size_t invalid_index_)
: std::invalid_argument(reason_ + ": '" + name_ + "'"),
  reason(reason_), name(name_), invalid_index(invalid_index_)
{}

void validate_node_name(const std::string & name)
{
  if (name.empty()) {
    fail("node name must not be empty", name, 0);
  }
  for (size_t i = 0; i < name.size(); ++i) {
    if (!is_alnum(name[i]) && name[i] != '_') {
      fail("node name must not contain characters other than alphanumerics or '_'", name, i);
    }
  }
  if (is_digit(name[0])) {
    fail("node name must not start with a number", name, 0);
  }
  if (name.size() > kMaxNodeNameLength) {
    fail("node name should not exceed " + std::to_string(kMaxNodeNameLength) + " characters",
      name, kMaxNodeNameLength);
  }
}

void validate_namespace(const std::string & namespace_)
{
  validate_absolute_path(namespace_, "namespace", true, kMaxNamespaceLength);
}

void validate_topic_name(const std::string & name)
{
  if (name.empty()) {
    fail("topic name must not be empty", name, 0);
  }
  bool in_braces = false;
  size_t brace_start = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    if (c == '~') {
      if (i != 0) {
        fail("'~' is only allowed at the beginning of a topic name", name, i);
      }
      if (name.size() > 1 && name[1] != '/') {
        fail("'~' must be followed by '/' or end the topic name", name, 1);
      }
      continue;
    }
    if (c == '{') {
      if (in_braces) {
        fail("topic name must not contain nested curly braces", name, i);
      }
      in_braces = true;
      brace_start = i;
      continue;
    }
    if (c == '}') {
      if (!in_braces) {
        fail("topic name contains an unmatched '}'", name, i);
      }
      if (i == brace_start + 1) {
        fail("topic name must not contain an empty substitution '{}'", name, i);
      }
      in_braces = false;
      continue;
    }
    if (in_braces) {
      if (!is_alnum(c) && c != '_') {
        fail("substitution must contain only alphanumerics and '_'", name, i);
      }
      if (i == brace_start + 1 && is_digit(c)) {
        fail("substitution must not start with a number", name, i);
      }
      continue;
    }
    if (!is_alnum(c) && c != '_' && c != '/') {
      fail("topic name must not contain characters other than alphanumerics, '_', '~', '{', or "
        "'}'", name, i);
    }
    if (is_digit(c) && (i == 0 || name[i - 1] == '/')) {
      fail("topic name must not have a token that starts with a number", name, i);
    }
  }
  if (in_braces) {
    fail("topic name contains an unmatched '{'", name, brace_start);
  }
  if (name.back() == '/') {
    fail("topic name must not end with a forward slash", name, name.size() - 1);
  }
}

void validate_full_topic_name(const std::string & name)
{
  validate_absolute_path(name, "topic name", false, kMaxTopicNameLength);
}

std::string expand_topic_name(
  const std::string & name, const std::string & node_name, const std::string & namespace_)
{
  if (!name.empty() && name[0] == '/' && name.find('{') == std::string::npos) {
    return name;
  }
  std::string expanded;
  size_t i = 0;
  if (!name.empty() && name[0] == '~') {
    expanded = join_namespace(namespace_, node_name);
    i = 1;
  }
  while (i < name.size()) {
    if (name[i] != '{') {
      expanded += name[i++];
      continue;
    }
    const size_t close = name.find('}', i);
    const std::string key = name.substr(i + 1, close - i - 1);
    if (key == "node") {
      expanded += node_name;
    } else if (key == "ns" || key == "namespace") {
      expanded += namespace_;
    } else {
      fail("unknown substitution '{" + key + "}'", name, i);
    }
    i = close + 1;
  }
  if (expanded.empty() || expanded[0] != '/') {
    expanded = join_namespace(namespace_, expanded);
  }
  return expanded;
}

std::string normalize_namespace(const std::string & namespace_)
{
  if (namespace_.empty()) {
    return "/";
  }
  if (namespace_[0] != '/') {
    return "/" + namespace_;
  }
  return namespace_;
}

std::string fully_qualified_name(const std::string & node_name, const std::string & namespace_)
{
  return join_namespace(normalize_namespace(namespace_), node_name);
}

std::string node_logger_name(const std::string & node_name, const std::string & namespace_)
{
  const std::string ns = normalize_namespace(namespace_);
  if (ns == "/") {
    return node_name;
  }
  std::string dotted = ns.substr(1);
  for (auto & c : dotted) {
    if (c == '/') {
      c = '.';
    }
  }
  return dotted + "." + node_name;
}

std::pair<std::string, std::string> remap_node_name(
  const std::string & node_name, const std::string & namespace_,
  const std::vector<RemapRule> & local_rules, const std::vector<RemapRule> & global_rules)
{
  std::string name = node_name;
  std::string ns = namespace_;
  if (const auto * rule =
    first_rule_of_kind(RemapRule::Kind::NodeName, name, local_rules, global_rules))
  {
    name = rule->to;
  }
  if (const auto * rule =
    first_rule_of_kind(RemapRule::Kind::Namespace, name, local_rules, global_rules))
  {
    ns = rule->to;
  }
  return {name, ns};
}

std::string resolve_name(
  const std::string & name, const std::string & node_name, const std::string & namespace_,
  bool is_service, const std::vector<RemapRule> & local_rules,
  const std::vector<RemapRule> & global_rules)
{
  validate_topic_name(name);
  std::string resolved = expand_topic_name(name, node_name, namespace_);
  bool remapped = false;
  for (const auto * rules : {&local_rules, &global_rules}) {
    for (const auto & rule : *rules) {
      if (!rule_applies_to(rule, is_service, node_name)) {
        continue;
      }
      if (expand_topic_name(rule.from, node_name, namespace_) == resolved) {
        resolved = expand_topic_name(rule.to, node_name, namespace_);
        remapped = true;
        break;
      }
    }
    if (remapped) {
      break;
    }
  }
  validate_full_topic_name(resolved);
  return resolved;
}

}  // namespace base
}  // namespace rclcpp

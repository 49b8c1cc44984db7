// The parameter override store and the choice of overrides for one node.
#include <map>
#include <string>
#include <vector>

#include "base/arguments.hpp"

namespace rclcpp
{
namespace base
{

namespace
{

// A node key is matched as rclcpp matches it with a regular expression in which every "/*"
// became "(/\w+)" (so "/**" is "(/\w+)*"): one name token, or any number of them.
struct KeyPiece
{
  enum class Kind { Literal, OneToken, AnyTokens };
  Kind kind;
  std::string text;  // for Literal
};

std::vector<KeyPiece> split_node_key(const std::string & key)
{
  std::vector<KeyPiece> pieces;
  size_t i = 0;
  while (i < key.size()) {
    if (key.compare(i, 3, "/**") == 0) {
      pieces.push_back({KeyPiece::Kind::AnyTokens, ""});
      i += 3;
    } else if (key.compare(i, 2, "/*") == 0) {
      pieces.push_back({KeyPiece::Kind::OneToken, ""});
      i += 2;
    } else {
      if (pieces.empty() || pieces.back().kind != KeyPiece::Kind::Literal) {
        pieces.push_back({KeyPiece::Kind::Literal, ""});
      }
      pieces.back().text += key[i++];
    }
  }
  return pieces;
}

bool is_word_char(char c)
{
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The ends (exclusive) of every "/\w+" that can start at `at`, longest first.
std::vector<size_t> token_ends(const std::string & name, size_t at)
{
  std::vector<size_t> ends;
  if (at >= name.size() || name[at] != '/') {
    return ends;
  }
  size_t end = at + 1;
  while (end < name.size() && is_word_char(name[end])) {
    ++end;
  }
  for (size_t candidate = end; candidate > at + 1; --candidate) {
    ends.push_back(candidate);
  }
  return ends;
}

// Backtracking match of pieces[p..] against name[n..]; names are short, so the worst case of
// backtracking does not matter.
bool match_pieces(
  const std::vector<KeyPiece> & pieces, size_t p, const std::string & name, size_t n)
{
  if (p == pieces.size()) {
    return n == name.size();
  }
  const KeyPiece & piece = pieces[p];
  switch (piece.kind) {
    case KeyPiece::Kind::Literal:
      return name.compare(n, piece.text.size(), piece.text) == 0 &&
             match_pieces(pieces, p + 1, name, n + piece.text.size());
    case KeyPiece::Kind::OneToken:
      for (size_t end : token_ends(name, n)) {
        if (match_pieces(pieces, p + 1, name, end)) {
          return true;
        }
      }
      return false;
    case KeyPiece::Kind::AnyTokens:
      if (match_pieces(pieces, p + 1, name, n)) {
        return true;
      }
      for (size_t end : token_ends(name, n)) {
        if (match_pieces(pieces, p, name, end)) {
          return true;
        }
      }
      return false;
  }
  return false;
}

}  // namespace

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
  const std::string key = (!node_key.empty() && node_key[0] == '/') ? node_key : "/" + node_key;
  return match_pieces(split_node_key(key), 0, fq_node_name, 0);
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

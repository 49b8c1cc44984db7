#include "cli.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

namespace quorvel_tools
{

namespace
{

bool looks_like_number(const std::string & text)
{
  if (text.empty()) {
    return false;
  }
  char * end = nullptr;
  std::strtod(text.c_str(), &end);
  return end != nullptr && *end == '\0';
}

[[noreturn]] void bad_value(const std::string & what, const std::string & text, const char * wanted)
{
  throw UsageError(what + ": '" + text + "' is not " + wanted);
}

}  // namespace

ArgReader::ArgReader(std::vector<std::string> args) : args_(std::move(args)) {}

bool ArgReader::next_option(std::string & name, std::optional<std::string> & inline_value)
{
  if (!has_more()) {
    return false;
  }
  const std::string & arg = args_[next_];
  if (arg == "-h" || arg == "-o") {
    name = arg == "-h" ? "help" : "output";
    ++next_;
    inline_value.reset();
    return true;
  }
  // "--" alone and negative numbers stay positional.
  if (arg.size() <= 2 || arg.compare(0, 2, "--") != 0 || looks_like_number(arg)) {
    return false;
  }
  ++next_;
  const std::size_t equals = arg.find('=');
  if (equals == std::string::npos) {
    name = arg.substr(2);
    inline_value.reset();
  } else {
    name = arg.substr(2, equals - 2);
    inline_value = arg.substr(equals + 1);
  }
  return true;
}

std::string ArgReader::option_value(
    const std::string & name, const std::optional<std::string> & inline_value)
{
  if (inline_value) {
    return *inline_value;
  }
  if (!has_more()) {
    throw UsageError("option --" + name + " needs a value");
  }
  return args_[next_++];
}

std::string ArgReader::next_positional() { return args_.at(next_++); }

std::int32_t parse_int32(const std::string & text, const std::string & what)
{
  errno = 0;
  char * end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || end == nullptr || *end != '\0' || errno == ERANGE ||
      value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    bad_value(what, text, "a 32-bit integer");
  }
  return static_cast<std::int32_t>(value);
}

std::int64_t parse_positive_count(const std::string & text, const std::string & what)
{
  errno = 0;
  char * end = nullptr;
  const long long value = std::strtoll(text.c_str(), &end, 10);
  if (text.empty() || end == nullptr || *end != '\0' || errno == ERANGE || value <= 0) {
    bad_value(what, text, "a whole number greater than 0");
  }
  return static_cast<std::int64_t>(value);
}

double parse_double(const std::string & text, const std::string & what)
{
  errno = 0;
  char * end = nullptr;
  const double value = std::strtod(text.c_str(), &end);
  if (text.empty() || end == nullptr || *end != '\0' || errno == ERANGE || !std::isfinite(value)) {
    bad_value(what, text, "a finite number");
  }
  return value;
}

double parse_positive(const std::string & text, const std::string & what)
{
  const double value = parse_double(text, what);
  if (value <= 0.0) {
    bad_value(what, text, "a number greater than 0");
  }
  return value;
}

bool parse_bool(const std::string & text, const std::string & what)
{
  if (text == "true") {
    return true;
  }
  if (text == "false") {
    return false;
  }
  bad_value(what, text, "true or false");
}

std::string check_ros_name(const std::string & name, const std::string & what)
{
  if (name.empty() || name.find_first_of(" \t\n") != std::string::npos) {
    bad_value(what, name, "a ROS name");
  }
  return name;
}

void throw_unknown_option(const std::string & name)
{
  throw UsageError("unknown option --" + name);
}

}  // namespace quorvel_tools

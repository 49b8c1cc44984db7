// Command-line plumbing shared by the sub-commands: exit codes, usage errors, an option
// reader, and checked conversions of argument text.
#ifndef QUORVEL_TOOLS__CLI_HPP_
#define QUORVEL_TOOLS__CLI_HPP_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvel_tools
{

// What the program returns.
enum class ExitCode : int
{
  kOk = 0,
  kFailure = 1,        // refused or failed: goal rejected, ROS error, something down
  kUsage = 2,          // wrong arguments
  kTimeout = 3,        // a server was not found, or no answer came, within the time limit
  kGoalLost = 4,       // the goal was lost with a restart of the program that had it
  kInterrupted = 130,  // Ctrl-C before anything could be finished
};

// Wrong arguments. The message names the argument; main prints it with the command's usage.
class UsageError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

// Walks a command's arguments (after the command word). Options are "--name value",
// "--name=value" or flags "--name"; "-h" and "--help" are the help flag, "-o" is "--output".
// Anything else, negative numbers included, is positional.
class ArgReader
{
public:
  explicit ArgReader(std::vector<std::string> args);

  // False once every argument was taken.
  bool has_more() const { return next_ < args_.size(); }

  // True (and consumes it) when the next argument is an option; `name` gets it without
  // the leading dashes, `inline_value` the text after "=" if there was one.
  bool next_option(std::string & name, std::optional<std::string> & inline_value);

  // The value of the option just read: its inline value or the next argument.
  // Throws UsageError when there is none.
  std::string option_value(
      const std::string & name, const std::optional<std::string> & inline_value);

  // The next argument as a positional one.
  std::string next_positional();

private:
  std::vector<std::string> args_;
  std::size_t next_ = 0;
};

// Checked conversions; each throws UsageError naming `what` and the offending text.
std::int32_t parse_int32(const std::string & text, const std::string & what);
std::int64_t parse_positive_count(const std::string & text, const std::string & what);
double parse_double(const std::string & text, const std::string & what);
// A finite number greater than zero.
double parse_positive(const std::string & text, const std::string & what);
// Exactly "true" or "false".
bool parse_bool(const std::string & text, const std::string & what);

// Throws UsageError unless `name` is a plausible ROS name: not empty, no blanks.
// The client library gives the exact verdict when the entity is created.
std::string check_ros_name(const std::string & name, const std::string & what);

// Thrown by an unknown option; names the option and the command.
[[noreturn]] void throw_unknown_option(const std::string & name);

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__CLI_HPP_

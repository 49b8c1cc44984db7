// The exception types of rclcpp. Names, bases and what() texts follow ROS 2 Humble's rclcpp so
// that code catching them behaves the same on both kinds of host.
#ifndef RCLCPP__EXCEPTIONS__EXCEPTIONS_HPP_
#define RCLCPP__EXCEPTIONS__EXCEPTIONS_HPP_

#include <cstddef>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "rcl/types.h"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp
{
namespace exceptions
{

/// A node handle used after the node became invalid.
class InvalidNodeError : public std::runtime_error
{
public:
  InvalidNodeError()
  : std::runtime_error("node is invalid") {}
};

/// A node name, namespace, topic or service name that failed validation. what() has three lines:
/// "Invalid <type>: <reason>:", the name in quotes, and a caret under the offending character.
class NameValidationError : public std::invalid_argument
{
public:
  RCLCPP_PUBLIC
  NameValidationError(
    const char * name_type_, const char * name_, const char * error_msg_,
    size_t invalid_index_);

  RCLCPP_PUBLIC
  static std::string format_error(
    const char * name_type, const char * name, const char * error_msg, size_t invalid_index);

  const std::string name_type;
  const std::string name;
  const std::string error_msg;
  const size_t invalid_index;
};

class InvalidNodeNameError : public NameValidationError
{
public:
  InvalidNodeNameError(const char * node_name, const char * error_msg, size_t invalid_index)
  : NameValidationError("node name", node_name, error_msg, invalid_index) {}
};

class InvalidNamespaceError : public NameValidationError
{
public:
  InvalidNamespaceError(const char * namespace_, const char * error_msg, size_t invalid_index)
  : NameValidationError("namespace", namespace_, error_msg, invalid_index) {}
};

class InvalidTopicNameError : public NameValidationError
{
public:
  InvalidTopicNameError(const char * topic_name, const char * error_msg, size_t invalid_index)
  : NameValidationError("topic name", topic_name, error_msg, invalid_index) {}
};

class InvalidServiceNameError : public NameValidationError
{
public:
  InvalidServiceNameError(const char * service_name, const char * error_msg, size_t invalid_index)
  : NameValidationError("service name", service_name, error_msg, invalid_index) {}
};

class InvalidServiceTypeError : public std::runtime_error
{
public:
  InvalidServiceTypeError()
  : std::runtime_error("Service type is invalid.") {}
  explicit InvalidServiceTypeError(const std::string & msg)
  : std::runtime_error(msg) {}
};

/// Common part of the errors that carry an rcl return code. `formatted_message` is the message,
/// followed by ", at <file>:<line>" when a source location is known.
class RCLErrorBase
{
public:
  RCLCPP_PUBLIC
  RCLErrorBase(rcl_ret_t ret, const std::string & message, const std::string & file = "",
    size_t line = 0);
  virtual ~RCLErrorBase() = default;

  rcl_ret_t ret;
  std::string message;
  std::string file;
  size_t line;
  std::string formatted_message;
};

/// A generic failure of the runtime. what() is "<prefix>: <formatted_message>", or the formatted
/// message alone when the prefix is empty.
class RCLError : public RCLErrorBase, public std::runtime_error
{
public:
  /// A failure described by one text and the generic return code RCL_RET_ERROR.
  RCLCPP_PUBLIC
  explicit RCLError(const std::string & message);
  RCLCPP_PUBLIC
  RCLError(rcl_ret_t ret, const std::string & message, const std::string & prefix);
  RCLCPP_PUBLIC
  RCLError(const RCLErrorBase & base_exc, const std::string & prefix);
};

/// Out of memory (RCL_RET_BAD_ALLOC).
class RCLBadAlloc : public RCLErrorBase, public std::bad_alloc
{
public:
  RCLCPP_PUBLIC
  RCLBadAlloc(rcl_ret_t ret, const std::string & message);
  RCLCPP_PUBLIC
  explicit RCLBadAlloc(const RCLErrorBase & base_exc);
};

/// An invalid argument (RCL_RET_INVALID_ARGUMENT).
class RCLInvalidArgument : public RCLErrorBase, public std::invalid_argument
{
public:
  RCLCPP_PUBLIC
  RCLInvalidArgument(rcl_ret_t ret, const std::string & message, const std::string & prefix);
  RCLCPP_PUBLIC
  RCLInvalidArgument(const RCLErrorBase & base_exc, const std::string & prefix);
};

/// A malformed --ros-args section (RCL_RET_INVALID_ROS_ARGS).
class RCLInvalidROSArgsError : public RCLErrorBase, public std::runtime_error
{
public:
  RCLCPP_PUBLIC
  explicit RCLInvalidROSArgsError(const std::string & message);
  RCLCPP_PUBLIC
  RCLInvalidROSArgsError(rcl_ret_t ret, const std::string & message, const std::string & prefix);
  RCLCPP_PUBLIC
  RCLInvalidROSArgsError(const RCLErrorBase & base_exc, const std::string & prefix);
};

/// Throws the exception type matching `ret` (RCLBadAlloc, RCLInvalidArgument,
/// RCLInvalidROSArgsError, else RCLError) with `message` and `prefix`.
[[noreturn]] RCLCPP_PUBLIC void throw_from_rcl_error(
  rcl_ret_t ret, const std::string & prefix, const std::string & message);

/// Flags inside a --ros-args section that the runtime does not know. what() lists them:
/// "found unknown ROS arguments: '<a>', '<b>'".
class UnknownROSArgsError : public std::runtime_error
{
public:
  RCLCPP_PUBLIC
  explicit UnknownROSArgsError(std::vector<std::string> && unknown_ros_args_in);

  const std::vector<std::string> unknown_ros_args;
};

class InvalidEventError : public std::runtime_error
{
public:
  InvalidEventError()
  : std::runtime_error("event is invalid") {}
};

class EventNotRegisteredError : public std::runtime_error
{
public:
  EventNotRegisteredError()
  : std::runtime_error("event already registered") {}
};

/// Parameters given together that are invalid as a set.
class InvalidParametersException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// A parameter value rejected (e.g. by a descriptor's range).
class InvalidParameterValueException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

/// A parameter value of the wrong type. what() is "parameter '<name>' has invalid type: <message>".
class InvalidParameterTypeException : public std::runtime_error
{
public:
  RCLCPP_PUBLIC
  InvalidParameterTypeException(const std::string & name, const std::string message);
};

/// A statically typed parameter declared without a default and never given a value; what() is
/// "parameter '<name>' is not initialized".
class ParameterUninitializedException : public std::runtime_error
{
public:
  RCLCPP_PUBLIC
  explicit ParameterUninitializedException(const std::string & name);
};

/// A statically typed parameter declared without a value and without an override to give it
/// one; what() is "Statically typed parameter '<name>' must be initialized.".
class UninitializedStaticallyTypedParameterException : public std::runtime_error
{
public:
  explicit UninitializedStaticallyTypedParameterException(const std::string & name)
  : std::runtime_error("Statically typed parameter '" + name + "' must be initialized.")
  {}
};

class ParameterAlreadyDeclaredException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

class ParameterNotDeclaredException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

class ParameterImmutableException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

class ParameterModifiedInCallbackException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

class InvalidQosOverridesException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

class QoSCheckCompatibleException : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

class UnimplementedError : public std::runtime_error
{
public:
  UnimplementedError()
  : std::runtime_error("This code is unimplemented.") {}
  explicit UnimplementedError(const std::string & msg)
  : std::runtime_error(msg) {}
};

}  // namespace exceptions
}  // namespace rclcpp

#endif  // RCLCPP__EXCEPTIONS__EXCEPTIONS_HPP_

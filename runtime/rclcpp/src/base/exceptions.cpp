// Message texts of the rclcpp exceptions.
#include "rclcpp/exceptions.hpp"

#include <string>
#include <utility>
#include <vector>

namespace rclcpp
{
namespace exceptions
{

namespace
{

std::string with_prefix(const std::string & prefix, const std::string & message)
{
  return prefix.empty() ? message : prefix + ": " + message;
}

std::string join_quoted(const std::vector<std::string> & items)
{
  std::string joined;
  for (size_t i = 0; i < items.size(); ++i) {
    joined += (i == 0 ? "'" : ", '") + items[i] + "'";
  }
  return joined;
}

}  // namespace

NameValidationError::NameValidationError(
  const char * name_type_, const char * name_, const char * error_msg_, size_t invalid_index_)
: std::invalid_argument(format_error(name_type_, name_, error_msg_, invalid_index_)),
  name_type(name_type_), name(name_), error_msg(error_msg_), invalid_index(invalid_index_)
{}

std::string NameValidationError::format_error(
  const char * name_type, const char * name, const char * error_msg, size_t invalid_index)
{
  return std::string("Invalid ") + name_type + ": " + error_msg + ":\n" +
         "  '" + name + "'\n" +
         "   " + std::string(invalid_index, ' ') + "^\n";
}

RCLErrorBase::RCLErrorBase(
  rcl_ret_t ret_, const std::string & message_, const std::string & file_, size_t line_)
: ret(ret_), message(message_), file(file_), line(line_),
  formatted_message(file_.empty() ? message_ :
    message_ + ", at " + file_ + ":" + std::to_string(line_))
{}

RCLError::RCLError(const std::string & message)
: RCLErrorBase(RCL_RET_ERROR, message), std::runtime_error(message)
{}

RCLError::RCLError(rcl_ret_t ret, const std::string & message, const std::string & prefix)
: RCLError(RCLErrorBase(ret, message), prefix)
{}

RCLError::RCLError(const RCLErrorBase & base_exc, const std::string & prefix)
: RCLErrorBase(base_exc), std::runtime_error(with_prefix(prefix, base_exc.formatted_message))
{}

RCLBadAlloc::RCLBadAlloc(rcl_ret_t ret, const std::string & message)
: RCLBadAlloc(RCLErrorBase(ret, message))
{}

RCLBadAlloc::RCLBadAlloc(const RCLErrorBase & base_exc)
: RCLErrorBase(base_exc), std::bad_alloc()
{}

RCLInvalidArgument::RCLInvalidArgument(
  rcl_ret_t ret, const std::string & message, const std::string & prefix)
: RCLInvalidArgument(RCLErrorBase(ret, message), prefix)
{}

RCLInvalidArgument::RCLInvalidArgument(const RCLErrorBase & base_exc, const std::string & prefix)
: RCLErrorBase(base_exc), std::invalid_argument(with_prefix(prefix, base_exc.formatted_message))
{}

RCLInvalidROSArgsError::RCLInvalidROSArgsError(const std::string & message)
: RCLErrorBase(RCL_RET_INVALID_ROS_ARGS, message), std::runtime_error(message)
{}

RCLInvalidROSArgsError::RCLInvalidROSArgsError(
  rcl_ret_t ret, const std::string & message, const std::string & prefix)
: RCLInvalidROSArgsError(RCLErrorBase(ret, message), prefix)
{}

RCLInvalidROSArgsError::RCLInvalidROSArgsError(
  const RCLErrorBase & base_exc, const std::string & prefix)
: RCLErrorBase(base_exc), std::runtime_error(with_prefix(prefix, base_exc.formatted_message))
{}

void throw_from_rcl_error(rcl_ret_t ret, const std::string & prefix, const std::string & message)
{
  const RCLErrorBase base(ret, message);
  switch (ret) {
    case RCL_RET_BAD_ALLOC:
      throw RCLBadAlloc(base);
    case RCL_RET_INVALID_ARGUMENT:
      throw RCLInvalidArgument(base, prefix);
    case RCL_RET_INVALID_ROS_ARGS:
      throw RCLInvalidROSArgsError(base, prefix);
    default:
      throw RCLError(base, prefix);
  }
}

UnknownROSArgsError::UnknownROSArgsError(std::vector<std::string> && unknown_ros_args_in)
: std::runtime_error("found unknown ROS arguments: " + join_quoted(unknown_ros_args_in)),
  unknown_ros_args(std::move(unknown_ros_args_in))
{}

InvalidParameterTypeException::InvalidParameterTypeException(
  const std::string & name, const std::string message)
: std::runtime_error("parameter '" + name + "' has invalid type: " + message)
{}

ParameterUninitializedException::ParameterUninitializedException(const std::string & name)
: std::runtime_error("parameter '" + name + "' is not initialized")
{}

}  // namespace exceptions
}  // namespace rclcpp

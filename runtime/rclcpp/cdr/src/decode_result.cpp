#include <string>

#include "rclcpp_cdr/codec.hpp"

namespace rclcpp_cdr
{
namespace
{

const char * describe(DecodeError error)
{
  switch (error) {
    case DecodeError::None:
      return "no error";
    case DecodeError::BadHeader:
      return "missing or unknown encapsulation header";
    case DecodeError::Truncated:
      return "input ends inside a field";
    case DecodeError::BadLength:
      return "length larger than the remaining input";
    case DecodeError::BoundExceeded:
      return "length above the field's bound";
    case DecodeError::BadString:
      return "string without NUL terminator";
    case DecodeError::BadBool:
      return "bool byte neither 0 nor 1";
    case DecodeError::UnsupportedType:
      return "message type the codec cannot handle";
  }
  return "unknown error";
}

}  // namespace

std::string DecodeResult::message() const
{
  std::string text = describe(error);
  if (error == DecodeError::None) {
    return text;
  }
  text += " at offset " + std::to_string(offset);
  if (!field.empty()) {
    text += " (" + field + ")";
  }
  return text;
}

}  // namespace rclcpp_cdr

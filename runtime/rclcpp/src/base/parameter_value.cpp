// ParameterValue construction, comparison and text forms.
#include "rclcpp/parameter_value.hpp"

#include <ios>
#include <stdexcept>
#include <sstream>
#include <string>
#include <vector>

namespace rclcpp
{

namespace
{

template<typename T, typename Shown = T>
std::string array_to_string(
  const std::vector<T> & items, std::ios::fmtflags flags = std::ios::dec)
{
  std::ostringstream out;
  out.flags(flags);
  out << "[";
  for (size_t i = 0; i < items.size(); ++i) {
    if (i != 0) {
      out << ", ";
    }
    out << static_cast<Shown>(items[i]);
  }
  out << "]";
  return out.str();
}

}  // namespace

std::string to_string(ParameterType type)
{
  switch (type) {
    case PARAMETER_NOT_SET:
      return "not set";
    case PARAMETER_BOOL:
      return "bool";
    case PARAMETER_INTEGER:
      return "integer";
    case PARAMETER_DOUBLE:
      return "double";
    case PARAMETER_STRING:
      return "string";
    case PARAMETER_BYTE_ARRAY:
      return "byte_array";
    case PARAMETER_BOOL_ARRAY:
      return "bool_array";
    case PARAMETER_INTEGER_ARRAY:
      return "integer_array";
    case PARAMETER_DOUBLE_ARRAY:
      return "double_array";
    case PARAMETER_STRING_ARRAY:
      return "string_array";
  }
  return "unknown type";
}

std::ostream & operator<<(std::ostream & os, ParameterType type)
{
  return os << rclcpp::to_string(type);
}

ParameterTypeException::ParameterTypeException(ParameterType expected, ParameterType actual)
: std::runtime_error(
    "expected [" + rclcpp::to_string(expected) + "] got [" + rclcpp::to_string(actual) + "]")
{}

ParameterValue::ParameterValue() = default;
ParameterValue::ParameterValue(const bool bool_value)
: value_(std::in_place_index<PARAMETER_BOOL>, bool_value) {}
ParameterValue::ParameterValue(const int int_value)
: value_(std::in_place_index<PARAMETER_INTEGER>, int_value) {}
ParameterValue::ParameterValue(const int64_t int_value)
: value_(std::in_place_index<PARAMETER_INTEGER>, int_value) {}
ParameterValue::ParameterValue(const float double_value)
: value_(std::in_place_index<PARAMETER_DOUBLE>, double_value) {}
ParameterValue::ParameterValue(const double double_value)
: value_(std::in_place_index<PARAMETER_DOUBLE>, double_value) {}
ParameterValue::ParameterValue(const std::string & string_value)
: value_(std::in_place_index<PARAMETER_STRING>, string_value) {}
ParameterValue::ParameterValue(const char * string_value)
: value_(std::in_place_index<PARAMETER_STRING>, string_value) {}
ParameterValue::ParameterValue(const std::vector<uint8_t> & byte_array_value)
: value_(std::in_place_index<PARAMETER_BYTE_ARRAY>, byte_array_value) {}
ParameterValue::ParameterValue(const std::vector<bool> & bool_array_value)
: value_(std::in_place_index<PARAMETER_BOOL_ARRAY>, bool_array_value) {}
ParameterValue::ParameterValue(const std::vector<int> & int_array_value)
: value_(std::in_place_index<PARAMETER_INTEGER_ARRAY>, int_array_value.begin(),
    int_array_value.end()) {}
ParameterValue::ParameterValue(const std::vector<int64_t> & int_array_value)
: value_(std::in_place_index<PARAMETER_INTEGER_ARRAY>, int_array_value) {}
ParameterValue::ParameterValue(const std::vector<float> & double_array_value)
: value_(std::in_place_index<PARAMETER_DOUBLE_ARRAY>, double_array_value.begin(),
    double_array_value.end()) {}
ParameterValue::ParameterValue(const std::vector<double> & double_array_value)
: value_(std::in_place_index<PARAMETER_DOUBLE_ARRAY>, double_array_value) {}
ParameterValue::ParameterValue(const std::vector<std::string> & string_array_value)
: value_(std::in_place_index<PARAMETER_STRING_ARRAY>, string_array_value) {}

ParameterValue::ParameterValue(const rcl_interfaces::msg::ParameterValue & value)
{
  // The enumeration and the message share their numbers, so the switch is over the wire value.
  switch (value.type) {
    case PARAMETER_NOT_SET:
      break;
    case PARAMETER_BOOL:
      value_.emplace<PARAMETER_BOOL>(value.bool_value);
      break;
    case PARAMETER_INTEGER:
      value_.emplace<PARAMETER_INTEGER>(value.integer_value);
      break;
    case PARAMETER_DOUBLE:
      value_.emplace<PARAMETER_DOUBLE>(value.double_value);
      break;
    case PARAMETER_STRING:
      value_.emplace<PARAMETER_STRING>(value.string_value);
      break;
    case PARAMETER_BYTE_ARRAY:
      value_.emplace<PARAMETER_BYTE_ARRAY>(value.byte_array_value);
      break;
    case PARAMETER_BOOL_ARRAY:
      value_.emplace<PARAMETER_BOOL_ARRAY>(value.bool_array_value);
      break;
    case PARAMETER_INTEGER_ARRAY:
      value_.emplace<PARAMETER_INTEGER_ARRAY>(value.integer_array_value);
      break;
    case PARAMETER_DOUBLE_ARRAY:
      value_.emplace<PARAMETER_DOUBLE_ARRAY>(value.double_array_value);
      break;
    case PARAMETER_STRING_ARRAY:
      value_.emplace<PARAMETER_STRING_ARRAY>(value.string_array_value);
      break;
    default:
      throw std::runtime_error("Unknown type: " + std::to_string(value.type));
  }
}

ParameterType ParameterValue::get_type() const
{
  return static_cast<ParameterType>(value_.index());
}

rcl_interfaces::msg::ParameterValue ParameterValue::to_value_msg() const
{
  rcl_interfaces::msg::ParameterValue msg;
  msg.type = get_type();
  switch (get_type()) {
    case PARAMETER_NOT_SET:
      break;
    case PARAMETER_BOOL:
      msg.bool_value = get<PARAMETER_BOOL>();
      break;
    case PARAMETER_INTEGER:
      msg.integer_value = get<PARAMETER_INTEGER>();
      break;
    case PARAMETER_DOUBLE:
      msg.double_value = get<PARAMETER_DOUBLE>();
      break;
    case PARAMETER_STRING:
      msg.string_value = get<PARAMETER_STRING>();
      break;
    case PARAMETER_BYTE_ARRAY:
      msg.byte_array_value = get<PARAMETER_BYTE_ARRAY>();
      break;
    case PARAMETER_BOOL_ARRAY:
      msg.bool_array_value = get<PARAMETER_BOOL_ARRAY>();
      break;
    case PARAMETER_INTEGER_ARRAY:
      msg.integer_array_value = get<PARAMETER_INTEGER_ARRAY>();
      break;
    case PARAMETER_DOUBLE_ARRAY:
      msg.double_array_value = get<PARAMETER_DOUBLE_ARRAY>();
      break;
    case PARAMETER_STRING_ARRAY:
      msg.string_array_value = get<PARAMETER_STRING_ARRAY>();
      break;
  }
  return msg;
}

bool ParameterValue::operator==(const ParameterValue & rhs) const
{
  return value_ == rhs.value_;
}

bool ParameterValue::operator!=(const ParameterValue & rhs) const
{
  return !(*this == rhs);
}

std::string to_string(const ParameterValue & value)
{
  switch (value.get_type()) {
    case PARAMETER_NOT_SET:
      return "not set";
    case PARAMETER_BOOL:
      return value.get<bool>() ? "true" : "false";
    case PARAMETER_INTEGER:
      return std::to_string(value.get<int64_t>());
    case PARAMETER_DOUBLE:
      return std::to_string(value.get<double>());
    case PARAMETER_STRING:
      return value.get<std::string>();
    case PARAMETER_BYTE_ARRAY:
      return array_to_string<uint8_t, int>(value.get<std::vector<uint8_t>>());
    case PARAMETER_BOOL_ARRAY:
      return array_to_string(value.get<std::vector<bool>>(), std::ios::boolalpha);
    case PARAMETER_INTEGER_ARRAY:
      return array_to_string(value.get<std::vector<int64_t>>());
    case PARAMETER_DOUBLE_ARRAY:
      return array_to_string(value.get<std::vector<double>>());
    case PARAMETER_STRING_ARRAY:
      return array_to_string(value.get<std::vector<std::string>>());
  }
  return "unknown type";
}

}  // namespace rclcpp

// ParameterType and ParameterValue: one typed parameter value, as in ROS 2 Humble's rclcpp.
// Values are plain data: safe to copy between threads, not synchronised themselves.
#ifndef RCLCPP__PARAMETER_VALUE_HPP_
#define RCLCPP__PARAMETER_VALUE_HPP_

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "rcl_interfaces/msg/parameter_type.hpp"
#include "rcl_interfaces/msg/parameter_value.hpp"
#include "rclcpp/exceptions/exceptions.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp
{

/// The ten parameter types; the numbers are those of rcl_interfaces/msg/ParameterType.
enum ParameterType : uint8_t
{
  PARAMETER_NOT_SET = 0,
  PARAMETER_BOOL = 1,
  PARAMETER_INTEGER = 2,
  PARAMETER_DOUBLE = 3,
  PARAMETER_STRING = 4,
  PARAMETER_BYTE_ARRAY = 5,
  PARAMETER_BOOL_ARRAY = 6,
  PARAMETER_INTEGER_ARRAY = 7,
  PARAMETER_DOUBLE_ARRAY = 8,
  PARAMETER_STRING_ARRAY = 9,
};

/// "not set", "bool", "integer", "double", "string", "byte_array", "bool_array",
/// "integer_array", "double_array", "string_array" ("unknown type" for anything else).
RCLCPP_PUBLIC
std::string to_string(ParameterType type);

RCLCPP_PUBLIC
std::ostream & operator<<(std::ostream & os, ParameterType type);

/// Reading a value as a type it does not hold. what() is "expected [<type>] got [<type>]".
class ParameterTypeException : public std::runtime_error
{
public:
  RCLCPP_PUBLIC
  ParameterTypeException(ParameterType expected, ParameterType actual);
};

namespace detail
{
/// The C++ type stored for each ParameterType.
template<ParameterType T>
struct parameter_storage;
template<>
struct parameter_storage<PARAMETER_BOOL> {using type = bool;};
template<>
struct parameter_storage<PARAMETER_INTEGER> {using type = int64_t;};
template<>
struct parameter_storage<PARAMETER_DOUBLE> {using type = double;};
template<>
struct parameter_storage<PARAMETER_STRING> {using type = std::string;};
template<>
struct parameter_storage<PARAMETER_BYTE_ARRAY> {using type = std::vector<uint8_t>;};
template<>
struct parameter_storage<PARAMETER_BOOL_ARRAY> {using type = std::vector<bool>;};
template<>
struct parameter_storage<PARAMETER_INTEGER_ARRAY> {using type = std::vector<int64_t>;};
template<>
struct parameter_storage<PARAMETER_DOUBLE_ARRAY> {using type = std::vector<double>;};
template<>
struct parameter_storage<PARAMETER_STRING_ARRAY> {using type = std::vector<std::string>;};

template<typename T>
struct always_false : std::false_type {};
}  // namespace detail

class ParameterValue
{
public:
  /// A value of type PARAMETER_NOT_SET.
  RCLCPP_PUBLIC
  ParameterValue();
  /// The value a message carries; throws std::runtime_error "Unknown type: <n>" for a type
  /// number outside rcl_interfaces/msg/ParameterType.
  RCLCPP_PUBLIC
  explicit ParameterValue(const rcl_interfaces::msg::ParameterValue & value);
  RCLCPP_PUBLIC
  explicit ParameterValue(const bool bool_value);
  RCLCPP_PUBLIC
  explicit ParameterValue(const int int_value);
  RCLCPP_PUBLIC
  explicit ParameterValue(const int64_t int_value);
  RCLCPP_PUBLIC
  explicit ParameterValue(const float double_value);
  RCLCPP_PUBLIC
  explicit ParameterValue(const double double_value);
  RCLCPP_PUBLIC
  explicit ParameterValue(const std::string & string_value);
  RCLCPP_PUBLIC
  explicit ParameterValue(const char * string_value);
  RCLCPP_PUBLIC
  explicit ParameterValue(const std::vector<uint8_t> & byte_array_value);
  RCLCPP_PUBLIC
  explicit ParameterValue(const std::vector<bool> & bool_array_value);
  RCLCPP_PUBLIC
  explicit ParameterValue(const std::vector<int> & int_array_value);
  RCLCPP_PUBLIC
  explicit ParameterValue(const std::vector<int64_t> & int_array_value);
  RCLCPP_PUBLIC
  explicit ParameterValue(const std::vector<float> & double_array_value);
  RCLCPP_PUBLIC
  explicit ParameterValue(const std::vector<double> & double_array_value);
  RCLCPP_PUBLIC
  explicit ParameterValue(const std::vector<std::string> & string_array_value);

  RCLCPP_PUBLIC
  ParameterType get_type() const;

  /// The value as a message: `type` and the one field of that type.
  RCLCPP_PUBLIC
  rcl_interfaces::msg::ParameterValue to_value_msg() const;

  /// Equal when both type and value are equal.
  RCLCPP_PUBLIC
  bool operator==(const ParameterValue & rhs) const;
  RCLCPP_PUBLIC
  bool operator!=(const ParameterValue & rhs) const;

  /// The stored value by ParameterType; throws ParameterTypeException if the type differs.
  template<ParameterType type>
  const typename detail::parameter_storage<type>::type & get() const
  {
    if (get_type() != type) {
      throw ParameterTypeException(type, get_type());
    }
    return std::get<static_cast<size_t>(type)>(value_);
  }

  /// The stored value by C++ type: bool; any other integral type reads the int64_t; float or
  /// double read the double; anything convertible to std::string reads the string; vectors of
  /// uint8_t, bool, int/int64_t, float/double and std::string read the matching array;
  /// ParameterValue returns *this. Throws ParameterTypeException if the type differs.
  template<typename T>
  decltype(auto) get() const
  {
    using U = std::remove_cv_t<std::remove_reference_t<T>>;
    if constexpr (std::is_same_v<U, ParameterValue>) {
      return static_cast<const ParameterValue &>(*this);
    } else if constexpr (std::is_same_v<U, bool>) {
      return get<PARAMETER_BOOL>();
    } else if constexpr (std::is_integral_v<U>) {
      return get<PARAMETER_INTEGER>();
    } else if constexpr (std::is_floating_point_v<U>) {
      return get<PARAMETER_DOUBLE>();
    } else if constexpr (std::is_convertible_v<U, std::string>) {
      return get<PARAMETER_STRING>();
    } else if constexpr (std::is_convertible_v<U, const std::vector<uint8_t> &>) {
      return get<PARAMETER_BYTE_ARRAY>();
    } else if constexpr (std::is_convertible_v<U, const std::vector<bool> &>) {
      return get<PARAMETER_BOOL_ARRAY>();
    } else if constexpr (std::is_convertible_v<U, const std::vector<int> &> ||
      std::is_convertible_v<U, const std::vector<int64_t> &>)
    {
      return get<PARAMETER_INTEGER_ARRAY>();
    } else if constexpr (std::is_convertible_v<U, const std::vector<float> &> ||
      std::is_convertible_v<U, const std::vector<double> &>)
    {
      return get<PARAMETER_DOUBLE_ARRAY>();
    } else if constexpr (std::is_convertible_v<U, const std::vector<std::string> &>) {
      return get<PARAMETER_STRING_ARRAY>();
    } else {
      static_assert(detail::always_false<U>::value, "type not supported by ParameterValue::get");
    }
  }

private:
  // The alternative index is the ParameterType.
  std::variant<
    std::monostate, bool, int64_t, double, std::string, std::vector<uint8_t>, std::vector<bool>,
    std::vector<int64_t>, std::vector<double>, std::vector<std::string>> value_;
};

/// The value as text: "not set"; "true"/"false"; integers in decimal; doubles as std::to_string
/// does; strings as they are; arrays as "[a, b, c]" (doubles there in default stream format).
RCLCPP_PUBLIC
std::string to_string(const ParameterValue & type);

}  // namespace rclcpp

#endif  // RCLCPP__PARAMETER_VALUE_HPP_

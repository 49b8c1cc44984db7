// rclcpp::Parameter: a named ParameterValue, as in ROS 2 Humble's rclcpp. Plain data.
#ifndef RCLCPP__PARAMETER_HPP_
#define RCLCPP__PARAMETER_HPP_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "rcl_interfaces/msg/parameter.hpp"
#include "rclcpp/exceptions/exceptions.hpp"
#include "rclcpp/parameter_value.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp
{

class Parameter
{
public:
  /// Empty name, value not set.
  RCLCPP_PUBLIC
  Parameter();
  /// Value not set.
  RCLCPP_PUBLIC
  explicit Parameter(const std::string & name);
  RCLCPP_PUBLIC
  Parameter(const std::string & name, const ParameterValue & value);

  /// Any type ParameterValue has a constructor for.
  template<typename ValueTypeT>
  Parameter(const std::string & name, ValueTypeT value)
  : Parameter(name, ParameterValue(value))
  {}

  RCLCPP_PUBLIC
  bool operator==(const Parameter & rhs) const;
  RCLCPP_PUBLIC
  bool operator!=(const Parameter & rhs) const;

  RCLCPP_PUBLIC
  ParameterType get_type() const;
  /// rclcpp::to_string(get_type()).
  RCLCPP_PUBLIC
  std::string get_type_name() const;
  RCLCPP_PUBLIC
  const std::string & get_name() const;
  RCLCPP_PUBLIC
  const rclcpp::ParameterValue & get_parameter_value() const;

  /// The value as a message.
  RCLCPP_PUBLIC
  rcl_interfaces::msg::ParameterValue get_value_message() const;

  /// The value by ParameterType; throws exceptions::InvalidParameterTypeException naming the
  /// parameter if the type differs.
  template<ParameterType ParamT>
  decltype(auto) get_value() const
  {
    try {
      return value_.get<ParamT>();
    } catch (const ParameterTypeException & ex) {
      throw exceptions::InvalidParameterTypeException(name_, ex.what());
    }
  }

  /// The value by C++ type (the rules of ParameterValue::get<T>; rclcpp::Parameter gives *this);
  /// throws exceptions::InvalidParameterTypeException naming the parameter if the type differs.
  template<typename T>
  decltype(auto) get_value() const
  {
    if constexpr (std::is_same_v<std::remove_cv_t<std::remove_reference_t<T>>, Parameter>) {
      return static_cast<const Parameter &>(*this);
    } else {
      try {
        return value_.get<T>();
      } catch (const ParameterTypeException & ex) {
        throw exceptions::InvalidParameterTypeException(name_, ex.what());
      }
    }
  }

  /// Typed accessors; each throws exceptions::InvalidParameterTypeException on a type mismatch.
  RCLCPP_PUBLIC
  bool as_bool() const;
  RCLCPP_PUBLIC
  int64_t as_int() const;
  RCLCPP_PUBLIC
  double as_double() const;
  RCLCPP_PUBLIC
  const std::string & as_string() const;
  RCLCPP_PUBLIC
  const std::vector<uint8_t> & as_byte_array() const;
  RCLCPP_PUBLIC
  const std::vector<bool> & as_bool_array() const;
  RCLCPP_PUBLIC
  const std::vector<int64_t> & as_integer_array() const;
  RCLCPP_PUBLIC
  const std::vector<double> & as_double_array() const;
  RCLCPP_PUBLIC
  const std::vector<std::string> & as_string_array() const;

  /// rclcpp::to_string(get_parameter_value()).
  RCLCPP_PUBLIC
  std::string value_to_string() const;

  /// The parameter a message carries; throws std::runtime_error for an unknown value type.
  RCLCPP_PUBLIC
  static Parameter from_parameter_msg(const rcl_interfaces::msg::Parameter & parameter);

  /// The parameter as a message.
  RCLCPP_PUBLIC
  rcl_interfaces::msg::Parameter to_parameter_msg() const;

private:
  std::string name_;
  ParameterValue value_;
};

/// "<name>": {"type": "<type>", "value": "<value>"}
RCLCPP_PUBLIC
std::string _to_json_dict_entry(const Parameter & param);

/// {"name": "<name>", "type": "<type>", "value": "<value>"}
RCLCPP_PUBLIC
std::ostream & operator<<(std::ostream & os, const rclcpp::Parameter & pv);

/// The parameters as a JSON-like object: {<entry>, <entry>}.
RCLCPP_PUBLIC
std::ostream & operator<<(std::ostream & os, const std::vector<Parameter> & parameters);

}  // namespace rclcpp

#endif  // RCLCPP__PARAMETER_HPP_

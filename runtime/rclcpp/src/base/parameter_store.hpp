// A node's declared parameters: values with their descriptors, the overrides they start from, and
// the rules of ROS 2 Humble's rclcpp for declaring, setting, reading, describing and listing
// them. Plain data without locking or DDS: the node serialises calls and publishes the
// parameter events these functions fill in.
#ifndef RCLCPP__BASE__PARAMETER_STORE_HPP_
#define RCLCPP__BASE__PARAMETER_STORE_HPP_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "rcl_interfaces/msg/list_parameters_result.hpp"
#include "rcl_interfaces/msg/parameter_descriptor.hpp"
#include "rcl_interfaces/msg/parameter_event.hpp"
#include "rcl_interfaces/msg/set_parameters_result.hpp"
#include "rclcpp/parameter.hpp"
#include "rclcpp/parameter_value.hpp"

namespace rclcpp
{
namespace base
{

struct ParameterInfo
{
  rclcpp::ParameterValue value;
  rcl_interfaces::msg::ParameterDescriptor descriptor;
};

class ParameterStore
{
public:
  /// A check every new value passes before it is stored (declare and set alike), after the
  /// type and range checks; an unsuccessful result refuses the whole set with its reason.
  using Check = std::function<rcl_interfaces::msg::SetParametersResult(
        const std::vector<rclcpp::Parameter> &)>;

  ParameterStore(std::map<std::string, rclcpp::ParameterValue> overrides, bool allow_undeclared);

  /// Declares `name` with its override (unless `ignore_override`) or `default_value`. `type`
  /// fixes the type of a parameter declared without a value; PARAMETER_NOT_SET takes the
  /// value's. A parameter declared with a value adds it to `event.new_parameters`. Throws as
  /// rclcpp does: ParameterAlreadyDeclaredException, InvalidParametersException (empty name),
  /// InvalidParameterTypeException (statically typed without a value, or an override of
  /// another type), InvalidParameterValueException (out of range, refused by a check).
  const rclcpp::ParameterValue & declare(
    const std::string & name, rclcpp::ParameterType type,
    const rclcpp::ParameterValue & default_value,
    const rcl_interfaces::msg::ParameterDescriptor & descriptor, bool ignore_override,
    rcl_interfaces::msg::ParameterEvent & event);

  /// Throws ParameterNotDeclaredException, ParameterImmutableException (read-only) or
  /// InvalidParameterTypeException (statically typed). Publishes nothing, as in rclcpp.
  void undeclare(const std::string & name);

  bool has(const std::string & name) const;

  /// Sets all or none. A refusal (read-only, wrong type, out of range, a check) is an
  /// unsuccessful result with rclcpp's reason; an undeclared name (when undeclared parameters
  /// are not allowed) throws ParameterNotDeclaredException, an empty name
  /// InvalidParametersException. On success `event` lists what was declared (new), set
  /// (changed) and undeclared by a value of PARAMETER_NOT_SET (deleted).
  rcl_interfaces::msg::SetParametersResult set_atomically(
    const std::vector<rclcpp::Parameter> & parameters, rcl_interfaces::msg::ParameterEvent & event);

  /// Declared values, PARAMETER_NOT_SET for undeclared names when those are allowed; throws
  /// ParameterNotDeclaredException otherwise.
  std::vector<rclcpp::Parameter> get_parameters(const std::vector<std::string> & names) const;
  /// Throws ParameterNotDeclaredException, or ParameterUninitializedException for a statically
  /// typed parameter declared without a value.
  rclcpp::Parameter get_parameter(const std::string & name) const;
  /// False for an undeclared parameter or one without a value.
  bool get_parameter(const std::string & name, rclcpp::Parameter & parameter) const;

  /// Same convention as get_parameters: defaults for undeclared names when those are allowed.
  std::vector<rcl_interfaces::msg::ParameterDescriptor> describe(
    const std::vector<std::string> & names) const;
  std::vector<uint8_t> types(const std::vector<std::string> & names) const;

  /// The names under any of `prefixes` (all with none), at most `depth` levels of "." below the
  /// prefix (0 = any depth), with the prefixes of the names found.
  rcl_interfaces::msg::ListParametersResult list(
    const std::vector<std::string> & prefixes, uint64_t depth) const;

  /// Every declared name, sorted.
  std::vector<std::string> names() const;

  const std::map<std::string, rclcpp::ParameterValue> & overrides() const {return overrides_;}

  void add_check(Check check) {checks_.push_back(std::move(check));}

private:
  rcl_interfaces::msg::SetParametersResult run_checks(
    const std::vector<rclcpp::Parameter> & parameters) const;
  rcl_interfaces::msg::SetParametersResult check_and_store(
    const std::vector<rclcpp::Parameter> & parameters, std::map<std::string, ParameterInfo> & into,
    bool run_user_checks) const;
  rcl_interfaces::msg::SetParametersResult declare_into(
    const std::string & name, const rclcpp::ParameterValue & default_value,
    const rcl_interfaces::msg::ParameterDescriptor & descriptor,
    std::map<std::string, ParameterInfo> & into, bool run_user_checks, bool ignore_override,
    rcl_interfaces::msg::ParameterEvent & event) const;

  std::map<std::string, ParameterInfo> parameters_;
  std::map<std::string, rclcpp::ParameterValue> overrides_;
  bool allow_undeclared_;
  std::vector<Check> checks_;
};

/// rclcpp's reason for a value of the wrong type.
std::string wrong_type_reason(
  const std::string & name, rclcpp::ParameterType declared, rclcpp::ParameterType given);

}  // namespace base
}  // namespace rclcpp

#endif  // RCLCPP__BASE__PARAMETER_STORE_HPP_

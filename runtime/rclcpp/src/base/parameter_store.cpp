// The parameter rules of ROS 2 Humble's rclcpp: the reasons given for a refused value are the
// ones its tools print, so they are kept word for word.
#include "base/parameter_store.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "rcl_interfaces/srv/list_parameters.hpp"
#include "rclcpp/exceptions/exceptions.hpp"

namespace rclcpp
{
namespace base
{

namespace
{

using rcl_interfaces::msg::ParameterDescriptor;
using rcl_interfaces::msg::SetParametersResult;

constexpr char kWrongTypePrefix[] = "Wrong parameter type";
// Parameter names form a hierarchy with this separator, for listing.
constexpr char kSeparator = '.';
constexpr uint64_t kAnyDepth = rcl_interfaces::srv::ListParameters::Request::DEPTH_RECURSIVE;

SetParametersResult success()
{
  SetParametersResult result;
  result.successful = true;
  return result;
}

SetParametersResult failure(std::string reason)
{
  SetParametersResult result;
  result.successful = false;
  result.reason = std::move(reason);
  return result;
}

// Within 100 ulp of each other, scaled by their magnitude: a range's end points and steps are
// decimal numbers that binary doubles only approximate.
bool nearly_equal(double x, double y)
{
  return std::abs(x - y) <= std::numeric_limits<double>::epsilon() * std::abs(x + y) * 100.0;
}

std::string range_reason(const std::string & name, const char * kind)
{
  return "Parameter {" + name + "} doesn't comply with " + kind + " range.";
}

SetParametersResult check_range(
  const ParameterDescriptor & descriptor, const rclcpp::ParameterValue & value)
{
  if (!descriptor.integer_range.empty() && value.get_type() == PARAMETER_INTEGER) {
    const int64_t v = value.get<PARAMETER_INTEGER>();
    const auto & range = descriptor.integer_range.front();
    if (v == range.from_value || v == range.to_value) {
      return success();
    }
    if (v < range.from_value || v > range.to_value) {
      return failure(range_reason(descriptor.name, "integer"));
    }
    // Unsigned arithmetic: v - from can exceed INT64_MAX when the range is wide.
    if (range.step == 0 ||
      (static_cast<uint64_t>(v) - static_cast<uint64_t>(range.from_value)) % range.step == 0)
    {
      return success();
    }
    return failure(range_reason(descriptor.name, "integer"));
  }
  if (!descriptor.floating_point_range.empty() && value.get_type() == PARAMETER_DOUBLE) {
    const double v = value.get<PARAMETER_DOUBLE>();
    const auto & range = descriptor.floating_point_range.front();
    if (nearly_equal(v, range.from_value) || nearly_equal(v, range.to_value)) {
      return success();
    }
    if (v < range.from_value || v > range.to_value) {
      return failure(range_reason(descriptor.name, "floating point"));
    }
    if (range.step == 0.0) {
      return success();
    }
    const double steps = std::round((v - range.from_value) / range.step);
    if (nearly_equal(v, range.from_value + steps * range.step)) {
      return success();
    }
    return failure(range_reason(descriptor.name, "floating point"));
  }
  return success();
}

bool starts_with(const std::string & text, const char * prefix)
{
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

std::string wrong_type_reason(
  const std::string & name, rclcpp::ParameterType declared, rclcpp::ParameterType given)
{
  return std::string(kWrongTypePrefix) + ", parameter {" + name + "} is of type {" +
         rclcpp::to_string(declared) + "}, setting it to {" + rclcpp::to_string(given) +
         "} is not allowed.";
}

ParameterStore::ParameterStore(
  std::map<std::string, rclcpp::ParameterValue> overrides, bool allow_undeclared)
: overrides_(std::move(overrides)), allow_undeclared_(allow_undeclared)
{}

SetParametersResult ParameterStore::run_checks(
  const std::vector<rclcpp::Parameter> & parameters) const
{
  for (const auto & check : checks_) {
    SetParametersResult result = check(parameters);
    if (!result.successful) {
      return result;
    }
  }
  return success();
}

SetParametersResult ParameterStore::check_and_store(
  const std::vector<rclcpp::Parameter> & parameters, std::map<std::string, ParameterInfo> & into,
  bool run_user_checks) const
{
  for (const auto & parameter : parameters) {
    const std::string & name = parameter.get_name();
    ParameterDescriptor descriptor;
    const auto it = into.find(name);
    if (it != into.end()) {
      descriptor = it->second.descriptor;
    } else {
      // Only undeclared parameters being declared by this very set get here: those are
      // dynamically typed.
      descriptor.dynamic_typing = true;
    }
    if (descriptor.name.empty()) {
      descriptor.name = name;
    }
    const auto declared = static_cast<rclcpp::ParameterType>(descriptor.type);
    if (!descriptor.dynamic_typing && declared != parameter.get_type()) {
      return failure(wrong_type_reason(name, declared, parameter.get_type()));
    }
    SetParametersResult in_range = check_range(descriptor, parameter.get_parameter_value());
    if (!in_range.successful) {
      return in_range;
    }
  }
  if (run_user_checks) {
    SetParametersResult checked = run_checks(parameters);
    if (!checked.successful) {
      return checked;
    }
  }
  for (const auto & parameter : parameters) {
    ParameterInfo & info = into[parameter.get_name()];
    info.descriptor.name = parameter.get_name();
    info.descriptor.type = parameter.get_type();
    info.value = parameter.get_parameter_value();
  }
  return success();
}

SetParametersResult ParameterStore::declare_into(
  const std::string & name, const rclcpp::ParameterValue & default_value,
  const ParameterDescriptor & descriptor, std::map<std::string, ParameterInfo> & into,
  bool run_user_checks, bool ignore_override, rcl_interfaces::msg::ParameterEvent & event) const
{
  std::map<std::string, ParameterInfo> staged{{name, ParameterInfo{{}, descriptor}}};
  const rclcpp::ParameterValue * initial = &default_value;
  const auto override_it = overrides_.find(name);
  if (!ignore_override && override_it != overrides_.end()) {
    initial = &override_it->second;
  }
  if (initial->get_type() == PARAMETER_NOT_SET) {
    ParameterInfo & info = staged.at(name);
    info.descriptor.name = name;
    info.descriptor.type =
      descriptor.dynamic_typing ? static_cast<uint8_t>(PARAMETER_NOT_SET) : descriptor.type;
    into[name] = info;
    return success();
  }
  const std::vector<rclcpp::Parameter> initial_parameter{rclcpp::Parameter(name, *initial)};
  SetParametersResult result = check_and_store(initial_parameter, staged, run_user_checks);
  if (!result.successful) {
    return result;
  }
  into[name] = staged.at(name);
  event.new_parameters.push_back(initial_parameter.front().to_parameter_msg());
  return result;
}

const rclcpp::ParameterValue & ParameterStore::declare(
  const std::string & name, rclcpp::ParameterType type,
  const rclcpp::ParameterValue & default_value, const ParameterDescriptor & descriptor,
  bool ignore_override, rcl_interfaces::msg::ParameterEvent & event)
{
  if (name.empty()) {
    throw exceptions::InvalidParametersException("parameter name must not be empty");
  }
  if (has(name)) {
    throw exceptions::ParameterAlreadyDeclaredException(
            "parameter '" + name + "' has already been declared");
  }
  ParameterDescriptor typed = descriptor;
  if (!typed.dynamic_typing) {
    if (type == PARAMETER_NOT_SET) {
      type = default_value.get_type();
    }
    if (type == PARAMETER_NOT_SET) {
      throw exceptions::InvalidParameterTypeException(
              name, "cannot declare a statically typed parameter with an uninitialized value");
    }
    typed.type = type;
  }
  const SetParametersResult result =
    declare_into(name, default_value, typed, parameters_, true, ignore_override, event);
  if (!result.successful) {
    if (starts_with(result.reason, kWrongTypePrefix)) {
      throw exceptions::InvalidParameterTypeException(name, result.reason);
    }
    throw exceptions::InvalidParameterValueException(
            "parameter '" + name + "' could not be set: " + result.reason);
  }
  return parameters_.at(name).value;
}

void ParameterStore::undeclare(const std::string & name)
{
  const auto it = parameters_.find(name);
  if (it == parameters_.end()) {
    throw exceptions::ParameterNotDeclaredException(
            "cannot undeclare parameter '" + name + "' which has not yet been declared");
  }
  if (it->second.descriptor.read_only) {
    throw exceptions::ParameterImmutableException(
            "cannot undeclare parameter '" + name + "' because it is read-only");
  }
  if (!it->second.descriptor.dynamic_typing) {
    throw exceptions::InvalidParameterTypeException(
            name, "cannot undeclare an statically typed parameter");
  }
  parameters_.erase(it);
}

bool ParameterStore::has(const std::string & name) const
{
  return parameters_.count(name) != 0;
}

SetParametersResult ParameterStore::set_atomically(
  const std::vector<rclcpp::Parameter> & parameters, rcl_interfaces::msg::ParameterEvent & event)
{
  std::vector<const rclcpp::Parameter *> to_declare;
  for (const auto & parameter : parameters) {
    const std::string & name = parameter.get_name();
    if (name.empty()) {
      throw exceptions::InvalidParametersException("parameter name must not be empty");
    }
    const auto it = parameters_.find(name);
    if (it == parameters_.end()) {
      if (!allow_undeclared_) {
        throw exceptions::ParameterNotDeclaredException(
                "parameter '" + name + "' cannot be set because it was not declared");
      }
      to_declare.push_back(&parameter);
      continue;
    }
    if (it->second.descriptor.read_only) {
      return failure("parameter '" + name + "' cannot be set because it is read-only");
    }
  }

  // Parameters set before being declared are declared here, dynamically typed and with the
  // value given (overrides do not apply), but only kept if the whole set succeeds.
  std::map<std::string, ParameterInfo> staged;
  rcl_interfaces::msg::ParameterEvent pending;
  ParameterDescriptor implicit;
  implicit.dynamic_typing = true;
  for (const rclcpp::Parameter * parameter : to_declare) {
    SetParametersResult declared = declare_into(
      parameter->get_name(), parameter->get_parameter_value(), implicit, staged, false, true,
      pending);
    if (!declared.successful) {
      return declared;
    }
  }

  // A value of PARAMETER_NOT_SET undeclares a dynamically typed parameter.
  std::vector<std::string> to_undeclare;
  for (const auto & parameter : parameters) {
    if (parameter.get_type() != PARAMETER_NOT_SET) {
      continue;
    }
    const auto it = parameters_.find(parameter.get_name());
    if (it != parameters_.end() && it->second.value.get_type() != PARAMETER_NOT_SET) {
      if (!it->second.descriptor.dynamic_typing) {
        return failure("cannot undeclare an statically typed parameter");
      }
      to_undeclare.push_back(parameter.get_name());
    }
  }

  SetParametersResult result = check_and_store(parameters, parameters_, true);
  if (!result.successful) {
    return result;
  }
  for (auto & entry : staged) {
    parameters_[entry.first] = std::move(entry.second);
  }
  for (const auto & name : to_undeclare) {
    const auto it = parameters_.find(name);
    if (it != parameters_.end()) {
      pending.deleted_parameters.push_back(
        rclcpp::Parameter(it->first, it->second.value).to_parameter_msg());
      parameters_.erase(it);
    }
  }
  for (const auto & parameter : parameters) {
    const std::string & name = parameter.get_name();
    if (staged.count(name) != 0 ||
      std::find(to_undeclare.begin(), to_undeclare.end(), name) != to_undeclare.end())
    {
      continue;
    }
    pending.changed_parameters.push_back(parameter.to_parameter_msg());
  }
  event.new_parameters = std::move(pending.new_parameters);
  event.changed_parameters = std::move(pending.changed_parameters);
  event.deleted_parameters = std::move(pending.deleted_parameters);
  return result;
}

std::vector<rclcpp::Parameter> ParameterStore::get_parameters(
  const std::vector<std::string> & names) const
{
  std::vector<rclcpp::Parameter> result;
  result.reserve(names.size());
  for (const auto & name : names) {
    const auto it = parameters_.find(name);
    if (it != parameters_.end()) {
      result.emplace_back(name, it->second.value);
    } else if (allow_undeclared_) {
      result.emplace_back(name, rclcpp::ParameterValue());
    } else {
      throw exceptions::ParameterNotDeclaredException(name);
    }
  }
  return result;
}

rclcpp::Parameter ParameterStore::get_parameter(const std::string & name) const
{
  const auto it = parameters_.find(name);
  if (it != parameters_.end() &&
    (it->second.value.get_type() != PARAMETER_NOT_SET || it->second.descriptor.dynamic_typing))
  {
    return rclcpp::Parameter(name, it->second.value);
  }
  if (allow_undeclared_) {
    return rclcpp::Parameter();
  }
  if (it == parameters_.end()) {
    throw exceptions::ParameterNotDeclaredException(name);
  }
  throw exceptions::ParameterUninitializedException(name);
}

bool ParameterStore::get_parameter(const std::string & name, rclcpp::Parameter & parameter) const
{
  const auto it = parameters_.find(name);
  if (it == parameters_.end() || it->second.value.get_type() == PARAMETER_NOT_SET) {
    return false;
  }
  parameter = rclcpp::Parameter(name, it->second.value);
  return true;
}

std::vector<ParameterDescriptor> ParameterStore::describe(
  const std::vector<std::string> & names) const
{
  std::vector<ParameterDescriptor> result;
  result.reserve(names.size());
  for (const auto & name : names) {
    const auto it = parameters_.find(name);
    if (it != parameters_.end()) {
      result.push_back(it->second.descriptor);
    } else if (allow_undeclared_) {
      ParameterDescriptor unknown;
      unknown.name = name;
      result.push_back(std::move(unknown));
    } else {
      throw exceptions::ParameterNotDeclaredException(name);
    }
  }
  return result;
}

std::vector<uint8_t> ParameterStore::types(const std::vector<std::string> & names) const
{
  std::vector<uint8_t> result;
  result.reserve(names.size());
  for (const auto & name : names) {
    const auto it = parameters_.find(name);
    if (it != parameters_.end()) {
      result.push_back(it->second.value.get_type());
    } else if (allow_undeclared_) {
      result.push_back(PARAMETER_NOT_SET);
    } else {
      throw exceptions::ParameterNotDeclaredException(name);
    }
  }
  return result;
}

rcl_interfaces::msg::ListParametersResult ParameterStore::list(
  const std::vector<std::string> & prefixes, uint64_t depth) const
{
  const auto within_depth = [depth](const std::string & rest) {
      return depth == kAnyDepth ||
             static_cast<uint64_t>(std::count(rest.begin(), rest.end(), kSeparator)) < depth;
    };
  rcl_interfaces::msg::ListParametersResult result;
  for (const auto & entry : parameters_) {
    const std::string & name = entry.first;
    bool selected = prefixes.empty() && within_depth(name);
    for (size_t i = 0; !selected && i < prefixes.size(); ++i) {
      const std::string & prefix = prefixes[i];
      if (name == prefix) {
        selected = true;
      } else if (name.compare(0, prefix.size() + 1, prefix + kSeparator) == 0) {
        selected = within_depth(name.substr(prefix.size()));
      }
    }
    if (!selected) {
      continue;
    }
    result.names.push_back(name);
    const size_t last = name.rfind(kSeparator);
    if (last != std::string::npos) {
      std::string prefix = name.substr(0, last);
      if (std::find(result.prefixes.begin(), result.prefixes.end(), prefix) ==
        result.prefixes.end())
      {
        result.prefixes.push_back(std::move(prefix));
      }
    }
  }
  return result;
}

std::vector<std::string> ParameterStore::names() const
{
  std::vector<std::string> result;
  result.reserve(parameters_.size());
  for (const auto & entry : parameters_) {
    result.push_back(entry.first);
  }
  return result;
}

}  // namespace base
}  // namespace rclcpp

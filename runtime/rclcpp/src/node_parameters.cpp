#include "node_parameters.hpp"

#include <utility>

namespace rclcpp
{
namespace detail
{

namespace
{
constexpr char kUseSimTime[] = "use_sim_time";

rcl_interfaces::msg::SetParametersResult refuse_simulated_time(
  const std::vector<rclcpp::Parameter> & parameters)
{
  rcl_interfaces::msg::SetParametersResult result;
  result.successful = true;
  for (const auto & parameter : parameters) {
    if (parameter.get_name() == kUseSimTime &&
      parameter.get_type() == rclcpp::ParameterType::PARAMETER_BOOL && parameter.as_bool())
    {
      result.successful = false;
      result.reason =
        "use_sim_time true is not supported: this runtime has no /clock subscription and its "
        "clocks follow the system clock";
    }
  }
  return result;
}
}  // namespace

NodeParameters::NodeParameters(
  std::string fully_qualified_name, rclcpp::Clock::SharedPtr clock,
  std::map<std::string, rclcpp::ParameterValue> overrides, bool allow_undeclared,
  bool automatically_declare, EventSink sink)
: fully_qualified_name_(std::move(fully_qualified_name)),
  clock_(std::move(clock)),
  sink_(std::move(sink)),
  store_(std::move(overrides), allow_undeclared)
{
  store_.add_check(refuse_simulated_time);
  if (automatically_declare) {
    rcl_interfaces::msg::ParameterDescriptor dynamic;
    dynamic.dynamic_typing = true;
    // A copy: declaring reads the overrides too.
    const auto overrides_copy = store_.overrides();
    for (const auto & entry : overrides_copy) {
      if (!has(entry.first)) {
        declare(entry.first, PARAMETER_NOT_SET, entry.second, dynamic, true);
      }
    }
  }
  if (!has(kUseSimTime)) {
    declare(
      kUseSimTime, PARAMETER_NOT_SET, rclcpp::ParameterValue(false),
      rcl_interfaces::msg::ParameterDescriptor(), false);
  }
}

void NodeParameters::publish_locked(rcl_interfaces::msg::ParameterEvent & event) const
{
  if (!sink_) {
    return;
  }
  event.node = fully_qualified_name_;
  event.stamp = clock_->now();
  sink_(event);
}

const rclcpp::ParameterValue & NodeParameters::declare(
  const std::string & name, rclcpp::ParameterType type,
  const rclcpp::ParameterValue & default_value,
  const rcl_interfaces::msg::ParameterDescriptor & descriptor, bool ignore_override)
{
  std::lock_guard<std::mutex> lock(mutex_);
  rcl_interfaces::msg::ParameterEvent event;
  const rclcpp::ParameterValue & value =
    store_.declare(name, type, default_value, descriptor, ignore_override, event);
  if (!event.new_parameters.empty()) {
    publish_locked(event);
  }
  return value;
}

void NodeParameters::undeclare(const std::string & name)
{
  std::lock_guard<std::mutex> lock(mutex_);
  store_.undeclare(name);
}

bool NodeParameters::has(const std::string & name) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return store_.has(name);
}

rcl_interfaces::msg::SetParametersResult NodeParameters::set_atomically(
  const std::vector<rclcpp::Parameter> & parameters)
{
  std::lock_guard<std::mutex> lock(mutex_);
  rcl_interfaces::msg::ParameterEvent event;
  rcl_interfaces::msg::SetParametersResult result = store_.set_atomically(parameters, event);
  if (result.successful) {
    publish_locked(event);
  }
  return result;
}

std::vector<rclcpp::Parameter> NodeParameters::get_parameters(
  const std::vector<std::string> & names) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return store_.get_parameters(names);
}

rclcpp::Parameter NodeParameters::get_parameter(const std::string & name) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return store_.get_parameter(name);
}

bool NodeParameters::get_parameter(const std::string & name, rclcpp::Parameter & parameter) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return store_.get_parameter(name, parameter);
}

std::vector<rcl_interfaces::msg::ParameterDescriptor> NodeParameters::describe(
  const std::vector<std::string> & names) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return store_.describe(names);
}

std::vector<uint8_t> NodeParameters::types(const std::vector<std::string> & names) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return store_.types(names);
}

rcl_interfaces::msg::ListParametersResult NodeParameters::list(
  const std::vector<std::string> & prefixes, uint64_t depth) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return store_.list(prefixes, depth);
}

std::vector<std::string> NodeParameters::names() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return store_.names();
}

}  // namespace detail
}  // namespace rclcpp

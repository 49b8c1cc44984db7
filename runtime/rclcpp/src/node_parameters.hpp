// A node's parameters as the node, its parameter services and /parameter_events see them: the
// parameter store behind one mutex, with each change handed to an event sink.
#ifndef RCLCPP__NODE_PARAMETERS_HPP_
#define RCLCPP__NODE_PARAMETERS_HPP_

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "base/parameter_store.hpp"
#include "rcl_interfaces/msg/parameter_event.hpp"
#include "rclcpp/clock.hpp"
#include "rclcpp/parameter.hpp"

namespace rclcpp
{
namespace detail
{

class NodeParameters
{
public:
  /// Receives every parameter event, complete with node name and stamp, under the parameters'
  /// lock (so events leave in the order of the changes). Must not touch these parameters.
  using EventSink = std::function<void (const rcl_interfaces::msg::ParameterEvent &)>;

  /// Declares the overrides when `automatically_declare` (dynamically typed, as rclcpp does),
  /// then `use_sim_time` (false) unless an override declared it. This runtime has no /clock
  /// subscription, so a true `use_sim_time` is refused: at construction with
  /// InvalidParameterValueException, later as a refused set.
  NodeParameters(
    std::string fully_qualified_name, rclcpp::Clock::SharedPtr clock,
    std::map<std::string, rclcpp::ParameterValue> overrides, bool allow_undeclared,
    bool automatically_declare, EventSink sink);

  // The rclcpp::Node parameter API; each throws as the node's does. Any thread. The reference
  // declare returns stays valid until the parameter is undeclared; like rclcpp's, it sees
  // later sets.
  const rclcpp::ParameterValue & declare(
    const std::string & name, rclcpp::ParameterType type,
    const rclcpp::ParameterValue & default_value,
    const rcl_interfaces::msg::ParameterDescriptor & descriptor, bool ignore_override);
  void undeclare(const std::string & name);
  bool has(const std::string & name) const;
  rcl_interfaces::msg::SetParametersResult set_atomically(
    const std::vector<rclcpp::Parameter> & parameters);
  std::vector<rclcpp::Parameter> get_parameters(const std::vector<std::string> & names) const;
  rclcpp::Parameter get_parameter(const std::string & name) const;
  bool get_parameter(const std::string & name, rclcpp::Parameter & parameter) const;
  std::vector<rcl_interfaces::msg::ParameterDescriptor> describe(
    const std::vector<std::string> & names) const;
  std::vector<uint8_t> types(const std::vector<std::string> & names) const;
  rcl_interfaces::msg::ListParametersResult list(
    const std::vector<std::string> & prefixes, uint64_t depth) const;
  std::vector<std::string> names() const;

private:
  void publish_locked(rcl_interfaces::msg::ParameterEvent & event) const;

  const std::string fully_qualified_name_;
  const rclcpp::Clock::SharedPtr clock_;
  const EventSink sink_;
  mutable std::mutex mutex_;
  base::ParameterStore store_;  // guarded by mutex_
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__NODE_PARAMETERS_HPP_

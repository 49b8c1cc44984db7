// Options of a node: context, local arguments, parameter overrides, and which of the standard
// endpoints (parameter services, /parameter_events, /rosout) it creates.
#ifndef RCLCPP__NODE_OPTIONS_HPP_
#define RCLCPP__NODE_OPTIONS_HPP_

#include <memory>
#include <string>
#include <vector>

#include "rclcpp/context.hpp"
#include "rclcpp/parameter.hpp"
#include "rclcpp/qos.hpp"

namespace rclcpp
{

class NodeOptions
{
public:
  NodeOptions() = default;

  Context::SharedPtr context() const {return context_;}
  NodeOptions & context(Context::SharedPtr context)
  {
    context_ = std::move(context);
    return *this;
  }

  const std::vector<std::string> & arguments() const {return arguments_;}
  NodeOptions & arguments(const std::vector<std::string> & arguments)
  {
    arguments_ = arguments;
    return *this;
  }

  bool use_global_arguments() const {return use_global_arguments_;}
  NodeOptions & use_global_arguments(bool value)
  {
    use_global_arguments_ = value;
    return *this;
  }

  std::vector<rclcpp::Parameter> & parameter_overrides() {return parameter_overrides_;}
  const std::vector<rclcpp::Parameter> & parameter_overrides() const {return parameter_overrides_;}
  NodeOptions & parameter_overrides(const std::vector<rclcpp::Parameter> & overrides)
  {
    parameter_overrides_ = overrides;
    return *this;
  }
  template<typename ParameterT>
  NodeOptions & append_parameter_override(const std::string & name, const ParameterT & value)
  {
    parameter_overrides_.emplace_back(name, rclcpp::ParameterValue(value));
    return *this;
  }

  bool automatically_declare_parameters_from_overrides() const {return auto_declare_;}
  NodeOptions & automatically_declare_parameters_from_overrides(bool value)
  {
    auto_declare_ = value;
    return *this;
  }

  bool allow_undeclared_parameters() const {return allow_undeclared_;}
  NodeOptions & allow_undeclared_parameters(bool value)
  {
    allow_undeclared_ = value;
    return *this;
  }

  /// Whether the node publishes its logger's records on /rosout (default true).
  bool enable_rosout() const {return enable_rosout_;}
  NodeOptions & enable_rosout(bool enable_rosout)
  {
    enable_rosout_ = enable_rosout;
    return *this;
  }

  /// Whether the node serves the six parameter services under its name (default true).
  bool start_parameter_services() const {return start_parameter_services_;}
  NodeOptions & start_parameter_services(bool value)
  {
    start_parameter_services_ = value;
    return *this;
  }

  /// Whether the node publishes its parameter changes on /parameter_events (default true).
  bool start_parameter_event_publisher() const {return start_parameter_event_publisher_;}
  NodeOptions & start_parameter_event_publisher(bool value)
  {
    start_parameter_event_publisher_ = value;
    return *this;
  }

  const rclcpp::QoS & parameter_event_qos() const {return parameter_event_qos_;}
  NodeOptions & parameter_event_qos(const rclcpp::QoS & parameter_event_qos)
  {
    parameter_event_qos_ = parameter_event_qos;
    return *this;
  }

  const rclcpp::QoS & rosout_qos() const {return rosout_qos_;}
  NodeOptions & rosout_qos(const rclcpp::QoS & rosout_qos)
  {
    rosout_qos_ = rosout_qos;
    return *this;
  }

  bool use_intra_process_comms() const {return false;}
  NodeOptions & use_intra_process_comms(bool) {return *this;}

private:
  Context::SharedPtr context_;
  std::vector<std::string> arguments_;
  bool use_global_arguments_ = true;
  std::vector<rclcpp::Parameter> parameter_overrides_;
  bool auto_declare_ = false;
  bool allow_undeclared_ = false;
  bool enable_rosout_ = true;
  bool start_parameter_services_ = true;
  bool start_parameter_event_publisher_ = true;
  rclcpp::QoS parameter_event_qos_ = rclcpp::ParameterEventsQoS();
  rclcpp::QoS rosout_qos_ = rclcpp::RosoutQoS();
};

}  // namespace rclcpp

#endif  // RCLCPP__NODE_OPTIONS_HPP_

#include "parameter_service.hpp"

#include <exception>
#include <string>
#include <utility>

#include "rclcpp/exceptions/exceptions.hpp"
#include "rclcpp/logging.hpp"

namespace rclcpp
{
namespace detail
{

namespace
{

rcl_interfaces::msg::SetParametersResult refused(const std::string & reason)
{
  rcl_interfaces::msg::SetParametersResult result;
  result.successful = false;
  result.reason = reason;
  return result;
}

void log_refusal(const char * what, const std::exception & e)
{
  RCLCPP_DEBUG(rclcpp::get_logger("rclcpp"), "Failed to %s: %s", what, e.what());
}

template<typename ServiceT>
std::shared_ptr<ServiceBase> make_service(
  const node_interfaces::NodeBase::SharedPtr & node, const char * name,
  const std::weak_ptr<NodeParameters> & weak, const rmw_qos_profile_t & qos)
{
  auto service = std::make_shared<Service<ServiceT>>(
    node, node->get_name() + "/" + name,
    [weak](
      std::shared_ptr<typename ServiceT::Request> request,
      std::shared_ptr<typename ServiceT::Response> response) {
      // Replies empty once the node is gone; its executor may still hold the service briefly.
      if (auto parameters = weak.lock()) {
        answer(*parameters, *request, *response);
      }
    },
    qos);
  node->get_default_callback_group()->add_executable(service);
  return service;
}

}  // namespace

void answer(
  NodeParameters & parameters, const rcl_interfaces::srv::GetParameters::Request & request,
  rcl_interfaces::srv::GetParameters::Response & response)
{
  try {
    for (const auto & parameter : parameters.get_parameters(request.names)) {
      response.values.push_back(parameter.get_value_message());
    }
  } catch (const exceptions::ParameterNotDeclaredException & e) {
    log_refusal("get parameters", e);
  }
}

void answer(
  NodeParameters & parameters, const rcl_interfaces::srv::GetParameterTypes::Request & request,
  rcl_interfaces::srv::GetParameterTypes::Response & response)
{
  try {
    response.types = parameters.types(request.names);
  } catch (const exceptions::ParameterNotDeclaredException & e) {
    log_refusal("get parameter types", e);
  }
}

void answer(
  NodeParameters & parameters, const rcl_interfaces::srv::DescribeParameters::Request & request,
  rcl_interfaces::srv::DescribeParameters::Response & response)
{
  try {
    response.descriptors = parameters.describe(request.names);
  } catch (const exceptions::ParameterNotDeclaredException & e) {
    log_refusal("describe parameters", e);
  }
}

void answer(
  NodeParameters & parameters, const rcl_interfaces::srv::ListParameters::Request & request,
  rcl_interfaces::srv::ListParameters::Response & response)
{
  response.result = parameters.list(request.prefixes, request.depth);
}

void answer(
  NodeParameters & parameters, const rcl_interfaces::srv::SetParameters::Request & request,
  rcl_interfaces::srv::SetParameters::Response & response)
{
  // One at a time: a failure of one leaves the others as they are, and each gets its result.
  for (const auto & message : request.parameters) {
    try {
      response.results.push_back(
        parameters.set_atomically({rclcpp::Parameter::from_parameter_msg(message)}));
    } catch (const std::exception & e) {
      log_refusal("set parameter", e);
      response.results.push_back(refused(e.what()));
    }
  }
}

void answer(
  NodeParameters & parameters,
  const rcl_interfaces::srv::SetParametersAtomically::Request & request,
  rcl_interfaces::srv::SetParametersAtomically::Response & response)
{
  try {
    std::vector<rclcpp::Parameter> batch;
    batch.reserve(request.parameters.size());
    for (const auto & message : request.parameters) {
      batch.push_back(rclcpp::Parameter::from_parameter_msg(message));
    }
    response.result = parameters.set_atomically(batch);
  } catch (const exceptions::ParameterNotDeclaredException & e) {
    log_refusal("set parameters atomically", e);
    response.result = refused("One or more parameters were not declared before setting");
  } catch (const std::exception & e) {
    log_refusal("set parameters atomically", e);
    response.result = refused(e.what());
  }
}

ParameterService::ParameterService(
  const node_interfaces::NodeBase::SharedPtr & node,
  const std::shared_ptr<NodeParameters> & parameters, const rmw_qos_profile_t & qos)
{
  namespace srv = rcl_interfaces::srv;
  const std::weak_ptr<NodeParameters> weak = parameters;
  services_.reserve(6);
  services_.push_back(make_service<srv::GetParameters>(node, "get_parameters", weak, qos));
  services_.push_back(
    make_service<srv::GetParameterTypes>(node, "get_parameter_types", weak, qos));
  services_.push_back(make_service<srv::SetParameters>(node, "set_parameters", weak, qos));
  services_.push_back(
    make_service<srv::SetParametersAtomically>(node, "set_parameters_atomically", weak, qos));
  services_.push_back(
    make_service<srv::DescribeParameters>(node, "describe_parameters", weak, qos));
  services_.push_back(make_service<srv::ListParameters>(node, "list_parameters", weak, qos));
  node->notify_executors();
}

}  // namespace detail
}  // namespace rclcpp

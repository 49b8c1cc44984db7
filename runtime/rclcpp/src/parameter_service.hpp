// The six parameter services every node serves under its name (describe_parameters,
// get_parameters, get_parameter_types, list_parameters, set_parameters,
// set_parameters_atomically), answering as ROS 2 Humble's rclcpp does, so that `ros2 param`
// and other tools work on a node of this runtime unchanged.
#ifndef RCLCPP__PARAMETER_SERVICE_HPP_
#define RCLCPP__PARAMETER_SERVICE_HPP_

#include <memory>
#include <vector>

#include "node_parameters.hpp"
#include "rcl_interfaces/srv/describe_parameters.hpp"
#include "rcl_interfaces/srv/get_parameter_types.hpp"
#include "rcl_interfaces/srv/get_parameters.hpp"
#include "rcl_interfaces/srv/list_parameters.hpp"
#include "rcl_interfaces/srv/set_parameters.hpp"
#include "rcl_interfaces/srv/set_parameters_atomically.hpp"
#include "rclcpp/node_base.hpp"
#include "rclcpp/service.hpp"
#include "rmw/qos_profiles.h"

namespace rclcpp
{
namespace detail
{

// The answers. None throws: what rclcpp answers for an undeclared name is answered the same way
// (an empty reply, or an unsuccessful result with its reason); a request no rclcpp node would
// survive (a value of an unknown type, an empty name) gets an unsuccessful result saying why.
void answer(
  NodeParameters & parameters, const rcl_interfaces::srv::GetParameters::Request & request,
  rcl_interfaces::srv::GetParameters::Response & response);
void answer(
  NodeParameters & parameters, const rcl_interfaces::srv::GetParameterTypes::Request & request,
  rcl_interfaces::srv::GetParameterTypes::Response & response);
void answer(
  NodeParameters & parameters, const rcl_interfaces::srv::DescribeParameters::Request & request,
  rcl_interfaces::srv::DescribeParameters::Response & response);
void answer(
  NodeParameters & parameters, const rcl_interfaces::srv::ListParameters::Request & request,
  rcl_interfaces::srv::ListParameters::Response & response);
void answer(
  NodeParameters & parameters, const rcl_interfaces::srv::SetParameters::Request & request,
  rcl_interfaces::srv::SetParameters::Response & response);
void answer(
  NodeParameters & parameters,
  const rcl_interfaces::srv::SetParametersAtomically::Request & request,
  rcl_interfaces::srv::SetParametersAtomically::Response & response);

class ParameterService
{
public:
  /// Creates the services "<node name>/<service>" (relative, so the node's namespace and
  /// remapping apply) in the node's default callback group. They answer while `parameters`
  /// lives. Throws what creating a service throws.
  ParameterService(
    const node_interfaces::NodeBase::SharedPtr & node,
    const std::shared_ptr<NodeParameters> & parameters,
    const rmw_qos_profile_t & qos = rmw_qos_profile_parameters);

private:
  std::vector<std::shared_ptr<ServiceBase>> services_;
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__PARAMETER_SERVICE_HPP_

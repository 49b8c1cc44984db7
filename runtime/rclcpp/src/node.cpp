#include "rclcpp/node.hpp"

#include <stdexcept>
#include <utility>

#include "base/arguments.hpp"
#include "node_parameters.hpp"
#include "parameter_service.hpp"
#include "rcl_interfaces/msg/parameter_event.hpp"
#include "rclcpp/logging.hpp"
#include "rosout.hpp"

namespace rclcpp
{

Node::Node(const std::string & node_name, const NodeOptions & options)
: Node(node_name, "", options)
{}

Node::Node(const std::string & node_name, const std::string & namespace_, const NodeOptions & options)
: options_(options)
{
  Context::SharedPtr context = options.context() ? options.context() :
    contexts::get_global_default_context();
  base_ = std::make_shared<node_interfaces::NodeBase>(
    node_name, namespace_, context, options.arguments(), options.use_global_arguments());
  clock_ = std::make_shared<rclcpp::Clock>(RCL_ROS_TIME);

  // --disable-rosout-logs turns /rosout off for the whole process, as in rcl.
  if (options.enable_rosout() && context->arguments().rosout_logs.value_or(true)) {
    rosout_ = std::make_shared<detail::RosoutPublisher>(base_, options.rosout_qos());
  }

  detail::NodeParameters::EventSink sink;
  if (options.start_parameter_event_publisher()) {
    auto events = std::make_shared<Publisher<rcl_interfaces::msg::ParameterEvent>>(
      base_, "/parameter_events", options.parameter_event_qos());
    sink = [events, logger = base_->get_logger()](
      const rcl_interfaces::msg::ParameterEvent & event) {
        try {
          events->publish(event);
        } catch (const std::exception & e) {
          RCLCPP_WARN(logger, "parameter event not published: %s", e.what());
        }
      };
  }
  static const std::vector<base::ParameterKeyOverrides> none;
  parameters_ = std::make_shared<detail::NodeParameters>(
    base_->get_fully_qualified_name(), clock_,
    base::resolve_parameter_overrides(
      base_->get_fully_qualified_name(),
      options.use_global_arguments() ? context->arguments().parameter_overrides : none,
      base_->local_arguments().parameter_overrides, options.parameter_overrides()),
    options.allow_undeclared_parameters(),
    options.automatically_declare_parameters_from_overrides(), std::move(sink));
  if (options.start_parameter_services()) {
    parameter_service_ = std::make_unique<detail::ParameterService>(base_, parameters_);
  }
}

Node::~Node() = default;

const char * Node::get_name() const {return base_->get_name().c_str();}
const char * Node::get_namespace() const {return base_->get_namespace().c_str();}
const char * Node::get_fully_qualified_name() const {return base_->get_fully_qualified_name().c_str();}
rclcpp::Logger Node::get_logger() const {return base_->get_logger();}
rclcpp::Clock::SharedPtr Node::get_clock() {return clock_;}
rclcpp::Clock::ConstSharedPtr Node::get_clock() const {return clock_;}
rclcpp::Time Node::now() const {return clock_->now();}

CallbackGroup::SharedPtr Node::create_callback_group(
  CallbackGroupType group_type, bool automatically_add_to_executor_with_node)
{
  return base_->create_callback_group(group_type, automatically_add_to_executor_with_node);
}

void Node::add_to_group(
  const std::shared_ptr<detail::Executable> & executable, CallbackGroup::SharedPtr group)
{
  if (!group) {
    group = base_->get_default_callback_group();
  } else if (!base_->callback_group_in_node(group)) {
    throw std::runtime_error("Cannot create an entity: callback group not in node");
  }
  group->add_executable(executable);
  base_->notify_executors();
}

const rclcpp::ParameterValue & Node::declare_parameter(
  const std::string & name, const rclcpp::ParameterValue & default_value,
  const rcl_interfaces::msg::ParameterDescriptor & parameter_descriptor, bool ignore_override)
{
  return parameters_->declare(
    name, PARAMETER_NOT_SET, default_value, parameter_descriptor, ignore_override);
}

const rclcpp::ParameterValue & Node::declare_parameter(
  const std::string & name, rclcpp::ParameterType type,
  const rcl_interfaces::msg::ParameterDescriptor & parameter_descriptor, bool ignore_override)
{
  if (type == PARAMETER_NOT_SET) {
    throw std::invalid_argument(
            "declare_parameter(): the provided parameter type cannot be rclcpp::PARAMETER_NOT_SET");
  }
  if (parameter_descriptor.dynamic_typing) {
    throw std::invalid_argument(
            "declare_parameter(): cannot declare parameter of specific type and pass descriptor"
            "with `dynamic_typing=true`");
  }
  return parameters_->declare(name, type, ParameterValue(), parameter_descriptor, ignore_override);
}

void Node::undeclare_parameter(const std::string & name)
{
  parameters_->undeclare(name);
}

bool Node::has_parameter(const std::string & name) const
{
  return parameters_->has(name);
}

rclcpp::Parameter Node::get_parameter(const std::string & name) const
{
  return parameters_->get_parameter(name);
}

bool Node::get_parameter(const std::string & name, rclcpp::Parameter & parameter) const
{
  return parameters_->get_parameter(name, parameter);
}

std::vector<rclcpp::Parameter> Node::get_parameters(const std::vector<std::string> & names) const
{
  return parameters_->get_parameters(names);
}

rcl_interfaces::msg::SetParametersResult Node::set_parameter(const rclcpp::Parameter & parameter)
{
  return parameters_->set_atomically({parameter});
}

std::vector<rcl_interfaces::msg::SetParametersResult> Node::set_parameters(
  const std::vector<rclcpp::Parameter> & parameters)
{
  std::vector<rcl_interfaces::msg::SetParametersResult> results;
  results.reserve(parameters.size());
  for (const auto & parameter : parameters) {
    results.push_back(parameters_->set_atomically({parameter}));
  }
  return results;
}

rcl_interfaces::msg::SetParametersResult Node::set_parameters_atomically(
  const std::vector<rclcpp::Parameter> & parameters)
{
  return parameters_->set_atomically(parameters);
}

rcl_interfaces::msg::ParameterDescriptor Node::describe_parameter(const std::string & name) const
{
  auto descriptors = parameters_->describe({name});
  if (descriptors.empty()) {
    throw exceptions::ParameterNotDeclaredException(name);
  }
  return descriptors.front();
}

std::vector<rcl_interfaces::msg::ParameterDescriptor> Node::describe_parameters(
  const std::vector<std::string> & names) const
{
  return parameters_->describe(names);
}

std::vector<uint8_t> Node::get_parameter_types(const std::vector<std::string> & names) const
{
  return parameters_->types(names);
}

rcl_interfaces::msg::ListParametersResult Node::list_parameters(
  const std::vector<std::string> & prefixes, uint64_t depth) const
{
  return parameters_->list(prefixes, depth);
}

std::vector<std::string> Node::list_parameter_names() const
{
  return parameters_->names();
}

}  // namespace rclcpp

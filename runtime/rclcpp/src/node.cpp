#include "rclcpp/node.hpp"

#include "base/arguments.hpp"

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

  static const std::vector<base::ParameterKeyOverrides> none;
  overrides_ = base::resolve_parameter_overrides(
    base_->get_fully_qualified_name(),
    options.use_global_arguments() ? context->arguments().parameter_overrides : none,
    base_->local_arguments().parameter_overrides, options.parameter_overrides());
  if (options.automatically_declare_parameters_from_overrides()) {
    for (const auto & entry : overrides_) {
      parameters_.emplace(entry.first, entry.second);
    }
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

const ParameterValue & Node::declare_parameter(
  const std::string & name, const ParameterValue & default_value, bool ignore_override)
{
  std::lock_guard<std::mutex> lock(parameters_mutex_);
  if (parameters_.count(name) != 0) {
    throw exceptions::ParameterAlreadyDeclaredException(
            "parameter '" + name + "' has already been declared");
  }
  ParameterValue value = default_value;
  auto it = overrides_.find(name);
  if (!ignore_override && it != overrides_.end()) {
    if (default_value.get_type() != ParameterType::PARAMETER_NOT_SET &&
      it->second.get_type() != default_value.get_type())
    {
      throw exceptions::InvalidParameterTypeException(
              name, "Wrong parameter type, parameter {" + name + "} is of type {" +
              rclcpp::to_string(default_value.get_type()) + "}, setting it to {" +
              rclcpp::to_string(it->second.get_type()) + "} is not allowed.");
    }
    value = it->second;
  }
  return parameters_.emplace(name, value).first->second;
}

void Node::undeclare_parameter(const std::string & name)
{
  std::lock_guard<std::mutex> lock(parameters_mutex_);
  if (parameters_.erase(name) == 0) {
    throw exceptions::ParameterNotDeclaredException(name);
  }
}

bool Node::has_parameter(const std::string & name) const
{
  std::lock_guard<std::mutex> lock(parameters_mutex_);
  return parameters_.count(name) != 0;
}

rclcpp::Parameter Node::get_parameter(const std::string & name) const
{
  rclcpp::Parameter parameter;
  if (!get_parameter(name, parameter)) {
    throw exceptions::ParameterNotDeclaredException(name);
  }
  return parameter;
}

bool Node::get_parameter(const std::string & name, rclcpp::Parameter & parameter) const
{
  std::lock_guard<std::mutex> lock(parameters_mutex_);
  auto it = parameters_.find(name);
  if (it == parameters_.end()) {
    return false;
  }
  parameter = rclcpp::Parameter(name, it->second);
  return true;
}

std::vector<rclcpp::Parameter> Node::get_parameters(const std::vector<std::string> & names) const
{
  std::vector<rclcpp::Parameter> result;
  for (const auto & name : names) {
    result.push_back(get_parameter(name));
  }
  return result;
}

bool Node::set_parameter(const rclcpp::Parameter & parameter, std::string * reason)
{
  std::lock_guard<std::mutex> lock(parameters_mutex_);
  auto it = parameters_.find(parameter.get_name());
  if (it == parameters_.end()) {
    if (!options_.allow_undeclared_parameters()) {
      if (reason) {*reason = "parameter '" + parameter.get_name() + "' is not declared";}
      return false;
    }
    parameters_.emplace(parameter.get_name(), parameter.get_parameter_value());
    return true;
  }
  if (it->second.get_type() != ParameterType::PARAMETER_NOT_SET &&
    it->second.get_type() != parameter.get_type())
  {
    if (reason) {
      *reason = "Wrong parameter type, parameter {" + parameter.get_name() + "} is of type {" +
        rclcpp::to_string(it->second.get_type()) + "}, setting it to {" +
        rclcpp::to_string(parameter.get_type()) + "} is not allowed.";
    }
    return false;
  }
  it->second = parameter.get_parameter_value();
  return true;
}

std::vector<std::string> Node::list_parameter_names() const
{
  std::lock_guard<std::mutex> lock(parameters_mutex_);
  std::vector<std::string> names;
  for (const auto & entry : parameters_) {
    names.push_back(entry.first);
  }
  return names;
}

}  // namespace rclcpp

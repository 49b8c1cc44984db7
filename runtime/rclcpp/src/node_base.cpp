#include "rclcpp/node_base.hpp"

#include <stdexcept>

#include "base/arguments.hpp"
#include "dds/dds.hpp"
#include "rclcpp/exceptions.hpp"

namespace rclcpp
{
namespace node_interfaces
{

namespace
{
base::ParsedArguments parse_local(const std::vector<std::string> & local_arguments)
{
  if (local_arguments.empty()) {
    return {};
  }
  // Local arguments are given without a program name; parse them as a --ros-args section
  // unless they already contain one.
  std::vector<std::string> args{"node"};
  bool has_section = false;
  for (const auto & a : local_arguments) {
    if (a == "--ros-args") {
      has_section = true;
    }
  }
  if (!has_section) {
    args.push_back("--ros-args");
  }
  args.insert(args.end(), local_arguments.begin(), local_arguments.end());
  base::ParsedArguments parsed;
  try {
    parsed = base::parse_arguments(args);
  } catch (const base::InvalidRosArgsError & e) {
    throw exceptions::RCLInvalidROSArgsError(e.what());
  }
  if (!parsed.unknown_ros_args.empty()) {
    throw exceptions::UnknownROSArgsError(std::move(parsed.unknown_ros_args));
  }
  return parsed;
}
}  // namespace

NodeBase::NodeBase(
  const std::string & node_name, const std::string & namespace_, Context::SharedPtr context,
  const std::vector<std::string> & local_arguments, bool use_global_arguments)
: context_(std::move(context)),
  local_arguments_(std::make_unique<base::ParsedArguments>(parse_local(local_arguments))),
  use_global_arguments_(use_global_arguments),
  logger_(rclcpp::get_logger("rclcpp"))
{
  if (!context_->is_valid()) {
    throw std::runtime_error(
            "cannot create node '" + node_name + "': the context is not initialised "
            "(call rclcpp::init first) or was shut down");
  }
  static const std::vector<base::RemapRule> no_rules;
  const auto & global_rules =
    use_global_arguments_ ? context_->arguments().remap_rules : no_rules;
  try {
    base::validate_node_name(node_name);
  } catch (const base::InvalidNameError & e) {
    throw exceptions::InvalidNodeNameError(node_name.c_str(), e.reason.c_str(), e.invalid_index);
  }
  const std::string ns = base::normalize_namespace(namespace_);
  try {
    base::validate_namespace(ns);
  } catch (const base::InvalidNameError & e) {
    throw exceptions::InvalidNamespaceError(ns.c_str(), e.reason.c_str(), e.invalid_index);
  }
  auto remapped = base::remap_node_name(node_name, ns, local_arguments_->remap_rules, global_rules);
  name_ = remapped.first;
  this->namespace_ = remapped.second;
  fq_name_ = base::fully_qualified_name(name_, this->namespace_);
  logger_ = rclcpp::get_logger(base::node_logger_name(name_, this->namespace_));

  participant_ = context_->participant();
  node_key_ = participant_->add_node(name_, this->namespace_);
  default_group_ = std::make_shared<CallbackGroup>(CallbackGroupType::MutuallyExclusive);
  groups_.push_back(default_group_);
}

NodeBase::~NodeBase()
{
  if (participant_) {
    participant_->remove_node(node_key_);
  }
}

std::string NodeBase::resolve_topic_or_service_name(const std::string & name, bool is_service) const
{
  static const std::vector<base::RemapRule> no_rules;
  const auto & global_rules =
    use_global_arguments_ ? context_->arguments().remap_rules : no_rules;
  try {
    return base::resolve_name(
      name, name_, namespace_, is_service, local_arguments_->remap_rules, global_rules);
  } catch (const base::InvalidNameError & e) {
    if (is_service) {
      throw exceptions::InvalidServiceNameError(
              e.name.c_str(), e.reason.c_str(), e.invalid_index);
    }
    throw exceptions::InvalidTopicNameError(e.name.c_str(), e.reason.c_str(), e.invalid_index);
  }
}

CallbackGroup::SharedPtr NodeBase::create_callback_group(
  CallbackGroupType type, bool automatically_add_to_executor_with_node)
{
  auto group = std::make_shared<CallbackGroup>(type, automatically_add_to_executor_with_node);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    groups_.push_back(group);
  }
  generation_.fetch_add(1);
  notify_executors();
  return group;
}

std::vector<CallbackGroup::WeakPtr> NodeBase::get_callback_groups() const
{
  std::lock_guard<std::mutex> lock(mutex_);
  return groups_;
}

bool NodeBase::callback_group_in_node(const CallbackGroup::SharedPtr & group) const
{
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto & weak : groups_) {
    if (weak.lock() == group) {
      return true;
    }
  }
  return false;
}

uint64_t NodeBase::generation() const
{
  uint64_t total = generation_.load();
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto & weak : groups_) {
    if (auto group = weak.lock()) {
      total += group->generation();
    }
  }
  return total;
}

void NodeBase::notify_executors() const
{
  interrupts_.call_all();
}

uint64_t NodeBase::add_executor_interrupt(std::function<void ()> interrupt)
{
  return interrupts_.add(std::move(interrupt));
}

void NodeBase::remove_executor_interrupt(uint64_t handle)
{
  interrupts_.remove(handle);
}

void NodeBase::announce_reader(const std::array<uint8_t, 24> & gid, bool add)
{
  if (add) {
    participant_->add_reader(node_key_, gid);
  } else {
    participant_->remove_reader(node_key_, gid);
  }
}

void NodeBase::announce_writer(const std::array<uint8_t, 24> & gid, bool add)
{
  if (add) {
    participant_->add_writer(node_key_, gid);
  } else {
    participant_->remove_writer(node_key_, gid);
  }
}

std::string NodeBase::next_endpoint_id()
{
  return participant_->next_endpoint_id();
}

const base::ParsedArguments & NodeBase::local_arguments() const
{
  return *local_arguments_;
}

}  // namespace node_interfaces
}  // namespace rclcpp

// The part of a node that entities are built from: names, context, DDS participant,
// callback groups. Shared by the node and everything it creates, so an entity can outlive
// its node object without dangling.
#ifndef RCLCPP__NODE_BASE_HPP_
#define RCLCPP__NODE_BASE_HPP_

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/detail/interrupt_list.hpp"
#include "rclcpp/logger.hpp"

namespace rclcpp
{
namespace base
{
struct ParsedArguments;
}
namespace dds
{
class Participant;
}

namespace node_interfaces
{

class NodeBase
{
public:
  using SharedPtr = std::shared_ptr<NodeBase>;
  using WeakPtr = std::weak_ptr<NodeBase>;

  NodeBase(
    const std::string & node_name, const std::string & namespace_, Context::SharedPtr context,
    const std::vector<std::string> & local_arguments, bool use_global_arguments);
  ~NodeBase();
  NodeBase(const NodeBase &) = delete;
  NodeBase & operator=(const NodeBase &) = delete;

  const std::string & get_name() const {return name_;}
  const std::string & get_namespace() const {return namespace_;}
  const std::string & get_fully_qualified_name() const {return fq_name_;}
  Context::SharedPtr get_context() const {return context_;}
  const rclcpp::Logger & get_logger() const {return logger_;}

  /// Expands and remaps a topic (is_service false) or service name; throws
  /// rclcpp::exceptions::InvalidTopicNameError / InvalidServiceNameError.
  std::string resolve_topic_or_service_name(const std::string & name, bool is_service) const;

  CallbackGroup::SharedPtr get_default_callback_group() const {return default_group_;}
  CallbackGroup::SharedPtr create_callback_group(
    CallbackGroupType type, bool automatically_add_to_executor_with_node = true);
  std::vector<CallbackGroup::WeakPtr> get_callback_groups() const;
  bool callback_group_in_node(const CallbackGroup::SharedPtr & group) const;

  /// Changes whenever a group or an entity is added (executors re-collect then).
  uint64_t generation() const;
  /// Wakes the executors this node is added to, e.g. after an entity was created.
  void notify_executors() const;
  uint64_t add_executor_interrupt(std::function<void ()> interrupt);
  void remove_executor_interrupt(uint64_t handle);

  std::atomic_bool & get_associated_with_executor_atomic() {return associated_with_executor_;}

  // Graph bookkeeping (ros_discovery_info) for the endpoints of this node.
  void announce_reader(const std::array<uint8_t, 24> & gid, bool add);
  void announce_writer(const std::array<uint8_t, 24> & gid, bool add);
  std::shared_ptr<dds::Participant> participant() const {return participant_;}
  /// Unique id for a client's or service's endpoint pair.
  std::string next_endpoint_id();
  const base::ParsedArguments & local_arguments() const;

private:
  std::string name_;
  std::string namespace_;
  std::string fq_name_;
  Context::SharedPtr context_;
  std::shared_ptr<dds::Participant> participant_;
  uint64_t node_key_ = 0;
  std::unique_ptr<base::ParsedArguments> local_arguments_;
  bool use_global_arguments_ = true;
  rclcpp::Logger logger_;
  CallbackGroup::SharedPtr default_group_;
  mutable std::mutex mutex_;
  std::vector<CallbackGroup::WeakPtr> groups_;
  std::atomic<uint64_t> generation_{0};
  detail::InterruptList interrupts_;
  std::atomic_bool associated_with_executor_{false};
};

}  // namespace node_interfaces
}  // namespace rclcpp

#endif  // RCLCPP__NODE_BASE_HPP_

// The node: a named participant in the ROS graph that creates publishers, subscriptions,
// services, clients and timers, and holds parameters.
#ifndef RCLCPP__NODE_HPP_
#define RCLCPP__NODE_HPP_

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "rclcpp/callback_group.hpp"
#include "rclcpp/client.hpp"
#include "rclcpp/clock.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/generic_subscription.hpp"
#include "rclcpp/logger.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/node_base.hpp"
#include "rclcpp/node_interfaces/node_graph_interface.hpp"
#include "rclcpp/node_options.hpp"
#include "rclcpp/parameter.hpp"
#include "rclcpp/parameter_value.hpp"
#include "rclcpp/publisher.hpp"
#include "rclcpp/publisher_options.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/service.hpp"
#include "rclcpp/subscription.hpp"
#include "rclcpp/subscription_options.hpp"
#include "rclcpp/time.hpp"
#include "rclcpp/timer.hpp"
#include "rcl_interfaces/msg/list_parameters_result.hpp"
#include "rcl_interfaces/msg/parameter_descriptor.hpp"
#include "rcl_interfaces/msg/set_parameters_result.hpp"
#include "rmw/qos_profiles.h"

namespace rclcpp
{

namespace detail
{
class NodeParameters;
class ParameterService;
class RosoutPublisher;

template<typename T, typename = void>
struct parameter_type_of;

template<>
struct parameter_type_of<bool> {static constexpr ParameterType value = ParameterType::PARAMETER_BOOL;};
template<typename T>
struct parameter_type_of<T, std::enable_if_t<std::is_integral_v<T>&& !std::is_same_v<T, bool>>>
{static constexpr ParameterType value = ParameterType::PARAMETER_INTEGER;};
template<typename T>
struct parameter_type_of<T, std::enable_if_t<std::is_floating_point_v<T>>>
{static constexpr ParameterType value = ParameterType::PARAMETER_DOUBLE;};
template<>
struct parameter_type_of<std::string>
{static constexpr ParameterType value = ParameterType::PARAMETER_STRING;};
template<>
struct parameter_type_of<std::vector<uint8_t>>
{static constexpr ParameterType value = ParameterType::PARAMETER_BYTE_ARRAY;};
template<>
struct parameter_type_of<std::vector<bool>>
{static constexpr ParameterType value = ParameterType::PARAMETER_BOOL_ARRAY;};
template<>
struct parameter_type_of<std::vector<int64_t>>
{static constexpr ParameterType value = ParameterType::PARAMETER_INTEGER_ARRAY;};
template<>
struct parameter_type_of<std::vector<double>>
{static constexpr ParameterType value = ParameterType::PARAMETER_DOUBLE_ARRAY;};
template<>
struct parameter_type_of<std::vector<std::string>>
{static constexpr ParameterType value = ParameterType::PARAMETER_STRING_ARRAY;};

/// Converts a parameter value to T, throwing InvalidParameterTypeException naming the parameter
/// when its type is not the one T needs (an integer is not accepted for a double).
template<typename T>
T convert_parameter(const std::string & name, const ParameterValue & value)
{
  constexpr ParameterType expected = parameter_type_of<T>::value;
  if (value.get_type() != expected) {
    throw exceptions::InvalidParameterTypeException(
      name, "expected [" + rclcpp::to_string(expected) + "] got [" +
      rclcpp::to_string(value.get_type()) + "]");
  }
  if constexpr (std::is_same_v<T, bool>) {
    return value.get<bool>();
  } else if constexpr (std::is_integral_v<T>) {
    return static_cast<T>(value.get<int64_t>());
  } else if constexpr (std::is_floating_point_v<T>) {
    return static_cast<T>(value.get<double>());
  } else {
    return value.get<T>();
  }
}
}  // namespace detail

class Node : public std::enable_shared_from_this<Node>
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS(Node)

  /// Creates the node; throws rclcpp::exceptions::InvalidNodeNameError /
  /// InvalidNamespaceError for bad names and a runtime error when DDS cannot start.
  explicit Node(const std::string & node_name, const NodeOptions & options = NodeOptions());
  Node(
    const std::string & node_name, const std::string & namespace_,
    const NodeOptions & options = NodeOptions());
  virtual ~Node();

  const char * get_name() const;
  const char * get_namespace() const;
  const char * get_fully_qualified_name() const;
  rclcpp::Logger get_logger() const;
  rclcpp::Clock::SharedPtr get_clock();
  rclcpp::Clock::ConstSharedPtr get_clock() const;
  rclcpp::Time now() const;
  const NodeOptions & get_node_options() const {return options_;}

  CallbackGroup::SharedPtr create_callback_group(
    CallbackGroupType group_type, bool automatically_add_to_executor_with_node = true);

  template<typename MessageT, typename AllocatorT = std::allocator<void>>
  std::shared_ptr<Publisher<MessageT, AllocatorT>> create_publisher(
    const std::string & topic_name, const QoS & qos,
    const PublisherOptionsWithAllocator<AllocatorT> & options = PublisherOptionsWithAllocator<AllocatorT>())
  {
    (void)options;
    return std::make_shared<Publisher<MessageT, AllocatorT>>(base_, topic_name, qos);
  }

  template<typename MessageT, typename CallbackT, typename AllocatorT = std::allocator<void>>
  std::shared_ptr<Subscription<MessageT, AllocatorT>> create_subscription(
    const std::string & topic_name, const QoS & qos, CallbackT && callback,
    const SubscriptionOptionsWithAllocator<AllocatorT> & options =
    SubscriptionOptionsWithAllocator<AllocatorT>())
  {
    auto subscription = std::make_shared<Subscription<MessageT, AllocatorT>>(
      base_, topic_name, qos, std::forward<CallbackT>(callback), options);
    add_to_group(subscription, options.callback_group);
    return subscription;
  }

  /// A subscription that receives `topic_type` messages as serialized bytes (see
  /// GenericSubscription). Throws std::invalid_argument for a malformed type name.
  template<typename AllocatorT = std::allocator<void>>
  std::shared_ptr<rclcpp::GenericSubscription> create_generic_subscription(
    const std::string & topic_name,
    const std::string & topic_type,
    const rclcpp::QoS & qos,
    std::function<void(std::shared_ptr<rclcpp::SerializedMessage>)> callback,
    const rclcpp::SubscriptionOptionsWithAllocator<AllocatorT> & options = (
      rclcpp::SubscriptionOptionsWithAllocator<AllocatorT>()
    ))
  {
    auto subscription = std::make_shared<GenericSubscription>(
      base_, topic_name, topic_type, qos, std::move(callback), options);
    add_to_group(subscription, options.callback_group);
    return subscription;
  }

  template<typename DurationRepT, typename DurationT, typename CallbackT>
  typename WallTimer<std::decay_t<CallbackT>>::SharedPtr create_wall_timer(
    std::chrono::duration<DurationRepT, DurationT> period, CallbackT && callback,
    CallbackGroup::SharedPtr group = nullptr)
  {
    auto timer = std::make_shared<WallTimer<std::decay_t<CallbackT>>>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(period),
      std::decay_t<CallbackT>(std::forward<CallbackT>(callback)),
      [weak = std::weak_ptr<node_interfaces::NodeBase>(base_)]() {
        if (auto b = weak.lock()) {b->notify_executors();}
      });
    add_to_group(timer, group);
    return timer;
  }

  template<typename ServiceT, typename CallbackT>
  typename Service<ServiceT>::SharedPtr create_service(
    const std::string & service_name, CallbackT && callback,
    const rmw_qos_profile_t & qos_profile = rmw_qos_profile_services_default,
    CallbackGroup::SharedPtr group = nullptr)
  {
    auto service = std::make_shared<Service<ServiceT>>(
      base_, service_name, std::forward<CallbackT>(callback), qos_profile);
    add_to_group(service, group);
    return service;
  }

  template<typename ServiceT>
  typename Client<ServiceT>::SharedPtr create_client(
    const std::string & service_name,
    const rmw_qos_profile_t & qos_profile = rmw_qos_profile_services_default,
    CallbackGroup::SharedPtr group = nullptr)
  {
    auto client = std::make_shared<Client<ServiceT>>(base_, service_name, qos_profile);
    add_to_group(client, group);
    return client;
  }

  // Parameters, with the rules of ROS 2 Humble's rclcpp: a parameter keeps the type it was
  // declared with unless its descriptor allows dynamic typing (parameters declared from
  // overrides do), read-only ones refuse every set, ranges are enforced. Every change is
  // published on /parameter_events. Any thread.

  /// Declares a parameter with its override, else `default_value`. Throws
  /// ParameterAlreadyDeclaredException, InvalidParametersException (empty name),
  /// InvalidParameterTypeException (no value for a statically typed parameter, or an override
  /// of another type) and InvalidParameterValueException (out of range).
  const rclcpp::ParameterValue & declare_parameter(
    const std::string & name, const rclcpp::ParameterValue & default_value,
    const rcl_interfaces::msg::ParameterDescriptor & parameter_descriptor =
    rcl_interfaces::msg::ParameterDescriptor(),
    bool ignore_override = false);
  /// Declares a parameter of `type` whose value may come later (from an override or a set);
  /// until then get_parameter(name) throws ParameterUninitializedException.
  const rclcpp::ParameterValue & declare_parameter(
    const std::string & name, rclcpp::ParameterType type,
    const rcl_interfaces::msg::ParameterDescriptor & parameter_descriptor =
    rcl_interfaces::msg::ParameterDescriptor{},
    bool ignore_override = false);
  template<typename ParameterT>
  auto declare_parameter(
    const std::string & name, const ParameterT & default_value,
    const rcl_interfaces::msg::ParameterDescriptor & parameter_descriptor =
    rcl_interfaces::msg::ParameterDescriptor(),
    bool ignore_override = false)
  {
    try {
      return this->declare_parameter(
        name, rclcpp::ParameterValue(default_value), parameter_descriptor, ignore_override)
             .template get<ParameterT>();
    } catch (const ParameterTypeException & ex) {
      throw exceptions::InvalidParameterTypeException(name, ex.what());
    }
  }
  /// Declares a statically typed parameter that must get its value from an override; throws
  /// UninitializedStaticallyTypedParameterException when there is none.
  template<typename ParameterT>
  auto declare_parameter(
    const std::string & name,
    const rcl_interfaces::msg::ParameterDescriptor & parameter_descriptor =
    rcl_interfaces::msg::ParameterDescriptor(),
    bool ignore_override = false)
  {
    rclcpp::ParameterValue value{ParameterT{}};
    try {
      return this->declare_parameter(
        name, value.get_type(), parameter_descriptor, ignore_override)
             .template get<ParameterT>();
    } catch (const ParameterTypeException &) {
      throw exceptions::UninitializedStaticallyTypedParameterException(name);
    }
  }
  /// Throws ParameterNotDeclaredException, ParameterImmutableException (read-only) or
  /// InvalidParameterTypeException (statically typed parameters cannot be undeclared).
  void undeclare_parameter(const std::string & name);
  bool has_parameter(const std::string & name) const;

  /// Sets one parameter; a refusal (read-only, wrong type, out of range) is an unsuccessful
  /// result with its reason. Throws ParameterNotDeclaredException for an undeclared parameter
  /// unless undeclared parameters are allowed.
  rcl_interfaces::msg::SetParametersResult set_parameter(const rclcpp::Parameter & parameter);
  /// Sets each parameter on its own, as set_parameter does; one result per parameter.
  std::vector<rcl_interfaces::msg::SetParametersResult> set_parameters(
    const std::vector<rclcpp::Parameter> & parameters);
  /// Sets all of the parameters or none of them.
  rcl_interfaces::msg::SetParametersResult set_parameters_atomically(
    const std::vector<rclcpp::Parameter> & parameters);

  /// Throws ParameterNotDeclaredException when it does not exist.
  rclcpp::Parameter get_parameter(const std::string & name) const;
  bool get_parameter(const std::string & name, rclcpp::Parameter & parameter) const;
  /// Leaves `parameter` untouched and returns false when the parameter does not exist.
  template<typename ParameterT>
  bool get_parameter(const std::string & name, ParameterT & parameter) const
  {
    rclcpp::Parameter p;
    if (!get_parameter(name, p) || p.get_type() == ParameterType::PARAMETER_NOT_SET) {
      return false;
    }
    parameter = detail::convert_parameter<ParameterT>(name, p.get_parameter_value());
    return true;
  }
  template<typename ParameterT>
  bool get_parameter_or(
    const std::string & name, ParameterT & parameter, const ParameterT & alternative_value) const
  {
    const bool got = get_parameter(name, parameter);
    if (!got) {
      parameter = alternative_value;
    }
    return got;
  }
  std::vector<rclcpp::Parameter> get_parameters(const std::vector<std::string> & names) const;

  /// Throws ParameterNotDeclaredException for an undeclared name.
  rcl_interfaces::msg::ParameterDescriptor describe_parameter(const std::string & name) const;
  std::vector<rcl_interfaces::msg::ParameterDescriptor> describe_parameters(
    const std::vector<std::string> & names) const;
  std::vector<uint8_t> get_parameter_types(const std::vector<std::string> & names) const;
  /// The names under any of `prefixes` (every name with none), at most `depth` levels below
  /// (rcl_interfaces::srv::ListParameters::Request::DEPTH_RECURSIVE: any depth).
  rcl_interfaces::msg::ListParametersResult list_parameters(
    const std::vector<std::string> & prefixes, uint64_t depth) const;
  /// Every declared name, sorted.
  std::vector<std::string> list_parameter_names() const;

  node_interfaces::NodeBase::SharedPtr get_node_base_interface() {return base_;}

  /// The publishers of `topic_name` (expanded and remapped like a subscription's name unless
  /// `no_mangle`, then taken as the DDS topic name) that discovery knows of now, this process's
  /// included. Node names are not tracked: they read "_NODE_NAME_UNKNOWN_" and
  /// "_NODE_NAMESPACE_UNKNOWN_", as ROS 2 reports endpoints of unknown nodes. Throws
  /// rclcpp::exceptions::InvalidTopicNameError for a bad name, std::runtime_error when the
  /// graph cannot be read.
  std::vector<rclcpp::TopicEndpointInfo> get_publishers_info_by_topic(
    const std::string & topic_name, bool no_mangle = false) const;
  /// The same for the subscriptions of `topic_name`. With `no_mangle`, "rq/<service>Request"
  /// lists the servers of a service (the readers of its requests).
  std::vector<rclcpp::TopicEndpointInfo> get_subscriptions_info_by_topic(
    const std::string & topic_name, bool no_mangle = false) const;

private:
  void add_to_group(
    const std::shared_ptr<detail::Executable> & executable, CallbackGroup::SharedPtr group);

  NodeOptions options_;
  node_interfaces::NodeBase::SharedPtr base_;
  rclcpp::Clock::SharedPtr clock_;
  // Declared before the parameters, whose creation already logs to it.
  std::shared_ptr<detail::RosoutPublisher> rosout_;
  std::shared_ptr<detail::NodeParameters> parameters_;
  std::unique_ptr<detail::ParameterService> parameter_service_;
};

}  // namespace rclcpp

#endif  // RCLCPP__NODE_HPP_

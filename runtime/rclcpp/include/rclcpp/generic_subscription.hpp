// A subscription to a topic whose type is known by name only, handing over every message as the
// bytes it travelled in. Same class and callback as ROS 2 Humble's rclcpp; made with
// Node::create_generic_subscription.
#ifndef RCLCPP__GENERIC_SUBSCRIPTION_HPP_
#define RCLCPP__GENERIC_SUBSCRIPTION_HPP_

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "rclcpp/macros.hpp"
#include "rclcpp/node_base.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/serialized_message.hpp"
#include "rclcpp/subscription.hpp"
#include "rclcpp/subscription_options.hpp"

namespace rclcpp
{

/// The callback runs on an executor thread, once per message, with the payload exactly as
/// received (CDR encapsulation header included). Nothing is decoded, so any type can be
/// subscribed to; DDS matches publishers by type name.
class GenericSubscription : public SubscriptionBase
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS(GenericSubscription)

  /// Throws std::invalid_argument for a malformed `topic_type` ("pkg/msg/Name" expected).
  template<typename AllocatorT = std::allocator<void>>
  GenericSubscription(
    const node_interfaces::NodeBase::SharedPtr & node_base,
    const std::string & topic_name,
    const std::string & topic_type,
    const rclcpp::QoS & qos,
    std::function<void(std::shared_ptr<rclcpp::SerializedMessage>)> callback,
    const rclcpp::SubscriptionOptionsWithAllocator<AllocatorT> & options)
  : SubscriptionBase(node_base, topic_name, topic_type, qos, options.ignore_local_publications),
    callback_(std::move(callback))
  {}

  ~GenericSubscription() override = default;

protected:
  std::shared_ptr<void> create_message() override {return nullptr;}
  void dispatch(std::shared_ptr<void>) override {}
  void dispatch_serialized(std::shared_ptr<SerializedMessage> message) override
  {
    callback_(std::move(message));
  }

private:
  std::function<void(std::shared_ptr<rclcpp::SerializedMessage>)> callback_;
};

}  // namespace rclcpp

#endif  // RCLCPP__GENERIC_SUBSCRIPTION_HPP_

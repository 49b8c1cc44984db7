// Subscriptions: take samples of a ROS topic and hand them to a user callback.
#ifndef RCLCPP__SUBSCRIPTION_HPP_
#define RCLCPP__SUBSCRIPTION_HPP_

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "rclcpp/detail/executable.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/node_base.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/serialized_message.hpp"
#include "rclcpp/subscription_options.hpp"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"

struct rosidl_message_type_support_t;

namespace rclcpp
{
namespace dds
{
class Reader;
}

/// Type-erased part of a subscription: owns the DDS reader, takes one sample per execution and
/// drops (with a throttled warning naming the topic) samples that do not decode. A serialized
/// subscription hands over each sample's bytes as they travelled instead.
class SubscriptionBase : public detail::Executable
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(SubscriptionBase)

  SubscriptionBase(
    const node_interfaces::NodeBase::SharedPtr & node, const std::string & topic_name,
    const rosidl_message_type_support_t * type_support, const QoS & qos,
    bool ignore_local_publications);
  ~SubscriptionBase() override;

  const char * get_topic_name() const;
  size_t get_publisher_count() const;
  QoS get_actual_qos() const {return qos_;}
  /// True when the callback receives serialized messages.
  bool is_serialized() const {return serialized_;}

  size_t condition_count() const override {return 1;}
  int32_t condition(size_t index) const override;
  void execute(size_t index) override;
  std::string describe() const override;

protected:
  /// A serialized subscription of a topic whose type is known by name only ("pkg/msg/Name").
  /// Throws std::invalid_argument for a malformed type name.
  SubscriptionBase(
    const node_interfaces::NodeBase::SharedPtr & node, const std::string & topic_name,
    const std::string & topic_type, const QoS & qos, bool ignore_local_publications);

  virtual std::shared_ptr<void> create_message() = 0;
  virtual void dispatch(std::shared_ptr<void> message) = 0;
  /// Serialized subscriptions only.
  virtual void dispatch_serialized(std::shared_ptr<SerializedMessage> message);

private:
  void execute_serialized();

  node_interfaces::NodeBase::SharedPtr node_;
  std::string topic_name_;
  QoS qos_;
  bool serialized_ = false;
  std::unique_ptr<dds::Reader> reader_;
  std::chrono::steady_clock::time_point last_decode_warning_{};
  // Reused by execute_serialized (one executor thread at a time runs an entity).
  std::vector<uint8_t> scratch_;
};

template<typename MessageT, typename AllocatorT = std::allocator<void>>
class Subscription : public SubscriptionBase
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS(Subscription)

  template<typename CallbackT>
  Subscription(
    const node_interfaces::NodeBase::SharedPtr & node, const std::string & topic_name,
    const QoS & qos, CallbackT && callback, const SubscriptionOptionsWithAllocator<AllocatorT> & options)
  : SubscriptionBase(
      node, topic_name,
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<MessageT>(), qos,
      options.ignore_local_publications)
  {
    using C = std::decay_t<CallbackT>;
    // shared_ptr first: a callback taking shared_ptr<const T> would also accept a unique_ptr
    // (it converts), which would cost a move and an allocation per message.
    if constexpr (std::is_invocable_v<C, std::shared_ptr<MessageT>>) {
      callback_ = [cb = std::forward<CallbackT>(callback)](std::shared_ptr<MessageT> m) mutable {
          cb(std::move(m));
        };
    } else if constexpr (std::is_invocable_v<C, const MessageT &>) {
      callback_ = [cb = std::forward<CallbackT>(callback)](std::shared_ptr<MessageT> m) mutable {
          cb(static_cast<const MessageT &>(*m));
        };
    } else if constexpr (std::is_invocable_v<C, std::unique_ptr<MessageT>>) {
      callback_ = [cb = std::forward<CallbackT>(callback)](std::shared_ptr<MessageT> m) mutable {
          cb(std::make_unique<MessageT>(std::move(*m)));
        };
    } else {
      static_assert(
        std::is_invocable_v<C, const MessageT &>,
        "subscription callback must take shared_ptr<const MessageT>, const MessageT &, "
        "shared_ptr<MessageT> or unique_ptr<MessageT>");
    }
  }

protected:
  std::shared_ptr<void> create_message() override {return std::make_shared<MessageT>();}
  void dispatch(std::shared_ptr<void> message) override
  {
    callback_(std::static_pointer_cast<MessageT>(message));
  }

private:
  std::function<void (std::shared_ptr<MessageT>)> callback_;
};

}  // namespace rclcpp

#endif  // RCLCPP__SUBSCRIPTION_HPP_

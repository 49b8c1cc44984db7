// Publishers: serialise a message and write it on a ROS topic.
#ifndef RCLCPP__PUBLISHER_HPP_
#define RCLCPP__PUBLISHER_HPP_

#include <memory>
#include <string>

#include "rclcpp/macros.hpp"
#include "rclcpp/node_base.hpp"
#include "rclcpp/qos.hpp"
#include "rosidl_typesupport_introspection_cpp/message_type_support_decl.hpp"

struct rosidl_message_type_support_t;

namespace rclcpp
{
namespace dds
{
class Writer;
}

/// Type-erased part of a publisher. publish calls may come from any thread.
class PublisherBase
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS_NOT_COPYABLE(PublisherBase)

  PublisherBase(
    const node_interfaces::NodeBase::SharedPtr & node, const std::string & topic_name,
    const rosidl_message_type_support_t * type_support, const QoS & qos);
  virtual ~PublisherBase();

  const char * get_topic_name() const;
  size_t get_subscription_count() const;
  QoS get_actual_qos() const {return qos_;}
  /// Waits until every published message is acknowledged by matched reliable readers.
  bool wait_for_all_acked(
    std::chrono::milliseconds timeout = std::chrono::milliseconds(-1)) const;

protected:
  /// Serialises and writes; throws rclcpp::exceptions::RCLError("failed to publish message").
  void publish_type_erased(const void * message);

private:
  node_interfaces::NodeBase::SharedPtr node_;
  std::string topic_name_;
  QoS qos_;
  std::unique_ptr<dds::Writer> writer_;
};

template<typename MessageT, typename AllocatorT = std::allocator<void>>
class Publisher : public PublisherBase
{
public:
  RCLCPP_SMART_PTR_DEFINITIONS(Publisher)
  using MessageUniquePtr = std::unique_ptr<MessageT>;
  using MessageSharedPtr = std::shared_ptr<const MessageT>;

  Publisher(
    const node_interfaces::NodeBase::SharedPtr & node, const std::string & topic_name,
    const QoS & qos)
  : PublisherBase(
      node, topic_name,
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<MessageT>(), qos)
  {}

  void publish(const MessageT & message) {publish_type_erased(&message);}
  void publish(std::unique_ptr<MessageT> message) {publish_type_erased(message.get());}
};

}  // namespace rclcpp

#endif  // RCLCPP__PUBLISHER_HPP_

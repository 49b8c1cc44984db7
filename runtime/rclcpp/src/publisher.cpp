#include "rclcpp/publisher.hpp"

#include "dds/dds.hpp"
#include "entity_support.hpp"
#include "rclcpp/exceptions.hpp"

namespace rclcpp
{

PublisherBase::PublisherBase(
  const node_interfaces::NodeBase::SharedPtr & node, const std::string & topic_name,
  const rosidl_message_type_support_t * type_support, const QoS & qos)
: node_(node),
  topic_name_(node->resolve_topic_or_service_name(topic_name, false)),
  qos_(qos)
{
  const auto & profile = qos.get_rmw_qos_profile();
  writer_ = std::make_unique<dds::Writer>(
    node_->participant(),
    detail::dds_topic_name(topic_name_, profile.avoid_ros_namespace_conventions),
    detail::message_members(type_support), profile);
  node_->announce_writer(writer_->gid(), true);
}

PublisherBase::~PublisherBase()
{
  node_->announce_writer(writer_->gid(), false);
}

const char * PublisherBase::get_topic_name() const {return topic_name_.c_str();}

size_t PublisherBase::get_subscription_count() const {return writer_->matched_count();}

bool PublisherBase::wait_for_all_acked(std::chrono::milliseconds timeout) const
{
  return writer_->wait_for_acks(
    timeout.count() < 0 ? std::chrono::nanoseconds::max() :
    std::chrono::duration_cast<std::chrono::nanoseconds>(timeout));
}

void PublisherBase::publish_type_erased(const void * message)
{
  if (!writer_->write(message)) {
    throw exceptions::RCLError("failed to publish message");
  }
}

}  // namespace rclcpp

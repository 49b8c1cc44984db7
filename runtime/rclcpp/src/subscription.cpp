#include "rclcpp/subscription.hpp"

#include "dds/dds.hpp"
#include "entity_support.hpp"

namespace rclcpp
{

SubscriptionBase::SubscriptionBase(
  const node_interfaces::NodeBase::SharedPtr & node, const std::string & topic_name,
  const rosidl_message_type_support_t * type_support, const QoS & qos,
  bool ignore_local_publications)
: node_(node),
  topic_name_(node->resolve_topic_or_service_name(topic_name, false)),
  qos_(qos)
{
  const auto & profile = qos.get_rmw_qos_profile();
  reader_ = std::make_unique<dds::Reader>(
    node_->participant(),
    detail::dds_topic_name(topic_name_, profile.avoid_ros_namespace_conventions),
    detail::message_members(type_support), profile, std::string(), false,
    ignore_local_publications);
  node_->announce_reader(reader_->gid(), true);
}

SubscriptionBase::~SubscriptionBase()
{
  node_->announce_reader(reader_->gid(), false);
}

const char * SubscriptionBase::get_topic_name() const {return topic_name_.c_str();}

size_t SubscriptionBase::get_publisher_count() const {return reader_->matched_count();}

int32_t SubscriptionBase::condition(size_t) const {return reader_->read_condition();}

std::string SubscriptionBase::describe() const {return "topic '" + topic_name_ + "'";}

void SubscriptionBase::execute(size_t)
{
  // Drop undecodable samples until a good one (or none) is found, so one bad publisher
  // cannot starve the callback.
  while (true) {
    std::shared_ptr<void> message = create_message();
    dds::TakeResult result = reader_->take(message.get());
    switch (result.status) {
      case dds::TakeStatus::Taken:
        dispatch(std::move(message));
        return;
      case dds::TakeStatus::Empty:
        return;
      case dds::TakeStatus::DecodeFailed:
        detail::warn_undecodable(node_->get_logger(), describe(), result.error, last_decode_warning_);
        continue;
      case dds::TakeStatus::Skipped:
        continue;
    }
  }
}

}  // namespace rclcpp

#include "rclcpp/subscription.hpp"

#include <cstring>

#include "dds/dds.hpp"
#include "dds/graph.hpp"
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

SubscriptionBase::SubscriptionBase(
  const node_interfaces::NodeBase::SharedPtr & node, const std::string & topic_name,
  const std::string & topic_type, const QoS & qos, bool ignore_local_publications)
: node_(node),
  topic_name_(node->resolve_topic_or_service_name(topic_name, false)),
  qos_(qos),
  serialized_(true)
{
  const auto & profile = qos.get_rmw_qos_profile();
  reader_ = std::make_unique<dds::Reader>(
    node_->participant(),
    detail::dds_topic_name(topic_name_, profile.avoid_ros_namespace_conventions),
    dds::dds_type_name_of(topic_type), profile, ignore_local_publications);
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

void SubscriptionBase::dispatch_serialized(std::shared_ptr<SerializedMessage>) {}

void SubscriptionBase::execute_serialized()
{
  // Several samples per execution: a recorder under a burst spends its time on the samples, not
  // on waking up for each one. Bounded, so that other entities of the executor still get turns.
  constexpr int kMaxPerExecution = 64;
  int dispatched = 0;
  while (dispatched < kMaxPerExecution) {
    dds::TakeResult result = reader_->take_serialized(scratch_);
    switch (result.status) {
      case dds::TakeStatus::Taken: {
          auto message = std::make_shared<SerializedMessage>(scratch_.size());
          auto & raw = message->get_rcl_serialized_message();
          std::memcpy(raw.buffer, scratch_.data(), scratch_.size());
          raw.buffer_length = scratch_.size();
          dispatch_serialized(std::move(message));
          ++dispatched;
          break;
        }
      case dds::TakeStatus::Empty:
        return;
      case dds::TakeStatus::DecodeFailed:
      case dds::TakeStatus::Skipped:
        break;
    }
  }
}

void SubscriptionBase::execute(size_t)
{
  if (serialized_) {
    execute_serialized();
    return;
  }
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

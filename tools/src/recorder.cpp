#include "recorder.hpp"

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "commands.hpp"

namespace quorvel_tools
{

namespace
{

// Room for a burst between two spins of the node, and for the whole history of a transient
// local publisher (the supervisor keeps 2000 task events).
constexpr std::size_t kMinimumDepth = 1000;

}  // namespace

std::vector<std::string> default_record_topics(const std::string & events_topic)
{
  return {
      events_topic,
      kArmStateTopic,
      kJointAngleTopic,
      kEnvDetectTopic,
      kEnvEnableTopic,
      kGripperTopic,
      kRecoverTopic,
      kVoiceTopic};
}

rclcpp::QoS subscription_qos_for(const std::vector<quorvel_bag::OfferedQos> & offers)
{
  bool all_reliable = !offers.empty();
  bool all_transient_local = !offers.empty();
  std::size_t depth = kMinimumDepth;
  for (const quorvel_bag::OfferedQos & offer : offers) {
    all_reliable = all_reliable && offer.reliability == RMW_QOS_POLICY_RELIABILITY_RELIABLE;
    all_transient_local =
        all_transient_local && offer.durability == RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
    depth = std::max<std::size_t>(depth, static_cast<std::size_t>(offer.depth));
  }
  rclcpp::QoS qos{rclcpp::KeepLast(depth)};
  if (all_reliable) {
    qos.reliable();
  } else {
    qos.best_effort();
  }
  if (all_transient_local) {
    qos.transient_local();
  } else {
    qos.durability_volatile();
  }
  return qos;
}

Recorder::Recorder(
    rclcpp::Node::SharedPtr node,
    quorvel_bag::BagWriter & writer,
    std::vector<std::string> topics,
    std::function<void(const RecordedTopic &)> on_subscribed)
    : node_(std::move(node)),
      writer_(writer),
      wanted_(std::move(topics)),
      on_subscribed_(std::move(on_subscribed))
{
}

std::vector<std::string> Recorder::waiting() const
{
  std::vector<std::string> names;
  for (const std::string & name : wanted_) {
    if (recorded_.count(name) == 0) {
      names.push_back(name);
    }
  }
  return names;
}

void Recorder::poll()
{
  if (failure_) {
    return;
  }
  for (const std::string & name : waiting()) {
    const std::vector<rclcpp::TopicEndpointInfo> publishers =
        node_->get_publishers_info_by_topic(name);
    if (publishers.empty()) {
      continue;
    }
    // Publishers of another type than the first one's cannot share the subscription.
    const std::string type = publishers.front().topic_type();
    std::vector<quorvel_bag::OfferedQos> offers;
    for (const rclcpp::TopicEndpointInfo & publisher : publishers) {
      if (publisher.topic_type() == type) {
        offers.push_back(
            quorvel_bag::offered_qos_from_rmw(publisher.qos_profile().get_rmw_qos_profile()));
      }
    }
    RecordedTopic & topic = recorded_[name];
    topic.name = name;
    topic.type = type;
    topic.offers = offers;
    topic.id = writer_.add_topic(
        {name, type, quorvel_bag::kSerializationFormat, quorvel_bag::offered_qos_to_yaml(offers)});
    topic.subscription = node_->create_generic_subscription(
        name,
        type,
        subscription_qos_for(offers),
        [this, &topic](std::shared_ptr<rclcpp::SerializedMessage> message) {
          on_message(topic, *message);
        });
    on_subscribed_(topic);
  }
}

void Recorder::on_message(RecordedTopic & topic, const rclcpp::SerializedMessage & message)
{
  if (failure_) {
    return;
  }
  // Receive time on the node's clock, as Humble's recorder stamps messages.
  const std::int64_t now = node_->now().nanoseconds();
  const auto & raw = message.get_rcl_serialized_message();
  try {
    writer_.write(topic.id, now, raw.buffer, raw.buffer_length);
    ++topic.messages;
  } catch (const quorvel_bag::BagError & error) {
    failure_ = error;
  }
}

}  // namespace quorvel_tools

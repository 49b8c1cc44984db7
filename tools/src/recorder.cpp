#include "recorder.hpp"

#include <algorithm>
#include <exception>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "commands.hpp"

namespace quorvel_tools
{

namespace
{

// Room for a burst: the reader keeps this many messages of a topic until they are taken (a
// flood of 200,000 joint states on loopback loses none), and the whole history of a transient
// local publisher (the supervisor keeps 2000 task events). Memory is used only as it fills.
constexpr std::size_t kMinimumDepth = 10000;

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
    WriteQueue & queue,
    std::vector<std::string> topics,
    std::function<void(const RecordedTopic &)> on_subscribed,
    std::function<void(const std::string &, const std::string &, const std::string &)>
        on_unrecordable)
    : node_(std::move(node)),
      queue_(queue),
      wanted_(std::move(topics)),
      on_subscribed_(std::move(on_subscribed)),
      on_unrecordable_(std::move(on_unrecordable))
{
}

std::vector<std::string> Recorder::waiting() const
{
  std::vector<std::string> names;
  for (const std::string & name : wanted_) {
    if (recorded_.count(name) == 0 && unrecordable_.count(name) == 0) {
      names.push_back(name);
    }
  }
  return names;
}

void Recorder::poll()
{
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
    // The subscription first: where the type cannot be subscribed to (a client library that
    // finds no type support for it), the bag gets no topic it would never fill. No callback
    // runs before poll() returns: both happen on the node's thread.
    RecordedTopic & topic = recorded_[name];
    topic.name = name;
    topic.type = type;
    topic.offers = offers;
    try {
      topic.subscription = node_->create_generic_subscription(
          name,
          type,
          subscription_qos_for(offers),
          [this, &topic](std::shared_ptr<rclcpp::SerializedMessage> message) {
            on_message(topic, std::move(message));
          });
    } catch (const std::exception & error) {
      recorded_.erase(name);
      if (unrecordable_.emplace(name, error.what()).second) {
        on_unrecordable_(name, type, error.what());
      }
      continue;
    }
    try {
      topic.id = queue_.add_topic(
          {name,
           type,
           quorvel_bag::kSerializationFormat,
           quorvel_bag::offered_qos_to_yaml(offers)});
    } catch (...) {
      recorded_.erase(name);
      throw;
    }
    on_subscribed_(topic);
  }
}

void Recorder::on_message(RecordedTopic & topic, std::shared_ptr<rclcpp::SerializedMessage> message)
{
  // Receive time on the node's clock, as Humble's recorder stamps messages.
  queue_.push(topic.id, node_->now().nanoseconds(), std::move(message));
  ++topic.messages;
}

}  // namespace quorvel_tools

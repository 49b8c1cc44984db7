// Records topics into a bag as `ros2 bag record` does: each topic is subscribed once a
// publisher of it appears, with the QoS its publishers offer, and every message goes into the
// bag exactly as it travelled, stamped with its receive time.
#ifndef QUORVEL_TOOLS__RECORDER_HPP_
#define QUORVEL_TOOLS__RECORDER_HPP_

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <rclcpp/rclcpp.hpp>

#include "quorvel_bag/qos_profile.hpp"
#include "write_queue.hpp"

namespace quorvel_tools
{

/// The supervisor's task events and every topic it reads or writes.
std::vector<std::string> default_record_topics(const std::string & events_topic);

/// The subscription QoS for a topic with these offers: reliable only when every publisher is,
/// transient local only when every publisher is (then the history is received too), and a
/// history deep enough for the deepest offer.
rclcpp::QoS subscription_qos_for(const std::vector<quorvel_bag::OfferedQos> & offers);

/// One recorded topic.
struct RecordedTopic
{
  std::string name;
  std::string type;
  std::int64_t id = 0;  // in the bag
  std::vector<quorvel_bag::OfferedQos> offers;
  std::uint64_t messages = 0;
  rclcpp::GenericSubscription::SharedPtr subscription;
};

/// Drives the recording on the node's thread: poll() subscribes to the topics that have
/// publishers by now, the subscriptions' callbacks queue each message for the bag. All calls,
/// the callbacks included, run on the thread that spins the node.
class Recorder
{
public:
  /// `on_subscribed` is told of each topic as it is subscribed, `on_unrecordable` (name, type,
  /// why) of a topic whose type cannot be subscribed to here, which is then left out.
  Recorder(
      rclcpp::Node::SharedPtr node,
      WriteQueue & queue,
      std::vector<std::string> topics,
      std::function<void(const RecordedTopic &)> on_subscribed,
      std::function<void(const std::string &, const std::string &, const std::string &)>
          on_unrecordable);

  /// Looks for publishers of the topics not yet subscribed and subscribes to those found.
  /// Throws quorvel_bag::BagError when the bag cannot take a topic.
  void poll();

  /// The topics recorded so far, with the messages received on each.
  const std::map<std::string, RecordedTopic> & topics() const { return recorded_; }
  /// The names asked for that no publisher has offered yet.
  std::vector<std::string> waiting() const;
  /// The names left out, with why.
  const std::map<std::string, std::string> & unrecordable() const { return unrecordable_; }

private:
  void on_message(RecordedTopic & topic, std::shared_ptr<rclcpp::SerializedMessage> message);

  rclcpp::Node::SharedPtr node_;
  WriteQueue & queue_;
  std::vector<std::string> wanted_;
  std::function<void(const RecordedTopic &)> on_subscribed_;
  std::function<void(const std::string &, const std::string &, const std::string &)>
      on_unrecordable_;
  std::map<std::string, RecordedTopic> recorded_;
  std::map<std::string, std::string> unrecordable_;
};

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__RECORDER_HPP_

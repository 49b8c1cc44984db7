// Messages on their way into a bag: the node's thread hands them over and goes back to the
// network at once; a thread of its own writes them into the bag and commits every 0.1 s. A
// commit that takes a while (a slow disk) then holds nothing up: the messages wait here.
#ifndef QUORVEL_TOOLS__WRITE_QUEUE_HPP_
#define QUORVEL_TOOLS__WRITE_QUEUE_HPP_

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <rclcpp/serialized_message.hpp>

#include "quorvel_bag/bag_error.hpp"
#include "quorvel_bag/metadata.hpp"
#include "quorvel_bag/writer.hpp"

namespace quorvel_tools
{

class WriteQueue
{
public:
  /// Writes into `writer` until stop(). At most `max_queued_bytes` of messages wait at a time;
  /// beyond that, new messages are dropped and counted (the disk cannot keep up).
  WriteQueue(
      quorvel_bag::BagWriter & writer,
      std::size_t max_queued_bytes,
      std::chrono::milliseconds commit_period = std::chrono::milliseconds(100));
  /// Calls stop().
  ~WriteQueue();
  WriteQueue(const WriteQueue &) = delete;
  WriteQueue & operator=(const WriteQueue &) = delete;

  /// Adds a topic to the bag (waits for the batch being written, if any); returns its id.
  /// Throws quorvel_bag::BagError. Any thread.
  std::int64_t add_topic(const quorvel_bag::TopicMetadata & topic);

  /// Queues one message; never blocks on the disk. Ignored after a failure. Any thread.
  void push(
      std::int64_t topic_id,
      std::int64_t timestamp_ns,
      std::shared_ptr<rclcpp::SerializedMessage> message);

  /// Writes what is queued, commits and ends the writing thread. The writer can be closed
  /// afterwards. Idempotent.
  void stop();

  /// The first failed write (a full disk); nothing more is written after it. Any thread.
  std::optional<quorvel_bag::BagError> failure() const;
  /// Messages dropped because too much was waiting. Any thread.
  std::uint64_t dropped() const;
  /// Bytes of the bag on disk. Any thread.
  std::uintmax_t size_bytes() const;

private:
  struct Item
  {
    std::int64_t topic_id;
    std::int64_t timestamp_ns;
    std::shared_ptr<rclcpp::SerializedMessage> message;
  };

  void run();

  // The writer is used under writer_mutex_ only: by the writing thread for each batch and by
  // add_topic on the caller's thread.
  quorvel_bag::BagWriter & writer_;
  mutable std::mutex writer_mutex_;

  const std::size_t max_queued_bytes_;
  const std::chrono::milliseconds commit_period_;
  mutable std::mutex queue_mutex_;  // guards everything below
  std::condition_variable wake_;
  std::vector<Item> queue_;
  std::size_t queued_bytes_ = 0;
  std::uint64_t dropped_ = 0;
  bool stopping_ = false;
  std::optional<quorvel_bag::BagError> failure_;
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__WRITE_QUEUE_HPP_

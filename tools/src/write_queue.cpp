#include "write_queue.hpp"

#include <utility>

namespace quorvel_tools
{

namespace
{

// What one queued message costs besides its bytes.
constexpr std::size_t kItemOverhead = 128;

}  // namespace

WriteQueue::WriteQueue(
    quorvel_bag::BagWriter & writer,
    std::size_t max_queued_bytes,
    std::chrono::milliseconds commit_period)
    : writer_(writer),
      max_queued_bytes_(max_queued_bytes),
      commit_period_(commit_period),
      thread_([this] { run(); })
{
}

WriteQueue::~WriteQueue() { stop(); }

std::int64_t WriteQueue::add_topic(const quorvel_bag::TopicMetadata & topic)
{
  std::lock_guard<std::mutex> lock(writer_mutex_);
  return writer_.add_topic(topic);
}

void WriteQueue::push(
    std::int64_t topic_id,
    std::int64_t timestamp_ns,
    std::shared_ptr<rclcpp::SerializedMessage> message)
{
  const std::size_t cost = message->size() + kItemOverhead;
  std::lock_guard<std::mutex> lock(queue_mutex_);
  if (failure_ || stopping_) {
    return;
  }
  if (queued_bytes_ + cost > max_queued_bytes_) {
    ++dropped_;
    return;
  }
  queued_bytes_ += cost;
  queue_.push_back(Item{topic_id, timestamp_ns, std::move(message)});
}

void WriteQueue::stop()
{
  {
    std::lock_guard<std::mutex> lock(queue_mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) {
    thread_.join();
  }
}

std::optional<quorvel_bag::BagError> WriteQueue::failure() const
{
  std::lock_guard<std::mutex> lock(queue_mutex_);
  return failure_;
}

std::uint64_t WriteQueue::dropped() const
{
  std::lock_guard<std::mutex> lock(queue_mutex_);
  return dropped_;
}

std::uintmax_t WriteQueue::size_bytes() const
{
  std::lock_guard<std::mutex> lock(writer_mutex_);
  return writer_.size_bytes();
}

void WriteQueue::run()
{
  std::vector<Item> batch;
  while (true) {
    bool last = false;
    {
      std::unique_lock<std::mutex> lock(queue_mutex_);
      // One batch per period: every message waits 0.1 s at most, and a burst is committed in
      // one transaction.
      wake_.wait_for(lock, commit_period_, [this] { return stopping_; });
      last = stopping_;
      batch.swap(queue_);
      queued_bytes_ = 0;
    }
    if (!batch.empty()) {
      try {
        std::lock_guard<std::mutex> lock(writer_mutex_);
        for (const Item & item : batch) {
          const auto & raw = item.message->get_rcl_serialized_message();
          writer_.write(item.topic_id, item.timestamp_ns, raw.buffer, raw.buffer_length);
        }
        writer_.commit();
      } catch (const quorvel_bag::BagError & error) {
        std::lock_guard<std::mutex> lock(queue_mutex_);
        failure_ = error;
        queue_.clear();
        queued_bytes_ = 0;
        return;
      }
      batch.clear();
    }
    if (last) {
      return;
    }
  }
}

}  // namespace quorvel_tools

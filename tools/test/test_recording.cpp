// The recorder's decisions and its way to the disk, without a ROS graph: the subscription QoS
// chosen from the publishers' offers, and the queue between the network and the bag.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "quorvel_bag/reader.hpp"
#include "quorvel_bag/writer.hpp"
#include "recorder.hpp"
#include "write_queue.hpp"

namespace quorvel_tools
{
namespace
{

quorvel_bag::OfferedQos offer(int reliability, int durability, std::uint64_t depth)
{
  quorvel_bag::OfferedQos o;
  o.history = RMW_QOS_POLICY_HISTORY_KEEP_LAST;
  o.reliability = reliability;
  o.durability = durability;
  o.depth = depth;
  return o;
}

constexpr int kReliable = RMW_QOS_POLICY_RELIABILITY_RELIABLE;
constexpr int kBestEffort = RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT;
constexpr int kTransientLocal = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
constexpr int kVolatile = RMW_QOS_POLICY_DURABILITY_VOLATILE;

std::shared_ptr<rclcpp::SerializedMessage> payload(std::size_t size, std::uint8_t fill)
{
  auto message = std::make_shared<rclcpp::SerializedMessage>(size);
  auto & raw = message->get_rcl_serialized_message();
  for (std::size_t i = 0; i < size; ++i) {
    raw.buffer[i] = fill;
  }
  raw.buffer_length = size;
  return message;
}

class TempBagDir
{
public:
  TempBagDir()
  {
    std::string pattern = "/tmp/quorvel-recording-test.XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) {
      dir_ = pattern;
    }
  }
  ~TempBagDir()
  {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  std::filesystem::path bag() const { return dir_ / "rec"; }

private:
  std::filesystem::path dir_;
};

}  // namespace

TEST(Recording, the_subscription_takes_what_every_publisher_offers)
{
  // The supervisor's task events: reliable, transient local, 2000 kept.
  const rclcpp::QoS events = subscription_qos_for({offer(kReliable, kTransientLocal, 2000)});
  EXPECT_EQ(events.reliability(), rclcpp::ReliabilityPolicy::Reliable);
  EXPECT_EQ(events.durability(), rclcpp::DurabilityPolicy::TransientLocal);
  EXPECT_GE(events.depth(), 2000u);

  // One publisher that does not keep its history: asking for it would match none of them.
  const rclcpp::QoS mixed = subscription_qos_for(
      {offer(kReliable, kTransientLocal, 10), offer(kReliable, kVolatile, 10)});
  EXPECT_EQ(mixed.durability(), rclcpp::DurabilityPolicy::Volatile);
  EXPECT_EQ(mixed.reliability(), rclcpp::ReliabilityPolicy::Reliable);

  // A best-effort publisher is only heard by a best-effort subscription.
  const rclcpp::QoS lossy =
      subscription_qos_for({offer(kReliable, kVolatile, 10), offer(kBestEffort, kVolatile, 5)});
  EXPECT_EQ(lossy.reliability(), rclcpp::ReliabilityPolicy::BestEffort);

  // A deep history is kept whole; bursts of the arm's topics fit in any case.
  EXPECT_GE(subscription_qos_for({offer(kReliable, kTransientLocal, 50000)}).depth(), 50000u);
  EXPECT_GE(subscription_qos_for({offer(kReliable, kVolatile, 1)}).depth(), 10000u);
}

TEST(Recording, the_queue_writes_everything_in_order_and_counts_what_it_cannot_hold)
{
  TempBagDir tmp;
  quorvel_bag::BagWriter writer(tmp.bag());
  {
    WriteQueue queue(writer, 1u << 20, std::chrono::milliseconds(10));
    const auto id =
        queue.add_topic({"/robot/joint_angle", "sensor_msgs/msg/JointState", "cdr", ""});
    for (int i = 0; i < 500; ++i) {
      queue.push(id, 1000 + i, payload(64, static_cast<std::uint8_t>(i)));
    }
    queue.stop();
    EXPECT_EQ(queue.dropped(), 0u);
    EXPECT_FALSE(queue.failure());
    queue.push(id, 5000, payload(8, 1));  // after stop: not written
  }
  EXPECT_EQ(writer.committed_count(), 500u);
  writer.close();
  quorvel_bag::BagReader reader(tmp.bag());
  auto cursor = reader.messages();
  quorvel_bag::BagMessage message;
  int n = 0;
  while (cursor.next(message)) {
    ASSERT_EQ(message.timestamp_ns, 1000 + n);
    ASSERT_EQ(message.data, std::vector<std::uint8_t>(64, static_cast<std::uint8_t>(n)));
    ++n;
  }
  EXPECT_EQ(n, 500);
}

TEST(Recording, a_queue_over_its_budget_drops_and_counts_and_a_failed_write_stops_it)
{
  TempBagDir tmp;
  quorvel_bag::BagWriter writer(tmp.bag());
  {
    // A budget of 10 messages of 1000 bytes, and a writing thread that waits a minute between
    // batches: the 11th and later are dropped, and none blocks.
    WriteQueue queue(writer, 10 * (1000 + 128), std::chrono::minutes(1));
    const auto id = queue.add_topic({"/a", "std_msgs/msg/String", "cdr", ""});
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 25; ++i) {
      queue.push(id, i, payload(1000, 7));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(queue.dropped(), 15u);
    queue.stop();  // writes the 10 it holds
  }
  EXPECT_EQ(writer.committed_count(), 10u);

  // A message for a topic the bag does not have fails the write: the queue stops there and says
  // why, and nothing of that batch is committed.
  WriteQueue queue(writer, 1u << 20, std::chrono::minutes(1));
  const auto id = queue.add_topic({"/b", "std_msgs/msg/String", "cdr", ""});
  queue.push(id, 100, payload(8, 1));
  queue.push(99, 101, payload(8, 1));
  queue.stop();
  ASSERT_TRUE(queue.failure());
  EXPECT_NE(std::string(queue.failure()->what()).find("no topic has id 99"), std::string::npos)
      << queue.failure()->what();
  queue.push(id, 200, payload(8, 1));
  EXPECT_EQ(writer.committed_count(), 10u);
}

}  // namespace quorvel_tools

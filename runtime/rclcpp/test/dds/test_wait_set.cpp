// WaitSet and GuardCondition: what wakes a waiter, what does not, and that an idle set sleeps.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "dds/dds.h"
#include "std_msgs/msg/detail/int32__rosidl_typesupport_introspection_cpp.hpp"
#include "std_msgs/msg/int32.hpp"

#include "dds_test_util.hpp"

namespace
{

using namespace rclcpp::dds;
using namespace dds_test;
using Keys = std::vector<intptr_t>;
using Clock = std::chrono::steady_clock;

TEST(WaitSet, IdleSetSleepsForTheWholeTimeoutAndGuardsWakeIt)
{
  WaitSet waitset;
  // Nothing attached but the internal guard: Cyclone would return at once from a truly empty set.
  const auto t0 = Clock::now();
  EXPECT_EQ(waitset.wait(200ms), Keys{});
  const auto slept = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0);
  EXPECT_GE(slept.count(), 190) << "an idle wait must sleep, not return at once";

  GuardCondition guard;
  waitset.attach(guard.entity(), 42);
  std::thread trigger([&] {
    std::this_thread::sleep_for(50ms);
    guard.trigger();
  });
  EXPECT_EQ(waitset.wait(10s), Keys{42});
  trigger.join();

  // Triggered until taken, then quiet again.
  EXPECT_EQ(waitset.wait(0ms), Keys{42});
  EXPECT_TRUE(guard.take());
  EXPECT_FALSE(guard.take());
  EXPECT_EQ(waitset.wait(50ms), Keys{});

  waitset.detach(guard.entity());
  guard.trigger();
  EXPECT_EQ(waitset.wait(50ms), Keys{});
}

class WaitSetWithTraffic : public ::testing::Test
{
protected:
  void start(uint32_t domain_id)
  {
    a = Participant::create(loopback_domain(domain_id));
    b = Participant::create(loopback_domain(domain_id));
    members = DDS_TEST_MEMBERS(std_msgs, Int32);
  }
  std::shared_ptr<Participant> a;
  std::shared_ptr<Participant> b;
  const MessageMembers * members = nullptr;
};

TEST_F(WaitSetWithTraffic, ReadConditionFiresWhileSamplesRemain)
{
  start(115);
  Writer writer(a, "rt/wake", members, keep_last(10));
  auto reader = std::make_unique<Reader>(b, "rt/wake", members, keep_last(10));
  ASSERT_TRUE(wait_until([&] { return writer.matched_count() == 1; }));
  WaitSet waitset;
  waitset.attach(reader->read_condition(), 7);
  EXPECT_EQ(waitset.wait(50ms), Keys{});

  std_msgs::msg::Int32 msg;
  std::thread publisher([&] {
    std::this_thread::sleep_for(50ms);
    msg.data = 1;
    writer.write(&msg);
    msg.data = 2;
    writer.write(&msg);
  });
  EXPECT_EQ(waitset.wait(10s), Keys{7});
  publisher.join();

  std_msgs::msg::Int32 got;
  ASSERT_EQ(reader->take(&got).status, TakeStatus::Taken);
  EXPECT_EQ(waitset.wait(0ms), Keys{7}) << "one sample is still there";
  ASSERT_EQ(reader->take(&got).status, TakeStatus::Taken);
  EXPECT_EQ(waitset.wait(50ms), Keys{});

  // Deleting an attached reader detaches it; waiting goes on unharmed.
  reader.reset();
  writer.write(&msg);
  EXPECT_EQ(waitset.wait(50ms), Keys{});
}

TEST_F(WaitSetWithTraffic, MatchedStatusFiresOncePerChange)
{
  start(116);
  Writer writer(a, "rt/match", members, keep_last(10));
  WaitSet waitset;
  waitset.attach(writer.entity(), 3, DDS_PUBLICATION_MATCHED_STATUS);
  EXPECT_EQ(waitset.wait(50ms), Keys{});

  auto reader = std::make_unique<Reader>(b, "rt/match", members, keep_last(10));
  EXPECT_EQ(waitset.wait(10s), Keys{3});
  EXPECT_EQ(writer.matched_count(), 1u);
  EXPECT_EQ(waitset.wait(50ms), Keys{}) << "the status was reset after the first wake";

  // The reader side reports its own matched status the same way.
  WaitSet reader_waitset;
  reader_waitset.attach(reader->entity(), 4, DDS_SUBSCRIPTION_MATCHED_STATUS);
  auto second_writer = std::make_unique<Writer>(a, "rt/match", members, keep_last(10));
  EXPECT_EQ(reader_waitset.wait(10s), Keys{4});
  EXPECT_EQ(reader->matched_count(), 2u);
  second_writer.reset();
  EXPECT_EQ(reader_waitset.wait(10s), Keys{4});
  EXPECT_EQ(reader->matched_count(), 1u);

  reader.reset();
  EXPECT_EQ(waitset.wait(10s), Keys{3});
  EXPECT_EQ(writer.matched_count(), 0u);
}

}  // namespace

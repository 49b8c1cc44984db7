// The ros_discovery_info announcements other ROS 2 tools read to list our nodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rmw_dds_common/msg/detail/participant_entities_info__rosidl_typesupport_introspection_cpp.hpp"
#include "rmw_dds_common/msg/participant_entities_info.hpp"
#include "std_msgs/msg/detail/int32__rosidl_typesupport_introspection_cpp.hpp"
#include "std_msgs/msg/int32.hpp"

#include "dds_test_util.hpp"

namespace
{

using namespace rclcpp::dds;
using namespace dds_test;
using rmw_dds_common::msg::ParticipantEntitiesInfo;

std::vector<Gid> gids(const std::vector<rmw_dds_common::msg::Gid> & in)
{
  std::vector<Gid> out;
  for (const auto & g : in) {
    out.push_back(g.data);
  }
  return out;
}

class DiscoveryInfo : public ::testing::Test
{
protected:
  void start(uint32_t domain_id)
  {
    ours = Participant::create(loopback_domain(domain_id));
    tool = Participant::create(loopback_domain(domain_id));
  }

  /// Reads announcements like a ROS 2 tool until one from `ours` satisfies `accept`.
  bool receive(Reader & reader, const std::function<bool(const ParticipantEntitiesInfo &)> & accept)
  {
    return wait_until([&] {
      ParticipantEntitiesInfo info;
      TakeResult r;
      while ((r = reader.take(&info)).status != TakeStatus::Empty) {
        EXPECT_NE(r.status, TakeStatus::DecodeFailed) << r.error;
        if (r.status == TakeStatus::Taken && info.gid.data == ours->gid() && accept(info)) {
          last = info;
          return true;
        }
      }
      return false;
    });
  }

  std::unique_ptr<Reader> tool_reader()
  {
    rmw_qos_profile_t qos = rmw_qos_profile_default;
    qos.history = RMW_QOS_POLICY_HISTORY_KEEP_ALL;
    qos.durability = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
    return std::make_unique<Reader>(
        tool, "ros_discovery_info", DDS_TEST_MEMBERS(rmw_dds_common, ParticipantEntitiesInfo), qos);
  }

  std::shared_ptr<Participant> ours;
  std::shared_ptr<Participant> tool;
  ParticipantEntitiesInfo last;
};

TEST_F(DiscoveryInfo, LateJoinerSeesTheCurrentNodeListAndEveryChange)
{
  start(120);
  const MessageMembers * members = DDS_TEST_MEMBERS(std_msgs, Int32);
  const uint64_t arm = ours->add_node("arm_supervisor", "/robot");
  Writer status(ours, "rt/robot/status", members, keep_last(1));
  Reader command(ours, "rt/robot/command", members, keep_last(1));
  ours->add_writer(arm, status.gid());
  ours->add_reader(arm, command.gid());
  const uint64_t helper = ours->add_node("helper", "/");

  // Created after all of that: the transient-local writer still hands over the latest list.
  auto reader = tool_reader();
  ASSERT_TRUE(receive(*reader, [](const ParticipantEntitiesInfo & i) {
    return i.node_entities_info_seq.size() == 2;
  }));
  const auto & node = last.node_entities_info_seq[0];
  EXPECT_EQ(node.node_namespace, "/robot");
  EXPECT_EQ(node.node_name, "arm_supervisor");
  EXPECT_EQ(gids(node.writer_gid_seq), std::vector<Gid>{status.gid()});
  EXPECT_EQ(gids(node.reader_gid_seq), std::vector<Gid>{command.gid()});
  EXPECT_EQ(last.node_entities_info_seq[1].node_name, "helper");
  EXPECT_EQ(last.node_entities_info_seq[1].node_namespace, "/");

  ours->remove_writer(arm, status.gid());
  ASSERT_TRUE(receive(*reader, [](const ParticipantEntitiesInfo & i) {
    return !i.node_entities_info_seq.empty() && i.node_entities_info_seq[0].writer_gid_seq.empty();
  }));
  EXPECT_EQ(last.node_entities_info_seq[0].reader_gid_seq.size(), 1u);

  ours->remove_node(arm);
  ours->remove_node(helper);
  ASSERT_TRUE(receive(
      *reader, [](const ParticipantEntitiesInfo & i) { return i.node_entities_info_seq.empty(); }));
}

TEST_F(DiscoveryInfo, BytesAreWhatRos2ToolsDecode)
{
  start(117);
  const uint64_t talker = ours->add_node("talker", "/");
  Writer chatter(ours, "rt/chatter", DDS_TEST_MEMBERS(std_msgs, Int32), keep_last(1));
  ours->add_writer(talker, chatter.gid());
  auto reader = tool_reader();
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(wait_until([&] {
    // Only the latest sample (one writer) is kept for late joiners.
    return reader->take_serialized(bytes).status == TakeStatus::Taken;
  }));

  // Body offsets: participant gid 0..23, node count 24, namespace 28, name 36, reader count 48,
  // writer count 52, writer gid 56..79; plus the 4-byte encapsulation header.
  ASSERT_EQ(bytes.size(), 84u);
  const uint8_t * body = bytes.data() + 4;
  const Gid p = ours->gid();
  const Gid w = chatter.gid();
  EXPECT_TRUE(std::equal(p.begin(), p.end(), body));
  const std::vector<uint8_t> middle = {1, 0, 0, 0, 2, 0,   0,   0,   '/', 0,   0,
                                       0, 7, 0, 0, 0, 't', 'a', 'l', 'k', 'e', 'r',
                                       0, 0, 0, 0, 0, 0,   1,   0,   0,   0};
  EXPECT_TRUE(std::equal(middle.begin(), middle.end(), body + 24));
  EXPECT_TRUE(std::equal(w.begin(), w.end(), body + 56));
}

TEST_F(DiscoveryInfo, GidsAreDdsGuidsPaddedWithZeros)
{
  start(121);
  const MessageMembers * members = DDS_TEST_MEMBERS(std_msgs, Int32);
  Writer writer(ours, "rt/gid", members, keep_last(1));
  Reader reader(ours, "rt/gid", members, keep_last(1));
  const Gid p = ours->gid();
  const Gid w = writer.gid();
  const Gid r = reader.gid();
  for (const Gid & g : {p, w, r}) {
    EXPECT_TRUE(std::all_of(g.begin() + 16, g.end(), [](uint8_t b) { return b == 0; }));
  }
  // Same 12-byte GUID prefix; keyless endpoint kinds (writer 0x03, reader 0x04), as peers see.
  EXPECT_TRUE(std::equal(p.begin(), p.begin() + 12, w.begin()));
  EXPECT_TRUE(std::equal(p.begin(), p.begin() + 12, r.begin()));
  EXPECT_EQ(w[15], 0x03);
  EXPECT_EQ(r[15], 0x04);
  EXPECT_NE(p, tool->gid());
}

}  // namespace

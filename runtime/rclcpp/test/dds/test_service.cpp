// Service plumbing of the DDS layer: the request/reply header inside the payload, the
// clientid/serviceid USER_DATA that peers use to pair endpoints, and endpoint ids.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "std_msgs/msg/detail/int32__rosidl_typesupport_introspection_cpp.hpp"
#include "std_msgs/msg/detail/string__rosidl_typesupport_introspection_cpp.hpp"
#include "std_msgs/msg/int32.hpp"
#include "std_msgs/msg/string.hpp"

#include "dds_test_util.hpp"

namespace
{

using namespace rclcpp::dds;
using namespace dds_test;

bool contains(const std::vector<std::string> & v, const std::string & s)
{
  return std::find(v.begin(), v.end(), s) != v.end();
}

template <typename Message>
TakeResult take_within(Reader & reader, Message & msg)
{
  TakeResult r;
  wait_until([&] {
    r = reader.take(&msg);
    return r.status != TakeStatus::Empty;
  });
  return r;
}

class Service : public ::testing::Test
{
protected:
  void start(uint32_t domain_id)
  {
    client_side = Participant::create(loopback_domain(domain_id));
    server_side = Participant::create(loopback_domain(domain_id));
  }
  std::shared_ptr<Participant> client_side;
  std::shared_ptr<Participant> server_side;
};

TEST_F(Service, RequestAndReplyCarryGuidAndSequenceAndPairByUserData)
{
  start(110);
  const MessageMembers * members = DDS_TEST_MEMBERS(std_msgs, String);
  const auto qos = rmw_qos_profile_services_default;
  const std::string client_id = "clientid=" + client_side->next_endpoint_id() + ";";
  const std::string service_id = "serviceid=" + server_side->next_endpoint_id() + ";";

  Writer request_writer(client_side, "rq/echoRequest", members, qos, client_id, true);
  Reader reply_reader(client_side, "rr/echoReply", members, qos, client_id, true);
  Reader request_reader(server_side, "rq/echoRequest", members, qos, service_id, true);
  Writer reply_writer(server_side, "rr/echoReply", members, qos, service_id, true);
  // An endpoint without USER_DATA shows up as an empty string.
  Reader eavesdropper(server_side, "rq/echoRequest", members, qos, {}, true);

  ASSERT_TRUE(wait_until([&] {
    return request_writer.matched_count() == 2 && reply_reader.matched_count() == 1 &&
           request_reader.matched_count() == 1 && reply_writer.matched_count() == 1;
  }));
  // Each side sees the other's id, which is how a server finds the client's reply reader and a
  // client decides the server is available.
  const auto seen_by_client = request_writer.matched_user_data();
  EXPECT_EQ(seen_by_client.size(), 2u);
  EXPECT_TRUE(contains(seen_by_client, service_id));
  EXPECT_TRUE(contains(seen_by_client, ""));
  EXPECT_EQ(reply_reader.matched_user_data(), std::vector<std::string>{service_id});
  EXPECT_EQ(request_reader.matched_user_data(), std::vector<std::string>{client_id});
  EXPECT_EQ(reply_writer.matched_user_data(), std::vector<std::string>{client_id});

  std_msgs::msg::String request;
  request.data = "ping";
  EXPECT_FALSE(request_writer.write(&request)) << "a request without its header is useless";
  const ServiceHeader sent{request_writer.instance_handle(), next_request_sequence()};
  ASSERT_TRUE(request_writer.write(&request, &sent));

  std_msgs::msg::String got;
  const TakeResult req = take_within(request_reader, got);
  ASSERT_EQ(req.status, TakeStatus::Taken) << req.error;
  EXPECT_EQ(got.data, "ping");
  EXPECT_EQ(req.header.guid, sent.guid);
  EXPECT_EQ(req.header.seq, sent.seq);
  EXPECT_EQ(req.publication_handle, request_writer.instance_handle());
  // What a server checks before replying: the requesting writer's client id.
  EXPECT_EQ(request_reader.matched_writer_user_data(req.publication_handle), client_id);
  EXPECT_EQ(request_reader.matched_writer_user_data(req.publication_handle + 1), "");

  std_msgs::msg::String reply;
  reply.data = "pong";
  ASSERT_TRUE(reply_writer.write(&reply, &req.header));
  const TakeResult rep = take_within(reply_reader, got);
  ASSERT_EQ(rep.status, TakeStatus::Taken) << rep.error;
  EXPECT_EQ(got.data, "pong");
  EXPECT_EQ(rep.header.guid, sent.guid);
  EXPECT_EQ(rep.header.seq, sent.seq);

  // On the wire the header sits right after the encapsulation header, in native order.
  ASSERT_TRUE(request_writer.write(&request, &sent));
  std::vector<uint8_t> bytes;
  ASSERT_EQ(take_within(eavesdropper, got).status, TakeStatus::Taken);  // the first request
  wait_until([&] { return eavesdropper.take_serialized(bytes).status == TakeStatus::Taken; });
  ASSERT_GE(bytes.size(), 20u);
  uint64_t guid = 0;
  int64_t seq = 0;
  std::memcpy(&guid, bytes.data() + 4, 8);
  std::memcpy(&seq, bytes.data() + 12, 8);
  EXPECT_EQ(guid, sent.guid);
  EXPECT_EQ(seq, sent.seq);
}

TEST_F(Service, BigEndianHeaderAndBodyAreSwappedAndShortPayloadsRejected)
{
  start(111);
  const MessageMembers * members = DDS_TEST_MEMBERS(std_msgs, Int32);
  const auto qos = rmw_qos_profile_services_default;
  Writer writer(client_side, "rq/beRequest", members, qos, {}, true);
  Reader reader(server_side, "rq/beRequest", members, qos, {}, true);
  ASSERT_TRUE(wait_until([&] { return writer.matched_count() == 1; }));

  const std::vector<uint8_t> big_endian = {0x00, 0x00, 0x00, 0x00, 0x01, 0x23, 0x45, 0x67,
                                           0x89, 0xab, 0xcd, 0xef, 0x00, 0x00, 0x00, 0x00,
                                           0x00, 0x00, 0x01, 0x02, 0x00, 0x00, 0x00, 0x2a};
  ASSERT_TRUE(writer.write_serialized(big_endian.data(), big_endian.size()));
  // Twelve bytes cannot even hold the header.
  const std::vector<uint8_t> short_payload = {0x00, 0x01, 0x00, 0x00, 1, 2, 3, 4, 5, 6, 7, 8};
  ASSERT_TRUE(writer.write_serialized(short_payload.data(), short_payload.size()));

  std_msgs::msg::Int32 got;
  const TakeResult r = take_within(reader, got);
  ASSERT_EQ(r.status, TakeStatus::Taken) << r.error;
  EXPECT_EQ(r.header.guid, 0x0123456789abcdefull);
  EXPECT_EQ(r.header.seq, 0x0102);
  EXPECT_EQ(got.data, 42);
  const TakeResult bad = take_within(reader, got);
  EXPECT_EQ(bad.status, TakeStatus::DecodeFailed);
  EXPECT_FALSE(bad.error.empty());
}

TEST(EndpointIds, UniquePerEndpointAndPrintedLikeRos2)
{
  auto participant = Participant::create(loopback_domain(112));
  const Gid gid = participant->gid();
  const std::string first = participant->next_endpoint_id();
  const std::string second = participant->next_endpoint_id();
  EXPECT_NE(first, second);

  // Sixteen dot-separated lowercase hex bytes without leading zeros, the first right-aligned in
  // two columns: the GUID prefix, then a big-endian counter starting at 1.
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t dot = first.find('.');; dot = first.find('.', start)) {
    parts.push_back(first.substr(start, dot == std::string::npos ? dot : dot - start));
    if (dot == std::string::npos) {
      break;
    }
    start = dot + 1;
  }
  ASSERT_EQ(parts.size(), 16u) << first;
  char head[8];
  std::snprintf(head, sizeof head, "%2x", gid[0]);
  EXPECT_EQ(parts[0], head);
  for (size_t i = 1; i < 12; ++i) {
    char byte[8];
    std::snprintf(byte, sizeof byte, "%x", gid[i]);
    EXPECT_EQ(parts[i], byte) << "byte " << i;
  }
  EXPECT_EQ(parts[12] + parts[13] + parts[14] + parts[15], "0001");
  EXPECT_EQ(second.substr(second.rfind('.')), ".2");

  const int64_t a = next_request_sequence();
  const int64_t b = next_request_sequence();
  EXPECT_GE(a, 1);
  EXPECT_EQ(b, a + 1);
}

}  // namespace

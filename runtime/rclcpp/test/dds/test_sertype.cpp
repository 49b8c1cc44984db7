// The custom sertype/serdata as Cyclone uses them: interning per domain, and the contracts of
// the serdata operations Cyclone's transmit, instance-map and tracing paths rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dds/dds.h"
#include "dds/ddsi/ddsi_serdata.h"
#include "std_msgs/msg/detail/int32__rosidl_typesupport_introspection_cpp.hpp"
#include "std_msgs/msg/int32.hpp"

#include "dds/sertype.hpp"
#include "dds_test_util.hpp"

namespace
{

using namespace rclcpp::dds;
using namespace dds_test;

/// The sertype behind the next sample of `reader`, seen through the raw serdata.
const ddsi_sertype * sertype_of_next_sample(const Reader & reader)
{
  const ddsi_sertype * type = nullptr;
  wait_until([&] {
    ddsi_serdata * d = nullptr;
    dds_sample_info_t info;
    if (dds_takecdr(reader.entity(), &d, 1, &info, DDS_ANY_STATE) != 1) {
      return false;
    }
    type = d->type;
    ddsi_serdata_unref(d);
    return true;
  });
  return type;
}

TEST(Sertype, OnePerTypeNameAndPrefixSharedByTopicsAndParticipantsOfADomain)
{
  auto a = Participant::create(loopback_domain(126));
  auto b = Participant::create(loopback_domain(126));
  const MessageMembers * members = DDS_TEST_MEMBERS(std_msgs, Int32);
  const auto qos = keep_last(1);
  Writer w1(a, "rt/one", members, qos);
  Writer w2(a, "rt/two", members, qos);
  Writer w3(a, "rq/threeRequest", members, qos, {}, true);
  Reader r1(b, "rt/one", members, qos);
  Reader r2(b, "rt/two", members, qos);
  Reader r3(b, "rq/threeRequest", members, qos, {}, true);
  ASSERT_TRUE(wait_until([&] {
    return r1.matched_count() == 1 && r2.matched_count() == 1 && r3.matched_count() == 1;
  }));

  std_msgs::msg::Int32 msg;
  const ServiceHeader header{1, 1};
  ASSERT_TRUE(w1.write(&msg));
  ASSERT_TRUE(w2.write(&msg));
  ASSERT_TRUE(w3.write(&msg, &header));
  const ddsi_sertype * t1 = sertype_of_next_sample(r1);
  const ddsi_sertype * t2 = sertype_of_next_sample(r2);
  const ddsi_sertype * t3 = sertype_of_next_sample(r3);
  ASSERT_NE(t1, nullptr);
  EXPECT_EQ(t1, t2);
  ASSERT_NE(t3, nullptr);
  EXPECT_NE(t1, t3) << "a service-prefixed type must not share the plain type's sertype";
  EXPECT_STREQ(t1->type_name, "std_msgs::msg::dds_::Int32_");
  EXPECT_STREQ(t3->type_name, "std_msgs::msg::dds_::Int32_");
  EXPECT_TRUE(static_cast<const SerType *>(t3)->service_prefix);
}

TEST(Serdata, KeepsBytesPaddedAndSurvivesCycloneHelpers)
{
  SerType * type = make_sertype("pkg::msg::dds_::T_", DDS_TEST_MEMBERS(std_msgs, Int32), false);
  const uint8_t part1[] = {0x00, 0x01, 0x00};
  const uint8_t part2[] = {0x00, 0xaa, 0xbb};
  ddsrt_iovec_t iov[2];
  iov[0].iov_base = const_cast<uint8_t *>(part1);
  iov[0].iov_len = sizeof part1;
  iov[1].iov_base = const_cast<uint8_t *>(part2);
  iov[1].iov_len = sizeof part2;
  ddsi_serdata * d = ddsi_serdata_from_ser_iov(type, SDK_DATA, 2, iov, 6);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(ddsi_serdata_size(d), 6u);

  // The transmit path reads whole 4-byte words: bytes past the size exist and are zero.
  uint8_t out[8];
  std::memset(out, 0xee, sizeof out);
  ddsi_serdata_to_ser(d, 0, sizeof out, out);
  const uint8_t expected[8] = {0x00, 0x01, 0x00, 0x00, 0xaa, 0xbb, 0x00, 0x00};
  EXPECT_EQ(0, std::memcmp(out, expected, sizeof out));

  ddsrt_iovec_t ref;
  ddsi_serdata * held = ddsi_serdata_to_ser_ref(d, 4, 4, &ref);
  ASSERT_EQ(held, d);
  ASSERT_EQ(ref.iov_len, 4u);
  EXPECT_EQ(static_cast<const uint8_t *>(ref.iov_base)[1], 0xbb);

  // Tracing may hand over a tiny buffer; the result must always be a terminated string.
  char tiny[1] = {'x'};
  d->ops->print(type, d, tiny, sizeof tiny);
  EXPECT_EQ(tiny[0], '\0');
  char small[4];
  d->ops->print(type, d, small, sizeof small);
  EXPECT_LT(std::strlen(small), sizeof small);

  ddsi_serdata * untyped = ddsi_serdata_to_untyped(d);
  ASSERT_NE(untyped, nullptr);
  EXPECT_EQ(untyped->type, nullptr) << "the instance map outlives the sertype";
  ddsi_serdata_unref(untyped);
  ddsi_serdata_to_ser_unref(held, &ref);
  ddsi_serdata_unref(d);  // serdata do not hold their sertype: releasing it next is safe
  ddsi_sertype_unref(type);
}

}  // namespace

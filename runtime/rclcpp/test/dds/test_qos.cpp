// The DDS QoS our endpoints announce: it decides whether real ROS 2 peers match them, so every
// policy is compared with what ROS 2 on Cyclone sets for the same rmw profile.
#include <gtest/gtest.h>

#include <string>

#include "dds/dds.h"
#include "std_msgs/msg/detail/int32__rosidl_typesupport_introspection_cpp.hpp"
#include "std_msgs/msg/int32.hpp"

#include "dds/qos.hpp"
#include "dds_test_util.hpp"

namespace
{

using namespace rclcpp::dds;
using namespace dds_test;

struct Expected
{
  dds_history_kind_t history;
  int32_t depth;
  dds_reliability_kind_t reliability;
  dds_durability_kind_t durability;
};

void expect_core(const dds_qos_t * q, const Expected & e, const std::string & what)
{
  SCOPED_TRACE(what);
  dds_history_kind_t history;
  int32_t depth = 0;
  ASSERT_TRUE(dds_qget_history(q, &history, &depth));
  EXPECT_EQ(history, e.history);
  EXPECT_EQ(depth, e.depth);
  dds_reliability_kind_t reliability;
  dds_duration_t max_blocking = 0;
  ASSERT_TRUE(dds_qget_reliability(q, &reliability, &max_blocking));
  EXPECT_EQ(reliability, e.reliability);
  if (e.reliability == DDS_RELIABILITY_RELIABLE) {
    EXPECT_EQ(max_blocking, DDS_INFINITY);
  }
  dds_durability_kind_t durability;
  ASSERT_TRUE(dds_qget_durability(q, &durability));
  EXPECT_EQ(durability, e.durability);

  // Late joiners are served from the durability service history, so it must follow HISTORY.
  dds_duration_t cleanup = -1;
  dds_history_kind_t service_kind;
  int32_t service_depth = 0;
  int32_t limits[3] = {0, 0, 0};
  const bool has_service = dds_qget_durability_service(
      q, &cleanup, &service_kind, &service_depth, &limits[0], &limits[1], &limits[2]);
  EXPECT_EQ(has_service, e.durability == DDS_DURABILITY_TRANSIENT_LOCAL);
  if (has_service) {
    EXPECT_EQ(cleanup, 0);
    EXPECT_EQ(service_kind, e.history);
    EXPECT_EQ(service_depth, e.depth);
    for (int32_t limit : limits) {
      EXPECT_EQ(limit, DDS_LENGTH_UNLIMITED);
    }
  }

  bool autodispose = true;
  ASSERT_TRUE(dds_qget_writer_data_lifecycle(q, &autodispose));
  EXPECT_FALSE(autodispose);
}

TEST(QosMapping, StandardProfilesMapLikeRos2)
{
  rmw_qos_profile_t status = rmw_qos_profile_default;
  status.depth = 1;
  status.durability = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
  rmw_qos_profile_t keep_all = rmw_qos_profile_default;
  keep_all.history = RMW_QOS_POLICY_HISTORY_KEEP_ALL;
  keep_all.durability = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;

  const struct
  {
    const char * name;
    rmw_qos_profile_t profile;
    Expected expected;
  } cases[] = {
      {"default",
       rmw_qos_profile_default,
       {DDS_HISTORY_KEEP_LAST, 10, DDS_RELIABILITY_RELIABLE, DDS_DURABILITY_VOLATILE}},
      {"system default (depth 0)",
       rmw_qos_profile_system_default,
       {DDS_HISTORY_KEEP_LAST, 1, DDS_RELIABILITY_RELIABLE, DDS_DURABILITY_VOLATILE}},
      {"sensor data",
       rmw_qos_profile_sensor_data,
       {DDS_HISTORY_KEEP_LAST, 5, DDS_RELIABILITY_BEST_EFFORT, DDS_DURABILITY_VOLATILE}},
      {"action status",
       status,
       {DDS_HISTORY_KEEP_LAST, 1, DDS_RELIABILITY_RELIABLE, DDS_DURABILITY_TRANSIENT_LOCAL}},
      {"keep all, transient local",
       keep_all,
       {DDS_HISTORY_KEEP_ALL,
        DDS_LENGTH_UNLIMITED,
        DDS_RELIABILITY_RELIABLE,
        DDS_DURABILITY_TRANSIENT_LOCAL}},
  };
  for (const auto & c : cases) {
    const QosPtr q = make_endpoint_qos(c.profile);
    expect_core(q.get(), c.expected, c.name);
    // Unspecified durations: deadline and lifespan absent, liveliness automatic and infinite.
    dds_duration_t d = 0;
    EXPECT_FALSE(dds_qget_deadline(q.get(), &d)) << c.name;
    EXPECT_FALSE(dds_qget_lifespan(q.get(), &d)) << c.name;
    dds_liveliness_kind_t liveliness;
    ASSERT_TRUE(dds_qget_liveliness(q.get(), &liveliness, &d)) << c.name;
    EXPECT_EQ(liveliness, DDS_LIVELINESS_AUTOMATIC) << c.name;
    EXPECT_EQ(d, DDS_INFINITY) << c.name;
    void * user_data = nullptr;
    size_t size = 0;
    EXPECT_FALSE(dds_qget_userdata(q.get(), &user_data, &size)) << c.name;
    dds_ignorelocal_kind_t ignore;
    EXPECT_FALSE(dds_qget_ignorelocal(q.get(), &ignore)) << c.name;
  }
}

TEST(QosMapping, SpecifiedDurationsUserDataAndIgnoreLocal)
{
  rmw_qos_profile_t profile = rmw_qos_profile_default;
  profile.deadline = {1, 500};
  profile.lifespan = RMW_DURATION_INFINITE;
  profile.liveliness = RMW_QOS_POLICY_LIVELINESS_MANUAL_BY_TOPIC;
  profile.liveliness_lease_duration = {2, 0};
  const QosPtr q = make_endpoint_qos(profile, "clientid= 1.2.3;", true);

  dds_duration_t d = 0;
  ASSERT_TRUE(dds_qget_deadline(q.get(), &d));
  EXPECT_EQ(d, DDS_SECS(1) + 500);
  ASSERT_TRUE(dds_qget_lifespan(q.get(), &d));
  EXPECT_EQ(d, DDS_INFINITY);
  dds_liveliness_kind_t liveliness;
  ASSERT_TRUE(dds_qget_liveliness(q.get(), &liveliness, &d));
  EXPECT_EQ(liveliness, DDS_LIVELINESS_MANUAL_BY_TOPIC);
  EXPECT_EQ(d, DDS_SECS(2));

  void * user_data = nullptr;
  size_t size = 0;
  ASSERT_TRUE(dds_qget_userdata(q.get(), &user_data, &size));
  EXPECT_EQ(std::string(static_cast<const char *>(user_data), size), "clientid= 1.2.3;");
  dds_free(user_data);
  dds_ignorelocal_kind_t ignore;
  ASSERT_TRUE(dds_qget_ignorelocal(q.get(), &ignore));
  EXPECT_EQ(ignore, DDS_IGNORELOCAL_PARTICIPANT);
}

TEST(QosMapping, ValuesWithoutDdsEquivalentAreRejected)
{
  rmw_qos_profile_t too_deep = rmw_qos_profile_default;
  too_deep.depth = static_cast<size_t>(INT32_MAX) + 1;
  EXPECT_THROW(make_endpoint_qos(too_deep), DdsError);
  rmw_qos_profile_t unknown = rmw_qos_profile_default;
  unknown.reliability = RMW_QOS_POLICY_RELIABILITY_UNKNOWN;
  EXPECT_THROW(make_endpoint_qos(unknown), DdsError);
}

TEST(QosMapping, EndpointsOfferXcdr1OnlyAndAMatchingPeerSeesOurPolicies)
{
  auto a = Participant::create(loopback_domain(125));
  auto b = Participant::create(loopback_domain(125));
  const MessageMembers * members = DDS_TEST_MEMBERS(std_msgs, Int32);
  rmw_qos_profile_t latched = rmw_qos_profile_default;
  latched.depth = 1;
  latched.durability = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
  Writer writer(a, "rt/latched", members, latched);
  Reader reader(b, "rt/latched", members, latched);
  ASSERT_TRUE(wait_until([&] { return reader.matched_count() == 1; }));

  for (dds_entity_t entity : {writer.entity(), reader.entity()}) {
    QosPtr q(dds_create_qos());
    ASSERT_EQ(dds_get_qos(entity, q.get()), DDS_RETCODE_OK);
    uint32_t n = 0;
    dds_data_representation_id_t * ids = nullptr;
    ASSERT_TRUE(dds_qget_data_representation(q.get(), &n, &ids));
    ASSERT_EQ(n, 1u);
    EXPECT_EQ(ids[0], DDS_DATA_REPRESENTATION_XCDR1);
    dds_free(ids);
  }

  dds_instance_handle_t handle = 0;
  ASSERT_EQ(dds_get_matched_publications(reader.entity(), &handle, 1), 1);
  dds_builtintopic_endpoint_t * seen = dds_get_matched_publication_data(reader.entity(), handle);
  ASSERT_NE(seen, nullptr);
  EXPECT_STREQ(seen->type_name, "std_msgs::msg::dds_::Int32_");
  EXPECT_STREQ(seen->topic_name, "rt/latched");
  expect_core(
      seen->qos,
      {DDS_HISTORY_KEEP_LAST, 1, DDS_RELIABILITY_RELIABLE, DDS_DURABILITY_TRANSIENT_LOCAL},
      "as the peer sees the writer");
  dds_builtintopic_free_endpoint(seen);
}

}  // namespace

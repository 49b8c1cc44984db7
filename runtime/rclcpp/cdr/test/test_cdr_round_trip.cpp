// Encoding then decoding gives back the same message, for every interface type of the
// workspace, with and without the service prefix, into fresh and into already used objects.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

#include "wire_bytes.hpp"

namespace
{

using namespace cdr_test;
namespace qi = quorvel_interfaces;

template <class T>
class CdrRoundTrip : public ::testing::Test
{
};

using AllInterfaceTypes = ::testing::Types<
    builtin_interfaces::msg::Time,
    builtin_interfaces::msg::Duration,
    unique_identifier_msgs::msg::UUID,
    std_msgs::msg::Bool,
    std_msgs::msg::Empty,
    std_msgs::msg::Int32,
    std_msgs::msg::String,
    std_msgs::msg::Header,
    std_msgs::msg::MultiArrayDimension,
    std_msgs::msg::MultiArrayLayout,
    std_msgs::msg::Float64MultiArray,
    std_msgs::msg::Int32MultiArray,
    geometry_msgs::msg::Point,
    geometry_msgs::msg::Quaternion,
    geometry_msgs::msg::Pose,
    geometry_msgs::msg::Vector3,
    sensor_msgs::msg::JointState,
    action_msgs::msg::GoalInfo,
    action_msgs::msg::GoalStatus,
    action_msgs::msg::GoalStatusArray,
    action_msgs::srv::CancelGoal::Request,
    action_msgs::srv::CancelGoal::Response,
    rmw_dds_common::msg::Gid,
    rmw_dds_common::msg::NodeEntitiesInfo,
    rmw_dds_common::msg::ParticipantEntitiesInfo,
    qi::msg::Trash,
    qi::srv::DetectTrash::Request,
    qi::srv::DetectTrash::Response,
    qi::srv::ArmGrab::Request,
    qi::srv::ArmGrab::Response,
    qi::srv::ArmRelease::Request,
    qi::srv::ArmRelease::Response,
    qi::srv::ArmMoveJoints::Request,
    qi::srv::ArmMoveJoints::Response,
    qi::action::ArmTask::Goal,
    qi::action::ArmTask::Result,
    qi::action::ArmTask::Feedback,
    qi::action::ArmTask_SendGoal_Request,
    qi::action::ArmTask_SendGoal_Response,
    qi::action::ArmTask_GetResult_Request,
    qi::action::ArmTask_GetResult_Response,
    qi::action::ArmTask_FeedbackMessage,
    quorvel_protocol::msg::TrashObject,
    quorvel_protocol::msg::Trashes,
    rcl_interfaces::msg::ParameterEvent,
    rcl_interfaces::msg::ParameterDescriptor,
    rcl_interfaces::msg::Log,
    rcl_interfaces::srv::SetParameters::Request,
    rcl_interfaces::srv::SetParameters::Response,
    rcl_interfaces::srv::ListParameters::Request,
    rcl_interfaces::srv::ListParameters::Response>;
TYPED_TEST_SUITE(CdrRoundTrip, AllInterfaceTypes);

TYPED_TEST(CdrRoundTrip, RestoresEveryField)
{
  using T = TypeParam;
  const T original = sample<T>(0);
  for (size_t prefix : {size_t{0}, size_t{16}}) {
    SCOPED_TRACE("prefix " + std::to_string(prefix));
    const Bytes wire = encode(original, prefix);
    EXPECT_EQ(wire.size() % 4, 0u);
    EXPECT_EQ(rclcpp_cdr::serialized_size(members_of<T>(), &original, prefix), wire.size());

    T fresh;
    const auto result = decode_into(wire, fresh, prefix);
    ASSERT_TRUE(result) << result.message();
    EXPECT_EQ(fresh, original);

    // Decoding must replace whatever the target held, shrinking and growing sequences.
    for (int other_seed : {1, 3}) {
      T used = sample<T>(other_seed);
      ASSERT_TRUE(decode_into(wire, used, prefix));
      EXPECT_EQ(used, original) << "into a message filled with seed " << other_seed;
    }
  }
}

TYPED_TEST(CdrRoundTrip, DefaultMessageSurvives)
{
  using T = TypeParam;
  const T original;
  const Bytes wire = encode(original);
  T back = sample<T>(2);
  const auto result = decode_into(wire, back);
  ASSERT_TRUE(result) << result.message();
  EXPECT_EQ(back, original);
}

TEST(CdrRoundTripExtra, HandDescribedKinds)
{
  const auto * exotic = rclcpp_cdr::get_members(exotic_type_support());
  for (int seed : {0, 1, 4}) {
    const Exotic original = sample<Exotic>(seed);
    Bytes wire;
    rclcpp_cdr::serialize(exotic, &original, wire);
    EXPECT_EQ(rclcpp_cdr::serialized_size(exotic, &original), wire.size());
    Exotic back = sample<Exotic>(seed + 1);
    const auto result = rclcpp_cdr::deserialize(exotic, wire.data(), wire.size(), &back);
    ASSERT_TRUE(result) << result.message();
    EXPECT_TRUE(back == original) << "seed " << seed;
  }

  Extended extended;
  extended.value = -1.0L / 3.0L;
  extended.after = 7;
  const auto * extended_members = rclcpp_cdr::get_members(extended_type_support());
  Bytes wire;
  rclcpp_cdr::serialize(extended_members, &extended, wire);
  EXPECT_EQ(wire.size(), 4u + sizeof(long double) + 4u);
  Extended back;
  ASSERT_TRUE(rclcpp_cdr::deserialize(extended_members, wire.data(), wire.size(), &back));
  EXPECT_EQ(back.value, extended.value);
  EXPECT_EQ(back.after, 7);
}

TEST(CdrRoundTripExtra, DefaultArmGrabRequestKeepsUnitOrientations)
{
  const qi::srv::ArmGrab::Request request;
  ASSERT_EQ(request.target_pose.orientation.w, 1.0);
  qi::srv::ArmGrab::Request back = sample<qi::srv::ArmGrab::Request>(1);
  ASSERT_TRUE(decode_into(encode(request, 16), back, 16));
  EXPECT_EQ(back.target_pose.orientation.w, 1.0);
  EXPECT_EQ(back.obb_pose.orientation.w, 1.0);
  EXPECT_EQ(back, request);
}

TEST(CdrRoundTripExtra, AppendingCountsAlignmentFromItsOwnHeader)
{
  const auto trashes = sample<quorvel_protocol::msg::Trashes>(0);
  const Bytes alone = encode(trashes);
  for (size_t junk = 1; junk <= 8; ++junk) {
    Bytes buffer(junk, 0xee);
    rclcpp_cdr::serialize(members_of<quorvel_protocol::msg::Trashes>(), &trashes, buffer);
    ASSERT_EQ(buffer.size(), junk + alone.size());
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + junk), Bytes(junk, 0xee));
    EXPECT_EQ(hex(Bytes(buffer.begin() + junk, buffer.end())), hex(alone));
  }
}

TEST(CdrRoundTripExtra, ToleratesWhatOtherWritersProduce)
{
  const auto original = sample<sensor_msgs::msg::JointState>(0);
  Bytes wire = encode(original);
  // Cyclone's own serialiser records its padding in the options bytes; junk may follow.
  wire[3] = 0x02;
  wire.insert(wire.end(), {0xde, 0xad, 0xbe, 0xef, 0x01});
  sensor_msgs::msg::JointState back;
  ASSERT_TRUE(decode_into(wire, back));
  EXPECT_EQ(back, original);

  // A zero string length is never written but is read as "".
  std_msgs::msg::String text = sample<std_msgs::msg::String>(0);
  ASSERT_TRUE(decode_into(concat({kLeHeader, zeros(4)}), text));
  EXPECT_EQ(text.data, "");
}

TEST(CdrRoundTripExtra, ConcurrentUseOfFreshTypes)
{
  // Each thread meets the types for the first time at about the same moment, so the layout
  // cache is filled concurrently (run under TSan to see a race).
  const auto samples = all_samples(0);
  std::vector<std::thread> threads;
  std::vector<int> failures(4, 0);
  for (size_t t = 0; t < failures.size(); ++t) {
    threads.emplace_back([&samples, &failures, t] {
      for (size_t round = 0; round < 20; ++round) {
        for (size_t i = 0; i < samples.size(); ++i) {
          const Sample & s = samples[(i + t * 7) % samples.size()];
          const Bytes wire = s.encode();
          DynamicMessage back(s.members);
          if (!rclcpp_cdr::deserialize(s.members, wire.data(), wire.size(), back.get())) {
            ++failures[t];
          }
        }
      }
    });
  }
  for (auto & thread : threads) {
    thread.join();
  }
  EXPECT_EQ(failures, std::vector<int>(failures.size(), 0));
}

TEST(CdrTypeSupport, FindsTheIntrospectionMembers)
{
  const rosidl_message_type_support_t * handle =
      rosidl_typesupport_introspection_cpp::get_message_type_support_handle<std_msgs::msg::Int32>();
  const auto * members = rclcpp_cdr::get_members(handle);
  ASSERT_NE(members, nullptr);
  EXPECT_STREQ(members->message_name_, "Int32");
  EXPECT_EQ(rclcpp_cdr::get_members(nullptr), nullptr);

  // Another type support's handle leads to the introspection one through its function.
  static const rosidl_message_type_support_t * target = handle;
  const rosidl_message_type_support_t dispatching{
      "rosidl_typesupport_cpp",
      nullptr,
      [](const rosidl_message_type_support_t *, const char * id) {
        return std::string(id) == "rosidl_typesupport_introspection_cpp" ? target : nullptr;
      }};
  EXPECT_EQ(rclcpp_cdr::get_members(&dispatching), members);

  const rosidl_message_type_support_t foreign{
      "rosidl_typesupport_fastrtps_cpp",
      nullptr,
      [](const rosidl_message_type_support_t *, const char *) {
        return static_cast<const rosidl_message_type_support_t *>(nullptr);
      }};
  EXPECT_EQ(rclcpp_cdr::get_members(&foreign), nullptr);
}

TEST(CdrTypeSupport, UnknownMemberTypesAreRefused)
{
  const auto * unknown = rclcpp_cdr::get_members(unknown_type_support());
  Unknown message;
  Bytes out;
  EXPECT_THROW(rclcpp_cdr::serialize(unknown, &message, out), std::invalid_argument);
  EXPECT_THROW(rclcpp_cdr::serialize(nullptr, &message, out), std::invalid_argument);

  const Bytes wire = concat({kLeHeader, zeros(8)});
  auto result = rclcpp_cdr::deserialize(unknown, wire.data(), wire.size(), &message);
  EXPECT_EQ(result.error, rclcpp_cdr::DecodeError::UnsupportedType);
  EXPECT_EQ(result.field, "broken");
  result = rclcpp_cdr::deserialize(nullptr, wire.data(), wire.size(), &message);
  EXPECT_EQ(result.error, rclcpp_cdr::DecodeError::UnsupportedType);
}

}  // namespace

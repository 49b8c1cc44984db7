// Exact bytes, as ROS 2 Humble nodes on Cyclone DDS write them, for chosen messages; and the
// same bytes decoded back, in both byte orders.
#include <gtest/gtest.h>

#include "wire_bytes.hpp"

namespace
{

using namespace cdr_test;

template <class T>
T decode(const Bytes & in, size_t prefix = 0)
{
  T msg;
  const auto result =
      rclcpp_cdr::deserialize(cdr_test::members_of<T>(), in.data(), in.size(), &msg, prefix);
  EXPECT_TRUE(result) << result.message();
  return msg;
}

action_msgs::msg::GoalStatusArray two_goals()
{
  action_msgs::msg::GoalStatusArray m;
  m.status_list.resize(2);
  for (size_t i = 0; i < 16; ++i) {
    m.status_list[0].goal_info.goal_id.uuid[i] = static_cast<uint8_t>(0x10 + i);
    m.status_list[1].goal_info.goal_id.uuid[i] = static_cast<uint8_t>(0x20 + i);
  }
  m.status_list[0].goal_info.stamp.sec = 100;
  m.status_list[0].goal_info.stamp.nanosec = 500;
  m.status_list[0].status = action_msgs::msg::GoalStatus::STATUS_EXECUTING;
  m.status_list[1].goal_info.stamp.sec = 101;
  m.status_list[1].goal_info.stamp.nanosec = 500;
  m.status_list[1].status = action_msgs::msg::GoalStatus::STATUS_SUCCEEDED;
  return m;
}

const Bytes kExoticBigEndian = concat({
    kBeHeader,
    bytes({0x01, 0x00, 0x00, 0x5a, 0xff, 0xfe, 0x00, 0x00}),
    bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}),
    bytes({0, 0, 0, 2, 0, 0, 0, 0x68, 0, 0, 0, 0xe9}),
    bytes({0, 0, 0, 3, 1, 0, 1}),
    bytes({0, 1, 1, 0, 0}),
    bytes({0, 0, 0, 2, 0x00, 0x07, 0xff, 0xff}),
    bytes({0, 0, 0, 3, 'o', 'k', 0, 0}),
    bytes({0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 'a', 0, 0, 0, 0}),
    bytes({0, 0, 0, 2, 'x', 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0}),
    bytes({0, 0, 0, 1, 0, 0, 0, 0}),
    bytes({0x3f, 0xf0, 0, 0, 0, 0, 0, 0, 0x40, 0x00, 0, 0, 0, 0, 0, 0}),
    bytes({0x40, 0x08, 0, 0, 0, 0, 0, 0}),
    bytes({0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4}),
});

TEST(CdrGolden, PlainMessages)
{
  std_msgs::msg::Int32 i32;
  i32.data = 4;
  EXPECT_EQ(hex(encode(i32)), hex(bytes({0, 1, 0, 0, 4, 0, 0, 0})));

  std_msgs::msg::String str;
  str.data = "hi";
  EXPECT_EQ(hex(encode(str)), hex(bytes({0, 1, 0, 0, 3, 0, 0, 0, 'h', 'i', 0, 0})));

  // The dummy member of an empty .msg is one byte; the total is padded to 4.
  EXPECT_EQ(hex(encode(std_msgs::msg::Empty{})), hex(bytes({0, 1, 0, 0, 0, 0, 0, 0})));

  cdr_test::PaddedPair pair;
  pair.a = 1;
  pair.b = 1.0;
  EXPECT_EQ(
      hex(encode_with(cdr_test::padded_pair_type_support(), &pair)),
      hex(concat({kLeHeader, bytes({1}), zeros(7), bytes({0, 0, 0, 0, 0, 0, 0xf0, 0x3f})})));
}

TEST(CdrGolden, GoalStatusArrayAlignsEachStampAfterAByteArray)
{
  const Bytes expected = concat({
      kLeHeader,
      bytes({2, 0, 0, 0}),
      counting(0x10, 16),
      bytes({100, 0, 0, 0, 0xf4, 0x01, 0, 0}),
      bytes({2}),
      counting(0x20, 16),
      zeros(3),
      bytes({101, 0, 0, 0, 0xf4, 0x01, 0, 0}),
      bytes({4}),
      zeros(3),
  });
  EXPECT_EQ(expected.size(), 64u);
  EXPECT_EQ(hex(encode(two_goals())), hex(expected));
  EXPECT_EQ(decode<action_msgs::msg::GoalStatusArray>(expected), two_goals());
}

TEST(CdrGolden, TrashObjectMixesStringsSequencesAndPadding)
{
  quorvel_protocol::msg::TrashObject m;
  m.header.stamp.sec = 1;
  m.header.stamp.nanosec = 2;
  m.header.frame_id = "camera";
  m.value_a = 3;
  m.value_b = 4;
  m.text = "hi";
  m.flag = 5;
  m.value_c = 6;
  m.data = {7, 8};
  m.x = 1.0f;
  m.y = 2.0f;
  const Bytes expected = concat({
      kLeHeader,
      bytes({1, 0, 0, 0, 2, 0, 0, 0}),                          // 0 stamp
      bytes({7, 0, 0, 0, 'c', 'a', 'm', 'e', 'r', 'a', 0, 0}),  // 8 frame_id, pad
      bytes({3, 0, 0, 0, 4, 0, 0, 0}),                          // 20 value_a, value_b
      bytes({3, 0, 0, 0, 'h', 'i', 0}),                         // 28 text
      bytes({5}),                                               // 35 flag
      bytes({6, 0, 0, 0}),                                      // 36 value_c
      bytes({2, 0, 0, 0, 7, 8, 0, 0}),                          // 40 data, pad
      bytes({0, 0, 0x80, 0x3f, 0, 0, 0, 0x40}),                 // 48 x, y
  });
  EXPECT_EQ(hex(encode(m)), hex(expected));
  EXPECT_EQ(decode<quorvel_protocol::msg::TrashObject>(expected), m);
}

TEST(CdrGolden, TrashAlignsPosesAfterThreeBytesWhereverItStarts)
{
  quorvel_interfaces::srv::DetectTrash::Response m;
  m.status = 0;
  m.trash_list.resize(1);
  m.trash_list[0].type = 1;
  m.trash_list[0].flag_a = 2;
  m.trash_list[0].flag_b = 3;
  m.trash_list[0].grab_pose.position.x = 1.0;
  m.errmsg = "";
  const Bytes one = bytes({0, 0, 0, 0, 0, 0, 0xf0, 0x3f});
  const Bytes expected = concat({
      kLeHeader,
      bytes({0, 0, 0, 0, 1, 0, 0, 0}),  // 0 status, count
      bytes({1, 2, 3}),
      zeros(5),  // 8 type, flags, pad to 16
      one,
      zeros(16),  // 16 grab_pose.position
      zeros(24),
      one,  // 40 grab_pose.orientation: w defaults to 1
      zeros(24),
      zeros(24),
      one,                              // 72 obb_pose
      zeros(24),                        // 128 obb_size
      bytes({1, 0, 0, 0, 0, 0, 0, 0}),  // 152 errmsg "", pad
  });
  EXPECT_EQ(hex(encode(m)), hex(expected));
  EXPECT_EQ(decode<quorvel_interfaces::srv::DetectTrash::Response>(expected), m);
}

TEST(CdrGolden, ServicePayloadsKeepTheirAlignmentAfterThePrefix)
{
  // The caller writes guid and seq into the 16 prefix bytes; the codec leaves them zero.
  EXPECT_EQ(
      hex(encode(std_msgs::msg::Empty{}, 16)),
      hex(concat({kLeHeader, zeros(16), bytes({0, 0, 0, 0})})));

  quorvel_interfaces::action::ArmTask_SendGoal_Request goal;
  for (size_t i = 0; i < 16; ++i) {
    goal.goal_id.uuid[i] = static_cast<uint8_t>(i);
  }
  goal.goal.cmd = 5;
  const Bytes goal_bytes = concat({kLeHeader, zeros(16), counting(0, 16), bytes({5, 0, 0, 0})});
  EXPECT_EQ(goal_bytes.size(), 40u);
  EXPECT_EQ(hex(encode(goal, 16)), hex(goal_bytes));
  EXPECT_EQ(decode<quorvel_interfaces::action::ArmTask_SendGoal_Request>(goal_bytes, 16), goal);

  quorvel_interfaces::action::ArmTask_SendGoal_Response accepted;
  accepted.accepted = true;
  const Bytes accepted_bytes = concat({kLeHeader, zeros(16), bytes({1}), zeros(3), zeros(8)});
  EXPECT_EQ(accepted_bytes.size(), 32u);
  EXPECT_EQ(hex(encode(accepted, 16)), hex(accepted_bytes));

  action_msgs::srv::CancelGoal::Response cancel;
  cancel.return_code = action_msgs::srv::CancelGoal::Response::ERROR_NONE;
  cancel.goals_canceling.resize(1);
  for (size_t i = 0; i < 16; ++i) {
    cancel.goals_canceling[0].goal_id.uuid[i] = static_cast<uint8_t>(0x40 + i);
  }
  cancel.goals_canceling[0].stamp.sec = 7;
  cancel.goals_canceling[0].stamp.nanosec = 9;
  const Bytes cancel_bytes = concat({
      kLeHeader,
      zeros(16),
      bytes({0}),
      zeros(3),
      bytes({1, 0, 0, 0}),
      counting(0x40, 16),
      bytes({7, 0, 0, 0, 9, 0, 0, 0}),
  });
  EXPECT_EQ(hex(encode(cancel, 16)), hex(cancel_bytes));
  EXPECT_EQ(decode<action_msgs::srv::CancelGoal::Response>(cancel_bytes, 16), cancel);
  // Without the prefix the body is the one Cyclone's own serialiser produces.
  EXPECT_EQ(
      hex(encode(cancel)),
      hex(concat({kLeHeader, Bytes(cancel_bytes.begin() + 20, cancel_bytes.end())})));
}

TEST(CdrGolden, KindsWithoutAWorkspaceUser)
{
  const cdr_test::Exotic m = golden_exotic();
  EXPECT_EQ(kExoticLittleEndian.size(), 140u);
  EXPECT_EQ(hex(encode_with(cdr_test::exotic_type_support(), &m)), hex(kExoticLittleEndian));

  cdr_test::Exotic back;
  const auto result = rclcpp_cdr::deserialize(
      rclcpp_cdr::get_members(cdr_test::exotic_type_support()),
      kExoticLittleEndian.data(),
      kExoticLittleEndian.size(),
      &back);
  ASSERT_TRUE(result) << result.message();
  EXPECT_TRUE(back == m);
}

TEST(CdrBigEndian, SwapsEveryMultiByteValue)
{
  cdr_test::Exotic back;
  const auto result = rclcpp_cdr::deserialize(
      rclcpp_cdr::get_members(cdr_test::exotic_type_support()),
      kExoticBigEndian.data(),
      kExoticBigEndian.size(),
      &back);
  ASSERT_TRUE(result) << result.message();
  EXPECT_TRUE(back == golden_exotic());

  const Bytes goals = concat({
      kBeHeader,
      bytes({0, 0, 0, 2}),
      counting(0x10, 16),
      bytes({0, 0, 0, 100, 0, 0, 0x01, 0xf4}),
      bytes({2}),
      counting(0x20, 16),
      zeros(3),
      bytes({0, 0, 0, 101, 0, 0, 0x01, 0xf4}),
      bytes({4}),
      zeros(3),
  });
  EXPECT_EQ(decode<action_msgs::msg::GoalStatusArray>(goals), two_goals());

  sensor_msgs::msg::JointState joints;
  joints.header.stamp.sec = 0x01020304;
  joints.header.frame_id = "a";
  joints.name = {"j1"};
  joints.position = {1.0};
  joints.velocity = {};
  joints.effort = {-2.0, 0.5};
  const Bytes joint_bytes = concat({
      kBeHeader,
      bytes({1, 2, 3, 4, 0, 0, 0, 0}),                  // 0 stamp
      bytes({0, 0, 0, 2, 'a', 0, 0, 0}),                // 8 frame_id, pad
      bytes({0, 0, 0, 1, 0, 0, 0, 3, 'j', '1', 0, 0}),  // 16 name, pad
      bytes({0, 0, 0, 1}),                              // 28 position count
      bytes({0x3f, 0xf0, 0, 0, 0, 0, 0, 0}),            // 32 position[0]
      bytes({0, 0, 0, 0}),                              // 40 velocity: empty, so no padding follows
      bytes({0, 0, 0, 2}),                              // 44 effort count
      bytes({0xc0, 0, 0, 0, 0, 0, 0, 0, 0x3f, 0xe0, 0, 0, 0, 0, 0, 0}),  // 48 effort
  });
  EXPECT_EQ(decode<sensor_msgs::msg::JointState>(joint_bytes), joints);
}

TEST(CdrBigEndian, LittleEndianTwinOfTheJointStateSample)
{
  // Same message written by a little-endian host: checks the empty-sequence rule both ways.
  sensor_msgs::msg::JointState joints;
  joints.header.stamp.sec = 0x01020304;
  joints.header.frame_id = "a";
  joints.name = {"j1"};
  joints.position = {1.0};
  joints.effort = {-2.0, 0.5};
  const Bytes expected = concat({
      kLeHeader,
      bytes({4, 3, 2, 1, 0, 0, 0, 0}),
      bytes({2, 0, 0, 0, 'a', 0, 0, 0}),
      bytes({1, 0, 0, 0, 3, 0, 0, 0, 'j', '1', 0, 0}),
      bytes({1, 0, 0, 0}),
      bytes({0, 0, 0, 0, 0, 0, 0xf0, 0x3f}),
      bytes({0, 0, 0, 0}),
      bytes({2, 0, 0, 0}),
      bytes({0, 0, 0, 0, 0, 0, 0, 0xc0, 0, 0, 0, 0, 0, 0, 0xe0, 0x3f}),
  });
  EXPECT_EQ(hex(encode(joints)), hex(expected));
}

}  // namespace

// The security environment is read exactly as rcl reads it: anything but the exact words turns
// security off or leaves it permissive, never the other way round.
#include <gtest/gtest.h>

#include "base/security.hpp"

using rclcpp::base::security_request;
using rclcpp::base::SecurityRequest;

TEST(SecurityRequest, OnlyTheExactWordsEnableAndEnforce)
{
  EXPECT_EQ(security_request(nullptr, nullptr), SecurityRequest::kOff);
  EXPECT_EQ(security_request(nullptr, "Enforce"), SecurityRequest::kOff);
  EXPECT_EQ(security_request("false", "Enforce"), SecurityRequest::kOff);
  EXPECT_EQ(security_request("True", "Enforce"), SecurityRequest::kOff);
  EXPECT_EQ(security_request("1", "Enforce"), SecurityRequest::kOff);
  EXPECT_EQ(security_request("", "Enforce"), SecurityRequest::kOff);

  EXPECT_EQ(security_request("true", "Enforce"), SecurityRequest::kEnforce);
  EXPECT_EQ(security_request("true", nullptr), SecurityRequest::kPermissive);
  EXPECT_EQ(security_request("true", "Permissive"), SecurityRequest::kPermissive);
  EXPECT_EQ(security_request("true", "enforce"), SecurityRequest::kPermissive);
  EXPECT_EQ(security_request("true", ""), SecurityRequest::kPermissive);
}

TEST(SecurityRequest, MessagesSayWhatToDo)
{
  const std::string refusal = rclcpp::base::security_refusal_message();
  EXPECT_NE(refusal.find("ROS_SECURITY_STRATEGY=Enforce"), std::string::npos);
  EXPECT_NE(refusal.find("ROS 2 Humble"), std::string::npos);
  EXPECT_EQ(refusal.find('\n'), std::string::npos);
  const std::string warning = rclcpp::base::security_permissive_warning();
  EXPECT_NE(warning.find("unauthenticated"), std::string::npos);
  EXPECT_EQ(warning.find('\n'), std::string::npos);
}

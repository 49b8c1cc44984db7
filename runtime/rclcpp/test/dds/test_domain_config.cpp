// DomainConfig::from_environment: ROS_DOMAIN_ID parsing, the loopback-only default, and how a
// user's CYCLONEDDS_URI is combined with it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "dds/dds.h"

#include "dds/dds.hpp"

namespace
{

using rclcpp::dds::DdsError;
using rclcpp::dds::DomainConfig;

size_t count_ci(const std::string & haystack, const std::string & needle)
{
  std::string h = haystack;
  std::transform(h.begin(), h.end(), h.begin(), [](unsigned char c) { return std::tolower(c); });
  size_t n = 0;
  for (size_t pos = h.find(needle); pos != std::string::npos; pos = h.find(needle, pos + 1)) {
    ++n;
  }
  return n;
}

class Environment : public ::testing::Test
{
protected:
  void SetUp() override
  {
    for (const char * name : {"ROS_DOMAIN_ID", "ROS_LOCALHOST_ONLY", "CYCLONEDDS_URI"}) {
      unsetenv(name);
    }
  }
  void TearDown() override
  {
    SetUp();
    for (const auto & path : files_) {
      std::remove(path.c_str());
    }
  }
  std::string write_file(const std::string & contents)
  {
    char path[] = "/tmp/dds_config_XXXXXX";
    const int fd = mkstemp(path);
    EXPECT_GE(fd, 0);
    close(fd);
    std::ofstream(path) << contents;
    files_.push_back(path);
    return path;
  }

private:
  std::vector<std::string> files_;
};

void expect_loopback_settings(const std::string & config)
{
  EXPECT_NE(config.find("<Domain id=\"any\">"), std::string::npos) << config;
  EXPECT_NE(config.find("<AllowMulticast>false</AllowMulticast>"), std::string::npos) << config;
  EXPECT_NE(config.find("<Peer address=\"127.0.0.1\"/>"), std::string::npos) << config;
  EXPECT_NE(config.find("<ParticipantIndex>auto</ParticipantIndex>"), std::string::npos) << config;
  EXPECT_NE(config.find("<MaxAutoParticipantIndex>50</MaxAutoParticipantIndex>"), std::string::npos)
      << config;
}

TEST_F(Environment, DefaultIsDomainZeroOnLoopbackOnly)
{
  const DomainConfig config = DomainConfig::from_environment();
  EXPECT_EQ(config.domain_id, 0u);
  expect_loopback_settings(config.cyclone_config);
  EXPECT_NE(config.cyclone_config.find("<NetworkInterface name=\"lo\"/>"), std::string::npos);

  for (const char * value : {"1", "", "yes", "00"}) {
    setenv("ROS_LOCALHOST_ONLY", value, 1);
    EXPECT_EQ(DomainConfig::from_environment().cyclone_config, config.cyclone_config)
        << "ROS_LOCALHOST_ONLY='" << value << "'";
  }
}

TEST_F(Environment, DomainIdIsParsedLikeRos2)
{
  const std::vector<std::pair<const char *, uint32_t>> accepted = {
      {"", 0}, {"7", 7}, {"0x10", 16}, {"010", 8}, {"5abc", 5}, {" 12", 12}, {"232", 232}};
  for (const auto & [value, expected] : accepted) {
    setenv("ROS_DOMAIN_ID", value, 1);
    EXPECT_EQ(DomainConfig::from_environment().domain_id, expected) << "'" << value << "'";
  }
  for (const char * value : {"abc", "0xzz", " ", "233", "-1", "99999999999999999999999"}) {
    setenv("ROS_DOMAIN_ID", value, 1);
    EXPECT_THROW(DomainConfig::from_environment(), DdsError) << "'" << value << "'";
  }
  setenv("ROS_DOMAIN_ID", "233", 1);
  try {
    DomainConfig::from_environment();
  } catch (const DdsError & e) {
    EXPECT_NE(std::string(e.what()).find("232"), std::string::npos) << e.what();
  }
}

TEST_F(Environment, LocalhostOnlyZeroLeavesCycloneDefaultsOrTheUsersConfiguration)
{
  setenv("ROS_LOCALHOST_ONLY", "0", 1);
  EXPECT_EQ(DomainConfig::from_environment().cyclone_config, "");
  setenv("CYCLONEDDS_URI", "file:///etc/robot/cyclone.xml", 1);
  EXPECT_EQ(DomainConfig::from_environment().cyclone_config, "file:///etc/robot/cyclone.xml");
}

TEST_F(Environment, UserConfigurationComesAfterOursSoItWins)
{
  const std::string user =
      "<CycloneDDS><Domain><Discovery><MaxAutoParticipantIndex>99</MaxAutoParticipantIndex>"
      "</Discovery></Domain></CycloneDDS>";
  setenv("CYCLONEDDS_URI", user.c_str(), 1);
  const std::string config = DomainConfig::from_environment().cyclone_config;
  expect_loopback_settings(config);
  EXPECT_NE(config.find("<NetworkInterface name=\"lo\"/>"), std::string::npos);
  ASSERT_GT(config.size(), user.size());
  EXPECT_EQ(config.substr(config.size() - user.size() - 1), "," + user);
}

TEST_F(Environment, AnInterfaceTheUserSelectsIsNeverSelectedAgain)
{
  const std::string inline_new =
      "<CycloneDDS><Domain><General><Interfaces><NetworkInterface address=\"127.0.0.1\"/>"
      "</Interfaces></General></Domain></CycloneDDS>";
  const std::string inline_old =
      "<CycloneDDS><Domain><General><networkinterfaceaddress>lo</networkinterfaceaddress>"
      "</General></Domain></CycloneDDS>";
  const std::string file = write_file(inline_new);
  const std::vector<std::string> selecting = {
      inline_new,
      inline_old,
      "file://" + file,
      file,
      "<CycloneDDS><Domain><Tracing><Verbosity>warning</Verbosity></Tracing></Domain></"
      "CycloneDDS>," +
          file};
  for (const std::string & uri : selecting) {
    setenv("CYCLONEDDS_URI", uri.c_str(), 1);
    const std::string config = DomainConfig::from_environment().cyclone_config;
    EXPECT_EQ(config.find("<NetworkInterface name=\"lo\"/>"), std::string::npos) << uri;
    EXPECT_EQ(count_ci(config, "networkinterface"), count_ci(uri, "networkinterface")) << uri;
    expect_loopback_settings(config);
  }

  const std::string plain = write_file("<CycloneDDS><Domain/></CycloneDDS>");
  setenv("CYCLONEDDS_URI", plain.c_str(), 1);
  EXPECT_NE(
      DomainConfig::from_environment().cyclone_config.find("<NetworkInterface name=\"lo\"/>"),
      std::string::npos);
}

TEST_F(Environment, CycloneAcceptsOursAloneAndTogetherWithALoopbackUserConfiguration)
{
  const std::string user_lo =
      "<CycloneDDS><Domain><General><Interfaces><NetworkInterface name=\"lo\"/></Interfaces>"
      "</General></Domain></CycloneDDS>";
  const std::string ours = DomainConfig::from_environment().cyclone_config;
  setenv("CYCLONEDDS_URI", user_lo.c_str(), 1);
  const std::string combined = DomainConfig::from_environment().cyclone_config;

  for (const std::string & config : {ours, combined}) {
    const dds_entity_t domain = dds_create_domain(122, config.c_str());
    EXPECT_GT(domain, 0) << config;
    if (domain > 0) {
      dds_delete(domain);
    }
  }
  // Naively putting both together is what Cyclone refuses; the check above is not vacuous.
  const dds_entity_t twice = dds_create_domain(123, (ours + "," + user_lo).c_str());
  EXPECT_LT(twice, 0);
  if (twice > 0) {
    dds_delete(twice);
  }
}

}  // namespace

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "dds/dds.hpp"

namespace rclcpp
{
namespace dds
{

namespace
{

// Cyclone derives the UDP ports from the domain id (7400 + 250 * id + ...); above 232 they
// exceed 65535 and no participant can be created.
constexpr unsigned long kMaxDomainId = 232;

// Loopback only, multicast off, unicast discovery through the loopback peer. Unicast discovery
// needs fixed participant indices ("auto"); the default maximum of 9 is too small for a desk
// full of processes.
constexpr const char * kInterfaceFragment =
    "<General><Interfaces><NetworkInterface name=\"lo\"/></Interfaces></General>";
constexpr const char * kDiscoveryFragment =
    "<General><AllowMulticast>false</AllowMulticast></General>"
    "<Discovery><ParticipantIndex>auto</ParticipantIndex>"
    "<MaxAutoParticipantIndex>50</MaxAutoParticipantIndex>"
    "<Peers><Peer address=\"127.0.0.1\"/></Peers></Discovery>";

std::string lower(std::string s)
{
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
    return static_cast<char>(std::tolower(c));
  });
  return s;
}

std::string trim(const std::string & s)
{
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) {
    return {};
  }
  const auto last = s.find_last_not_of(" \t\r\n");
  return s.substr(first, last - first + 1);
}

// Cyclone's element names are case-insensitive; "NetworkInterfaceAddress" (the older form)
// contains the newer element's name.
bool text_selects_interface(const std::string & text)
{
  return lower(text).find("networkinterface") != std::string::npos;
}

/// Whether the user's configuration (inline XML and/or files, comma separated) already picks a
/// network interface.
bool selects_interface(const std::string & uri)
{
  if (text_selects_interface(uri)) {
    return true;
  }
  size_t start = 0;
  while (start <= uri.size()) {
    const size_t comma = std::min(uri.find(',', start), uri.size());
    std::string item = trim(uri.substr(start, comma - start));
    start = comma + 1;
    if (item.empty() || item.front() == '<') {
      continue;
    }
    if (item.rfind("file://", 0) == 0) {
      item.erase(0, 7);
    }
    std::ifstream file(item);
    if (!file) {
      continue;  // part of an inline fragment, or a file Cyclone will complain about itself
    }
    const std::string contents{
        std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (text_selects_interface(contents)) {
      return true;
    }
  }
  return false;
}

uint32_t parse_domain_id(const char * value)
{
  if (value == nullptr || *value == '\0') {
    return 0;
  }
  // Same rules as ROS 2: base prefixes (0x.., 0..) accepted, trailing junk only rejected when
  // nothing was parsed.
  errno = 0;
  char * end = nullptr;
  const unsigned long id = std::strtoul(value, &end, 0);
  if (errno == ERANGE || (id == 0 && *end != '\0')) {
    throw DdsError(std::string("ROS_DOMAIN_ID '") + value + "' is not a valid domain id");
  }
  if (id > kMaxDomainId) {
    throw DdsError(
        std::string("ROS_DOMAIN_ID ") + value + " is out of range: Cyclone DDS cannot bind " +
        "the UDP ports of domain ids above " + std::to_string(kMaxDomainId));
  }
  return static_cast<uint32_t>(id);
}

}  // namespace

// The configuration handed to Cyclone is a comma-separated list of fragments applied in order;
// later fragments override single settings, while list settings (interfaces, peers) add up:
//   - ROS_LOCALHOST_ONLY=0 (exactly): no fragment of ours, Cyclone's defaults.
//   - otherwise: our loopback fragment (interface lo, no multicast, peer 127.0.0.1, automatic
//     participant index up to 50).
//   - CYCLONEDDS_URI, when set, follows ours, so the user's settings win.
// An interface must never be selected twice (Cyclone refuses the whole configuration), so when
// the user's configuration selects one (NetworkInterface or NetworkInterfaceAddress, inline or
// in a referenced file), ours leaves the interface out.
void DomainConfig::check_domain_id(size_t domain_id, const std::string & what)
{
  if (domain_id > kMaxDomainId) {
    throw DdsError(
        what + " " + std::to_string(domain_id) + " is out of range: Cyclone DDS cannot bind " +
        "the UDP ports of domain ids above " + std::to_string(kMaxDomainId));
  }
}

DomainConfig DomainConfig::from_environment(bool read_domain_id)
{
  DomainConfig config;
  if (read_domain_id) {
    config.domain_id = parse_domain_id(std::getenv("ROS_DOMAIN_ID"));
  }

  const char * localhost_only = std::getenv("ROS_LOCALHOST_ONLY");
  const char * uri_env = std::getenv("CYCLONEDDS_URI");
  const std::string user_uri = uri_env != nullptr ? trim(uri_env) : std::string();

  const bool open = localhost_only != nullptr && std::string(localhost_only) == "0";
  if (!open) {
    std::string fragment = "<CycloneDDS><Domain id=\"any\">";
    if (user_uri.empty() || !selects_interface(user_uri)) {
      fragment += kInterfaceFragment;
    }
    fragment += kDiscoveryFragment;
    fragment += "</Domain></CycloneDDS>";
    config.cyclone_config = std::move(fragment);
  }
  if (!user_uri.empty()) {
    if (!config.cyclone_config.empty()) {
      config.cyclone_config += ",";
    }
    config.cyclone_config += user_uri;
  }
  return config;
}

}  // namespace dds
}  // namespace rclcpp

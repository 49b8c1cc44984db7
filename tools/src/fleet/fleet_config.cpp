#include "fleet/fleet_config.hpp"

#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>
#include <sstream>

namespace quorvel_tools
{

namespace
{

// Cyclone DDS binds the UDP ports of domain ids up to 232.
constexpr unsigned long kMaxDomain = 232;

std::uint32_t parse_domain(const std::string & text, const std::string & what)
{
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
    throw FleetConfigError(what + ": '" + text + "' is not a domain id (0 to 232)");
  }
  errno = 0;
  const unsigned long id = std::strtoul(text.c_str(), nullptr, 10);
  if (errno == ERANGE || id > kMaxDomain) {
    throw FleetConfigError(
        what + ": " + text + " is above 232, the last domain id Cyclone DDS can use");
  }
  return static_cast<std::uint32_t>(id);
}

std::string place(const std::string & file, const YAML::Node & node, const std::string & key)
{
  const YAML::Mark mark = node.Mark();
  std::ostringstream text;
  text << file;
  if (!mark.is_null()) {
    text << ":" << mark.line + 1 << ":" << mark.column + 1;
  }
  text << ": " << key;
  return text.str();
}

[[noreturn]] void fail(
    const std::string & file,
    const YAML::Node & node,
    const std::string & key,
    const std::string & why)
{
  throw FleetConfigError(place(file, node, key) + ": " + why);
}

void only_keys(
    const std::string & file,
    const YAML::Node & map,
    const std::string & at,
    const std::vector<std::string> & allowed)
{
  for (const auto & entry : map) {
    const std::string key = entry.first.as<std::string>();
    if (std::find(allowed.begin(), allowed.end(), key) == allowed.end()) {
      std::string list;
      for (const std::string & name : allowed) {
        list += (list.empty() ? "" : ", ") + name;
      }
      fail(file, entry.first, at + key, "unknown key (allowed here: " + list + ")");
    }
  }
}

std::string text_of(const std::string & file, const YAML::Node & node, const std::string & key)
{
  if (!node.IsScalar()) {
    fail(file, node, key, "must be a text");
  }
  return node.as<std::string>();
}

// An address or an interface name: it goes into Cyclone's configuration as it is.
std::string name_of(const std::string & file, const YAML::Node & node, const std::string & key)
{
  const std::string text = text_of(file, node, key);
  if (text.empty() || text.find_first_not_of(
                          "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._:-[]") !=
                          std::string::npos) {
    fail(file, node, key, "'" + text + "' is not an address or an interface name");
  }
  return text;
}

double seconds_of(const std::string & file, const YAML::Node & node, const std::string & key)
{
  double value = 0.0;
  if (!node.IsScalar() || !YAML::convert<double>::decode(node, value) || !std::isfinite(value) ||
      value <= 0.0) {
    fail(file, node, key, "must be a number of seconds greater than 0");
  }
  return value;
}

}  // namespace

std::vector<std::uint32_t> parse_domain_list(const std::string & text)
{
  std::vector<std::uint32_t> domains;
  std::set<std::uint32_t> seen;
  std::stringstream parts(text);
  std::string part;
  while (std::getline(parts, part, ',')) {
    const std::string what = "--domains " + text;
    const std::size_t dash = part.find('-');
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    if (dash == std::string::npos) {
      first = last = parse_domain(part, what);
    } else {
      first = parse_domain(part.substr(0, dash), what);
      last = parse_domain(part.substr(dash + 1), what);
      if (last < first) {
        throw FleetConfigError(what + ": the range " + part + " runs backwards");
      }
    }
    for (std::uint32_t id = first; id <= last; ++id) {
      if (!seen.insert(id).second) {
        throw FleetConfigError(what + ": domain " + std::to_string(id) + " is given twice");
      }
      domains.push_back(id);
    }
  }
  if (domains.empty()) {
    throw FleetConfigError("--domains names no domain");
  }
  return domains;
}

FleetConfig fleet_from_domains(const std::vector<std::uint32_t> & domains)
{
  FleetConfig config;
  for (const std::uint32_t domain : domains) {
    FleetArm arm;
    arm.name = "domain " + std::to_string(domain);
    arm.domain = domain;
    config.arms.push_back(std::move(arm));
  }
  return config;
}

FleetConfig parse_fleet_yaml(const std::string & text, const std::string & file)
{
  YAML::Node root;
  try {
    root = YAML::Load(text);
  } catch (const YAML::Exception & error) {
    std::ostringstream where;
    where << file << ":" << error.mark.line + 1 << ":" << error.mark.column + 1
          << ": YAML syntax error: " << error.msg;
    throw FleetConfigError(where.str());
  }
  if (!root.IsMap()) {
    throw FleetConfigError(file + ": the file must be a mapping with the key 'arms'");
  }
  only_keys(file, root, "", {"arms", "alarms"});
  FleetConfig config;
  if (const YAML::Node alarms = root["alarms"]) {
    if (!alarms.IsMap()) {
      fail(file, alarms, "alarms", "must be a mapping (wait_s, silent_s)");
    }
    only_keys(file, alarms, "alarms.", {"wait_s", "silent_s"});
    if (alarms["wait_s"]) {
      config.alarms.wait_s = seconds_of(file, alarms["wait_s"], "alarms.wait_s");
    }
    if (alarms["silent_s"]) {
      config.alarms.silent_s = seconds_of(file, alarms["silent_s"], "alarms.silent_s");
    }
  }
  const YAML::Node arms = root["arms"];
  if (!arms || !arms.IsSequence() || arms.size() == 0) {
    fail(file, arms ? arms : root, "arms", "must be a list of at least one arm");
  }
  std::set<std::string> names;
  std::set<std::uint32_t> domains;
  for (std::size_t i = 0; i < arms.size(); ++i) {
    const YAML::Node item = arms[i];
    const std::string at = "arms[" + std::to_string(i) + "]";
    if (!item.IsMap()) {
      fail(file, item, at, "must be a mapping (name, domain, host, peers, interface)");
    }
    only_keys(file, item, at + ".", {"name", "domain", "host", "peers", "interface"});
    FleetArm arm;
    if (!item["name"]) {
      fail(file, item, at + ".name", "missing: every arm needs a name");
    }
    arm.name = text_of(file, item["name"], at + ".name");
    if (arm.name.empty()) {
      fail(file, item["name"], at + ".name", "must not be empty");
    }
    if (!names.insert(arm.name).second) {
      fail(file, item["name"], at + ".name", "'" + arm.name + "' names an arm already");
    }
    if (!item["domain"]) {
      fail(file, item, at + ".domain", "missing: every arm needs its ROS_DOMAIN_ID");
    }
    try {
      arm.domain = parse_domain(text_of(file, item["domain"], at + ".domain"), "domain");
    } catch (const FleetConfigError & error) {
      fail(file, item["domain"], at + ".domain", error.what());
    }
    if (!domains.insert(arm.domain).second) {
      fail(
          file,
          item["domain"],
          at + ".domain",
          "domain " + std::to_string(arm.domain) + " is another arm's already");
    }
    if (item["host"]) {
      arm.host = text_of(file, item["host"], at + ".host");
    }
    if (item["interface"]) {
      arm.interface = name_of(file, item["interface"], at + ".interface");
    }
    if (const YAML::Node peers = item["peers"]) {
      if (!peers.IsSequence()) {
        fail(file, peers, at + ".peers", "must be a list of addresses");
      }
      for (std::size_t p = 0; p < peers.size(); ++p) {
        arm.peers.push_back(name_of(file, peers[p], at + ".peers[" + std::to_string(p) + "]"));
      }
    }
    config.arms.push_back(std::move(arm));
  }
  return config;
}

std::string cyclone_domains_config(const FleetConfig & config)
{
  std::string sections;
  for (const FleetArm & arm : config.arms) {
    if (arm.peers.empty() && arm.interface.empty()) {
      continue;
    }
    sections += "<Domain id=\"" + std::to_string(arm.domain) + "\">";
    if (!arm.interface.empty()) {
      sections += "<General><Interfaces><NetworkInterface name=\"" + arm.interface +
                  "\"/></Interfaces></General>";
    }
    if (!arm.peers.empty()) {
      sections += "<Discovery><Peers>";
      for (const std::string & peer : arm.peers) {
        sections += "<Peer address=\"" + peer + "\"/>";
      }
      sections += "</Peers></Discovery>";
    }
    sections += "</Domain>";
  }
  return sections.empty() ? sections : "<CycloneDDS>" + sections + "</CycloneDDS>";
}

}  // namespace quorvel_tools

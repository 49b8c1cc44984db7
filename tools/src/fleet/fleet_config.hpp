// Which arms `quorvel fleet` watches: a range of DDS domains on the command line, or a FLEET.yaml
// that names each arm, its domain, where it runs and the alarm thresholds.
#ifndef QUORVEL_TOOLS__FLEET__FLEET_CONFIG_HPP_
#define QUORVEL_TOOLS__FLEET__FLEET_CONFIG_HPP_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quorvel_tools
{

// A bad domain list or fleet file; the text names the place (FILE:LINE:COLUMN: key) and why.
class FleetConfigError : public std::runtime_error
{
public:
  using std::runtime_error::runtime_error;
};

struct FleetArm
{
  std::string name;
  std::uint32_t domain = 0;
  std::string host;                // shown on its tile; empty: not said
  std::vector<std::string> peers;  // Cyclone DDS unicast peers of its domain (arms on other hosts)
  std::string interface;           // the network interface of its domain; empty: the default
};

struct FleetAlarms
{
  double wait_s = 120.0;   // a step waited for longer than this raises an alarm
  double silent_s = 30.0;  // an arm not heard from for this long counts as silent
};

struct FleetConfig
{
  std::vector<FleetArm> arms;
  FleetAlarms alarms;
};

// "0-30", "40-59,61", "7": each domain once, in order. Throws FleetConfigError for anything else
// (a domain above 232, a range backwards, a domain given twice).
std::vector<std::uint32_t> parse_domain_list(const std::string & text);

// Arms named after their domains ("domain 7").
FleetConfig fleet_from_domains(const std::vector<std::uint32_t> & domains);

// The text of a FLEET.yaml (`file` is its name in messages):
//   alarms: {wait_s: 120, silent_s: 30}          # optional
//   arms:
//     - {name: cell-3, domain: 12, host: arm12.local, peers: [10.0.0.12], interface: eth1}
// Throws FleetConfigError naming the line, column and key of the first problem.
FleetConfig parse_fleet_yaml(const std::string & text, const std::string & file);

// The Cyclone DDS configuration that adds each arm's peers and interface to its own domain
// (`<Domain id="N">` sections), or empty when no arm has any.
std::string cyclone_domains_config(const FleetConfig & config);

}  // namespace quorvel_tools

#endif  // QUORVEL_TOOLS__FLEET__FLEET_CONFIG_HPP_

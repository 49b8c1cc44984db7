#include "dds/domain.hpp"

#include <map>
#include <mutex>
#include <string>

#include "dds/dds.h"

namespace rclcpp
{
namespace dds
{

namespace
{

struct DomainEntry
{
  dds_entity_t domain = 0;  ///< 0 when the domain was not created by us
  size_t users = 0;
};

struct Registry
{
  std::mutex mutex;
  std::map<uint32_t, DomainEntry> domains;
};

Registry & registry()
{
  // Never destroyed: participants held by static objects may outlive static destruction.
  static Registry * r = new Registry;
  return *r;
}

}  // namespace

void acquire_domain(const DomainConfig & config)
{
  Registry & r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  DomainEntry & entry = r.domains[config.domain_id];
  if (entry.users == 0) {
    const dds_entity_t domain = dds_create_domain(config.domain_id, config.cyclone_config.c_str());
    if (domain > 0) {
      entry.domain = domain;
    } else if (domain == DDS_RETCODE_PRECONDITION_NOT_MET) {
      entry.domain = 0;
    } else {
      r.domains.erase(config.domain_id);
      throw DdsError(
          "cannot create DDS domain " + std::to_string(config.domain_id) + ": " +
          dds_strretcode(domain) +
          " (Cyclone DDS rejected the configuration; its own message above says why)");
    }
  }
  ++entry.users;
}

void release_domain(uint32_t domain_id)
{
  Registry & r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  auto it = r.domains.find(domain_id);
  if (it == r.domains.end() || --it->second.users != 0) {
    return;
  }
  if (it->second.domain > 0) {
    dds_delete(it->second.domain);
  }
  r.domains.erase(it);
}

}  // namespace dds
}  // namespace rclcpp

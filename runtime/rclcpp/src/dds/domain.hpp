// Process-wide ownership of explicitly created Cyclone DDS domains: the first participant of a
// domain id creates it with our configuration, the last one to go deletes it.
#ifndef RCLCPP__DDS__DOMAIN_HPP_
#define RCLCPP__DDS__DOMAIN_HPP_

#include <cstdint>

#include "dds/dds.hpp"

namespace rclcpp
{
namespace dds
{

/// Counts one more user of `config.domain_id`, creating the domain on first use. A domain that
/// exists already without us (someone else created it) is used as it is and never deleted
/// here. Throws DdsError when Cyclone rejects the configuration. Blocks for domain creation.
void acquire_domain(const DomainConfig & config);

/// Drops one user; deletes the domain (and with it anything left in it) when it was the last.
/// Call only after the user's participant is deleted.
void release_domain(uint32_t domain_id);

}  // namespace dds
}  // namespace rclcpp

#endif  // RCLCPP__DDS__DOMAIN_HPP_

// Helpers shared by Writer, Reader and Participant: error reporting for entity creation and
// identity/matching queries on a DDS endpoint.
#ifndef RCLCPP__DDS__ENDPOINT_HPP_
#define RCLCPP__DDS__ENDPOINT_HPP_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dds/dds.h"

#include "dds/dds.hpp"

namespace rclcpp
{
namespace dds
{

/// Throws DdsError "<what>: <Cyclone's text for rc>".
[[noreturn]] void throw_dds_error(const std::string & what, dds_return_t rc);

/// Returns `entity` if it is a valid handle, else throws as above.
dds_entity_t checked(dds_entity_t entity, const std::string & what);

/// GUID of the entity followed by 8 zero bytes (all zero if Cyclone does not know it).
Gid entity_gid(dds_entity_t entity);

uint64_t entity_instance_handle(dds_entity_t entity);

enum class EndpointKind
{
  Writer,
  Reader,
};

/// Number of endpoints currently matched with `entity`. Does not touch its status flags, so a
/// WaitSet waiting for the matched status still sees the change.
size_t matched_endpoint_count(dds_entity_t entity, EndpointKind kind);

/// USER_DATA of every endpoint matched with `entity` (empty strings for none).
std::vector<std::string> matched_endpoint_user_data(dds_entity_t entity, EndpointKind kind);

/// USER_DATA of the one matched endpoint with instance handle `handle` (empty if none).
std::string matched_endpoint_user_data(
    dds_entity_t entity, EndpointKind kind, dds_instance_handle_t handle);

}  // namespace dds
}  // namespace rclcpp

#endif  // RCLCPP__DDS__ENDPOINT_HPP_

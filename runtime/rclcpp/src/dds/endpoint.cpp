#include "dds/endpoint.hpp"

#include <cstring>
#include <utility>

namespace rclcpp
{
namespace dds
{

void throw_dds_error(const std::string & what, dds_return_t rc)
{
  throw DdsError(what + ": " + dds_strretcode(rc));
}

dds_entity_t checked(dds_entity_t entity, const std::string & what)
{
  if (entity < 0) {
    throw_dds_error(what, entity);
  }
  return entity;
}

Gid entity_gid(dds_entity_t entity)
{
  Gid gid{};
  dds_guid_t guid;
  if (dds_get_guid(entity, &guid) == DDS_RETCODE_OK) {
    static_assert(sizeof guid.v <= sizeof(Gid), "a GUID fits in a GID");
    std::memcpy(gid.data(), guid.v, sizeof guid.v);
  }
  return gid;
}

uint64_t entity_instance_handle(dds_entity_t entity)
{
  dds_instance_handle_t handle = 0;
  if (dds_get_instance_handle(entity, &handle) != DDS_RETCODE_OK) {
    return 0;
  }
  return handle;
}

namespace
{

dds_return_t matched_handles(
    dds_entity_t entity, EndpointKind kind, dds_instance_handle_t * handles, size_t n)
{
  switch (kind) {
    case EndpointKind::Writer:
      return dds_get_matched_subscriptions(entity, handles, n);
    case EndpointKind::Reader:
      return dds_get_matched_publications(entity, handles, n);
  }
  return DDS_RETCODE_BAD_PARAMETER;
}

dds_builtintopic_endpoint_t * matched_data(
    dds_entity_t entity, EndpointKind kind, dds_instance_handle_t handle)
{
  switch (kind) {
    case EndpointKind::Writer:
      return dds_get_matched_subscription_data(entity, handle);
    case EndpointKind::Reader:
      return dds_get_matched_publication_data(entity, handle);
  }
  return nullptr;
}

/// False if `handle` is not (or no longer) matched.
bool user_data_of(
    dds_entity_t entity, EndpointKind kind, dds_instance_handle_t handle, std::string & text)
{
  dds_builtintopic_endpoint_t * ep = matched_data(entity, kind, handle);
  if (ep == nullptr) {
    return false;
  }
  void * value = nullptr;
  size_t size = 0;
  if (ep->qos != nullptr && dds_qget_userdata(ep->qos, &value, &size) && value != nullptr) {
    text.assign(static_cast<const char *>(value), size);
  }
  dds_free(value);
  dds_builtintopic_free_endpoint(ep);
  return true;
}

}  // namespace

size_t matched_endpoint_count(dds_entity_t entity, EndpointKind kind)
{
  const dds_return_t n = matched_handles(entity, kind, nullptr, 0);
  return n > 0 ? static_cast<size_t>(n) : 0;
}

std::vector<std::string> matched_endpoint_user_data(dds_entity_t entity, EndpointKind kind)
{
  std::vector<dds_instance_handle_t> handles;
  // The set can grow between counting and fetching; fetch again until everything fitted.
  for (;;) {
    const dds_return_t total = matched_handles(entity, kind, handles.data(), handles.size());
    if (total <= 0) {
      return {};
    }
    if (static_cast<size_t>(total) <= handles.size()) {
      handles.resize(static_cast<size_t>(total));
      break;
    }
    handles.resize(static_cast<size_t>(total));
  }

  std::vector<std::string> result;
  result.reserve(handles.size());
  for (dds_instance_handle_t handle : handles) {
    std::string text;
    if (user_data_of(entity, kind, handle, text)) {
      result.push_back(std::move(text));
    }
  }
  return result;
}

std::string matched_endpoint_user_data(
    dds_entity_t entity, EndpointKind kind, dds_instance_handle_t handle)
{
  std::string text;
  user_data_of(entity, kind, handle, text);
  return text;
}

}  // namespace dds
}  // namespace rclcpp

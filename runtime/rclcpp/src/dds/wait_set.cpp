#include <algorithm>
#include <string>
#include <vector>

#include "dds/dds.h"

#include "dds/dds.hpp"
#include "dds/endpoint.hpp"

namespace rclcpp
{
namespace dds
{

WaitSet::WaitSet()
    : handle_(checked(dds_create_waitset(DDS_CYCLONEDDS_HANDLE), "cannot create a DDS waitset")),
      idle_guard_(dds_create_guardcondition(DDS_CYCLONEDDS_HANDLE))
{
  // Cyclone returns at once from a wait on an empty waitset; this never-triggered guard keeps
  // the set non-empty so that waiting always sleeps.
  dds_return_t rc = idle_guard_;
  if (rc >= 0) {
    rc = dds_waitset_attach(handle_, idle_guard_, 0);
  }
  if (rc < 0) {
    if (idle_guard_ > 0) {
      dds_delete(idle_guard_);
    }
    dds_delete(handle_);
    throw_dds_error("cannot prepare a DDS waitset", rc);
  }
}

WaitSet::~WaitSet()
{
  dds_delete(handle_);
  dds_delete(idle_guard_);
}

void WaitSet::attach(int32_t entity, intptr_t key, uint32_t status_mask)
{
  if (status_mask != 0) {
    const dds_return_t rc = dds_set_status_mask(entity, status_mask);
    if (rc < 0) {
      throw_dds_error("cannot set the status mask of DDS entity " + std::to_string(entity), rc);
    }
  }
  const dds_return_t rc = dds_waitset_attach(handle_, entity, key);
  if (rc < 0) {
    throw_dds_error("cannot attach DDS entity " + std::to_string(entity) + " to a waitset", rc);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  attachments_.push_back(Attachment{entity, key, status_mask});
}

void WaitSet::detach(int32_t entity)
{
  dds_waitset_detach(handle_, entity);
  std::lock_guard<std::mutex> lock(mutex_);
  attachments_.erase(
      std::remove_if(
          attachments_.begin(),
          attachments_.end(),
          [entity](const Attachment & a) { return a.entity == entity; }),
      attachments_.end());
}

std::vector<intptr_t> WaitSet::wait(std::chrono::nanoseconds timeout)
{
  size_t capacity = 1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    capacity += attachments_.size();
  }
  std::vector<dds_attach_t> fired(capacity);
  const dds_duration_t reltimeout = timeout.count() < 0 ? DDS_INFINITY : timeout.count();
  const dds_return_t n = dds_waitset_wait(handle_, fired.data(), fired.size(), reltimeout);
  if (n <= 0) {
    return {};
  }
  // More may have fired than fit if something was attached meanwhile; those stay triggered and
  // show up in the next wait.
  fired.resize(std::min(static_cast<size_t>(n), capacity));
  std::vector<intptr_t> keys(fired.begin(), fired.end());

  std::lock_guard<std::mutex> lock(mutex_);
  for (const Attachment & a : attachments_) {
    if (a.status_mask != 0 && std::find(keys.begin(), keys.end(), a.key) != keys.end()) {
      uint32_t status = 0;
      dds_take_status(a.entity, &status, a.status_mask);
    }
  }
  return keys;
}

}  // namespace dds
}  // namespace rclcpp

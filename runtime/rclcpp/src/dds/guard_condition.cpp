#include "dds/dds.h"

#include "dds/dds.hpp"
#include "dds/endpoint.hpp"

namespace rclcpp
{
namespace dds
{

GuardCondition::GuardCondition()
    : handle_(checked(
          dds_create_guardcondition(DDS_CYCLONEDDS_HANDLE), "cannot create a DDS guard condition"))
{
}

GuardCondition::~GuardCondition() { dds_delete(handle_); }

void GuardCondition::trigger() { dds_set_guardcondition(handle_, true); }

bool GuardCondition::take()
{
  bool triggered = false;
  if (dds_take_guardcondition(handle_, &triggered) != DDS_RETCODE_OK) {
    return false;
  }
  return triggered;
}

int32_t GuardCondition::entity() const { return handle_; }

}  // namespace dds
}  // namespace rclcpp

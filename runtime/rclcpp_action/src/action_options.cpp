#include "rcl/time.h"
#include "rcl_action/action_client.h"
#include "rcl_action/action_server.h"

extern "C"
{

rcl_action_server_options_t rcl_action_server_get_default_options(void)
{
  rcl_action_server_options_t options;
  options.goal_service_qos = rmw_qos_profile_services_default;
  options.cancel_service_qos = rmw_qos_profile_services_default;
  options.result_service_qos = rmw_qos_profile_services_default;
  options.feedback_topic_qos = rmw_qos_profile_default;
  options.status_topic_qos = rcl_action_qos_profile_status_default;
  options.allocator = rcutils_get_default_allocator();
  options.result_timeout.nanoseconds = RCL_S_TO_NS(15 * 60);
  return options;
}

rcl_action_client_options_t rcl_action_client_get_default_options(void)
{
  rcl_action_client_options_t options;
  options.goal_service_qos = rmw_qos_profile_services_default;
  options.result_service_qos = rmw_qos_profile_services_default;
  options.cancel_service_qos = rmw_qos_profile_services_default;
  options.feedback_topic_qos = rmw_qos_profile_default;
  options.status_topic_qos = rcl_action_qos_profile_status_default;
  options.allocator = rcutils_get_default_allocator();
  return options;
}

}  // extern "C"

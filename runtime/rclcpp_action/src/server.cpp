#include "rclcpp_action/server.hpp"

#include <chrono>

#include "rclcpp/exceptions.hpp"

namespace rclcpp_action
{

namespace
{

std::shared_ptr<detail::GoalTable> make_table(
  const rclcpp::Logger & logger, const rcl_action_server_options_t & options)
{
  if (options.result_timeout.nanoseconds < 0) {
    throw rclcpp::exceptions::RCLInvalidArgument(
      RCL_RET_INVALID_ARGUMENT, "result_timeout must not be negative",
      "failed to create action server");
  }
  return std::make_shared<detail::GoalTable>(
    logger, std::chrono::nanoseconds(options.result_timeout.nanoseconds));
}

}  // namespace

ServerBase::ServerBase(const rclcpp::Logger & logger, const rcl_action_server_options_t & options)
: table_(make_table(logger, options))
{}

ServerBase::~ServerBase()
{
  table_->set_outputs(nullptr, nullptr);
}

}  // namespace rclcpp_action

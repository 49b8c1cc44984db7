#include "rclcpp_action/server_goal_handle.hpp"

#include <utility>

namespace rclcpp_action
{

using detail::GoalEvent;

ServerGoalHandleBase::ServerGoalHandleBase(
  std::shared_ptr<detail::GoalTable> table, std::shared_ptr<detail::GoalRecord> goal)
: table_(std::move(table)), goal_(std::move(goal))
{}

ServerGoalHandleBase::~ServerGoalHandleBase()
{
  table_->abandon(goal_);
}

bool ServerGoalHandleBase::is_canceling() const
{
  return state() == GoalStatus::STATUS_CANCELING;
}

bool ServerGoalHandleBase::is_active() const
{
  return detail::is_active_state(state());
}

bool ServerGoalHandleBase::is_executing() const
{
  return state() == GoalStatus::STATUS_EXECUTING;
}

void ServerGoalHandleBase::_execute()
{
  table_->apply(goal_, GoalEvent::Execute);
}

void ServerGoalHandleBase::_succeed(std::shared_ptr<const void> result)
{
  table_->apply(goal_, GoalEvent::Succeed, std::move(result));
}

void ServerGoalHandleBase::_abort(std::shared_ptr<const void> result)
{
  table_->apply(goal_, GoalEvent::Abort, std::move(result));
}

void ServerGoalHandleBase::_canceled(std::shared_ptr<const void> result)
{
  table_->apply(goal_, GoalEvent::Canceled, std::move(result));
}

}  // namespace rclcpp_action

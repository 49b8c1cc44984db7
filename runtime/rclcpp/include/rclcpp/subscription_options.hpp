#ifndef RCLCPP__SUBSCRIPTION_OPTIONS_HPP_
#define RCLCPP__SUBSCRIPTION_OPTIONS_HPP_

#include <memory>

#include "rclcpp/callback_group.hpp"

namespace rclcpp
{

template<typename AllocatorT = std::allocator<void>>
struct SubscriptionOptionsWithAllocator
{
  /// Group the subscription's callback runs in; nullptr means the node's default group.
  CallbackGroup::SharedPtr callback_group = nullptr;
  /// Do not receive messages published by this process's own participant.
  bool ignore_local_publications = false;
  std::shared_ptr<AllocatorT> allocator = nullptr;
};
using SubscriptionOptions = SubscriptionOptionsWithAllocator<std::allocator<void>>;

}  // namespace rclcpp

#endif  // RCLCPP__SUBSCRIPTION_OPTIONS_HPP_

// Convenience spin functions over a temporary single-threaded executor.
#ifndef RCLCPP__EXECUTORS_HPP_
#define RCLCPP__EXECUTORS_HPP_

#include <chrono>
#include <memory>

#include "rclcpp/executor.hpp"
#include "rclcpp/executors/multi_threaded_executor.hpp"
#include "rclcpp/executors/single_threaded_executor.hpp"
#include "rclcpp/node.hpp"

namespace rclcpp
{

/// Spins the node on a single-threaded executor until the context shuts down.
void spin(node_interfaces::NodeBase::SharedPtr node_ptr);
void spin(rclcpp::Node::SharedPtr node_ptr);
void spin_some(node_interfaces::NodeBase::SharedPtr node_ptr);
void spin_some(rclcpp::Node::SharedPtr node_ptr);

template<typename FutureT, typename TimeRepT = int64_t, typename TimeT = std::milli>
FutureReturnCode spin_until_future_complete(
  rclcpp::Node::SharedPtr node_ptr, const FutureT & future,
  std::chrono::duration<TimeRepT, TimeT> timeout = std::chrono::duration<TimeRepT, TimeT>(-1))
{
  executors::SingleThreadedExecutor executor;
  executor.add_node(node_ptr);
  return executor.spin_until_future_complete(future, timeout);
}

}  // namespace rclcpp

#endif  // RCLCPP__EXECUTORS_HPP_

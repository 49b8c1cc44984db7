// /rosout: each node publishes the records of its own logger (the exact name, not its
// children, as in ROS 2 Humble) as rcl_interfaces/msg/Log. Records are published by the thread
// that logs, after the console got them and outside the console's lock; a record that DDS
// cannot take at once is left out of /rosout rather than waited for, so logging never blocks.
#ifndef RCLCPP__ROSOUT_HPP_
#define RCLCPP__ROSOUT_HPP_

#include <memory>
#include <string>

#include "rclcpp/node_base.hpp"
#include "rclcpp/qos.hpp"

namespace rclcpp
{
namespace dds
{
class Writer;
}

namespace detail
{

/// A node's /rosout writer, registered under the node's logger name for its lifetime. When
/// several nodes share a logger name, the first one created publishes their records.
class RosoutPublisher
{
public:
  /// Throws what creating a DDS writer throws.
  RosoutPublisher(const node_interfaces::NodeBase::SharedPtr & node, const rclcpp::QoS & qos);
  ~RosoutPublisher();
  RosoutPublisher(const RosoutPublisher &) = delete;
  RosoutPublisher & operator=(const RosoutPublisher &) = delete;

  struct Endpoint;

private:
  std::string logger_name_;
  std::shared_ptr<Endpoint> endpoint_;
};

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__ROSOUT_HPP_

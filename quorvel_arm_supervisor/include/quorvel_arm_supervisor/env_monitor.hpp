// Environment stop: whether an object seen around the robot is close enough to hold the arm.
#ifndef QUORVEL_ARM_SUPERVISOR__ENV_MONITOR_HPP_
#define QUORVEL_ARM_SUPERVISOR__ENV_MONITOR_HPP_

#include <quorvel_protocol/msg/trashes.hpp>

namespace quorvel_arm_supervisor
{

// New value of the stop flag for one Trashes message. An empty list clears the stop.
// Otherwise the nearest planar distance sqrt(x² + y²) (float32) is taken with its fraction cut
// off, and the stop holds when `threshold` is strictly greater than that whole number: with
// threshold 1.5 an object at 1.99 stops the arm, one at 2.0 does not.
bool env_stop_requested(const quorvel_protocol::msg::Trashes & message, float threshold);

}  // namespace quorvel_arm_supervisor

#endif  // QUORVEL_ARM_SUPERVISOR__ENV_MONITOR_HPP_

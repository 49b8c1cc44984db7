// Choice of the trash to grab from a detection answer, and the bookkeeping that gives up a spot
// the arm keeps being sent to. No ROS calls; the node feeds them its members.
#ifndef QUORVEL_ARM_SUPERVISOR__TARGET_SELECTION_HPP_
#define QUORVEL_ARM_SUPERVISOR__TARGET_SELECTION_HPP_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <quorvel_interfaces/msg/trash.hpp>

#include "quorvel_arm_supervisor/point3f.hpp"

namespace quorvel_arm_supervisor
{

// Grab positions at this float32 distance from the origin or farther are out of reach.
inline constexpr float kGrabReachLimit = 0.9F;

// Index of the trash to grab: the one whose grab position is nearest the origin among those
// strictly nearer than kGrabReachLimit and not strictly within `radius` of any `given_up`
// point; the first of equally near ones wins. All distances in float32. nullopt when none
// qualifies (also for an empty list).
std::optional<std::size_t> choose_target(
  const std::vector<quorvel_interfaces::msg::Trash> & trashes,
  const std::vector<Point3f> & given_up, float radius);

// The node's repeat-tracking members, borrowed for one update.
struct RepeatTracking
{
  std::int32_t & same_position_count;
  Point3f & last_position;
  std::vector<Point3f> & unable_grab_positions;
  std::vector<quorvel_interfaces::msg::Trash> & unable_grab_trashes;
};

// Records that `position` (of `chosen`) was chosen by a detection. A position strictly within
// `radius` of the previous one counts one more repetition, any other restarts the count at 1.
// Once the count reaches `count_threshold` the spot is given up: `position` and `chosen` are
// appended to the given-up lists and true is returned (the count is not reset, so each
// further repetition appends again). The previous position becomes `position` in every case.
bool track_chosen_position(
  RepeatTracking state, const Point3f & position,
  const quorvel_interfaces::msg::Trash & chosen, float radius, std::int32_t count_threshold);

}  // namespace quorvel_arm_supervisor

#endif  // QUORVEL_ARM_SUPERVISOR__TARGET_SELECTION_HPP_

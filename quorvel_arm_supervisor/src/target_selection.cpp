#include "quorvel_arm_supervisor/target_selection.hpp"

#include <algorithm>
#include <limits>

namespace quorvel_arm_supervisor
{

std::optional<std::size_t> choose_target(
  const std::vector<quorvel_interfaces::msg::Trash> & trashes,
  const std::vector<Point3f> & given_up, float radius)
{
  std::optional<std::size_t> chosen;
  float best = kGrabReachLimit;
  for (std::size_t i = 0; i < trashes.size(); ++i) {
    const Point3f q = to_point3f(trashes[i].grab_pose.position);
    const float r = norm(q);
    if (!(r < best)) {
      continue;
    }
    const bool near_given_up = std::any_of(
      given_up.begin(), given_up.end(),
      [&](const Point3f & u) {return distance(q, u) < radius;});
    if (near_given_up) {
      continue;
    }
    chosen = i;
    best = r;
  }
  return chosen;
}

bool track_chosen_position(
  RepeatTracking state, const Point3f & position,
  const quorvel_interfaces::msg::Trash & chosen, float radius, std::int32_t count_threshold)
{
  if (distance(position, state.last_position) < radius) {
    // A spot that is never given up (threshold above any reachable count) must not overflow.
    if (state.same_position_count < std::numeric_limits<std::int32_t>::max()) {
      ++state.same_position_count;
    }
  } else {
    state.same_position_count = 1;
  }
  const bool give_up = state.same_position_count >= count_threshold;
  if (give_up) {
    state.unable_grab_positions.push_back(position);
    state.unable_grab_trashes.push_back(chosen);
  }
  state.last_position = position;
  return give_up;
}

}  // namespace quorvel_arm_supervisor

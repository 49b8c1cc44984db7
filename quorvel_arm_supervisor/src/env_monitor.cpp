#include "quorvel_arm_supervisor/env_monitor.hpp"

#include <cmath>

namespace quorvel_arm_supervisor
{

bool env_stop_requested(const quorvel_protocol::msg::Trashes & message, float threshold)
{
  if (message.trashes.empty()) {
    return false;
  }
  // 2^31: objects this far away or farther never lower the minimum.
  float nearest = 2147483648.0F;
  for (const auto & object : message.trashes) {
    const float d = std::sqrt(object.x * object.x + object.y * object.y);
    if (nearest > d) {
      nearest = std::trunc(d);
    }
  }
  return threshold > nearest;
}

}  // namespace quorvel_arm_supervisor

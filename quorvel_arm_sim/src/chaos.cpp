#include "quorvel_arm_sim/chaos.hpp"

namespace quorvel_arm_sim
{

Chaos::Chaos(std::uint64_t seed, double rate) : engine_(seed), rate_(rate) {}

std::optional<std::int32_t> Chaos::draw(Service service)
{
  const auto & statuses = failure_statuses(service);
  if (statuses.empty() || rate_ <= 0.0) {
    return std::nullopt;
  }
  // The top 53 bits as a fraction in [0, 1): exactly what a double holds.
  const double roll = static_cast<double>(engine_() >> 11) * 0x1.0p-53;
  if (roll >= rate_) {
    return std::nullopt;
  }
  return statuses[static_cast<std::size_t>(engine_() % statuses.size())];
}

}  // namespace quorvel_arm_sim

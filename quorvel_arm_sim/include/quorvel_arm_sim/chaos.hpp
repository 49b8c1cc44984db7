// Random failure answers for soak runs.
#ifndef QUORVEL_ARM_SIM__CHAOS_HPP_
#define QUORVEL_ARM_SIM__CHAOS_HPP_

#include <cstdint>
#include <optional>
#include <random>

#include "quorvel_arm_sim/status_codes.hpp"

namespace quorvel_arm_sim
{

// Decides, answer by answer, whether an arm-service answer is replaced by a failure drawn from
// that service's own statuses. The same seed and the same sequence of draws give the same
// decisions on every platform: only the engine's raw output is used, never a standard
// distribution, whose results the library may choose. Not thread-safe.
class Chaos
{
public:
  // `rate` in [0, 1]: the probability of a failure per answer.
  Chaos(std::uint64_t seed, double rate);

  // A failure status for this answer of `service`, or nothing (then the answer stays as it
  // is). Always nothing for detection.
  std::optional<std::int32_t> draw(Service service);

  double rate() const { return rate_; }

private:
  std::mt19937_64 engine_;
  double rate_;
};

}  // namespace quorvel_arm_sim

#endif  // QUORVEL_ARM_SIM__CHAOS_HPP_

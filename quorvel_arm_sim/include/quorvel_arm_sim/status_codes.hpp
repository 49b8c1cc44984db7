// The services the simulator serves and the status codes its answers carry.
#ifndef QUORVEL_ARM_SIM__STATUS_CODES_HPP_
#define QUORVEL_ARM_SIM__STATUS_CODES_HPP_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel_arm_sim
{

enum class Service
{
  kDetect,
  kGrab,
  kRelease,
  kMoveJoints,
};

// The arm controller's success; the supervisor judges every other arm status a failure.
constexpr std::int32_t kStatusSuccess = 102100000;
// The failure every arm service may report. The simulator also answers it to a motion request
// it cannot take at all (another motion runs, or the arm is abnormal): neither depends on the
// request, so no service-specific code fits.
constexpr std::int32_t kStatusCommonFailure = 102001001;
// Refusals of a request whose target cannot be used. Each is taken from the requesting
// service's own range, and from the part of it the supervisor answers with a recovery, so
// that a bad target never lets a task carry on as if the arm had moved:
//  - grab: 102100005, the first of the codes that make the supervisor choose again (replan);
//    the target came from detection, so another choice is the sensible reaction;
//  - release: 102100013, the first release code that asks for a recovery;
//  - move joints: 102100002, the one move-joints code that asks for a recovery.
constexpr std::int32_t kStatusGrabInvalidTarget = 102100005;
constexpr std::int32_t kStatusReleaseInvalidTarget = 102100013;
constexpr std::int32_t kStatusMoveJointsInvalidTarget = 102100002;
// Detection: 0 failed, anything else succeeded.
constexpr std::int32_t kDetectSuccess = 1;

// "detect", "grab", "release", "movejoints": the names scene files use.
const char * service_name(Service service);
std::optional<Service> parse_service(const std::string & name);

bool is_arm_service(Service service);

// The failure statuses of one arm service as the supervisor knows them, in ascending order,
// the common failure last. Empty for detection.
const std::vector<std::int32_t> & failure_statuses(Service service);

// What the supervisor makes of `status` from `service`, e.g. "success",
// "grab failure: recover", "release failure, no recovery".
std::string status_meaning(Service service, std::int32_t status);

}  // namespace quorvel_arm_sim

#endif  // QUORVEL_ARM_SIM__STATUS_CODES_HPP_

#include "quorvel_arm_sim/status_codes.hpp"

#include <algorithm>

namespace quorvel_arm_sim
{

namespace
{

bool contains(const std::vector<std::int32_t> & codes, std::int32_t status)
{
  return std::find(codes.begin(), codes.end(), status) != codes.end();
}

}  // namespace

const char * service_name(Service service)
{
  switch (service) {
    case Service::kDetect:
      return "detect";
    case Service::kGrab:
      return "grab";
    case Service::kRelease:
      return "release";
    case Service::kMoveJoints:
      return "movejoints";
  }
  return "?";
}

std::optional<Service> parse_service(const std::string & name)
{
  for (const Service service :
       {Service::kDetect, Service::kGrab, Service::kRelease, Service::kMoveJoints}) {
    if (name == service_name(service)) {
      return service;
    }
  }
  return std::nullopt;
}

bool is_arm_service(Service service) { return service != Service::kDetect; }

const std::vector<std::int32_t> & failure_statuses(Service service)
{
  static const std::vector<std::int32_t> kNone;
  static const std::vector<std::int32_t> kGrab{
      102100005, 102100006, 102100007, 102100008, 102100009, 102100010, 102100011, 102001001};
  static const std::vector<std::int32_t> kRelease{
      102100012, 102100013, 102100014, 102100015, 102100016, 102001001};
  static const std::vector<std::int32_t> kMoveJoints{
      102100001, 102100002, 102100003, 102100004, 102001001};
  switch (service) {
    case Service::kDetect:
      return kNone;
    case Service::kGrab:
      return kGrab;
    case Service::kRelease:
      return kRelease;
    case Service::kMoveJoints:
      return kMoveJoints;
  }
  return kNone;
}

std::string status_meaning(Service service, std::int32_t status)
{
  if (service == Service::kDetect) {
    return status == 0 ? "detection failed" : "detected";
  }
  if (status == kStatusSuccess) {
    return "success";
  }
  if (status == kStatusCommonFailure) {
    return "common failure: recover";
  }
  switch (service) {
    case Service::kDetect:
      break;
    case Service::kGrab:
      if (contains({102100005, 102100006, 102100007}, status)) {
        return "grab failure: choose again and recover";
      }
      if (status == 102100009) {
        return "grab failure, no recovery";
      }
      return contains(failure_statuses(service), status) ? "grab failure: recover"
                                                         : "unknown grab status: recover";
    case Service::kRelease:
      if (status == 102100012) {
        return "release failure, no recovery";
      }
      return contains(failure_statuses(service), status) ? "release failure: recover"
                                                         : "unknown release status: recover";
    case Service::kMoveJoints:
      if (contains({102100001, 102100003, 102100004}, status)) {
        return "move failure, no recovery";
      }
      return contains(failure_statuses(service), status) ? "move failure: recover"
                                                         : "unknown move status: recover";
  }
  return "";
}

}  // namespace quorvel_arm_sim

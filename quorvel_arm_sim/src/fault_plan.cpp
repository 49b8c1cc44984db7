#include "quorvel_arm_sim/fault_plan.hpp"

namespace quorvel_arm_sim
{

FaultPlan::FaultPlan(std::vector<Fault> faults)
    : faults_(std::move(faults)), fired_(faults_.size(), false)
{
}

FaultPlan::Call FaultPlan::count_call(Service service)
{
  Call call;
  call.number = ++calls_[service];
  for (const Fault & fault : faults_) {
    if (fault.service == service && call.number >= fault.call &&
        call.number < fault.call + fault.times) {
      call.faults.push_back(&fault);
    }
  }
  return call;
}

std::vector<const Fault *> FaultPlan::due(double seconds_since_task_start)
{
  std::vector<const Fault *> ready;
  for (std::size_t i = 0; i < faults_.size(); ++i) {
    if (!fired_[i] && faults_[i].at && *faults_[i].at <= seconds_since_task_start) {
      fired_[i] = true;
      ready.push_back(&faults_[i]);
    }
  }
  return ready;
}

}  // namespace quorvel_arm_sim

#!/usr/bin/env bash
# ROS 2 security is never silently ignored: with ROS_SECURITY_ENABLE=true and the Enforce
# strategy every program of the bundled runtime refuses to start (it cannot authenticate); with
# the Permissive strategy it runs and says once that it runs unauthenticated.
# shellcheck source=tools/test/e2e/e2e_lib.bash
source "${QUORVEL_E2E_LIB:?}"

supervisor=$(e2e_installed lib/quorvel_arm_supervisor/arm_supervisor) || exit 1
params=$(e2e_installed share/quorvel_arm_supervisor/config/arm_supervisor_params.yaml) || exit 1
mock=$(e2e_installed lib/quorvel_arm_supervisor/arm_service_mock) || exit 1
feeder=$(e2e_installed lib/quorvel_arm_supervisor/trash_feeder) || exit 1

# NAME COMMAND...: every program must end at once, non-zero, naming the setting and the way out.
# The simulator is built after this package; it is checked once it is installed.
sim=$(IFS=:; for prefix in ${AMENT_PREFIX_PATH:-}; do
  [[ -x "$prefix/lib/quorvel_arm_sim/arm_sim" ]] && echo "$prefix/lib/quorvel_arm_sim/arm_sim" && break
done)
programs=(supervisor mock feeder quorvel dashboard)
[[ -n "$sim" ]] && programs+=(sim)
for program in "${programs[@]}"; do
  case $program in
    supervisor) cmd=("$supervisor" --ros-args --params-file "$params") ;;
    mock) cmd=("$mock") ;;
    feeder) cmd=("$feeder") ;;
    quorvel) cmd=("$QUORVEL_TOOL" status) ;;
    dashboard) cmd=("$QUORVEL_TOOL" dashboard --port 18759) ;;
    sim) cmd=("$sim") ;;
  esac
  ROS_SECURITY_ENABLE=true ROS_SECURITY_STRATEGY=Enforce timeout 20 "${cmd[@]}" \
    >"$E2E_DIR/enforce_$program.out" 2>&1
  status=$?
  ((status != 0 && status != 124)) ||
    e2e_fail "$program with ROS_SECURITY_STRATEGY=Enforce: exit status $status, expected a refusal"
  grep -q 'ROS_SECURITY_STRATEGY=Enforce.*no DDS security.*ROS 2 Humble' "$E2E_DIR/enforce_$program.out" ||
    e2e_fail "$program gave no reason for refusing: $(cat "$E2E_DIR/enforce_$program.out")"
done
e2e_log "Enforce: every program refused to start"

export ROS_SECURITY_ENABLE=true ROS_SECURITY_STRATEGY=Permissive
e2e_start supervisor "$supervisor" --ros-args --params-file "$params"
e2e_start mock "$mock"
e2e_wait_for supervisor 'ArmSupervisorNode Start!' 20
e2e_wait_for mock 'ArmServiceMockNode Start!' 20
for program in supervisor mock; do
  e2e_expect "$program" 'WARN.*ROS_SECURITY_ENABLE=true.*running unauthenticated' 1
done

#!/usr/bin/env bash
# The shipped systemd unit: once its placeholders are filled in, systemd-analyze finds nothing
# to object to, and its command line, with its environment, starts the installed supervisor,
# which its stop signal ends cleanly.
# shellcheck source=tools/test/e2e/e2e_lib.bash
source "${QUORVEL_E2E_LIB:?}"

unit=$(e2e_installed share/quorvel_arm_supervisor/systemd/arm_supervisor.service) || exit 1
prefix=${unit%/share/quorvel_arm_supervisor/systemd/arm_supervisor.service}
workspace=$(dirname "$prefix")
[[ "$(basename "$prefix")" == install && -f "$workspace/install/setup.bash" ]] ||
  e2e_fail "the unit expects a workspace holding install/setup.bash; $prefix is not one"

grep -q '@WORKSPACE@' "$unit" || e2e_fail "the unit has no @WORKSPACE@ placeholder to fill in"
mkdir -p "$E2E_DIR/unit"
filled="$E2E_DIR/unit/arm_supervisor.service"
sed -e "s|@WORKSPACE@|$workspace|g" -e "s|@USER@|$(id -un)|g" "$unit" >"$filled"
grep -q '@[A-Z]*@' "$filled" && e2e_fail "placeholders left: $(grep '@[A-Z]*@' "$filled")"

systemd-analyze verify "$filled" >"$E2E_DIR/verify.out" 2>&1 ||
  e2e_fail "systemd-analyze verify failed: $(cat "$E2E_DIR/verify.out")"
[[ ! -s "$E2E_DIR/verify.out" ]] || e2e_fail "systemd-analyze verify objects: $(cat "$E2E_DIR/verify.out")"

value() { sed -n "s/^$1=//p" "$filled"; }
[[ "$(value KillSignal)" == SIGINT ]] || e2e_fail "the unit must stop the supervisor with SIGINT"
[[ "$(value Restart)" == on-failure ]] || e2e_fail "the unit must restart the supervisor on failure"
[[ -n "$(value RestartSec)" ]] || e2e_fail "the unit must wait between restarts"

# The unit's environment, kept on this test's loopback domain instead of the robot's network.
declare -a unit_env=()
while IFS= read -r assignment; do
  case "${assignment%%=*}" in
    ROS_DOMAIN_ID) assignment="ROS_DOMAIN_ID=$ROS_DOMAIN_ID" ;;
    ROS_LOCALHOST_ONLY) assignment="ROS_LOCALHOST_ONLY=1" ;;
  esac
  unit_env+=("$assignment")
done < <(value Environment)
for wanted in SPDLOG_SYSTEMD=true SPDLOG_STDOUT=false RMW_IMPLEMENTATION=rmw_cyclonedds_cpp; do
  printf '%s\n' "${unit_env[@]}" | grep -qx "$wanted" || e2e_fail "the unit does not set $wanted"
done

# ExecStart as systemd would run it: a clean environment with the unit's variables only, and
# the command becoming the process that the stop signal reaches.
exec_start=$(value ExecStart)
printf '%s\n' "$exec_start" >"$E2E_DIR/exec_start.sh"
e2e_start service env -i "PATH=/usr/bin:/bin" "HOME=$HOME" "${unit_env[@]}" \
  /bin/bash -c "eval \"exec \$(cat '$E2E_DIR/exec_start.sh')\""
e2e_wait_for service 'ArmSupervisorNode Start!' 20
e2e_expect service 'arm_task_action: /quorvel_action/arm_task' 1
kill -INT "${E2E_PID[service]}"
e2e_expect_exit service 15 0

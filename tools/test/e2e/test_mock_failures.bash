#!/usr/bin/env bash
# arm_service_mock's two parameters: a value of the wrong kind stops it at start with a message
# naming the parameter, and a failure status makes the supervisor run its recovery, which ends
# the task with "arm status abnormal" when the arm never reaches the safe posture.
# shellcheck source=tools/test/e2e/e2e_lib.bash
source "${QUORVEL_E2E_LIB:?}"

mock=$(e2e_installed lib/quorvel_arm_supervisor/arm_service_mock) || exit 1
for bad in delay_scale:=fast delay_scale:=1 delay_scale:=-0.5 arm_status:=1.5 arm_status:=4294967296; do
  "$mock" --ros-args -p "$bad" >"$E2E_DIR/bad.out" 2>&1
  status=$?
  ((status != 0)) || e2e_fail "arm_service_mock accepted -p $bad"
  grep -q "^arm_service_mock: start-up failed: .*${bad%%:=*}" "$E2E_DIR/bad.out" ||
    e2e_fail "-p $bad: $(cat "$E2E_DIR/bad.out")"
done

# Every grab answered 102100010 (recover); no joint angles arrive, so the recovery move never
# counts as reached and ends by its time limit.
E2E_SUPERVISOR_PARAMS+=(-p arm_movejoints_time_threshold:=1.0)
supervisor=$(e2e_installed lib/quorvel_arm_supervisor/arm_supervisor) || exit 1
params=$(e2e_installed share/quorvel_arm_supervisor/config/arm_supervisor_params.yaml) || exit 1
e2e_start mock "$mock" --ros-args -p delay_scale:=$E2E_DELAY_SCALE -p arm_status:=102100010
e2e_start supervisor "$supervisor" --ros-args --params-file "$params" "${E2E_SUPERVISOR_PARAMS[@]}"
e2e_wait_for mock 'ArmServiceMockNode Start!' 20
e2e_wait_for supervisor 'ArmSupervisorNode Start!' 20
e2e_start voice "$QUORVEL_TOOL" echo voice
e2e_wait_for voice '^listening on /arm/voice_broadcast' 10

e2e_start task "$QUORVEL_TOOL" task --timeout 40
e2e_expect_exit task 45 0
e2e_expect task '^result: succeeded$' 1
e2e_expect task '^error_code: 102300005 \(arm status abnormal\)$' 1
e2e_expect task '^unable_grab_trashes: 0$' 1
e2e_expect supervisor 'arm grab status:102100010'
e2e_wait_for voice '^voice: 2 \(arm controller failure code\)$' 10
e2e_expect mock 'starting arm release' 0

#!/usr/bin/env bash
# The supervisor's time limits do not follow its wall clock: with the clock set an hour ahead
# while it waits for a slow detection, it still waits for the answer (a wall-clock limit would
# give up at once); set back an hour while it waits for a detection that never comes, it still
# gives up after detect_timeout_threshold (a wall-clock limit would wait an hour more).
# The supervisor alone runs with the clock shim (CLOCK_SHIM); the machine's clock is not touched.
# shellcheck source=quorvel_arm_sim/test/e2e/sim_e2e_lib.bash
source "${SIM_E2E_LIB:?}"
: "${CLOCK_SHIM:?CLOCK_SHIM must name the clock step library}"
scene="${SIM_TEST_SCENES:?}/slow_then_hung_detection.yaml"
step_file="$SIM_DIR/clock_step"

sim_start sim "$ARM_SIM" --ros-args -p scene:="$scene"
sim_start supervisor env LD_PRELOAD="$CLOCK_SHIM" CLOCK_STEP_FILE="$step_file" \
  "$SUPERVISOR" --ros-args --params-file "$SUPERVISOR_PARAMS" "${SIM_SUPERVISOR_DELAYS[@]}" \
  -p detect_timeout_threshold:=5.0
sim_start voice "$QUORVEL" echo voice
sim_start recover "$QUORVEL" echo recover
sim_wait_for sim "^arm_sim: scene 'slow_then_hung_detection'" 20
sim_wait_for supervisor 'ArmSupervisorNode Start!' 20
sim_wait_for voice '^listening on' 20
sim_wait_for recover '^listening on' 20
sim_start task "$QUORVEL" task --server-timeout 20 --timeout 60

# An hour ahead while the first answer (2 s) is awaited.
sim_wait_for task '^event: asking for a detection' 20
echo 3600 >"$step_file"
sim_wait_for task '^event: detection: ' 20
# Back an hour while the second, never answered, is awaited.
deadline=$(sim_deadline 30)
while (($(sim_count task '^event: asking for a detection') < 2)); do
  sim_alive task || sim_fail "the task ended before its second detection: $(cat "$(sim_file task)")"
  ((SECONDS < deadline)) || sim_fail "no second detection within 30 s: $(cat "$(sim_file task)")"
  sleep 0.1
done
asked=$SECONDS
echo 0 >"$step_file"
sim_wait_for task '^event: no detection answer within the time limit' 20
waited=$((SECONDS - asked))
((waited >= 4)) || sim_fail "the second detection was given up after ${waited} s, its limit is 5 s"

sim_wait_exit task 30
((SIM_STATUS == 0)) || sim_fail "quorvel task ended with exit status $SIM_STATUS: $(cat "$(sim_file task)")"
sleep 0.5
sim_stop voice
sim_stop recover
sim_stop supervisor
sim_stop sim
"$ARM_SIM_EXPECT" "$scene" --task "$(sim_file task)" --voice "$(sim_file voice)" \
  --recover "$(sim_file recover)" --sim "$(sim_file sim)" >"$(sim_file expect)" 2>&1 ||
  sim_fail "$(cat "$(sim_file expect)"); the task printed: $(cat "$(sim_file task)")"
sim_log "$(cat "$(sim_file expect)")"

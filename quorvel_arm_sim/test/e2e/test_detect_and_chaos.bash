#!/usr/bin/env bash
# A detection that never comes, then a short soak: random failure answers at a high speed, every
# goal must end within its limit, and with an error code the supervisor can produce.
# shellcheck source=quorvel_arm_sim/test/e2e/sim_e2e_lib.bash
source "${SIM_E2E_LIB:?}"
: "${ARM_SIM_GOALS:?ARM_SIM_GOALS must name the arm_sim_goals program under test}"
run_scene detect_timeout 30

sim_start sim "$ARM_SIM" --ros-args -p scene:=soak -p speed:=20.0 -p chaos_rate:=0.3 -p chaos_seed:=11
sim_start supervisor "$SUPERVISOR" --ros-args --params-file "$SUPERVISOR_PARAMS" \
  -p init_detect_delay:=0 -p gripper_open_delay:=0 -p gripper_close_delay:=0 \
  -p gripper_release_delay:=0 -p arm_voice_broadcast_delay:=0 \
  -p arm_recover_count_threshold:=1 -p arm_movejoints_time_threshold:=2.0 \
  -p detect_timeout_threshold:=2.0
sim_wait_for sim "^arm_sim: scene 'soak'.*chaos rate 0.3 \(seed 11\)" 20
sim_wait_for supervisor 'ArmSupervisorNode Start!' 20
sim_start goals "$ARM_SIM_GOALS" --count 10 --goal-timeout 15 --server-timeout 20
sim_wait_exit goals 90
((SIM_STATUS == 0)) || sim_fail "arm_sim_goals ended with exit status $SIM_STATUS"
sim_expect_output goals '^goals: 10 ended, 0 lost'
sim_expect_output sim '^\[arm_sim\] chaos: '
# Every result is one the supervisor can give with an arm that never stays abnormal.
if grep -E '^goal [0-9]+: ' "$(sim_file goals)" | grep -vqE 'succeeded error_code 10230000[03] '; then
  sim_fail "unexpected results: $(cat "$(sim_file goals)")"
fi
sim_stop supervisor
sim_stop sim

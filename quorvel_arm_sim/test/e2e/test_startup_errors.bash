#!/usr/bin/env bash
# A bad scene file or bad parameters stop arm_sim at start with exit status 1 and a message that
# names the problem; arm_sim_expect prints a scene's expectation for scripts.
# shellcheck source=quorvel_arm_sim/test/e2e/sim_e2e_lib.bash
source "${SIM_E2E_LIB:?}"
: "${SIM_TEST_SCENES:?}"

# expect_startup_error NAME REGEX ARGS...: arm_sim with ARGS exits 1 and says REGEX on stderr.
expect_startup_error() {
  local name=$1 regex=$2
  shift 2
  sim_start "$name" "$ARM_SIM" --ros-args "$@"
  sim_wait_exit "$name" 20
  ((SIM_STATUS == 1)) || sim_fail "$name: exit status $SIM_STATUS, expected 1: $(cat "$(sim_file "$name")")"
  sim_expect_output "$name" "^arm_sim: start-up failed: .*$regex"
}

expect_startup_error unknown_key \
  "bad_unknown_key.yaml:11:5: faults\[0\]\.stauts: unknown key" \
  -p scene:="$SIM_TEST_SCENES/bad_unknown_key.yaml"
expect_startup_error syntax "bad_syntax.yaml:[0-9]+:[0-9]+: YAML syntax error" \
  -p scene:="$SIM_TEST_SCENES/bad_syntax.yaml"
expect_startup_error service "bad_service.yaml:4:15: faults\[0\]\.service: unknown service 'gripper'" \
  -p scene:="$SIM_TEST_SCENES/bad_service.yaml"
expect_startup_error missing_file "/nonexistent/scene.yaml: cannot read the scene file" \
  -p scene:=/nonexistent/scene.yaml
expect_startup_error unknown_scene "parameter 'scene': no shipped scene 'no_such_scene' \(shipped: .*clear_table" \
  -p scene:=no_such_scene
expect_startup_error zero_speed "parameter 'speed' must be a time scale greater than 0, got 0" \
  -p speed:=0.0
expect_startup_error integer_speed "parameter 'speed'.*(type|double)" -p speed:=2
expect_startup_error chaos_rate "parameter 'chaos_rate' must be a probability from 0.0 to 1.0, got 1.5" \
  -p chaos_rate:=1.5

# The expectation as shell lines, and a comparison that differs.
sim_start expectation "$ARM_SIM_EXPECT" grab_recovery
sim_wait_exit expectation 10
((SIM_STATUS == 0)) || sim_fail "arm_sim_expect grab_recovery: exit status $SIM_STATUS"
(
  set -e
  error_code="" unable_grab_trashes="" voice="" recover_messages=""
  eval "$(cat "$(sim_file expectation)")"
  [[ "$error_code" == 102300003 && "$unable_grab_trashes" == 0 && "$voice" == 2 && "$recover_messages" == 2 ]]
) || sim_fail "arm_sim_expect grab_recovery printed: $(cat "$(sim_file expectation)")"
printf 'result: succeeded\nerror_code: 102300005 (arm status abnormal)\nunable_grab_trashes: 0\n' \
  >"$SIM_DIR/task_output.txt"
sim_start compare "$ARM_SIM_EXPECT" grab_recovery --task "$SIM_DIR/task_output.txt"
sim_wait_exit compare 10
((SIM_STATUS == 1)) || sim_fail "arm_sim_expect --task: exit status $SIM_STATUS, expected 1"
sim_expect_output compare '^  error_code: got 102300005, expected 102300003$'
sim_start usage "$ARM_SIM_EXPECT" grab_recovery --tusk x
sim_wait_exit usage 10
((SIM_STATUS == 2)) || sim_fail "arm_sim_expect with a wrong argument: exit status $SIM_STATUS, expected 2"

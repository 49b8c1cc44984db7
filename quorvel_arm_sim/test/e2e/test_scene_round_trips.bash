#!/usr/bin/env bash
# Every shipped scene, and one with an environment stop inside a recovery whose first move
# stops short, run recorded; a scene derived from each recording with quorvel scene; that scene
# replayed, recorded too, with only the supervisor settings it carries: it must end as it
# expects, and quorvel bag compare must find the same steps as in the original.
# shellcheck source=quorvel_arm_sim/test/e2e/sim_e2e_lib.bash
source "${SIM_E2E_LIB:?}"
: "${SIM_TEST_SCENES:?}"

# The originals: arm_sim four times faster and the supervisor's waits and limits short, so that
# each scene takes seconds; the derived scenes must carry whatever of it the steps depend on.
ORIGINAL_SUPERVISOR=(
  -p gripper_close_delay:=100 -p gripper_release_delay:=100 -p arm_voice_broadcast_delay:=200
  -p arm_recover_count_threshold:=2 -p detect_timeout_threshold:=1.0
)

round_trip() {
  local scene=$1 tag=$2 start=$SECONDS steps
  local a="$SIM_DIR/$tag.a" b="$SIM_DIR/$tag.b" derived="$SIM_DIR/$tag.yaml"
  recorded_run "$tag-a" "$scene" "$a" 4.0 40 "${ORIGINAL_SUPERVISOR[@]}"
  "$QUORVEL" scene --from "$a" -o "$derived" >"$(sim_file "$tag-derive")" 2>&1 ||
    sim_fail "$tag: quorvel scene --from: $(cat "$(sim_file "$tag-derive")")"
  mapfile -t settings < <(scene_supervisor_args "$derived")
  recorded_run "$tag-b" "$derived" "$b" 1.0 40 "${settings[@]}"
  expect_as_scene "$tag-b" "$derived"
  steps=$(expect_same_steps "$a" "$b")
  sim_log "$tag: replay $steps as the original, $(cat "$(sim_file "$tag-b-expect")") ($((SECONDS - start)) s)"
}

for scene in clear_table stuck_item grab_recovery release_drop env_stop detect_timeout arm_fault; do
  round_trip "$scene" "$scene"
done
round_trip "$SIM_TEST_SCENES/recovery_env_stop_short.yaml" recovery_env
round_trip "$SIM_TEST_SCENES/release_long_abnormal.yaml" release_long_abnormal

# The derived lines of that last one, with the events they come from.
derived="$SIM_DIR/recovery_env.yaml"
expect_line() {
  grep -qE -- "$1" "$derived" || sim_fail "the derived scene lacks a line matching '$1':
$(cat "$derived")"
}
expect_line '^  arm_recover_count_threshold: 2  # RECOVERY_ARM_ABNORMAL #[0-9]+: at most 3 waits$'
expect_line '^  - \{service: grab, call: 1, status: 102100010, errmsg: "collision detected, arm stopped", abnormal: \{until_recovers: 2\}\}  # MOTION_ANSWERED #[0-9]+: arm_grab \(grab_pose\) answered 102100010 \(failure: recover the arm\); /robot/unnormal_flag message [0-9]+: abnormal; message [0-9]+: normal again, after 2 recover message\(s\) \(counted on /robot/recover_topic\)$'
expect_line '^  - \{at: [0-9.]+, env_object: \{x: 1.2, y: 0.3, for: [0-9.]+\}\}  # ENV_STOP_HELD #[0-9]+: an object at 1.24 \(/quorvel/env_detect_topic message [0-9]+\), gone by /quorvel/env_detect_topic message [0-9]+; appears between the checks around RECOVERY_ARM_ABNORMAL #[0-9]+$'
expect_line '^  - \{service: movejoints, call: 1, stop_short: \{joint: 3, by: 0.05\}\}  # RECOVERY_POSITION #[0-9]+: recover_movej_pos2 not reached, joint3 at 1.0972 for 1.0472$'
expect_line '^  voice: \[2, 4, 102100000\]  # /arm/voice_broadcast: [0-9]+ announcement\(s\) during the task$'
expect_line '^  recover_messages: 2  # /robot/recover_topic during the task$'

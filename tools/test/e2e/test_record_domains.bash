#!/usr/bin/env bash
# quorvel record --domains: two desks on two domains (and a third domain with nothing on it)
# recorded at once, a bag per domain. Each bag holds its own desk's task and only that; the
# empty domain's bag is closed empty; a scene derived from one of them expects that desk's
# outcome, as from a bag recorded on one domain. An existing directory is refused.
# shellcheck source=tools/test/e2e/record_lib.bash
source "${QUORVEL_RECORD_LIB:?}"

first=${ROS_DOMAIN_ID:?}
second=$((first + 1))
empty=$((first + 2))
sim=$(e2e_installed lib/quorvel_arm_sim/arm_sim) || exit 1
supervisor=$(e2e_installed lib/quorvel_arm_supervisor/arm_supervisor) || exit 1
params=$(e2e_installed share/quorvel_arm_supervisor/config/arm_supervisor_params.yaml) || exit 1

bags="$E2E_DIR/bags"
e2e_start record "$QUORVEL_TOOL" record --domains "$first-$empty" -o "$bags"
e2e_wait_for record '^recording 3 domains into ' 20
for pair in "$first:grab_recovery" "$second:clear_table"; do
  domain=${pair%%:*}
  scene=${pair#*:}
  e2e_start "sim$domain" env ROS_DOMAIN_ID="$domain" "$sim" --ros-args -p scene:="$scene" \
    -p speed:=2.0
  e2e_start "supervisor$domain" env ROS_DOMAIN_ID="$domain" "$supervisor" --ros-args \
    --params-file "$params" -p gripper_close_delay:=100 -p gripper_release_delay:=100 \
    -p arm_voice_broadcast_delay:=500
done
for domain in "$first" "$second"; do
  e2e_wait_for "supervisor$domain" 'ArmSupervisorNode Start!' 20
  e2e_wait_for record "^domain $domain: recording $EVENTS_TOPIC " 20
  e2e_wait_for record "^domain $domain: recording /robot/joint_angle " 20
  e2e_start "task$domain" env ROS_DOMAIN_ID="$domain" "$QUORVEL_TOOL" task --timeout 40 --no-events
done
e2e_expect_exit "task$first" 60 0
e2e_expect_exit "task$second" 60 0
e2e_expect "task$first" '^error_code: 102300003'
e2e_expect "task$second" '^error_code: 102300000'
# The last events travel with the results; a moment more for the recorder to take them.
sleep 1
kill -INT "${E2E_PID[record]}"
e2e_expect_exit record 20 0
e2e_expect record "^bag '.*domain_$first' closed: "
e2e_expect record "^bag '.*domain_$second' closed: "
e2e_expect record "^bag '.*domain_$empty' closed: 0 messages"
e2e_expect record "^domain $empty: nothing was published on it"

# Each bag: its own desk's task, and the counts its metadata.yaml says.
for pair in "$first:102300003" "$second:102300000"; do
  domain=${pair%%:*}
  code=${pair#*:}
  bag="$bags/domain_$domain"
  expect_same_counts "$bag"
  "$QUORVEL_TOOL" bag info "$bag" >"$E2E_DIR/info$domain.out" 2>&1 ||
    e2e_fail "quorvel bag info $bag: $(cat "$E2E_DIR/info$domain.out")"
  grep -qE "error code: +$code " "$E2E_DIR/info$domain.out" ||
    e2e_fail "the bag of domain $domain does not hold its task ending $code: $(cat "$E2E_DIR/info$domain.out")"
  [[ $(grep -cE '^ *error code: ' "$E2E_DIR/info$domain.out") == 1 ]] ||
    e2e_fail "the bag of domain $domain holds more than its own task: $(cat "$E2E_DIR/info$domain.out")"
done
"$QUORVEL_TOOL" scene --from "$bags/domain_$first" -o "$E2E_DIR/scene.yaml" \
  >"$E2E_DIR/scene.out" 2>&1 || e2e_fail "quorvel scene: $(cat "$E2E_DIR/scene.out")"
grep -q 'expects error_code 102300003' "$E2E_DIR/scene.out" ||
  e2e_fail "the derived scene: $(cat "$E2E_DIR/scene.out")"

# An existing directory is refused before anything is recorded.
e2e_start again "$QUORVEL_TOOL" record --domains "$first" -o "$bags"
e2e_expect_exit again 10 1
e2e_expect again "exists; give a new directory"
e2e_log "passed"

#!/usr/bin/env bash
# trash_feeder's object at distance 1.0 holds the supervisor's environment stop: the task waits
# before its first grab, announcing code 4, until the stop input is disabled.
# shellcheck source=tools/test/e2e/e2e_lib.bash
source "${QUORVEL_E2E_LIB:?}"

e2e_start_desk
e2e_start feeder "$(e2e_installed lib/quorvel_arm_supervisor/trash_feeder)"
e2e_start voice "$QUORVEL_TOOL" echo voice

# The endpoints as the tool sees them: with the mock's detection name everything is up, the
# default detection service is not served on a desk.
"$QUORVEL_TOOL" status --detect-service /quorvel_service/detect_trash_test \
  >"$E2E_DIR/status_up.out" 2>&1 || e2e_fail "quorvel status: not everything up: $(cat "$E2E_DIR/status_up.out")"
(($(grep -cE ' up$' "$E2E_DIR/status_up.out") == 9)) || e2e_fail "status table: $(cat "$E2E_DIR/status_up.out")"
"$QUORVEL_TOOL" status --wait 0.5 >"$E2E_DIR/status_default.out" 2>&1
(($? == 1)) || e2e_fail "quorvel status with the default detection service should exit 1"
grep -qE '^/quorvel_service/detect_trash +service +down$' "$E2E_DIR/status_default.out" ||
  e2e_fail "status table: $(cat "$E2E_DIR/status_default.out")"

# The feeder's messages have reached the supervisor before the task starts.
e2e_wait_for supervisor 'env_detect_stop_: true' 20

e2e_start task "$QUORVEL_TOOL" task --timeout 60
e2e_wait_for voice '^voice: 4 \(environment stop\)$' 20 2
e2e_expect supervisor 'env_detect_stop_ !'
e2e_expect mock 'starting arm grab' 0

"$QUORVEL_TOOL" pub env-enable false >"$E2E_DIR/pub.out" 2>&1 ||
  e2e_fail "quorvel pub env-enable false: $(cat "$E2E_DIR/pub.out")"
grep -q '^published on /quorvel_topic/env_enable: data: false (1 subscriber)$' "$E2E_DIR/pub.out" ||
  e2e_fail "pub output: $(cat "$E2E_DIR/pub.out")"

e2e_expect_exit task 60 0
e2e_expect task '^result: succeeded$' 1
e2e_expect task '^unable_grab_trashes: 1$' 1
e2e_expect mock 'starting arm grab' 3
e2e_expect voice '^voice: 102100000 \(arm controller success\)$' 9

# The feeder ends cleanly on Ctrl-C.
kill -INT "${E2E_PID[feeder]}"
e2e_expect_exit feeder 10 0

#!/usr/bin/env bash
# Ctrl-C in the middle of a task ends every desk program with exit status 0.
# shellcheck source=tools/test/e2e/e2e_lib.bash
source "${QUORVEL_E2E_LIB:?}"

e2e_start_desk
e2e_start feeder "$(e2e_installed lib/quorvel_arm_supervisor/trash_feeder)"
e2e_wait_for supervisor 'env_detect_stop_: true' 20
"$QUORVEL_TOOL" pub env-enable false >"$E2E_DIR/pub.out" 2>&1 ||
  e2e_fail "quorvel pub env-enable false: $(cat "$E2E_DIR/pub.out")"

e2e_start task "$QUORVEL_TOOL" task --timeout 60
# The second grab is under way: the supervisor waits for the mock's answer, the mock sleeps.
e2e_wait_for mock 'starting arm grab' 20 2

kill -INT "${E2E_PID[supervisor]}" "${E2E_PID[mock]}" "${E2E_PID[feeder]}"
e2e_expect_exit supervisor 15 0
e2e_expect_exit mock 15 0
e2e_expect_exit feeder 15 0

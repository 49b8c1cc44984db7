#!/usr/bin/env bash
# A whole task against the mock: three picks of the same spot, then the spot is given up and
# the task ends with it in the result. Meanwhile a second goal is refused, and Ctrl-C on the
# tool cancels a task.
# shellcheck source=tools/test/e2e/e2e_lib.bash
source "${QUORVEL_E2E_LIB:?}"

# The installed program itself: wrong arguments print the usage and exit 2.
"$QUORVEL_TOOL" task --cmd x >"$E2E_DIR/usage.out" 2>&1
(($? == 2)) || e2e_fail "quorvel task --cmd x should exit 2"
grep -q '^usage: quorvel task' "$E2E_DIR/usage.out" || e2e_fail "no usage: $(cat "$E2E_DIR/usage.out")"

e2e_start_desk

e2e_start task "$QUORVEL_TOOL" task --timeout 60
e2e_wait_for task '^goal accepted: cmd 1, id [0-9a-f]{32}$' 20

# One task at a time: a second goal sent while the first runs is rejected.
e2e_start second "$QUORVEL_TOOL" task --server-timeout 10
e2e_expect_exit second 20 1
e2e_expect second 'goal rejected by /quorvel_action/arm_task'
e2e_expect supervisor 'Received goal request cmd: 1' 2

e2e_expect_exit task 60 0
completed=$(e2e_line supervisor 'Task completed')
second_request=$(grep -nE 'Received goal request cmd' "$(e2e_file supervisor)" | sed -n 2p | cut -d: -f1)
((completed > 0 && second_request > 0 && second_request < completed)) ||
  e2e_fail "the second goal did not arrive while the first task ran"

# Three pick cycles (3 feedbacks each after the first detection's), four detections, and the
# spot given up on the third choice is what the result reports. A feedback published before
# the tool has handled the goal's acceptance can be dropped, so only the last one is checked.
e2e_expect task '^feedback: step_count 10$' 1
e2e_expect task '^result: succeeded$' 1
e2e_expect task '^error_code: 102300000 \(initial value, no error\)$' 1
e2e_expect task '^unable_grab_trashes: 1$' 1
e2e_expect task '^  type 1, grab position \(-0\.32, 0, -0\.176\)$' 1
e2e_expect mock 'starting arm grab' 3
e2e_expect mock 'starting arm release' 3
e2e_expect mock 'starting arm movejoints' 3
e2e_expect mock 'starting detect' 4

# What the task did, in words, as the tool printed it while it waited.
e2e_expect task '^event: task started: cmd 1$' 1
e2e_expect task '^event: arm_grab answered 102100000 \(success\)$' 3
e2e_expect task '^event: spot \(-0\.32, 0, -0\.176\) given up after 3 choices in a row$' 1
e2e_expect task '^event: detection: 1 item\(s\), none to choose$' 1
e2e_expect task '^event: task succeeded: error_code 102300000, 1 trash\(es\) given up$' 1
started=$(e2e_line task '^event: task started')
ended=$(e2e_line task '^event: task succeeded')
result=$(e2e_line task '^result: succeeded')
((started < ended && ended < result)) || e2e_fail "the events are out of order with the result"

# A viewer that starts after the task still gets its events, numbered, with their times.
e2e_start events "$QUORVEL_TOOL" echo events --count 3
e2e_expect_exit events 20 0
e2e_expect events '^#1  \+0\.00 s  step 0  TASK_STARTED  task started: cmd 1$' 1
e2e_expect events '^#2  \+[0-9.]+ s  step 0  DETECT_REQUESTED  asking for a detection$' 1
e2e_expect events '^#3  \+[0-9.]+ s  step 0  DETECT_ANSWERED  detection: 1 item\(s\), chose #1 \(type 1\) at distance 0\.365$' 1

# Ctrl-C on the tool while the next task grabs: the goal is canceled once the supervisor runs
# out of pick cycles, and the tool reports that end and exits 0.
e2e_start canceled "$QUORVEL_TOOL" task --timeout 60
e2e_wait_for canceled '^goal accepted' 20
e2e_wait_for mock 'starting arm grab' 20 4
kill -INT "${E2E_PID[canceled]}"
e2e_wait_for canceled '^cancel request accepted$' 20
e2e_expect_exit canceled 60 0
e2e_expect canceled '^result: canceled$' 1
e2e_expect canceled '^error_code: 0$' 1
e2e_expect canceled '^unable_grab_trashes: 0$' 1
e2e_expect supervisor 'Received cancel request' 1
e2e_expect supervisor 'Task canceled' 1

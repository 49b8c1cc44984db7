#!/usr/bin/env bash
# A recorder started in the middle of a task still gets the task from its start (the events are
# transient local), and one killed with SIGKILL leaves a bag that reindex makes whole again:
# every event up to the kill is there.
# shellcheck source=tools/test/e2e/record_lib.bash
source "${QUORVEL_RECORD_LIB:?}"

bag="$E2E_DIR/killed"
db="$bag/killed_0.db3"
scene_desk arm_fault
e2e_start events "$QUORVEL_TOOL" echo events
e2e_wait_for events '^listening on' 20
e2e_start task "$QUORVEL_TOOL" task --timeout 60 --no-events
# The arm is abnormal: the recovery waits a second per recover message, the task goes on.
e2e_wait_for events 'waiting for a normal arm: 2 of' 30

e2e_start record "$QUORVEL_TOOL" record -o "$bag"
e2e_wait_for record "^recording $EVENTS_TOPIC " 20
e2e_wait_for events 'waiting for a normal arm: 4 of' 20
seen=$(e2e_count events '^#')
wait_topic_messages "$db" "$EVENTS_TOPIC" "$seen" 10
wait_topic_messages "$db" /robot/joint_angle 1 10
kill -KILL "${E2E_PID[record]}"
e2e_wait_exit record 10
[[ ! -e "$bag/metadata.yaml" ]] || e2e_fail "a killed recorder wrote metadata.yaml"
e2e_log "killed the recorder with $seen task events seen"

# Without its metadata the bag is refused, naming the way out.
"$QUORVEL_TOOL" bag info "$bag" >"$E2E_DIR/refused.out" 2>&1 && e2e_fail "bag info read a bag without metadata.yaml"
grep -q "has no metadata.yaml.*quorvel bag reindex" "$E2E_DIR/refused.out" ||
  e2e_fail "bag info said: $(cat "$E2E_DIR/refused.out")"

"$QUORVEL_TOOL" bag reindex "$bag" >"$E2E_DIR/reindex.out" 2>&1 ||
  e2e_fail "quorvel bag reindex: $(cat "$E2E_DIR/reindex.out")"
e2e_log "$(cat "$E2E_DIR/reindex.out")"
expect_same_counts "$bag"
"$QUORVEL_TOOL" bag info "$bag" >"$E2E_DIR/info.out" 2>&1 ||
  e2e_fail "quorvel bag info after reindex: $(cat "$E2E_DIR/info.out")"
for line in '^Tasks: +1$' '^    start: +[A-Z][a-z]{2} ' \
  '^    outcome: +unfinished \(the recording ends before the task\)$'
do
  grep -qE -- "$line" "$E2E_DIR/info.out" || e2e_fail "bag info lacks '$line':
$(cat "$E2E_DIR/info.out")"
done

# Every event quorvel echo events had printed by the kill is in the bag, from the task's start.
"$QUORVEL_TOOL" bag events "$bag" >"$E2E_DIR/bag_events.out" 2>&1 ||
  e2e_fail "quorvel bag events: $(cat "$E2E_DIR/bag_events.out")"
grep '^#' "$(e2e_file events)" | head -n "$seen" >"$E2E_DIR/echo_events.out"
head -n "$seen" "$E2E_DIR/bag_events.out" | diff "$E2E_DIR/echo_events.out" - >&2 ||
  e2e_fail "the bag's events are not those printed up to the kill"
grep -q 'task started' "$E2E_DIR/bag_events.out" || e2e_fail "the task's start is missing"

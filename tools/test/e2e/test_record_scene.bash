#!/usr/bin/env bash
# quorvel record beside the supervisor and arm_sim's grab_recovery scene: a bag that the sqlite3
# tool reads as Humble's layout, whose counts match its metadata.yaml, whose task events are the
# ones quorvel echo events printed, byte for byte decoded, and whose task bag info shows.
# shellcheck source=tools/test/e2e/record_lib.bash
source "${QUORVEL_RECORD_LIB:?}"

bag="$E2E_DIR/rec"
db="$bag/rec_0.db3"
e2e_start record "$QUORVEL_TOOL" record -o "$bag"
e2e_wait_for record '^recording into' 20
scene_desk grab_recovery
e2e_start events "$QUORVEL_TOOL" echo events
e2e_start recover "$QUORVEL_TOOL" echo recover
e2e_wait_for events '^listening on' 20
e2e_wait_for recover '^listening on' 20
e2e_wait_for record "^recording $EVENTS_TOPIC \(quorvel_task_events/msg/TaskEvent, reliable, transient local" 20
e2e_wait_for record '^recording /robot/joint_angle ' 20
e2e_wait_for record '^recording /robot/recover_topic ' 20

e2e_start task "$QUORVEL_TOOL" task --timeout 40 --no-events
e2e_expect_exit task 60 0
e2e_expect task '^error_code: 102300003'

# Everything the viewers got is in the database before the recorder is stopped.
e2e_wait_for events 'task succeeded: error_code 102300003' 10
events=$(e2e_count events '^#')
e2e_wait_for recover '^recover: ' 10 2
wait_topic_messages "$db" "$EVENTS_TOPIC" "$events" 10
wait_topic_messages "$db" /robot/recover_topic "$(e2e_count recover '^recover: ')" 10
kill -INT "${E2E_PID[record]}"
e2e_expect_exit record 15 0
e2e_expect record "^bag '.*rec' closed: "

# The layout Humble's writer leaves, read by Debian's sqlite3 tool.
[[ -f "$bag/metadata.yaml" ]] || e2e_fail "no metadata.yaml"
[[ ! -e "$db-wal" ]] || e2e_fail "the closed bag still has a -wal file"
tables=$(sqlite3 -readonly "$db" "SELECT group_concat(name, ' ') FROM (SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name)")
[[ "$tables" == "messages metadata schema topics" ]] || e2e_fail "tables: $tables"
[[ "$(sqlite3 -readonly "$db" 'SELECT * FROM schema')" == "3|humble" ]] ||
  e2e_fail "schema row: $(sqlite3 -readonly "$db" 'SELECT * FROM schema')"
[[ "$(sqlite3 -readonly "$db" "SELECT serialization_format FROM topics GROUP BY 1")" == cdr ]] ||
  e2e_fail "a topic is not cdr"
[[ "$(db_count "$db" "SELECT count(*) FROM messages WHERE substr(hex(data), 1, 8) != '00010000'")" == 0 ]] ||
  e2e_fail "a message does not start with the CDR little-endian encapsulation header"
[[ "$(db_count "$db" "SELECT count(*) FROM messages m1 JOIN messages m2 ON m2.id = m1.id + 1 WHERE m2.timestamp < m1.timestamp - 100000000")" == 0 ]] ||
  e2e_fail "receive times go back by more than 0.1 s"
grep -q "offered_qos_profiles: \"- history: 1\\\\n  depth: 2000\\\\n  reliability: 1\\\\n  durability: 1" "$bag/metadata.yaml" ||
  e2e_fail "the task events' offered QoS is not in metadata.yaml: $(grep -A4 task_events "$bag/metadata.yaml")"
expect_same_counts "$bag"
[[ "$(topic_messages "$db" /robot/recover_topic)" == "$(e2e_count recover '^recover: ')" ]] ||
  e2e_fail "/robot/recover_topic: $(topic_messages "$db" /robot/recover_topic) recorded, $(e2e_count recover '^recover: ') seen"

# The recorded events decode to exactly what quorvel echo events printed.
"$QUORVEL_TOOL" bag events "$bag" >"$E2E_DIR/bag_events.out" 2>&1 ||
  e2e_fail "quorvel bag events: $(cat "$E2E_DIR/bag_events.out")"
grep '^#' "$(e2e_file events)" >"$E2E_DIR/echo_events.out"
diff "$E2E_DIR/echo_events.out" "$E2E_DIR/bag_events.out" >&2 ||
  e2e_fail "the recorded events differ from those quorvel echo events printed"

# bag info: the summary and the task, with its recovery's error code.
"$QUORVEL_TOOL" bag info "$bag" >"$E2E_DIR/info.out" 2>&1 ||
  e2e_fail "quorvel bag info: $(cat "$E2E_DIR/info.out")"
for line in '^Files: +rec_0.db3$' '^Storage id: +sqlite3$' "^Messages: +$(metadata_count "$bag")\$" \
  "Topic: $EVENTS_TOPIC \| Type: quorvel_task_events/msg/TaskEvent \| Count: $events \| Serialization Format: cdr" \
  '^Tasks: +1$' '^    outcome: +succeeded$' \
  '^    error code: +102300003 \(recovery succeeded\)$' '^    given up: +0$'
do
  grep -qE -- "$line" "$E2E_DIR/info.out" || e2e_fail "bag info lacks '$line':
$(cat "$E2E_DIR/info.out")"
done
e2e_log "bag info:
$(cat "$E2E_DIR/info.out")"

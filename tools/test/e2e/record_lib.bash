# Helpers of the recording tests, on top of e2e_lib.bash: arm_sim and the supervisor with a
# shipped scene, the recorder beside them, and checks of a bag with Debian's sqlite3 tool.
#
# Environment: as e2e_lib.bash; arm_sim is found in AMENT_PREFIX_PATH like the other programs.
# shellcheck source=tools/test/e2e/e2e_lib.bash
source "${QUORVEL_E2E_LIB:?}"

E2E_BUDGET_S=${E2E_BUDGET_S:-110}
E2E_END=$((SECONDS + E2E_BUDGET_S))
EVENTS_TOPIC=/quorvel/arm_supervisor/task_events

command -v sqlite3 >/dev/null || e2e_fail "sqlite3 is not installed (Debian package sqlite3)"

# scene_desk SCENE: arm_sim playing SCENE and the supervisor with its shipped parameters (only
# the gripper and voice waits shortened); returns once both are up.
scene_desk() {
  local sim supervisor params
  sim=$(e2e_installed lib/quorvel_arm_sim/arm_sim) || exit 1
  supervisor=$(e2e_installed lib/quorvel_arm_supervisor/arm_supervisor) || exit 1
  params=$(e2e_installed share/quorvel_arm_supervisor/config/arm_supervisor_params.yaml) || exit 1
  e2e_start sim "$sim" --ros-args -p scene:="$1"
  e2e_start supervisor "$supervisor" --ros-args --params-file "$params" \
    -p gripper_close_delay:=100 -p gripper_release_delay:=100 -p arm_voice_broadcast_delay:=500
  e2e_wait_for sim "^arm_sim: scene '$1'" 20
  e2e_wait_for supervisor 'ArmSupervisorNode Start!' 20
}

# db_count DB SQL: one number from the database, read as the sqlite3 tool reads it.
db_count() {
  sqlite3 -readonly "$1" "$2" 2>/dev/null || echo -1
}

# topic_messages DB TOPIC: messages of TOPIC in the database.
topic_messages() {
  db_count "$1" "SELECT count(*) FROM messages JOIN topics ON topics.id = messages.topic_id WHERE topics.name = '$2'"
}

# wait_topic_messages DB TOPIC N SECONDS: until the database holds N messages of TOPIC (the
# recorder commits every 0.1 s).
wait_topic_messages() {
  local deadline
  deadline=$(e2e_deadline "$4")
  while (($(topic_messages "$1" "$2") < $3)); do
    ((SECONDS < deadline)) ||
      e2e_fail "$1 holds $(topic_messages "$1" "$2") messages of $2 after $4 s, expected $3"
    sleep 0.1
  done
}

# metadata_count BAG [TOPIC]: message_count of metadata.yaml, of the bag or of one topic.
metadata_count() {
  if [[ $# -eq 1 ]]; then
    sed -n 's/^  message_count: //p' "$1/metadata.yaml"
  else
    awk -v topic="$2" '
      /^  [a-z_]+:/ { current = "" }
      /^ *name: / { current = $2 }
      /^      message_count: / && current == topic { print $2 }' "$1/metadata.yaml"
  fi
}

# expect_same_counts BAG: the database and metadata.yaml agree, in all and topic by topic.
expect_same_counts() {
  local bag=$1 db name total
  db="$bag/$(basename "$bag")_0.db3"
  total=$(db_count "$db" 'SELECT count(*) FROM messages')
  [[ "$total" == "$(metadata_count "$bag")" ]] ||
    e2e_fail "$db holds $total messages, metadata.yaml says $(metadata_count "$bag")"
  while IFS= read -r name; do
    [[ "$(topic_messages "$db" "$name")" == "$(metadata_count "$bag" "$name")" ]] ||
      e2e_fail "$name: $(topic_messages "$db" "$name") in the database, $(metadata_count "$bag" "$name") in metadata.yaml"
  done < <(sqlite3 -readonly "$db" 'SELECT name FROM topics')
}

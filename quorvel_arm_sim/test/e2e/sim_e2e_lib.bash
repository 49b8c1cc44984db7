# Helpers of arm_sim's end-to-end tests, sourced by each test script: start the installed
# programs as a user would, wait for what they print with a deadline, run a scene through the
# supervisor and compare the result with what the scene expects, and stop every process started
# here by its PID when the script ends, however it ends.
#
# Environment: ROS_DOMAIN_ID (one per test), ARM_SIM, ARM_SIM_EXPECT, ARM_SIM_GOALS (the
# programs under test), AMENT_PREFIX_PATH (where arm_supervisor, its parameter file, quorvel and
# the shipped scenes are found).
set -uo pipefail

: "${ROS_DOMAIN_ID:?each end-to-end test runs on a ROS_DOMAIN_ID of its own}"
: "${ARM_SIM:?ARM_SIM must name the arm_sim program under test}"
: "${ARM_SIM_EXPECT:?ARM_SIM_EXPECT must name the arm_sim_expect program under test}"
export ROS_LOCALHOST_ONLY=1
unset CYCLONEDDS_URI

SIM_DIR=$(mktemp -d "${TMPDIR:-/tmp}/arm-sim-e2e.XXXXXX")
# Every wait ends by this point, before ctest's own limit would kill the script without letting
# it stop what it started.
SIM_END=$((SECONDS + ${SIM_BUDGET_S:-150}))
declare -A SIM_PID=()
declare -A SIM_ENDED=()
SIM_ORDER=()
# Only the supervisor's waits are shortened, never its names or its time limits.
SIM_SUPERVISOR_DELAYS=(
  -p gripper_close_delay:=100
  -p gripper_release_delay:=100
  -p arm_voice_broadcast_delay:=500
)

sim_log() {
  echo "[sim-e2e $(date +%T.%3N)] $*" >&2
}

sim_fail() {
  sim_log "FAIL: $*"
  exit 1
}

# sim_installed RELATIVE_PATH: the first AMENT_PREFIX_PATH entry's file of that name.
sim_installed() {
  local prefix
  local IFS=:
  for prefix in ${AMENT_PREFIX_PATH:-}; do
    if [[ -e "$prefix/$1" ]]; then
      echo "$prefix/$1"
      return 0
    fi
  done
  sim_fail "$1 is not installed under AMENT_PREFIX_PATH=${AMENT_PREFIX_PATH:-}"
}

SUPERVISOR=$(sim_installed lib/quorvel_arm_supervisor/arm_supervisor) || exit 1
SUPERVISOR_PARAMS=$(sim_installed share/quorvel_arm_supervisor/config/arm_supervisor_params.yaml) || exit 1
QUORVEL=$(sim_installed lib/quorvel_tools/quorvel) || exit 1

sim_file() {
  echo "$SIM_DIR/$1.log"
}

# sim_start NAME COMMAND...: runs COMMAND in the background, output in $SIM_DIR/NAME.log. A name
# used again (the next scene) starts a new log.
sim_start() {
  local name=$1
  shift
  "$@" >"$(sim_file "$name")" 2>&1 &
  SIM_PID[$name]=$!
  unset "SIM_ENDED[$name]"
  SIM_ORDER+=("$name")
}

# sim_deadline SECONDS: the end of a wait of SECONDS, within the script's budget.
sim_deadline() {
  local end=$((SECONDS + $1))
  echo $((end < SIM_END ? end : SIM_END))
}

sim_alive() {
  [[ -n "${SIM_PID[$1]:-}" && -z "${SIM_ENDED[$1]:-}" ]] && kill -0 "${SIM_PID[$1]}" 2>/dev/null
}

sim_count() {
  local n
  n=$(grep -cE -- "$2" "$(sim_file "$1")" 2>/dev/null) || true
  echo "${n:-0}"
}

# sim_wait_for NAME REGEX SECONDS: waits until a line of NAME's output matches REGEX.
sim_wait_for() {
  local deadline
  deadline=$(sim_deadline "$3")
  while (($(sim_count "$1" "$2") < 1)); do
    if ! sim_alive "$1"; then
      sim_fail "$1 ended before printing '$2'"
    fi
    ((SECONDS < deadline)) || sim_fail "no line matching '$2' from $1 within $3 s"
    sleep 0.1
  done
}

# sim_wait_exit NAME SECONDS: waits for NAME to end; sets SIM_STATUS to its exit status.
sim_wait_exit() {
  local deadline
  deadline=$(sim_deadline "$2")
  while sim_alive "$1"; do
    ((SECONDS < deadline)) || sim_fail "$1 still runs after $2 s"
    sleep 0.1
  done
  wait "${SIM_PID[$1]}"
  SIM_STATUS=$?
  SIM_ENDED[$1]=1
}

# sim_stop NAME: Ctrl-C, then waits; a program that ignores it fails the test.
sim_stop() {
  sim_alive "$1" || return 0
  kill -INT "${SIM_PID[$1]}" 2>/dev/null
  sim_wait_exit "$1" 10
  ((SIM_STATUS == 0)) || sim_fail "$1 ended with exit status $SIM_STATUS after Ctrl-C"
}

# sim_expect_output NAME REGEX: some line of NAME's output matches REGEX.
sim_expect_output() {
  (($(sim_count "$1" "$2") > 0)) || sim_fail "$1: no line matches '$2'; it printed: $(cat "$(sim_file "$1")")"
}

# The task events a person reads for each shipped scene, in the order the supervisor must take
# those steps (other events may come between), as quorvel task prints them.
declare -A SCENE_EVENTS=(
  [clear_table]="event: task started: cmd 1
event: detection: 4 item\(s\), chose #1 \(type 1\)
event: arm_grab answered 102100000 \(success\)
event: gripper opened \(to let the trash go\)
event: detection: 3 item\(s\), chose
event: detection: 2 item\(s\), chose
event: detection: 1 item\(s\), none to choose
event: task succeeded: error_code 102300000, 0 trash\(es\) given up"
  [stuck_item]="event: spot \(.*\) given up after 3 choices in a row
event: detection: 2 item\(s\), chose #2
event: detection: 1 item\(s\), none to choose
event: task succeeded: error_code 102300000, 1 trash\(es\) given up"
  [env_stop]="event: environment stop: an object at 1\.20, waiting
event: environment stop released: nothing near any more
event: task succeeded: error_code 102300000, 0 trash\(es\) given up"
  [grab_recovery]="event: arm_grab answered 1021000(10|11) \(failure: recover the arm\): is_grab_need_to_recover_
event: recover started after the arm_grab answer
event: waiting for a normal arm: 1 of at most 11 s
event: arm_movejoints: moving to recover_movej_pos2
event: recover_movej_pos2 reached
event: recovery succeeded
event: gripper opened \(recovery\)
event: task succeeded: error_code 102300003"
  [release_drop]="event: arm_release answered 1021000(1[3-6]) \(failure: recover the arm\): is_release_need_to_recover_
event: release recover started after the arm_release answer
event: recover_movej_release_pos reached
event: gripper opened \(recovery\)
event: recover_movej_pos2 reached
event: recovery succeeded
event: task succeeded: error_code 102300003"
  [detect_timeout]="event: arm_movejoints answered 102100000 \(success\)
event: asking for a detection
event: no detection answer within the time limit: error_code 102300001
event: task succeeded: error_code 102300001"
  [arm_fault]="event: recover started after the arm_grab answer
event: waiting for a normal arm: 11 of at most 11 s
event: recovery failed: error_code 102300005
event: task succeeded: error_code 102300005"
)

# sim_expect_events SCENE: the task's output has the scene's events, in order.
sim_expect_events() {
  local line=0 regex found
  while IFS= read -r regex; do
    found=$(tail -n +"$((line + 1))" "$(sim_file task)" | grep -nE -m1 -- "^$regex" | cut -d: -f1)
    [[ -n "$found" ]] ||
      sim_fail "$1: no task event '$regex' after line $line of: $(grep '^event:' "$(sim_file task)")"
    line=$((line + found))
  done <<<"${SCENE_EVENTS[$1]}"
}

# run_scene SCENE TASK_LIMIT_S: the shipped SCENE through arm_sim, the installed supervisor with
# its shipped parameters, and quorvel task; the result, the voice codes, the recover messages and
# the items picked and dropped must be what the scene expects, and the task events the steps a
# person expects of it. Everything is stopped afterwards,
# so the next scene starts afresh (a full table, and a fault plan counting calls from 1).
run_scene() {
  local scene=$1 limit=$2 start
  start=$SECONDS
  sim_start sim "$ARM_SIM" --ros-args -p scene:="$scene"
  sim_start supervisor "$SUPERVISOR" --ros-args --params-file "$SUPERVISOR_PARAMS" \
    "${SIM_SUPERVISOR_DELAYS[@]}"
  sim_start voice "$QUORVEL" echo voice
  sim_start recover "$QUORVEL" echo recover
  sim_wait_for sim "^arm_sim: scene '$scene'" 20
  sim_wait_for supervisor 'ArmSupervisorNode Start!' 20
  sim_wait_for voice '^listening on' 20
  sim_wait_for recover '^listening on' 20
  sim_start task "$QUORVEL" task --server-timeout 20 --timeout "$limit"
  sim_wait_exit task $((limit + 25))
  ((SIM_STATUS == 0)) || sim_fail "$scene: quorvel task ended with exit status $SIM_STATUS: $(cat "$(sim_file task)")"
  # The last announcements left the supervisor before its result did; give them a moment to land.
  sleep 0.5
  sim_stop task
  sim_stop voice
  sim_stop recover
  sim_stop supervisor
  sim_stop sim
  if ! "$ARM_SIM_EXPECT" "$scene" --task "$(sim_file task)" --voice "$(sim_file voice)" \
    --recover "$(sim_file recover)" --sim "$(sim_file sim)" >"$(sim_file expect)" 2>&1; then
    sim_log "arm_sim's events:"
    cat "$(sim_file sim)" >&2
    sim_fail "$(cat "$(sim_file expect)")"
  fi
  if [[ -n "${SCENE_EVENTS[$scene]:-}" ]]; then
    sim_expect_events "$scene"
  fi
  sim_log "$(cat "$(sim_file expect)") in $((SECONDS - start)) s"
}

# recorded_run TAG SCENE BAG SPEED LIMIT [SUPERVISOR_ARGS...]: one task of SCENE (a shipped
# scene or a file) through arm_sim at SPEED and the installed supervisor with its shipped
# parameter file and SUPERVISOR_ARGS, recorded by quorvel record into BAG; the voice and recover
# messages are echoed beside it. Logs: TAG-sim, TAG-task, TAG-voice, TAG-recover, TAG-record.
recorded_run() {
  local tag=$1 scene=$2 bag=$3 speed=$4 limit=$5 topic
  shift 5
  sim_start "$tag-record" "$QUORVEL" record -o "$bag"
  sim_wait_for "$tag-record" '^recording into' 20
  sim_start "$tag-sim" "$ARM_SIM" --ros-args -p scene:="$scene" -p speed:="$speed"
  sim_start "$tag-supervisor" "$SUPERVISOR" --ros-args --params-file "$SUPERVISOR_PARAMS" "$@"
  sim_start "$tag-voice" "$QUORVEL" echo voice
  sim_start "$tag-recover" "$QUORVEL" echo recover
  sim_wait_for "$tag-sim" "^arm_sim: scene " 20
  sim_wait_for "$tag-supervisor" 'ArmSupervisorNode Start!' 20
  sim_wait_for "$tag-voice" '^listening on' 20
  sim_wait_for "$tag-recover" '^listening on' 20
  for topic in /quorvel/arm_supervisor/task_events /robot/joint_angle /robot/unnormal_flag \
    /quorvel/env_detect_topic /robot/recover_topic /arm/voice_broadcast; do
    sim_wait_for "$tag-record" "^recording $topic " 20
  done
  sim_start "$tag-task" "$QUORVEL" task --server-timeout 20 --timeout "$limit"
  sim_wait_exit "$tag-task" $((limit + 25))
  ((SIM_STATUS == 0)) ||
    sim_fail "$tag: quorvel task ended with exit status $SIM_STATUS: $(cat "$(sim_file "$tag-task")")"
  # The last events and announcements left the supervisor before its result did.
  sleep 0.5
  sim_stop "$tag-voice"
  sim_stop "$tag-recover"
  sim_stop "$tag-record"
  sim_stop "$tag-supervisor"
  sim_stop "$tag-sim"
}

# expect_as_scene TAG SCENE: the run TAG ended as SCENE expects, by arm_sim_expect.
expect_as_scene() {
  if ! "$ARM_SIM_EXPECT" "$2" --task "$(sim_file "$1-task")" --voice "$(sim_file "$1-voice")" \
    --recover "$(sim_file "$1-recover")" --sim "$(sim_file "$1-sim")" >"$(sim_file "$1-expect")" 2>&1; then
    sim_fail "$1: $(cat "$(sim_file "$1-expect")")"
  fi
}

# scene_supervisor_args SCENE: the -p arguments of SCENE's supervisor: block, one per line.
scene_supervisor_args() {
  "$ARM_SIM_EXPECT" "$1" | sed -n 's/^supervisor_args="\(.*\)"$/\1/p' | tr ' ' '\n' | grep -v '^$'
}

# expect_same_steps A B [OPTIONS...]: quorvel bag compare finds the same steps.
expect_same_steps() {
  local out="$SIM_DIR/compare.out"
  "$QUORVEL" bag compare "$@" >"$out" 2>&1 || sim_fail "quorvel bag compare $*: $(cat "$out")"
  grep -qE '^same [0-9]+ steps$' "$out" || sim_fail "quorvel bag compare $*: $(cat "$out")"
  tail -n 1 "$out"
}

# At exit: SIGINT to everything still running, then SIGKILL; logs on failure.
sim_cleanup() {
  local status=$? name round deadline running
  for round in INT KILL; do
    running=0
    for name in "${!SIM_PID[@]}"; do
      if sim_alive "$name"; then
        kill "-$round" "${SIM_PID[$name]}" 2>/dev/null
        running=1
      fi
    done
    ((running)) || break
    deadline=$((SECONDS + 5))
    for name in "${!SIM_PID[@]}"; do
      while sim_alive "$name" && ((SECONDS < deadline)); do
        sleep 0.1
      done
    done
  done
  wait 2>/dev/null
  if ((status != 0)); then
    for name in "${!SIM_PID[@]}"; do
      echo "----- $name (last 40 lines) -----" >&2
      tail -n 40 "$(sim_file "$name")" >&2
    done
    sim_log "logs kept in $SIM_DIR"
  else
    rm -rf "$SIM_DIR"
    sim_log "passed"
  fi
  exit "$status"
}
trap sim_cleanup EXIT
trap 'exit 130' INT TERM

# SIM_BUSY_LOOPS=N: N busy loops hold the cores for the whole test, as a user's laptop is busy
# while it replays a robot's fault; they end with the test.
for ((busy = 1; busy <= ${SIM_BUSY_LOOPS:-0}; busy++)); do
  sim_start "busy$busy" sh -c 'while :; do :; done'
done
((${SIM_BUSY_LOOPS:-0} == 0)) || sim_log "${SIM_BUSY_LOOPS} busy loop(s) hold the cores"


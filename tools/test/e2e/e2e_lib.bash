# Helpers of the end-to-end tests, sourced by each test script: start the installed programs as
# a user would, wait for what they print with a deadline, and stop every process started here
# by its PID when the script ends, however it ends.
#
# Environment: ROS_DOMAIN_ID (one per test), QUORVEL_TOOL (the quorvel program under test),
# AMENT_PREFIX_PATH (where the installed desk programs are found).
set -uo pipefail

: "${ROS_DOMAIN_ID:?each end-to-end test runs on a ROS_DOMAIN_ID of its own}"
: "${QUORVEL_TOOL:?QUORVEL_TOOL must name the quorvel program under test}"
export ROS_LOCALHOST_ONLY=1
unset CYCLONEDDS_URI

E2E_DIR=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-e2e.XXXXXX")
# Every wait ends by this point, well before ctest's own time limit would kill the script
# without letting it stop what it started.
E2E_END=$((SECONDS + ${E2E_BUDGET_S:-75}))
declare -A E2E_PID=()
declare -A E2E_ENDED=()
E2E_ORDER=()
# Delays small enough that a three-pick task takes a few seconds.
E2E_DELAY_SCALE=0.1
E2E_SUPERVISOR_PARAMS=(
  -p detect_service:=/quorvel_service/detect_trash_test
  -p gripper_close_delay:=100
  -p gripper_release_delay:=100
)

e2e_log() {
  echo "[e2e $(date +%T.%3N)] $*" >&2
}

e2e_fail() {
  e2e_log "FAIL: $*"
  exit 1
}

# e2e_installed RELATIVE_PATH: the first AMENT_PREFIX_PATH entry's file of that name.
e2e_installed() {
  local prefix
  local IFS=:
  for prefix in ${AMENT_PREFIX_PATH:-}; do
    if [[ -e "$prefix/$1" ]]; then
      echo "$prefix/$1"
      return 0
    fi
  done
  e2e_fail "$1 is not installed under AMENT_PREFIX_PATH=${AMENT_PREFIX_PATH:-}"
}

# e2e_start NAME COMMAND...: runs COMMAND in the background, output in $E2E_DIR/NAME.log.
e2e_start() {
  local name=$1
  shift
  "$@" >"$E2E_DIR/$name.log" 2>&1 &
  E2E_PID[$name]=$!
  E2E_ORDER+=("$name")
  e2e_log "started $name (pid ${E2E_PID[$name]}): $*"
}

# e2e_deadline SECONDS: the end of a wait of SECONDS, within the script's budget.
e2e_deadline() {
  local end=$((SECONDS + $1))
  echo $((end < E2E_END ? end : E2E_END))
}

e2e_file() {
  echo "$E2E_DIR/$1.log"
}

e2e_alive() {
  [[ -z "${E2E_ENDED[$1]:-}" ]] && kill -0 "${E2E_PID[$1]}" 2>/dev/null
}

# e2e_count NAME REGEX: how many lines of NAME's output match REGEX (extended).
e2e_count() {
  local n
  n=$(grep -cE -- "$2" "$(e2e_file "$1")" 2>/dev/null) || true
  echo "${n:-0}"
}

# e2e_wait_for NAME REGEX SECONDS [COUNT]: waits until COUNT (default 1) lines of NAME's output
# match REGEX. Fails when the deadline passes.
e2e_wait_for() {
  local name=$1 regex=$2 seconds=$3 want=${4:-1}
  local deadline
  deadline=$(e2e_deadline "$seconds")
  while (($(e2e_count "$name" "$regex") < want)); do
    if ((SECONDS >= deadline)); then
      e2e_fail "no $want line(s) matching '$regex' from $name within $seconds s"
    fi
    sleep 0.1
  done
}

# e2e_wait_exit NAME SECONDS: waits for NAME to end; sets E2E_STATUS to its exit status.
e2e_wait_exit() {
  local name=$1 seconds=$2
  local deadline
  deadline=$(e2e_deadline "$seconds")
  while e2e_alive "$name"; do
    if ((SECONDS >= deadline)); then
      e2e_fail "$name still runs after $seconds s"
    fi
    sleep 0.1
  done
  wait "${E2E_PID[$name]}"
  E2E_STATUS=$?
  E2E_ENDED[$name]=1
}

# e2e_expect_exit NAME SECONDS STATUS: as e2e_wait_exit, and the status must be STATUS.
e2e_expect_exit() {
  e2e_wait_exit "$1" "$2"
  if [[ "$E2E_STATUS" != "$3" ]]; then
    e2e_fail "$1 ended with exit status $E2E_STATUS, expected $3"
  fi
}

# e2e_expect NAME REGEX [COUNT]: NAME's output has exactly COUNT lines matching REGEX
# (default: at least one).
e2e_expect() {
  local got
  got=$(e2e_count "$1" "$2")
  if [[ $# -ge 3 ]]; then
    [[ "$got" == "$3" ]] || e2e_fail "$1: $got line(s) match '$2', expected $3"
  else
    ((got > 0)) || e2e_fail "$1: no line matches '$2'"
  fi
}

# e2e_line NAME REGEX: number of the first line of NAME's output matching REGEX (0: none).
e2e_line() {
  local n
  n=$(grep -nE -m1 -- "$2" "$(e2e_file "$1")" | cut -d: -f1)
  echo "${n:-0}"
}

# e2e_start_desk: arm_service_mock and arm_supervisor, the supervisor on the mock's detection
# service with the shipped parameters and small delays; returns once both are up.
e2e_start_desk() {
  local mock supervisor params
  mock=$(e2e_installed lib/quorvel_arm_supervisor/arm_service_mock) || exit 1
  supervisor=$(e2e_installed lib/quorvel_arm_supervisor/arm_supervisor) || exit 1
  params=$(e2e_installed share/quorvel_arm_supervisor/config/arm_supervisor_params.yaml) || exit 1
  e2e_start mock "$mock" --ros-args -p delay_scale:=$E2E_DELAY_SCALE
  e2e_start supervisor "$supervisor" --ros-args --params-file "$params" \
    "${E2E_SUPERVISOR_PARAMS[@]}"
  e2e_wait_for mock 'ArmServiceMockNode Start!' 20
  e2e_wait_for supervisor 'ArmSupervisorNode Start!' 20
}

# At exit: SIGTERM to everything still running, once more for programs that take the first
# signal as a request (quorvel task cancels its goal), then SIGKILL; logs on failure.
e2e_cleanup() {
  local status=$? name round deadline running
  for round in TERM TERM KILL; do
    running=0
    for name in "${E2E_ORDER[@]}"; do
      if e2e_alive "$name"; then
        kill "-$round" "${E2E_PID[$name]}" 2>/dev/null
        running=1
      fi
    done
    ((running)) || break
    deadline=$((SECONDS + 3))
    for name in "${E2E_ORDER[@]}"; do
      while e2e_alive "$name" && ((SECONDS < deadline)); do
        sleep 0.1
      done
    done
  done
  wait 2>/dev/null
  if ((status != 0)); then
    for name in "${E2E_ORDER[@]}"; do
      echo "----- $name (last 40 lines) -----" >&2
      tail -n 40 "$(e2e_file "$name")" >&2
    done
    e2e_log "logs kept in $E2E_DIR"
  else
    rm -rf "$E2E_DIR"
    e2e_log "passed"
  fi
  exit "$status"
}
trap e2e_cleanup EXIT
trap 'exit 130' INT TERM

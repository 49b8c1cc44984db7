#!/usr/bin/env bash
# scripts/faults around its rows: wrong arguments and a bad matrix line stop it with exit 2
# before it touches anything, the shipped matrix lists every row, a user who is not root gets
# one line and 77 ("skipped"), and (as root) Ctrl-C in the middle of a row stops every program
# it started and removes every test host it made.
# shellcheck source=tools/test/e2e/e2e_lib.bash
source "${QUORVEL_E2E_LIB:?}"
: "${QUORVEL_FAULTS:?QUORVEL_FAULTS must name scripts/faults}"
faults_dir=$(dirname "$QUORVEL_FAULTS")

run() {
  "$@" >"$E2E_DIR/out" 2>&1
  STATUS=$?
}

for args in "--bogus" "--only" "--only (" "--keep"; do
  # shellcheck disable=SC2086
  run "$QUORVEL_FAULTS" $args
  ((STATUS == 2)) || e2e_fail "scripts/faults $args: exit status $STATUS, expected 2: $(cat "$E2E_DIR/out")"
done

# Every row of the shipped matrix is listed: the full ones by --full --list, the short ones by
# --list.
rows=$(grep -vE '^[[:space:]]*(#|$)' "$faults_dir/faults.d/matrix" | awk '$2 ~ /full/' | wc -l)
short=$(grep -vE '^[[:space:]]*(#|$)' "$faults_dir/faults.d/matrix" | awk '$2 ~ /short/' | wc -l)
run "$QUORVEL_FAULTS" --full --list
((STATUS == 0)) || e2e_fail "--full --list: exit status $STATUS: $(cat "$E2E_DIR/out")"
(($(wc -l <"$E2E_DIR/out") == rows + 1)) || e2e_fail "--full --list lists $(($(wc -l <"$E2E_DIR/out") - 1)) rows of $rows: $(cat "$E2E_DIR/out")"
run "$QUORVEL_FAULTS" --list
(($(wc -l <"$E2E_DIR/out") == short + 1)) || e2e_fail "--list lists $(($(wc -l <"$E2E_DIR/out") - 1)) rows, the matrix has $short short ones"
run "$QUORVEL_FAULTS" --full --list --only '^ctl-'
(($(grep -c '^ctl-' "$E2E_DIR/out") == $(wc -l <"$E2E_DIR/out") - 1)) || e2e_fail "--only '^ctl-' listed: $(cat "$E2E_DIR/out")"

# A bad line is named with its file and line number.
printf 'cut2-grab short slow_steps grab cut:2\nbad-row short slow_steps grab cut:two\n' >"$E2E_DIR/matrix"
QUORVEL_FAULTS_MATRIX="$E2E_DIR/matrix" run "$QUORVEL_FAULTS" --list
((STATUS == 2)) || e2e_fail "a bad matrix: exit status $STATUS, expected 2"
grep -qF "$E2E_DIR/matrix:2: fault 'cut:two'" "$E2E_DIR/out" || e2e_fail "a bad matrix: $(cat "$E2E_DIR/out")"
printf 'a short slow_steps grab cut:2\na full slow_steps grab cut:20\n' >"$E2E_DIR/matrix"
QUORVEL_FAULTS_MATRIX="$E2E_DIR/matrix" run "$QUORVEL_FAULTS" --list
grep -qF "matrix:2: row 'a' is there twice" "$E2E_DIR/out" || e2e_fail "a row twice: $(cat "$E2E_DIR/out")"

# Not root: one line, 77. As root, the harness runs again as nobody from a copy any user can
# read.
if ((EUID == 0)); then
  mkdir -p "$E2E_DIR/copy/scripts"
  cp -r "$faults_dir/faults" "$faults_dir/faults.d" "$E2E_DIR/copy/scripts/"
  chmod -R a+rX "$E2E_DIR"
  run setpriv --reuid=65534 --regid=65534 --clear-groups "$E2E_DIR/copy/scripts/faults"
else
  run "$QUORVEL_FAULTS"
fi
((STATUS == 77)) || e2e_fail "not root: exit status $STATUS, expected 77: $(cat "$E2E_DIR/out")"
[[ $(wc -l <"$E2E_DIR/out") == 1 && $(cat "$E2E_DIR/out") == *root* ]] ||
  e2e_fail "not root: expected one line saying why, got: $(cat "$E2E_DIR/out")"

if ((EUID != 0)); then
  e2e_log "not root: the interrupted run is left to a run as root"
  exit 0
fi

# Ctrl-C in the middle of a row: every program stopped, every namespace removed, status 130.
# Job control on, so that the background run does not start with SIGINT ignored.
quorvel=$(e2e_installed lib/quorvel_tools/quorvel) || exit 1
install=${quorvel%/lib/quorvel_tools/quorvel}
set -m
e2e_start faults env QUORVEL_INSTALL="$install" "$QUORVEL_FAULTS" --only cut2-grab
set +m
tag="qf${E2E_PID[faults]}-"
deadline=$(e2e_deadline 60)
pids=""
while [[ -z "$pids" ]]; do
  ((SECONDS < deadline)) || e2e_fail "no program started on a test host within 60 s: $(cat "$(e2e_file faults)")"
  e2e_alive faults || e2e_fail "scripts/faults ended early: $(cat "$(e2e_file faults)")"
  # The desk of a row (past the instrument and discovery checks) running on its hosts.
  if grep -q '^faults: discovery across the bridge' "$(e2e_file faults)"; then
    for ns in $(ip netns list | awk '{print $1}' | grep "^$tag.*-arm$"); do
      pids+=$(ip netns pids "$ns")
    done
  fi
  sleep 0.2
done
sleep 1
pids=""
for ns in $(ip netns list | awk '{print $1}' | grep "^$tag"); do
  pids+=" $(ip netns pids "$ns" | tr '\n' ' ')"
done
kill -INT "${E2E_PID[faults]}"
e2e_expect_exit faults 30 130
left=$(ip netns list | awk '{print $1}' | grep "^$tag")
[[ -z "$left" ]] || e2e_fail "namespaces left after Ctrl-C: $left"
for pid in $pids; do
  ! kill -0 "$pid" 2>/dev/null || e2e_fail "process $pid of a test host still runs after Ctrl-C"
done
e2e_log "Ctrl-C stopped $(wc -w <<<"$pids") programs and removed every test host"

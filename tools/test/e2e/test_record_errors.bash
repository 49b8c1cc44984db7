#!/usr/bin/env bash
# What quorvel record and quorvel bag refuse, and how: an existing output directory, wrong
# arguments, a bag that is not one, and a disk that fills up during the recording (a tmpfs of
# 1 MiB in a mount namespace of its own, where the machine allows one).
# shellcheck source=tools/test/e2e/record_lib.bash
source "${QUORVEL_RECORD_LIB:?}"

# expect_run STATUS REGEX COMMAND...: COMMAND ends with STATUS and prints a line matching REGEX.
expect_run() {
  local want=$1 regex=$2 status
  shift 2
  "$@" >"$E2E_DIR/run.out" 2>&1
  status=$?
  [[ $status == "$want" ]] || e2e_fail "$*: exit status $status, expected $want: $(cat "$E2E_DIR/run.out")"
  grep -qE -- "$regex" "$E2E_DIR/run.out" || e2e_fail "$*: no line matches '$regex': $(cat "$E2E_DIR/run.out")"
}

# Nothing is written over an existing path.
mkdir "$E2E_DIR/taken"
echo precious >"$E2E_DIR/taken/keep.txt"
expect_run 1 "already exists" "$QUORVEL_TOOL" record -o "$E2E_DIR/taken" --duration 1
[[ "$(ls "$E2E_DIR/taken")" == keep.txt && "$(cat "$E2E_DIR/taken/keep.txt")" == precious ]] ||
  e2e_fail "the existing directory was touched: $(ls -l "$E2E_DIR/taken")"

expect_run 2 "usage: quorvel record" "$QUORVEL_TOOL" record --duration 0
expect_run 2 "unexpected argument 'extra'" "$QUORVEL_TOOL" record extra
expect_run 2 "usage: quorvel bag" "$QUORVEL_TOOL" bag
expect_run 2 "which bag" "$QUORVEL_TOOL" bag info
expect_run 1 "no such directory" "$QUORVEL_TOOL" bag info "$E2E_DIR/nothing"

# A recording with no publisher at all ends by its duration as an empty bag.
expect_run 0 "closed: 0 messages on 0 topics" "$QUORVEL_TOOL" record -o "$E2E_DIR/empty" --duration 1
expect_run 0 "^Messages: +0$" "$QUORVEL_TOOL" bag info "$E2E_DIR/empty"
cp -r "$E2E_DIR/empty" "$E2E_DIR/broken"
echo "not a database" >"$E2E_DIR/broken/empty_0.db3"
expect_run 1 "bag '.*broken': empty_0.db3 is not an SQLite database" "$QUORVEL_TOOL" bag info "$E2E_DIR/broken"

# A full disk stops the recorder, naming the bag, and keeps what was committed.
mnt="$E2E_DIR/mnt"
kept="$E2E_DIR/kept"
mkdir "$mnt" "$kept"
if ! unshare --mount --propagation private true 2>/dev/null; then
  e2e_log "no mount namespace here (unshare refused): the full-disk case is not run"
  exit 0
fi
# Joint states of 200 values, 500 a second: about 0.8 MiB a second.
e2e_start pub "$QUORVEL_TOOL" pub joints $(seq 1 200) --rate 500
e2e_wait_for pub '^publishing on' 20
# In the namespace: the tmpfs, the recorder on it, then a copy of what it left.
e2e_start full unshare --mount --propagation private /bin/bash -c '
  mount -t tmpfs -o size=1m tmpfs "$1" || exit 77
  "$2" record -o "$1/full" --topic /robot/joint_angle >"$3/record.log" 2>&1
  echo $? >"$3/record.status"
  cp -a "$1/full" "$3/"' _ "$mnt" "$QUORVEL_TOOL" "$kept"
e2e_wait_exit full 40
if [[ $E2E_STATUS == 77 ]]; then
  e2e_log "no tmpfs mount allowed here: the full-disk case is not run"
  exit 0
fi
((E2E_STATUS == 0)) || e2e_fail "the namespace's script ended with $E2E_STATUS"
e2e_log "recorder on a full disk said: $(cat "$kept/record.log")"
[[ "$(cat "$kept/record.status")" == 1 ]] || e2e_fail "record ended with $(cat "$kept/record.status"), expected 1"
grep -q "recording stopped: bag '.*full': .*full" "$kept/record.log" || e2e_fail "no full-disk message naming the bag"
grep -qE "keeps the [1-9][0-9]* messages committed" "$kept/record.log" || e2e_fail "no count of what was kept"
if [[ ! -f "$kept/full/metadata.yaml" ]]; then
  expect_run 0 "metadata.yaml rebuilt" "$QUORVEL_TOOL" bag reindex "$kept/full"
fi
expect_same_counts "$kept/full"
expect_run 0 "Topic: /robot/joint_angle \| Type: sensor_msgs/msg/JointState \| Count: [1-9]" \
  "$QUORVEL_TOOL" bag info "$kept/full"

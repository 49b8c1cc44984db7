#!/usr/bin/env bash
# The recorder (quorvel record) under load and beside the supervisor:
#   record_msgs_per_s            messages written per second while saturated: record_traffic
#                                publishes 200,000 joint states on loopback as fast as they are
#                                taken; the messages in the bag over the span of their receive
#                                times (median of 3 runs)
#   record_flood_dropped_percent of those 200,000, the share missing from the bag (same runs):
#                                the recorder's reader keeps 10,000 messages a topic until taken
#                                and drops the oldest beyond; the arm publishes a few hundred
#                                messages a second
#   record_overhead_ms           the supervisor's wall time per pick cycle with the recorder
#                                recording its topics beside it, minus without, per pick cycle as
#                                40-supervisor.sh measures events_overhead_ms (mock and
#                                supervisor with every delay zero; medians of 24 tasks each): two
#                                desks (domains 198 and 199) take turns, the recorder runs beside
#                                the first for 12 turns, then beside the second for 12, so that a
#                                difference between the two desks cancels out. On the shared
#                                2-core machine the figure moves by about 2 ms from run to run
#   record_rss_mb                the recorder's resident memory after 10 minutes of the arm's
#                                traffic (record_traffic arm: 50 joint states, 10 arm states, 10
#                                object lists, 3 task events a second, and the rarer topics),
#                                published 20 times faster than real time (30 s), read while it
#                                still records
set -euo pipefail
export ROS_LOCALHOST_ONLY=1
unset CYCLONEDDS_URI

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
prefix="${root}/install"
supervisor="${prefix}/lib/quorvel_arm_supervisor/arm_supervisor"
mock="${prefix}/lib/quorvel_arm_supervisor/arm_service_mock"
params="${prefix}/share/quorvel_arm_supervisor/config/arm_supervisor_params.yaml"
traffic="${prefix}/lib/quorvel_tools/record_traffic"
tool="$(command -v quorvel || true)"
for program in "$supervisor" "$mock" "$traffic" "$tool"; do
  if [[ -z "$program" || ! -x "$program" ]]; then
    echo "70-record: ${program:-quorvel} is not installed (scripts/bench builds it)" >&2
    exit 1
  fi
done
command -v sqlite3 >/dev/null || { echo "70-record: sqlite3 is not installed" >&2; exit 1; }

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# DOMAIN NAME ARGS...: a recorder into $work/NAME; sets recorder_pid once it records.
start_recorder() {
  local domain=$1 name=$2
  shift 2
  ROS_DOMAIN_ID=$domain "$tool" record -o "$work/$name" "$@" >"$work/$name.log" 2>&1 &
  recorder_pid=$!
  pids+=("$recorder_pid")
  local deadline=$((SECONDS + 20))
  until grep -qs '^recording into' "$work/$name.log"; do
    ((SECONDS < deadline)) || { echo "70-record: the recorder did not start" >&2; exit 1; }
    sleep 0.1
  done
}

# PID NAME: Ctrl-C to the recorder, which must close its bag.
stop_recorder() {
  kill -INT "$1"
  wait "$1" || { echo "70-record: the recorder failed:" >&2; cat "$work/$2.log" >&2; exit 1; }
}

# ---- throughput ----
flood=200000
rates=()
dropped=()
for run in 1 2 3; do
  start_recorder 197 "flood$run" --topic /robot/joint_angle
  ROS_DOMAIN_ID=197 "$traffic" flood "$flood" >"$work/traffic.log" 2>&1 ||
    { echo "70-record: record_traffic failed:" >&2; cat "$work/traffic.log" >&2; exit 1; }
  stop_recorder "$recorder_pid" "flood$run"
  read -r count span_ns < <(sqlite3 -separator ' ' "$work/flood$run/flood${run}_0.db3" \
    'SELECT count(*), max(timestamp) - min(timestamp) FROM messages')
  rates+=("$(awk -v c="$count" -v s="$span_ns" 'BEGIN{printf "%.0f", c / (s / 1e9)}')")
  dropped+=("$(awk -v c="$count" -v f="$flood" 'BEGIN{printf "%.1f", 100.0 * (f - c) / f}')")
done
median3() { printf '%s\n' "$@" | sort -n | sed -n '2p'; }
echo "BENCH record_msgs_per_s $(median3 "${rates[@]}") msgs/s"
echo "BENCH record_flood_dropped_percent $(median3 "${dropped[@]}") %"

# ---- memory after 10 minutes of the arm's traffic ----
start_recorder 197 arm
arm_pid=$recorder_pid
ROS_DOMAIN_ID=197 "$traffic" arm 10 20 >"$work/traffic.log" 2>&1 ||
  { echo "70-record: record_traffic failed:" >&2; cat "$work/traffic.log" >&2; exit 1; }
rss_kb=$(awk '/^VmRSS:/{print $2}' "/proc/${arm_pid}/status")
stop_recorder "$arm_pid" arm
awk -v r="$rss_kb" 'BEGIN{printf "BENCH record_rss_mb %.1f MB\n", r / 1024.0}'

# ---- the supervisor's cycle with and without the recorder beside it ----
start_desk() {
  local domain=$1
  ROS_DOMAIN_ID=$domain "$mock" --ros-args -p delay_scale:=0.0 >"$work/mock$domain.log" 2>&1 &
  pids+=($!)
  ROS_DOMAIN_ID=$domain "$supervisor" --ros-args --params-file "$params" \
    -p detect_service:=/quorvel_service/detect_trash_test \
    -p init_detect_delay:=0 -p gripper_open_delay:=0 -p gripper_close_delay:=0 \
    -p gripper_release_delay:=0 -p arm_voice_broadcast_delay:=0 \
    >"$work/supervisor$domain.log" 2>&1 &
  pids+=($!)
}
start_desk 198
start_desk 199

# DOMAIN: one task; sets `cycle` to its wall time per pick cycle in ns (as 40-supervisor.sh).
run_cycle() {
  local start end picks
  start=$(date +%s%N)
  if ! ROS_DOMAIN_ID=$1 "$tool" task --no-events --timeout 60 >"$work/task.log" 2>&1; then
    echo "70-record: a task failed:" >&2
    cat "$work/task.log" >&2
    exit 1
  fi
  end=$(date +%s%N)
  picks=$(grep -c "feedback: step_count" "$work/task.log" || true)
  picks=$(( (picks - 1) / 3 ))
  (( picks > 0 )) || picks=1
  cycle=$(( (end - start - 1000000000) / picks ))
}
with=()
without=()
# RECORDED OTHER: the recorder beside RECORDED's desk for 12 turns of both desks.
turns() {
  local recorded=$1 other=$2
  start_recorder "$recorded" "beside$recorded"
  local deadline=$((SECONDS + 20))
  until grep -qs '^recording /robot/recover_topic' "$work/beside$recorded.log"; do
    ((SECONDS < deadline)) || { echo "70-record: the recorder found no supervisor" >&2; exit 1; }
    sleep 0.1
  done
  for _ in $(seq 1 12); do
    run_cycle "$recorded"
    with+=("$cycle")
    run_cycle "$other"
    without+=("$cycle")
  done
  stop_recorder "$recorder_pid" "beside$recorded"
}
turns 198 199
turns 199 198
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR] = $1} END {print (v[int((NR + 1) / 2)] + v[int(NR / 2) + 1]) / 2}'; }
awk -v on="$(median "${with[@]}")" -v off="$(median "${without[@]}")" \
  'BEGIN{printf "BENCH record_overhead_ms %.2f ms\n", (on - off) / 1e6}'

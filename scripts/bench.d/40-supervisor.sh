#!/usr/bin/env bash
# The supervisor's own cost, against arm_service_mock with every delay at zero:
#   demo_task_overhead_ms        wall time of one pick cycle (median of 15 tasks; each task makes
#                                three picks of the mock's one trash, then finds nothing to choose;
#                                the fixed 1000 ms pause before "Task completed" is taken out)
#   events_overhead_ms           the same with the task events on minus off: a second supervisor
#                                with task_events_topic:='' runs beside the first, on a domain of
#                                its own, and the two take turns
#   supervisor_idle_cpu_percent  the supervisor idle for 10 s
#   supervisor_rss_mb            its resident memory then
set -euo pipefail
export ROS_DOMAIN_ID=208
export ROS_LOCALHOST_ONLY=1
unset CYCLONEDDS_URI

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
prefix="${root}/install"
supervisor="${prefix}/lib/quorvel_arm_supervisor/arm_supervisor"
mock="${prefix}/lib/quorvel_arm_supervisor/arm_service_mock"
params="${prefix}/share/quorvel_arm_supervisor/config/arm_supervisor_params.yaml"
tool="$(command -v quorvel || true)"
if [[ ! -x "$supervisor" || ! -x "$mock" || -z "$tool" ]]; then
  echo "40-supervisor: arm_supervisor, arm_service_mock or quorvel is not installed" >&2
  exit 1
fi

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# NAME DOMAIN EXTRA...: the mock and a supervisor with every delay at zero on DOMAIN.
start_desk() {
  local name=$1 domain=$2
  shift 2
  ROS_DOMAIN_ID=$domain "$mock" --ros-args -p delay_scale:=0.0 >"$work/$name-mock.log" 2>&1 &
  pids+=($!)
  ROS_DOMAIN_ID=$domain "$supervisor" --ros-args --params-file "$params" \
    -p detect_service:=/quorvel_service/detect_trash_test \
    -p init_detect_delay:=0 -p gripper_open_delay:=0 -p gripper_close_delay:=0 \
    -p gripper_release_delay:=0 -p arm_voice_broadcast_delay:=0 "$@" \
    >"$work/$name-supervisor.log" 2>&1 &
  pids+=($!)
}
start_desk events_on 208
supervisor_pid=${pids[-1]}
start_desk events_off 209 -p "task_events_topic:=''"

# Idle figures first, before any task ran.
sleep 2
ticks=$(getconf CLK_TCK)
read -r -a s0 < "/proc/${supervisor_pid}/stat"
sleep 10
read -r -a s1 < "/proc/${supervisor_pid}/stat"
rss_kb=$(awk '/^VmRSS:/{print $2}' "/proc/${supervisor_pid}/status")

# DOMAIN: one task; prints its wall time per pick cycle in ns.
cycle_ns() {
  local start end picks
  start=$(date +%s%N)
  if ! ROS_DOMAIN_ID=$1 "$tool" task --no-events --timeout 60 >"$work/task.log" 2>&1; then
    echo "40-supervisor: a task failed:" >&2
    cat "$work/task.log" >&2
    return 1
  fi
  end=$(date +%s%N)
  picks=$(grep -c "feedback: step_count" "$work/task.log" || true)
  # One feedback after the first detection, then three per pick.
  picks=$(( (picks - 1) / 3 ))
  (( picks > 0 )) || picks=1
  echo $(( (end - start - 1000000000) / picks ))
}
on=()
off=()
for _ in $(seq 1 15); do
  on+=("$(cycle_ns 208)")
  off+=("$(cycle_ns 209)")
done
median() { printf '%s\n' "$@" | sort -n | sed -n '8p'; }
median_ns=$(median "${on[@]}")
median_off_ns=$(median "${off[@]}")

awk -v ns="$median_ns" 'BEGIN{printf "BENCH demo_task_overhead_ms %.1f ms\n", ns / 1e6}'
awk -v on="$median_ns" -v off="$median_off_ns" \
  'BEGIN{printf "BENCH events_overhead_ms %.2f ms\n", (on - off) / 1e6}'
cpu=$(( (s1[13] + s1[14]) - (s0[13] + s0[14]) ))
awk -v c="$cpu" -v t="$ticks" 'BEGIN{printf "BENCH supervisor_idle_cpu_percent %.3f %%\n", 100.0 * c / t / 10.0}'
awk -v r="$rss_kb" 'BEGIN{printf "BENCH supervisor_rss_mb %.1f MB\n", r / 1024.0}'

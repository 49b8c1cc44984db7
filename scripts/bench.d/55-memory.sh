#!/usr/bin/env bash
# Memory over a long run, warm-up apart from growth. Two desks side by side, each a supervisor
# against arm_sim's fast_failures scene (every task a detection, a failed grab and a failed
# recovery, about five a second): desk A as the supervisor ships (systemd unit, launch files:
# GLIBC_TUNABLES=glibc.malloc.tcache_count=0:glibc.malloc.arena_max=1) with quorvel record and quorvel dashboard on the
# same domain, desk B with glibc's default malloc. A supervisor keeps its finished goals 15
# minutes, which a soak of minutes cannot pass: here the heap probe (the test build's
# libheap_probe.so, preloaded) cuts that to MEMORY_WINDOW_S (default 120 s: some 600 tasks
# between the two readings, so that the tasks in flight and page-sized steps weigh little) and
# counts what the supervisor holds from malloc. Resident memory is read at the end of the first window (its
# goals start to expire, the 2,000 events of the history are full) and at its double; the
# growth between the two, per 1,000 tasks:
#   supervisor_rss_growth_kb_per_1000_tasks                 desk A (goal < 100 kB)
#   supervisor_live_heap_growth_kb_per_1000_tasks           desk A, what it holds from malloc
#   supervisor_rss_growth_default_malloc_kb_per_1000_tasks  desk B
#   arm_sim_rss_growth_kb_per_1000_tasks, record_rss_growth_kb_per_1000_tasks,
#   dashboard_rss_growth_kb_per_1000_tasks                  the same soak, desk A
# and each program's RSS at the two points on standard error.
set -euo pipefail
export ROS_LOCALHOST_ONLY=1
unset CYCLONEDDS_URI

WINDOW_S=${MEMORY_WINDOW_S:-120}
DOMAIN_A=163
DOMAIN_B=164
PORT=18877

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
prefix="${root}/install"
supervisor="${prefix}/lib/quorvel_arm_supervisor/arm_supervisor"
params="${prefix}/share/quorvel_arm_supervisor/config/arm_supervisor_params.yaml"
sim="${prefix}/lib/quorvel_arm_sim/arm_sim"
goals="${prefix}/lib/quorvel_arm_sim/arm_sim_goals"
tool="${prefix}/lib/quorvel_tools/quorvel"
probe="${root}/build/quorvel_arm_sim/libheap_probe.so"
scene="${root}/quorvel_arm_sim/test/scenes/fast_failures.yaml"
for program in "$supervisor" "$sim" "$goals" "$tool" "$probe"; do
  if [[ ! -e "$program" ]]; then
    echo "55-memory: $program is missing (the test build makes the heap probe: scripts/setup)" >&2
    exit 1
  fi
done

work="$(mktemp -d)"
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

rss_kb() { awk '/^VmRSS:/{print $2}' "/proc/$1/status"; }
ended() { grep -cE '^goal [0-9]+: succeeded' "$1" 2>/dev/null || true; }
fast=(-p init_detect_delay:=0 -p gripper_open_delay:=0 -p gripper_close_delay:=0
  -p gripper_release_delay:=0 -p arm_voice_broadcast_delay:=0 -p arm_recover_count_threshold:=0
  -p arm_movejoints_time_threshold:=0.05)

declare -A pid
start_desk() {  # start_desk NAME DOMAIN TUNABLES
  local name=$1 domain=$2 tunables=$3
  ROS_DOMAIN_ID=$domain "$sim" --ros-args -p scene:="$scene" -p speed:=20.0 >"$work/sim_$name.log" 2>&1 &
  pid[sim_$name]=$!
  pids+=($!)
  ROS_DOMAIN_ID=$domain GLIBC_TUNABLES=$tunables LD_PRELOAD="$probe" \
    QUORVEL_HEAP_PROBE="$work/heap_$name.txt" QUORVEL_HEAP_PROBE_MS=1000 \
    QUORVEL_RESULT_RETENTION_S="$WINDOW_S" \
    "$supervisor" --ros-args --params-file "$params" "${fast[@]}" >"$work/supervisor_$name.log" 2>&1 &
  pid[supervisor_$name]=$!
  pids+=($!)
}
start_desk a "$DOMAIN_A" glibc.malloc.tcache_count=0:glibc.malloc.arena_max=1
start_desk b "$DOMAIN_B" "${MEMORY_TUNABLES_B:-}"
ROS_DOMAIN_ID=$DOMAIN_A LD_PRELOAD="$probe" QUORVEL_HEAP_PROBE="$work/heap_record.txt" \
  "$tool" record -o "$work/bag" >"$work/record.log" 2>&1 &
pid[record]=$!
pids+=($!)
ROS_DOMAIN_ID=$DOMAIN_A LD_PRELOAD="$probe" QUORVEL_HEAP_PROBE="$work/heap_dashboard.txt" \
  "$tool" dashboard --port "$PORT" >"$work/dashboard.log" 2>&1 &
pid[dashboard]=$!
pids+=($!)
sleep 3
for name in a b; do
  domain=$DOMAIN_A
  [[ $name == b ]] && domain=$DOMAIN_B
  ROS_DOMAIN_ID=$domain "$goals" --duration $((2 * WINDOW_S + 5)) --goal-timeout 30 \
    --server-timeout 20 >"$work/goals_$name.log" 2>&1 &
  pid[goals_$name]=$!
  pids+=($!)
done

# reading NAME: each program's RSS, the desks' ended tasks and desk A's live heap now.
declare -A rss_at tasks_at live_at
reading() {
  local at=$1 p
  for p in supervisor_a supervisor_b sim_a record dashboard; do
    rss_at[$at.$p]=$(rss_kb "${pid[$p]}")
  done
  tasks_at[$at.a]=$(ended "$work/goals_a.log")
  tasks_at[$at.b]=$(ended "$work/goals_b.log")
  live_at[$at]=$(tail -n 1 "$work/heap_a.txt" | awk '{print $2}')
  for p in record dashboard; do
    live_at[$at.$p]=$(tail -n 1 "$work/heap_$p.txt" | awk '{print $2}')
  done
}
sleep "$WINDOW_S"
reading window
sleep "$WINDOW_S"
reading double
wait "${pid[goals_a]}" "${pid[goals_b]}" || true

per_1000() {  # per_1000 FROM_KB TO_KB TASKS
  awk -v a="$1" -v b="$2" -v n="$3" 'BEGIN { if (n <= 0) { print "nan" } else { printf "%.0f", (b - a) * 1000 / n } }'
}
n_a=$((tasks_at[double.a] - tasks_at[window.a]))
n_b=$((tasks_at[double.b] - tasks_at[window.b]))
for p in supervisor_a sim_a record dashboard supervisor_b; do
  echo "55-memory: $p RSS ${rss_at[window.$p]} kB at ${WINDOW_S} s, ${rss_at[double.$p]} kB at $((2 * WINDOW_S)) s" >&2
done
for p in record dashboard; do
  echo "55-memory: $p live heap $((live_at[window.$p] / 1024)) kB at ${WINDOW_S} s, $((live_at[double.$p] / 1024)) kB at $((2 * WINDOW_S)) s" >&2
done
echo "55-memory: $n_a tasks on desk A and $n_b on desk B between the two readings" >&2
echo "BENCH supervisor_rss_growth_kb_per_1000_tasks $(per_1000 "${rss_at[window.supervisor_a]}" "${rss_at[double.supervisor_a]}" "$n_a") kB"
echo "BENCH supervisor_live_heap_growth_kb_per_1000_tasks $(per_1000 "$((live_at[window] / 1024))" "$((live_at[double] / 1024))" "$n_a") kB"
echo "BENCH supervisor_rss_growth_default_malloc_kb_per_1000_tasks $(per_1000 "${rss_at[window.supervisor_b]}" "${rss_at[double.supervisor_b]}" "$n_b") kB"
echo "BENCH arm_sim_rss_growth_kb_per_1000_tasks $(per_1000 "${rss_at[window.sim_a]}" "${rss_at[double.sim_a]}" "$n_a") kB"
echo "BENCH record_rss_growth_kb_per_1000_tasks $(per_1000 "${rss_at[window.record]}" "${rss_at[double.record]}" "$n_a") kB"
echo "BENCH dashboard_rss_growth_kb_per_1000_tasks $(per_1000 "${rss_at[window.dashboard]}" "${rss_at[double.dashboard]}" "$n_a") kB"

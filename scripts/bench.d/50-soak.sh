#!/usr/bin/env bash
# Soak: the supervisor against arm_sim throwing random failure answers, several supervisor+sim
# pairs side by side (each on a domain of its own), goals sent back to back by arm_sim_goals:
#   soak_tasks                       goals that ended, all pairs together
#   soak_lost_goals                  goals without a terminal status within their time limit
#   soak_rss_growth_kb_per_100_tasks the supervisor's resident memory after warm-up against the
#                                    end, per 100 tasks (the largest of the pairs)
# and one INFO line counting each result code. Every supervisor delay is zero and its time
# limits are short; the simulator runs SOAK_SPEED times faster than real time with a
# SOAK_CHAOS_RATE chance of a failure per arm answer. A task still takes over a second (the
# supervisor's fixed pause before it ends a task, another after each recovery), hence the pairs.
set -euo pipefail
export ROS_LOCALHOST_ONLY=1
unset CYCLONEDDS_URI

PAIRS=${SOAK_PAIRS:-5}
DURATION_S=${SOAK_DURATION_S:-100}
SPEED=${SOAK_SPEED:-20.0}
CHAOS_RATE=${SOAK_CHAOS_RATE:-0.2}
GOAL_LIMIT_S=30
WARMUP_GOALS=20
FIRST_DOMAIN=175

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
prefix="${root}/install"
supervisor="${prefix}/lib/quorvel_arm_supervisor/arm_supervisor"
params="${prefix}/share/quorvel_arm_supervisor/config/arm_supervisor_params.yaml"
sim="${prefix}/lib/quorvel_arm_sim/arm_sim"
goals="${prefix}/lib/quorvel_arm_sim/arm_sim_goals"
for program in "$supervisor" "$sim" "$goals"; do
  if [[ ! -x "$program" ]]; then
    echo "50-soak: $program is not installed" >&2
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

rss_kb() {
  awk '/^VmRSS:/{print $2}' "/proc/$1/status"
}

ended_goals() {
  grep -cE '^goal [0-9]+: (succeeded|canceled|aborted|unknown)' "$1" 2>/dev/null || true
}

declare -a supervisor_pid driver_pid warm_rss warm_goals
for ((i = 0; i < PAIRS; i++)); do
  domain=$((FIRST_DOMAIN + i))
  ROS_DOMAIN_ID=$domain "$sim" --ros-args -p scene:=soak -p speed:="$SPEED" \
    -p chaos_rate:="$CHAOS_RATE" -p chaos_seed:="$domain" >"$work/sim$i.log" 2>&1 &
  pids+=($!)
  ROS_DOMAIN_ID=$domain "$supervisor" --ros-args --params-file "$params" \
    -p init_detect_delay:=0 -p gripper_open_delay:=0 -p gripper_close_delay:=0 \
    -p gripper_release_delay:=0 -p arm_voice_broadcast_delay:=0 \
    -p arm_recover_count_threshold:=1 -p arm_movejoints_time_threshold:=2.0 \
    -p detect_timeout_threshold:=2.0 >"$work/supervisor$i.log" 2>&1 &
  supervisor_pid[i]=$!
  pids+=($!)
done
for ((i = 0; i < PAIRS; i++)); do
  ROS_DOMAIN_ID=$((FIRST_DOMAIN + i)) "$goals" --duration "$DURATION_S" \
    --goal-timeout "$GOAL_LIMIT_S" --server-timeout 20 >"$work/goals$i.log" 2>&1 &
  driver_pid[i]=$!
  pids+=($!)
  warm_rss[i]=""
done

# Warm-up figures once a pair has run its first goals; then wait for the drivers, which stop
# sending after DURATION_S and end once their last goal has ended or was given up.
deadline=$((SECONDS + DURATION_S + GOAL_LIMIT_S + 30))
while :; do
  running=0
  for ((i = 0; i < PAIRS; i++)); do
    if [[ -z "${warm_rss[i]}" ]] && (($(ended_goals "$work/goals$i.log") >= WARMUP_GOALS)); then
      warm_goals[i]=$(ended_goals "$work/goals$i.log")
      warm_rss[i]=$(rss_kb "${supervisor_pid[i]}")
    fi
    if kill -0 "${driver_pid[i]}" 2>/dev/null; then running=1; fi
  done
  ((running)) || break
  if ((SECONDS > deadline)); then
    echo "50-soak: the goal drivers did not finish in time" >&2
    exit 1
  fi
  sleep 0.5
done

tasks=0
lost=0
growth_max=""
for ((i = 0; i < PAIRS; i++)); do
  status=0
  wait "${driver_pid[i]}" || status=$?
  if ((status != 0 && status != 1)); then
    echo "50-soak: arm_sim_goals of pair $i failed (exit status $status):" >&2
    tail -n 5 "$work/goals$i.log" >&2
    exit 1
  fi
  if ! kill -0 "${supervisor_pid[i]}" 2>/dev/null; then
    echo "50-soak: the supervisor of pair $i died:" >&2
    tail -n 20 "$work/supervisor$i.log" >&2
    exit 1
  fi
  n=$(ended_goals "$work/goals$i.log")
  tasks=$((tasks + n))
  lost=$((lost + $(grep -cE '^goal [0-9]+: lost' "$work/goals$i.log" || true)))
  if [[ -n "${warm_rss[i]}" ]] && ((n > warm_goals[i])); then
    growth=$(awk -v a="${warm_rss[i]}" -v b="$(rss_kb "${supervisor_pid[i]}")" \
      -v n=$((n - warm_goals[i])) 'BEGIN{printf "%.1f", (b - a) * 100.0 / n}')
    if [[ -z "$growth_max" ]] || awk -v g="$growth" -v m="$growth_max" 'BEGIN{exit !(g > m)}'; then
      growth_max=$growth
    fi
  fi
done

echo "BENCH soak_tasks ${tasks} goals"
echo "BENCH soak_lost_goals ${lost} goals"
if [[ -n "$growth_max" ]]; then
  echo "BENCH soak_rss_growth_kb_per_100_tasks ${growth_max} kB"
else
  echo "50-soak: no pair ran more than ${WARMUP_GOALS} goals; no memory figure" >&2
fi
codes=$(cat "$work"/goals*.log | sed -nE 's/^goal [0-9]+: [a-z]+ error_code ([0-9]+) .*/\1/p' |
  sort | uniq -c | awk '{printf " %s x%s", $2, $1}')
echo "INFO soak results (${PAIRS} pairs, ${DURATION_S} s, speed ${SPEED}, chaos rate ${CHAOS_RATE}):${codes}"

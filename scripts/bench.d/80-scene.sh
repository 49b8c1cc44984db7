#!/usr/bin/env bash
# Scenes derived from recorded tasks:
#   scene_from_bag_ms           the scenes of all the tasks of a bag of 1,000 soak tasks, from
#                               opening the bag to the last scene's text (goal: under 2 s): ten
#                               soak tasks recorded for real (arm_sim at speed 20, chaos_rate
#                               0.2, the supervisor with every delay zero; domain 173), their
#                               bag repeated 100 times one after another (bench_scene_bag)
#   scene_from_bag_cli_ms       quorvel scene --from that bag for its last task, the command a
#                               user types (reads and checks the whole bag first)
#   replay_same_steps_percent   chaos round trips that replay to the same steps (goal: 100):
#                               SCENE_ROUNDTRIP_TASKS (default 20) tasks at chaos_rate 0.3 with
#                               the supervisor's shipped thresholds, each derived into a scene
#                               and replayed (quorvel_arm_sim/test/e2e/test_scene_chaos.bash,
#                               domain 174)
#   replay_same_steps_busy_percent  the same with both cores held busy by two busy loops the
#                               whole time, originals and replays (goal: 100)
set -euo pipefail
export ROS_LOCALHOST_ONLY=1
unset CYCLONEDDS_URI

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
prefix="${root}/install"
sim="${prefix}/lib/quorvel_arm_sim/arm_sim"
goals="${prefix}/lib/quorvel_arm_sim/arm_sim_goals"
expect="${prefix}/lib/quorvel_arm_sim/arm_sim_expect"
bench="${prefix}/lib/quorvel_arm_sim/bench_scene_bag"
supervisor="${prefix}/lib/quorvel_arm_supervisor/arm_supervisor"
params="${prefix}/share/quorvel_arm_supervisor/config/arm_supervisor_params.yaml"
tool="$(command -v quorvel || true)"
for program in "$sim" "$goals" "$expect" "$bench" "$supervisor" "$tool"; do
  if [[ -z "$program" || ! -x "$program" ]]; then
    echo "80-scene: ${program:-quorvel} is not installed (scripts/bench builds it)" >&2
    exit 1
  fi
done

work="$(mktemp -d)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# wait_line FILE REGEX SECONDS
wait_line() {
  local deadline=$((SECONDS + $3))
  until grep -qsE "$2" "$1"; do
    ((SECONDS < deadline)) || { echo "80-scene: no '$2' in $1:" >&2; cat "$1" >&2; exit 1; }
    sleep 0.1
  done
}

# ---- ten real soak tasks, recorded ----
export ROS_DOMAIN_ID=173
"$tool" record -o "$work/soak" >"$work/record.log" 2>&1 &
record_pid=$!
pids+=("$record_pid")
wait_line "$work/record.log" '^recording into' 20
"$sim" --ros-args -p scene:=soak -p speed:=20.0 -p chaos_rate:=0.2 -p chaos_seed:=3 \
  >"$work/sim.log" 2>&1 &
pids+=($!)
"$supervisor" --ros-args --params-file "$params" \
  -p init_detect_delay:=0 -p gripper_open_delay:=0 -p gripper_close_delay:=0 \
  -p gripper_release_delay:=0 -p arm_voice_broadcast_delay:=0 >"$work/supervisor.log" 2>&1 &
pids+=($!)
for topic in /quorvel/arm_supervisor/task_events /robot/joint_angle /robot/unnormal_flag \
  /robot/recover_topic /arm/voice_broadcast; do
  wait_line "$work/record.log" "^recording $topic " 20
done
"$goals" --count 10 --goal-timeout 60 --server-timeout 20 >"$work/goals.log" 2>&1 ||
  { echo "80-scene: the soak tasks failed:" >&2; cat "$work/goals.log" >&2; exit 1; }
sleep 0.5
kill -INT "$record_pid"
wait "$record_pid" || { echo "80-scene: the recorder failed:" >&2; cat "$work/record.log" >&2; exit 1; }
for pid in "${pids[@]}"; do kill -INT "$pid" 2>/dev/null || true; done
for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
pids=()

# ---- a bag of 1,000 tasks, and every scene of it ----
"$bench" repeat "$work/soak" "$work/soak1000" 100 >&2
# Its BENCH line to standard output, the rest to standard error (each line once).
"$bench" derive "$work/soak1000" | awk '/^BENCH / { print; found = 1; next } { print > "/dev/stderr" } END { exit !found }' ||
  { echo "80-scene: deriving failed" >&2; exit 1; }
start=$(date +%s%N)
"$tool" scene --from "$work/soak1000" --partial -o "$work/last.yaml" 2>"$work/scene.log" ||
  { echo "80-scene: quorvel scene failed:" >&2; cat "$work/scene.log" >&2; exit 1; }
end=$(date +%s%N)
awk -v ns=$((end - start)) 'BEGIN { printf "BENCH scene_from_bag_cli_ms %.0f ms\n", ns / 1e6 }'

# ---- chaos round trips ----
SCENE_CHAOS_BENCH=1 SCENE_CHAOS_TASKS="${SCENE_ROUNDTRIP_TASKS:-20}" ROS_DOMAIN_ID=174 \
  ARM_SIM="$sim" ARM_SIM_EXPECT="$expect" ARM_SIM_GOALS="$goals" SIM_BUDGET_S=1800 \
  SIM_E2E_LIB="$root/quorvel_arm_sim/test/e2e/sim_e2e_lib.bash" \
  bash "$root/quorvel_arm_sim/test/e2e/test_scene_chaos.bash" 2>"$work/chaos.log" | grep '^BENCH ' ||
  { echo "80-scene: the chaos round trips failed:" >&2; tail -n 40 "$work/chaos.log" >&2; exit 1; }
SCENE_CHAOS_BENCH=1 SCENE_CHAOS_BENCH_NAME=replay_same_steps_busy_percent SIM_BUSY_LOOPS=2 \
  SCENE_CHAOS_TASKS="${SCENE_ROUNDTRIP_TASKS:-20}" ROS_DOMAIN_ID=174 \
  ARM_SIM="$sim" ARM_SIM_EXPECT="$expect" ARM_SIM_GOALS="$goals" SIM_BUDGET_S=1800 \
  SIM_E2E_LIB="$root/quorvel_arm_sim/test/e2e/sim_e2e_lib.bash" \
  bash "$root/quorvel_arm_sim/test/e2e/test_scene_chaos.bash" 2>"$work/chaos_busy.log" | grep '^BENCH ' ||
  { echo "80-scene: the busy chaos round trips failed:" >&2; tail -n 40 "$work/chaos_busy.log" >&2; exit 1; }

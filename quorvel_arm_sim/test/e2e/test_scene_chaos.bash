#!/usr/bin/env bash
# Chaos round trips: tasks back to back against arm_sim's soak scene with random failure
# answers, recorded; a scene derived from each task; the scenes replayed one after another on
# one supervisor, recorded too. Every replay must take the same steps as its original, to the
# same end: the random failures have become explicit faults.
#
# SCENE_CHAOS_TASKS (default 20), SCENE_CHAOS_SEED (default 7) and SCENE_CHAOS_RATE (default
# 0.3) change the run; with SCENE_CHAOS_BENCH=1 it prints the share of replays with the same
# steps as "BENCH replay_same_steps_percent" instead of failing on the first that differs.
# shellcheck source=quorvel_arm_sim/test/e2e/sim_e2e_lib.bash
source "${SIM_E2E_LIB:?}"
: "${ARM_SIM_GOALS:?ARM_SIM_GOALS must name the arm_sim_goals program under test}"
tasks=${SCENE_CHAOS_TASKS:-20}
seed=${SCENE_CHAOS_SEED:-7}
rate=${SCENE_CHAOS_RATE:-0.3}
bench=${SCENE_CHAOS_BENCH:-0}

# The supervisor's shipped thresholds and time limits; only its waits are zero, and arm_sim
# runs twenty times faster, as in the soak runs.
CHAOS_SUPERVISOR=(
  -p init_detect_delay:=0 -p gripper_open_delay:=0 -p gripper_close_delay:=0
  -p gripper_release_delay:=0 -p arm_voice_broadcast_delay:=0
)
a="$SIM_DIR/chaos.a"
b="$SIM_DIR/chaos.b"

# The originals, back to back on one supervisor.
sim_start a-record "$QUORVEL" record -o "$a"
sim_wait_for a-record '^recording into' 20
sim_start a-sim "$ARM_SIM" --ros-args -p scene:=soak -p speed:=20.0 -p chaos_rate:="$rate" \
  -p chaos_seed:="$seed"
sim_start a-supervisor "$SUPERVISOR" --ros-args --params-file "$SUPERVISOR_PARAMS" "${CHAOS_SUPERVISOR[@]}"
sim_wait_for a-sim "^arm_sim: scene 'soak'.*chaos rate $rate \(seed $seed\)" 20
sim_wait_for a-supervisor 'ArmSupervisorNode Start!' 20
for topic in /quorvel/arm_supervisor/task_events /robot/joint_angle /robot/unnormal_flag \
  /quorvel/env_detect_topic /robot/recover_topic /arm/voice_broadcast; do
  sim_wait_for a-record "^recording $topic " 20
done
sim_start a-goals "$ARM_SIM_GOALS" --count "$tasks" --goal-timeout 60 --server-timeout 20
sim_wait_exit a-goals $((tasks * 15 + 30))
((SIM_STATUS == 0)) || sim_fail "arm_sim_goals: exit status $SIM_STATUS: $(cat "$(sim_file a-goals)")"
sleep 0.5
sim_stop a-record
sim_stop a-supervisor
sim_stop a-sim
sim_log "originals: $(grep -c '^\[arm_sim\] chaos: ' "$(sim_file a-sim)") random failure(s) in $tasks tasks"

# A scene per task. The only thing a scene may leave out is a recovery that a move failure of
# the task before set off (the replays run on one supervisor, as the originals did).
declare -A setting=()
for ((k = 1; k <= tasks; k++)); do
  "$QUORVEL" scene --from "$a" --task "$k" --partial -o "$SIM_DIR/task$k.yaml" \
    >"$(sim_file "derive$k")" 2>&1 || sim_fail "task $k: quorvel scene: $(cat "$(sim_file "derive$k")")"
  if grep -n '^# *- ' "$SIM_DIR/task$k.yaml" | grep -v 'that an earlier task left set' >&2; then
    sim_fail "task $k: the scene leaves out more than a recovery an earlier task set off"
  fi
  while IFS= read -r argument; do
    [[ "$argument" == -p ]] && continue
    name=${argument%%:=*}
    if [[ -n "${setting[$name]:-}" && "${setting[$name]}" != "$argument" ]]; then
      # A wait is measured, and a busy machine stretches it: tasks may differ by a few tens of
      # ms there (the replay takes the shortest); any other setting must agree exactly.
      value=${argument#*:=}
      earlier=${setting[$name]#*:=}
      if [[ $name == *_delay && $value =~ ^[0-9]+$ && $earlier =~ ^[0-9]+$ ]] &&
        ((value - earlier <= 30 && earlier - value <= 30)); then
        ((value < earlier)) && setting[$name]=$argument
        continue
      fi
      sim_fail "task $k asks for $argument, an earlier one for ${setting[$name]}"
    fi
    setting[$name]=$argument
  done < <(scene_supervisor_args "$SIM_DIR/task$k.yaml")
done
replay_args=()
for name in "${!setting[@]}"; do replay_args+=(-p "${setting[$name]}"); done
sim_log "replay supervisor: ${replay_args[*]}"

# The replays, one arm_sim per scene, one supervisor for all.
sim_start b-record "$QUORVEL" record -o "$b"
sim_wait_for b-record '^recording into' 20
sim_start b-supervisor "$SUPERVISOR" --ros-args --params-file "$SUPERVISOR_PARAMS" "${replay_args[@]}"
sim_wait_for b-supervisor 'ArmSupervisorNode Start!' 20
for ((k = 1; k <= tasks; k++)); do
  sim_start "b-sim$k" "$ARM_SIM" --ros-args -p scene:="$SIM_DIR/task$k.yaml"
  sim_wait_for "b-sim$k" "^arm_sim: scene 'task$k'" 20
  if ((k == 1)); then
    for topic in /quorvel/arm_supervisor/task_events /robot/joint_angle /robot/unnormal_flag \
      /quorvel/env_detect_topic /robot/recover_topic /arm/voice_broadcast; do
      sim_wait_for b-record "^recording $topic " 20
    done
  fi
  sim_start "b-goal$k" "$ARM_SIM_GOALS" --count 1 --goal-timeout 60 --server-timeout 20
  sim_wait_exit "b-goal$k" 90
  ((SIM_STATUS == 0)) || sim_fail "replay $k: arm_sim_goals: $(cat "$(sim_file "b-goal$k")")"
  sim_stop "b-sim$k"
done
sleep 0.5
sim_stop b-record
sim_stop b-supervisor

same=0
for ((k = 1; k <= tasks; k++)); do
  if "$QUORVEL" bag compare "$a" "$b" --task "$k" --task-b "$k" >"$(sim_file "compare$k")" 2>&1; then
    same=$((same + 1))
  elif ((!bench)); then
    sim_fail "task $k: the replay parts from the original:
$(cat "$(sim_file "compare$k")")"
  else
    sim_log "task $k: $(sed -n 's/^the tasks part/parts/p' "$(sim_file "compare$k")")"
  fi
done
sim_log "$same of $tasks chaos replays take the same steps as their originals"
if ((bench)); then
  echo "BENCH ${SCENE_CHAOS_BENCH_NAME:-replay_same_steps_percent} $(awk -v s="$same" -v n="$tasks" 'BEGIN { printf "%.1f", 100 * s / n }') %"
fi

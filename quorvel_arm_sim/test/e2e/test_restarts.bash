#!/usr/bin/env bash
# The robot's side going away in the middle of a task, on one host: the controller killed and
# started again during a grab, the detector restarted during a detection, the supervisor killed
# and started again, the supervisor frozen for longer than the DDS lease. Every goal must end
# (or be reported lost with the supervisor's restart), and each request lost with its server
# is sent again exactly once.
# shellcheck source=quorvel_arm_sim/test/e2e/sim_e2e_lib.bash
source "${SIM_E2E_LIB:?}"

SUPERVISOR_ARGS=(--ros-args --params-file "$SUPERVISOR_PARAMS" "${SIM_SUPERVISOR_DELAYS[@]}"
  -p detect_timeout_threshold:=2.0)

start_desk() {
  sim_start sim "$ARM_SIM" --ros-args -p scene:=clear_table
  sim_start supervisor "$SUPERVISOR" "${SUPERVISOR_ARGS[@]}"
  sim_wait_for sim "^arm_sim: scene 'clear_table'" 20
  sim_wait_for supervisor 'ArmSupervisorNode Start!' 20
  sim_start task "$QUORVEL" task --server-timeout 20
}

stop_desk() {
  sim_stop supervisor
  sim_stop sim
}

# The controller killed while it moves to a grab, started again 2 s later: the grab goes to
# the new one and the task ends as it would have.
sim_log "controller restart during a grab"
start_desk
sim_wait_for supervisor 'arm start moving to grab_pose !' 30
kill -9 "${SIM_PID[sim]}"
sim_wait_exit sim 5
sleep 2
sim_start sim "$ARM_SIM" --ros-args -p scene:=clear_table
sim_wait_exit task 90
((SIM_STATUS == 0)) || sim_fail "quorvel task ended with exit status $SIM_STATUS"
sim_expect_output task '^error_code: 102300000 '
sim_expect_output task '^event: arm_grab: its server is back after .*request sent again \(send 2\)|^event: arm_grab: a new server, request sent again \(send 2\)'
(($(sim_count supervisor 'sending the request again') == 1)) ||
  sim_fail "the grab was sent again $(sim_count supervisor 'sending the request again') times"
stop_desk

# The detector restarted while it is asked: that detection ends as a late answer.
sim_log "detector restart during a detection"
start_desk
sim_wait_for supervisor 'start arm task !' 30
kill -USR1 "${SIM_PID[sim]}"
sim_wait_exit task 60
((SIM_STATUS == 0)) || sim_fail "quorvel task ended with exit status $SIM_STATUS"
sim_expect_output sim 'detector restarting'
sim_expect_output supervisor 'ErrorCode: 102300001, Detect service status abnormal'
sim_expect_output task '^error_code: 102300002 '
stop_desk

# The supervisor killed during a grab and started again: the new one does not know the goal.
sim_log "supervisor restart during a grab"
start_desk
sim_wait_for supervisor 'arm start moving to grab_pose !' 30
kill -9 "${SIM_PID[supervisor]}"
sim_wait_exit supervisor 5
sleep 1
sim_start supervisor "$SUPERVISOR" "${SUPERVISOR_ARGS[@]}"
sim_wait_exit task 60
((SIM_STATUS == 4)) || sim_fail "quorvel task ended with exit status $SIM_STATUS, not 4"
sim_expect_output task "the goal was lost with the supervisor's restart"
stop_desk

# The supervisor frozen for longer than the lease during a release: gone, back, and the goal's
# end reported with how long it was gone; its events are printed once.
sim_log "supervisor frozen for 13 s during a release"
start_desk
sim_wait_for supervisor 'arm start moving to release_pose !' 30
kill -STOP "${SIM_PID[supervisor]}"
sleep 13
kill -CONT "${SIM_PID[supervisor]}"
sim_wait_exit task 90
((SIM_STATUS == 0)) || sim_fail "quorvel task ended with exit status $SIM_STATUS"
sim_expect_output task 'arm_task is gone'
sim_expect_output task '^action server gone for [0-9.]+ s while the goal ran'
sim_expect_output task '^error_code: 102300000 '
(($(sim_count task '^event: task started') == 1)) || sim_fail "the task's events were printed more than once"
stop_desk

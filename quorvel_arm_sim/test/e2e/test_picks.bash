#!/usr/bin/env bash
# The scenes whose tasks end without a recovery: a cleared table, a stuck item given up, and a
# person who pauses the task.
# shellcheck source=quorvel_arm_sim/test/e2e/sim_e2e_lib.bash
source "${SIM_E2E_LIB:?}"
run_scene clear_table 40
run_scene stuck_item 45
run_scene env_stop 30

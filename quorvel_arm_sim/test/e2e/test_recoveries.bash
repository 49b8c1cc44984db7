#!/usr/bin/env bash
# The scenes whose tasks go through a recovery: a failed grab, a failed release with the item
# dropped, and an arm that stays abnormal.
# shellcheck source=quorvel_arm_sim/test/e2e/sim_e2e_lib.bash
source "${SIM_E2E_LIB:?}"
run_scene grab_recovery 30
run_scene release_drop 30
run_scene arm_fault 35

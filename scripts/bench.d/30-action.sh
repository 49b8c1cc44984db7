#!/usr/bin/env bash
# The bundled rclcpp_action runtime, client and server in two processes, medians over fresh
# process pairs whose server already holds a few dozen finished goals:
#   action_goal_accept_us   just before async_send_goal -> goal response callback
#   action_result_us        goal response callback -> result callback (goal succeeded at once)
set -euo pipefail
export ROS_DOMAIN_ID=205
export ROS_LOCALHOST_ONLY=1
unset CYCLONEDDS_URI

prefix="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/install"
bench="${prefix}/lib/rclcpp_action/action_bench"
if [[ ! -x "$bench" ]]; then
  echo "30-action: $bench not built (the bundled runtime is not used on this host)" >&2
  exit 0
fi

"$bench" "$@"

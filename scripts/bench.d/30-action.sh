#!/usr/bin/env bash
# Action goal acceptance and result latency between two processes (rclcpp_action's
# action_bench). Prints the BENCH lines of action_bench.
set -euo pipefail

export ROS_DOMAIN_ID=205
export ROS_LOCALHOST_ONLY=1
unset CYCLONEDDS_URI

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
bench="${root}/install/lib/rclcpp_action/action_bench"
if [[ ! -x "${bench}" ]]; then
  IFS=: read -r -a prefixes <<< "${AMENT_PREFIX_PATH:-}"
  for prefix in "${prefixes[@]}"; do
    if [[ -x "${prefix}/lib/rclcpp_action/action_bench" ]]; then
      bench="${prefix}/lib/rclcpp_action/action_bench"
      break
    fi
  done
fi
if [[ ! -x "${bench}" ]]; then
  echo "30-action: action_bench is not installed (build rclcpp_action first)" >&2
  exit 1
fi
"${bench}" "$@"

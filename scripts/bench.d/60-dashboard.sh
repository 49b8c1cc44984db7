#!/usr/bin/env bash
# The dashboard as a browser sees it, while the supervisor clears arm_sim's table:
#   dashboard_update_latency_ms   median, over the task's events that came after the page was
#                                 opened, of the time from an event's stamp (wall clock, taken
#                                 by its publisher) to the page having it in its timeline
# Runs the browser test (tools/test/browser) in its benchmark mode; its BENCH line passes
# through. Needs chromium and chromedriver; without them it says so and prints nothing.
set -euo pipefail
export ROS_DOMAIN_ID=146
export ROS_LOCALHOST_ONLY=1
unset CYCLONEDDS_URI

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
prefix="${root}/install"
sim="${prefix}/lib/quorvel_arm_sim/arm_sim"
tool="$(command -v quorvel || true)"
if [[ ! -x "$sim" || -z "$tool" ]]; then
  echo "60-dashboard: quorvel or arm_sim is not installed" >&2
  exit 1
fi

out="$(mktemp)"
trap 'rm -f "$out"' EXIT
status=0
/usr/bin/python3 "${root}/tools/test/browser/test_dashboard_browser.py" --bench \
  --quorvel "$tool" --desk "arm_sim --ros-args -p scene:=clear_table" \
  --desk "arm_supervisor --ros-args --params-file @share:quorvel_arm_supervisor@/config/arm_supervisor_params.yaml -p gripper_close_delay:=300 -p gripper_release_delay:=300" \
  --port 18756 >"$out" 2>&1 || status=$?
if ((status == 77)); then
  grep '^SKIP' "$out" | sed 's/^SKIP: /60-dashboard: skipped: /' >&2
  exit 0
fi
grep '^BENCH ' "$out" || true
if ((status != 0)); then
  echo "60-dashboard: the browser run failed:" >&2
  cat "$out" >&2
  exit 1
fi

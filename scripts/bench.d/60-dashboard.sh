#!/usr/bin/env bash
# The dashboard as a browser sees it, against fake_task_supervisor's clear-table task:
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
fake="${prefix}/lib/quorvel_tools/fake_task_supervisor"
tool="$(command -v quorvel || true)"
if [[ ! -x "$fake" || -z "$tool" ]]; then
  echo "60-dashboard: quorvel or fake_task_supervisor is not installed (build with tests)" >&2
  exit 1
fi

out="$(mktemp)"
trap 'rm -f "$out"' EXIT
status=0
/usr/bin/python3 "${root}/tools/test/browser/test_dashboard_browser.py" --bench \
  --quorvel "$tool" --desk "$fake --time-scale 0.6" --port 18756 >"$out" 2>&1 || status=$?
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

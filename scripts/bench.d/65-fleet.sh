#!/usr/bin/env bash
# quorvel fleet over many arms (arm_sim with chaos and the real supervisor on a domain each,
# goals sent back to back by arm_sim_goals), as a browser sees its page:
#   fleet_tile_latency_ms     median, over every arm's steps while they work, from an event's
#                             stamp (wall clock, taken by its publisher) to its tile on the page
#                             (fleet_tile_latency_p95_ms: its 95th percentile)
#   fleet_rss_mb              the fleet process's resident memory while every arm works
#   fleet_discovery_s         from the start of an arm's desk to its tile showing it live
#   fleet_idle_cpu_percent    the fleet process's CPU (of one core) while every arm is live
#                             and idle
# for 20 arms (domains 40-59), and the same figures with an _<N>arms suffix for 1, 5 and 10
# (FLEET_BENCH_ARMS="1 5 10 20" sets the counts), to show how each grows with the fleet. Runs
# the fleet browser test (tools/test/browser) in its benchmark mode. Needs chromium and
# chromedriver; without them it says so and prints nothing.
set -euo pipefail
export ROS_LOCALHOST_ONLY=1
unset CYCLONEDDS_URI ROS_DOMAIN_ID

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
tool="$(command -v quorvel || true)"
if [[ -z "$tool" || ! -x "${root}/install/lib/quorvel_arm_sim/arm_sim" ]]; then
  echo "65-fleet: quorvel or arm_sim is not installed" >&2
  exit 1
fi

out="$(mktemp)"
trap 'rm -f "$out"' EXIT
for arms in ${FLEET_BENCH_ARMS:-1 5 10 20}; do
  status=0
  /usr/bin/python3 "${root}/tools/test/browser/test_fleet_browser.py" --bench \
    --quorvel "$tool" --arms "$arms" --first-domain 40 --port 18762 \
    --run-s "${FLEET_BENCH_RUN_S:-40}" >"$out" 2>&1 || status=$?
  if ((status == 77)); then
    grep '^SKIP' "$out" | sed 's/^SKIP: /65-fleet: skipped: /' >&2
    exit 0
  fi
  grep '^BENCH ' "$out" || true
  if ((status != 0)); then
    echo "65-fleet: the browser run with $arms arms failed:" >&2
    cat "$out" >&2
    exit 1
  fi
done

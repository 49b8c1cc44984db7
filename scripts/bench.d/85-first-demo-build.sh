#!/usr/bin/env bash
# The demo's first build and a fixed reference build, in one run on this machine, so that
# machines (and busy moments of a shared one) of different speed compare:
#   first_demo_build_s      scripts/setup --demo as on a fresh clone with its Debian packages
#                           installed: an empty build folder and an empty compiler cache (one of
#                           its own: the user's cache is never touched)
#   first_demo_build_cpu_s  the CPU time of that build, every process of it together: what the
#                           build costs, less swayed than the wall time by other work running
#   reference_build_s       cmake --build of the bundled rclcpp package alone from an empty build
#                           folder, with the settings of the tests' build (RelWithDebInfo, no
#                           compiler cache, the default linker), against the interfaces the first
#                           build installed
#   first_demo_build_ratio  first_demo_build_s / reference_build_s
# The time of each package of the first build goes to stderr.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
if [[ -f /opt/ros/humble/setup.bash ]]; then
  echo "85-first-demo-build: the reference is the bundled runtime, not built on this host" >&2
  exit 0
fi

WORK="$ROOT/build/bench/first_demo"
rm -rf "$WORK"
mkdir -p "$WORK/ccache" "$WORK/reference"
trap 'rm -rf "$WORK"' EXIT

export CCACHE_DIR="$WORK/ccache"
export COLCON_LOG_PATH="$WORK/log"
if ! /usr/bin/time -o "$WORK/time" -f '%e %U %S' "$ROOT/scripts/setup" --demo \
  --build-base "$WORK/build" --install-base "$WORK/install" >"$WORK/setup.log" 2>&1; then
  echo "85-first-demo-build: scripts/setup --demo failed:" >&2
  tail -n 30 "$WORK/setup.log" >&2
  exit 1
fi
read -r wall user sys <"$WORK/time"

# Each package's start and end, from colcon's event log.
awk '
  match($0, /^\[[0-9.]+\] \([^)]+\) Job(Started|Ended)/) {
    t = substr($1, 2, length($1) - 2) + 0
    name = substr($2, 2, length($2) - 2)
    if ($3 == "JobStarted:") start[name] = t
    else printf "85-first-demo-build: %-24s %6.1f s (from %5.1f to %5.1f s)\n", name, t - start[name], start[name], t
  }' "$WORK/log/latest_build/events.log" >&2 || true

(
  set +u
  # shellcheck disable=SC1091
  source "$WORK/install/setup.bash"
  set -u
  unset CCACHE_DIR
  cmake -S "$ROOT/runtime/rclcpp" -B "$WORK/reference" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBUILD_TESTING=OFF -DPython3_EXECUTABLE=/usr/bin/python3 >"$WORK/reference.log" 2>&1
) || {
  echo "85-first-demo-build: configuring the reference failed:" >&2
  tail -n 30 "$WORK/reference.log" >&2
  exit 1
}
start=$(date +%s.%N)
if ! cmake --build "$WORK/reference" --parallel "$(nproc)" >>"$WORK/reference.log" 2>&1; then
  echo "85-first-demo-build: building the reference failed:" >&2
  tail -n 30 "$WORK/reference.log" >&2
  exit 1
fi
end=$(date +%s.%N)

awk -v w="$wall" -v u="$user" -v s="$sys" -v a="$start" -v b="$end" 'BEGIN {
  printf "BENCH first_demo_build_s %.1f s\n", w
  printf "BENCH first_demo_build_cpu_s %.1f s\n", u + s
  printf "BENCH reference_build_s %.1f s\n", b - a
  printf "BENCH first_demo_build_ratio %.2f x\n", w / (b - a)
}'

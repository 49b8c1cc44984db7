#!/usr/bin/env bash
# quorvel fleet with its arms on other hosts: test hosts as network namespaces on a bridge (as
# scripts/faults builds them), "ops" running the fleet, "cell-a" and "cell-b" running ten desks
# each (arm_sim and the supervisor on a domain per arm), ROS_LOCALHOST_ONLY=0, Cyclone's defaults
# on the arms; the fleet's FLEET.yaml names each arm's host, its address as a Cyclone peer and
# the interface. Measures, from the ops host:
#   fleet_hosts_discovery_s        from the start of the last arm's desk (the others live) to
#                                  it live with its supervisor on the fleet's state
#   fleet_hosts_tile_latency_ms    median, over the steps of a task on each arm, from an event's
#                                  stamp to the fleet's stream carrying it
# Needs root (network namespaces) and Debian's iproute2; without them it says so and prints
# nothing.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
# shellcheck source=scripts/faults.d/lib.bash
source "$root/scripts/faults.d/lib.bash"
prefix="$root/install"
if ((EUID != 0)) || ! command -v ip >/dev/null; then
  echo "66-fleet-hosts: skipped: needs root and iproute2 for its test hosts" >&2
  exit 0
fi
for program in bin/quorvel lib/quorvel_arm_sim/arm_sim lib/quorvel_arm_supervisor/arm_supervisor; do
  [[ -x "$prefix/$program" ]] || { echo "66-fleet-hosts: $prefix/$program is not installed" >&2; exit 1; }
done

LOG_DIR="$(mktemp -d)"
tag="qfh$$"
# Half the arms on each arm host (FLEET_HOSTS_ARMS, default 20: the split of 65-fleet.sh).
ARMS=()
for ((i = 0; i < ${FLEET_HOSTS_ARMS:-20}; i++)); do
  ARMS+=("$((40 + i)):cell-$(((i % 2 == 0)) && echo a || echo b)")
done
port=18764
cleanup() {
  prog_stop_all >/dev/null 2>&1
  hosts_remove
  rm -rf "$LOG_DIR"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
hosts_make "$tag" ops cell-a cell-b || { echo "66-fleet-hosts: could not make the test hosts" >&2; exit 1; }

{
  echo "alarms: {wait_s: 120, silent_s: 30}"
  echo "arms:"
  for arm in "${ARMS[@]}"; do
    host=${arm#*:}
    echo "  - {name: arm-${arm%%:*}, domain: ${arm%%:*}, host: $host, peers: [$(host_addr "$host")], interface: eth0}"
  done
} >"$LOG_DIR/FLEET.yaml"

# Every program: the installed workspace, no loopback limit, the arm's domain where it has one.
PROG_ENV=(ROS_LOCALHOST_ONLY=0)
ws() { printf '%s\n' bash -c '. "$0" && exec "$@"' "$prefix/setup.bash"; }
mapfile -t WS < <(ws)
prog_start ops fleet env -u ROS_DOMAIN_ID "${WS[@]}" quorvel fleet --config "$LOG_DIR/FLEET.yaml" \
  --port "$port"
deadline=$((SECONDS + 30))
until grep -q '^fleet: http' "$LOG_DIR/fleet.log" || ((SECONDS > deadline)); do sleep 0.2; done
grep -q '^fleet: http' "$LOG_DIR/fleet.log" || { echo "66-fleet-hosts: the fleet did not start:" >&2; cat "$LOG_DIR/fleet.log" >&2; exit 1; }

in_ops() { ip netns exec "$(host_ns ops)" "$@"; }
live_count() {
  in_ops /usr/bin/python3 -c '
import json, sys, urllib.request
arms = json.load(urllib.request.urlopen("http://127.0.0.1:%s/api/fleet" % sys.argv[1], timeout=3))["arms"]
print(sum(1 for a in arms if a["live"] and a["supervisor_up"]))' "$port" 2>/dev/null || echo 0
}

start_desk() {  # start_desk DOMAIN:HOST
  local domain=${1%%:*} host=${1#*:}
  prog_start "$host" "sim$domain" env ROS_DOMAIN_ID="$domain" "${WS[@]}" \
    "$prefix/lib/quorvel_arm_sim/arm_sim" --ros-args -p scene:=clear_table -p speed:=4.0
  prog_start "$host" "supervisor$domain" env ROS_DOMAIN_ID="$domain" "${WS[@]}" \
    "$prefix/lib/quorvel_arm_supervisor/arm_supervisor" --ros-args \
    --params-file "$prefix/share/quorvel_arm_supervisor/config/arm_supervisor_params.yaml"
}
wait_live() {  # wait_live COUNT SECONDS
  local deadline=$((SECONDS + $2))
  until [[ "$(live_count)" == "$1" ]] || ((SECONDS > deadline)); do sleep 0.05; done
  [[ "$(live_count)" == "$1" ]] && return 0
  echo "66-fleet-hosts: only $(live_count) of $1 arms live after $2 s" >&2
  tail -n 5 "$LOG_DIR"/*.log >&2
  return 1
}
n=${#ARMS[@]}
for ((i = 0; i < n - 1; i++)); do start_desk "${ARMS[$i]}"; done
wait_live $((n - 1)) 120 || exit 1
# The last arm's desk starts while the others work: from its start to its tile live.
start_s=$(date +%s.%N)
start_desk "${ARMS[$((n - 1))]}"
wait_live "$n" 60 || exit 1
end_s=$(date +%s.%N)

# The fleet's stream read on ops while every arm runs a task started on its own host.
in_ops /usr/bin/python3 - "$port" 60 >"$LOG_DIR/latency.out" 2>&1 <<'PY' &
import http.client, json, sys, time
port, seconds = int(sys.argv[1]), float(sys.argv[2])
connection = http.client.HTTPConnection('127.0.0.1', port, timeout=5)
connection.request('GET', '/api/fleet/stream')
response = connection.getresponse()
first = {}
end = time.time() + seconds
while time.time() < end:
    line = response.fp.readline()
    if not line:
        break
    if line.startswith(b'data: '):
        now = time.time() * 1000.0
        for arm in json.loads(line[6:]).get('arms', []):
            key = (arm['index'], arm.get('event_ms') or 0)
            if key[1] and key not in first:
                first[key] = now - key[1]
start = time.time() * 1000.0 - seconds * 1000.0
samples = sorted(v for (i, e), v in first.items() if e >= start)
print(len(samples), samples[len(samples) // 2] if samples else -1)
PY
reader=$!
sleep 2
for arm in "${ARMS[@]}"; do
  domain=${arm%%:*}
  prog_start "${arm#*:}" "task$domain" env ROS_DOMAIN_ID="$domain" "${WS[@]}" \
    quorvel task --timeout 60 --no-events
done
wait "$reader"
read -r count median <"$LOG_DIR/latency.out"
if ! [[ "$count" =~ ^[0-9]+$ ]] || ((count < 8)); then
  echo "66-fleet-hosts: the fleet's stream carried too few steps:" >&2
  cat "$LOG_DIR/latency.out" >&2
  exit 1
fi
awk -v a="$start_s" -v b="$end_s" 'BEGIN { printf "BENCH fleet_hosts_discovery_s %.2f s\n", b - a }'
printf 'BENCH fleet_hosts_tile_latency_ms %.1f ms\n' "$median"

#!/usr/bin/env bash
# The bundled rclcpp runtime against Cyclone DDS itself, in one run on this machine:
#   topic_rtt_us      ping/pong between two processes, median over fresh process pairs
#   ddsperf_rtt_us    Cyclone's own ddsperf ping/pong, same loopback configuration (ddsperf
#                     reports half the round trip; the figure here is doubled)
#   service_rtt_us    service round trip after the first call, median
#   idle_cpu_percent  a node with a 16-thread executor, 4 subscriptions, 4 clients, 6 publishers,
#   idle_rss_mb       idle for 10 s
#   startup_ms        process start to first spin of a node with 10 entities, median of 5
set -euo pipefail
export ROS_DOMAIN_ID=206
export ROS_LOCALHOST_ONLY=1
unset CYCLONEDDS_URI

prefix="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/install"
bench="${prefix}/lib/rclcpp/rclcpp_bench"
if [[ ! -x "$bench" ]]; then
  echo "20-rclcpp: $bench not built (the bundled runtime is not used on this host)" >&2
  exit 0
fi

"$bench" topic_rtt 3000 4

if command -v ddsperf >/dev/null; then
  loopback='<CycloneDDS><Domain id="any"><General><Interfaces><NetworkInterface name="lo"/></Interfaces><AllowMulticast>false</AllowMulticast></General><Discovery><ParticipantIndex>auto</ParticipantIndex><MaxAutoParticipantIndex>50</MaxAutoParticipantIndex><Peers><Peer address="127.0.0.1"/></Peers></Discovery></Domain></CycloneDDS>'
  CYCLONEDDS_URI="$loopback" ddsperf -i 207 -D 9 pong >/dev/null 2>&1 &
  pong_pid=$!
  out=$(CYCLONEDDS_URI="$loopback" timeout 20 ddsperf -i 207 -D 7 ping 2>&1 || true)
  kill "$pong_pid" 2>/dev/null || true
  wait "$pong_pid" 2>/dev/null || true
  # Median ("50%") of each per-second report after the first, doubled to a full round trip.
  values=$(echo "$out" | grep -o ' 50% [0-9.]*us' | sed 's/ 50% //; s/us//' | tail -n +2 | sort -n)
  count=$(echo "$values" | grep -c . || true)
  if (( count > 0 )); then
    mid=$(echo "$values" | sed -n "$(( (count + 1) / 2 ))p")
    awk -v m="$mid" 'BEGIN{printf "BENCH ddsperf_rtt_us %.1f us\n", 2 * m}'
  else
    echo "BENCH ddsperf_rtt_us -1 us"
  fi
fi

"$bench" service_rtt 3000 4

"$bench" idle >/dev/null 2>&1 &
idle_pid=$!
sleep 2
ticks=$(getconf CLK_TCK)
read -r -a s0 < "/proc/${idle_pid}/stat"
sleep 10
read -r -a s1 < "/proc/${idle_pid}/stat"
rss_kb=$(awk '/^VmRSS:/{print $2}' "/proc/${idle_pid}/status")
kill -INT "$idle_pid"
wait "$idle_pid" || true
# utime and stime are fields 14 and 15 (indices 13 and 14).
cpu=$(( (s1[13] + s1[14]) - (s0[13] + s0[14]) ))
awk -v c="$cpu" -v t="$ticks" 'BEGIN{printf "BENCH idle_cpu_percent %.3f %%\n", 100.0 * c / t / 10.0}'
awk -v r="$rss_kb" 'BEGIN{printf "BENCH idle_rss_mb %.1f MB\n", r / 1024.0}'

"$bench" startup 5

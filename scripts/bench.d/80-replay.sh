#!/usr/bin/env bash
# quorvel dashboard --bag over a bag of 1,000 made-up tasks (make_replay_bag: about 300
# messages each, joint angles at 50 Hz while moving, every third task with a recovery):
#   dashboard_replay_seek_ms       the time to show the state at an arbitrary point of the bag:
#                                  GET /api/replay/state?at=NS for 200 moments drawn at random
#                                  over the whole bag (each far from the one before, so none
#                                  goes on from the last look), from the request to the whole
#                                  answer read; the median
#   dashboard_replay_seek_p95_ms   the 95th percentile of the same looks
#   dashboard_replay_load_s        from the start of quorvel dashboard --bag to its page being
#                                  served (the bag read and checked whole, the model's copies
#                                  made)
#   dashboard_replay_rss_mb        its resident memory after the looks
# No ROS graph is involved.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
prefix="${root}/install"
maker="${prefix}/lib/quorvel_tools/make_replay_bag"
tool="$(command -v quorvel || true)"
if [[ ! -x "$maker" || -z "$tool" ]]; then
  echo "80-replay: quorvel or make_replay_bag is not installed (scripts/bench builds them)" >&2
  exit 1
fi

work="$(mktemp -d)"
pid=""
cleanup() {
  if [[ -n "$pid" ]]; then kill -INT "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$maker" "$work/bag" 1000 >"$work/make.log"
port=18760
start=$(date +%s.%N)
"$tool" dashboard --bag "$work/bag" --port "$port" >"$work/dashboard.log" 2>&1 &
pid=$!
deadline=$((SECONDS + 120))
until grep -qs '^dashboard: http' "$work/dashboard.log"; do
  if ((SECONDS >= deadline)) || ! kill -0 "$pid" 2>/dev/null; then
    echo "80-replay: the dashboard did not start:" >&2
    cat "$work/dashboard.log" >&2
    exit 1
  fi
  sleep 0.05
done
loaded=$(date +%s.%N)

/usr/bin/python3 - "$port" "$start" "$loaded" "$pid" <<'PY'
import http.client
import json
import random
import statistics
import sys
import time

port, start, loaded, pid = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3]), sys.argv[4]


def get(path):
    connection = http.client.HTTPConnection('127.0.0.1', port, timeout=10)
    connection.request('GET', path)
    response = connection.getresponse()
    body = response.read()
    connection.close()
    if response.status != 200:
        raise SystemExit('80-replay: %s answered %d' % (path, response.status))
    return body


info = json.loads(get('/api/replay'))
if len(info['tasks']) != 1000:
    raise SystemExit('80-replay: the bag holds %d tasks, not 1000' % len(info['tasks']))
duration = info['duration_ns']
rng = random.Random(1)
times = []
last = None
while len(times) < 200:
    at = rng.randrange(0, duration)
    if last is not None and abs(at - last) < duration // 20:
        continue
    began = time.perf_counter()
    state = json.loads(get('/api/replay/state?at=%d' % at))
    times.append((time.perf_counter() - began) * 1000.0)
    if state['replay']['at_ns'] != at:
        raise SystemExit('80-replay: asked for %d, shown %d' % (at, state['replay']['at_ns']))
    last = at
times.sort()
print('80-replay: %d looks: median %.1f ms, p95 %.1f ms, max %.1f ms (%d messages, %d tasks)'
      % (len(times), statistics.median(times), times[int(len(times) * 0.95)], times[-1],
         info['messages'], len(info['tasks'])), file=sys.stderr)
print('BENCH dashboard_replay_seek_ms %.1f ms' % statistics.median(times))
print('BENCH dashboard_replay_seek_p95_ms %.1f ms' % times[int(len(times) * 0.95)])
print('BENCH dashboard_replay_load_s %.2f s' % (loaded - start))
with open('/proc/%s/status' % pid) as status:
    rss_kb = next(int(line.split()[1]) for line in status if line.startswith('VmRSS:'))
print('BENCH dashboard_replay_rss_mb %.1f MB' % (rss_kb / 1024.0))
PY
grep -h 'playing bag' "$work/dashboard.log" | sed 's/^/80-replay: /' >&2

# The fault harness's steps, sourced by scripts/faults: test hosts as network namespaces on a
# bridge, programs started on a host, a host's link cut, UDP loss at a host, kill -9 and restart,
# signals, and waits for a line in a program's output. Every wait is bounded by the row's limit
# (ROW_END); the first thing that goes wrong is kept in ROW_WHY.
#
# The hosts of one row: a namespace "<tag>-net" holding the bridge br0, and one namespace
# "<tag>-<host>" per host whose eth0 is joined to the bridge by a veth pair (the bridge's end is
# called "to-<host>"). Addresses are 10.201.0.0/24, chosen inside these namespaces only; the
# namespaces start empty, so nothing reaches any other network.

NET_SUBNET_PREFIX=10.201.0
# How long a program gets to end after Ctrl-C before it counts as hung and is killed.
STOP_GRACE_S=5
# A progress line on standard error at least this often while a row waits.
PROGRESS_EVERY_S=15

NET_TAG=""
NET_HOSTS=()
declare -A NET_ADDR=()
LOG_DIR=""
ROW_NAME=""
ROW_START=0
ROW_LIMIT=0
ROW_END=0
ROW_WHY=""
ROW_LAST_TICK=0
# What every program is started with (the row's domain; Cyclone's defaults or the user's URI).
PROG_ENV=()
# Per program: its PID (empty once reaped), host, command, log, number of starts, and how many
# Ctrl-C it takes to stop (quorvel task: two, its first one cancels the goal).
declare -A PROG_PID=() PROG_HOST=() PROG_CMD=() PROG_LOG=() PROG_STARTS=() PROG_INTS=()
PROG_ORDER=()
PROG_STATUS=0

# mark FILE TEXT: a line "=== HH:MM:SS.mmm faults: TEXT ===" in FILE (a log kept with --keep
# shows when the harness did what beside what the programs printed).
mark() {
  printf '=== %s faults: %s ===\n' "$(date +%T.%3N)" "$2" >>"$1"
}

# row_fail WHY: keeps the first reason the row failed; always returns 1.
row_fail() {
  [[ -n "$ROW_WHY" ]] || ROW_WHY=$1
  return 1
}

row_over() {
  ((SECONDS >= ROW_END))
}

# row_tick WHAT: a progress line now and then while the row waits.
row_tick() {
  if ((EPOCHSECONDS - ROW_LAST_TICK >= PROGRESS_EVERY_S)); then
    ROW_LAST_TICK=$EPOCHSECONDS
    echo "faults: $ROW_NAME: $1 ($((SECONDS - ROW_START)) s into the row)" >&2
  fi
}

# row_sleep SECONDS [WHAT]: sleeps, in short steps, within the row's limit.
row_sleep() {
  local until
  until=$(awk -v now="$EPOCHREALTIME" -v s="$1" 'BEGIN{printf "%.3f", now + s}')
  while awk -v now="$EPOCHREALTIME" -v u="$until" 'BEGIN{exit !(now < u)}'; do
    if row_over; then
      row_fail "over the row's limit of $ROW_LIMIT s"
      return 1
    fi
    [[ -n "${2:-}" ]] && row_tick "$2"
    sleep 0.2
  done
}

# --- hosts -----------------------------------------------------------------------------------

host_ns() {
  echo "$NET_TAG-$1"
}

host_addr() {
  echo "${NET_ADDR[$1]}"
}

# hosts_make TAG HOST...: the bridge's namespace and one namespace per HOST on it.
hosts_make() {
  local i=0 host ns
  NET_TAG=$1
  shift
  NET_HOSTS=()
  ip netns add "$NET_TAG-net" || return 1
  NET_HOSTS+=(net)
  ip -n "$NET_TAG-net" link set lo up &&
    ip -n "$NET_TAG-net" link add name br0 type bridge &&
    ip -n "$NET_TAG-net" link set br0 up || return 1
  for host in "$@"; do
    i=$((i + 1))
    ns=$(host_ns "$host")
    ip netns add "$ns" || return 1
    NET_HOSTS+=("$host")
    # Both ends are made where they belong: no interface ever appears in the caller's namespace.
    NET_ADDR[$host]="$NET_SUBNET_PREFIX.$i"
    ip -n "$NET_TAG-net" link add name "to-$host" type veth peer name eth0 netns "$ns" &&
      ip -n "$NET_TAG-net" link set "to-$host" master br0 up &&
      ip -n "$ns" link set lo up &&
      ip -n "$ns" addr add "${NET_ADDR[$host]}/24" dev eth0 &&
      ip -n "$ns" link set eth0 up || return 1
  done
}

# hosts_leftovers: "PID (name)" of every process still inside the row's namespaces.
hosts_leftovers() {
  local host pid
  for host in "${NET_HOSTS[@]}"; do
    for pid in $(ip netns pids "$(host_ns "$host")" 2>/dev/null); do
      echo "$pid ($(cat "/proc/$pid/comm" 2>/dev/null || echo gone))"
    done
  done
}

# hosts_remove: deletes the row's namespaces, with their links and nftables tables. Anything
# still inside them was started by this row (a program or its child): it is killed by its PID.
hosts_remove() {
  local host pid
  for host in "${NET_HOSTS[@]}"; do
    for pid in $(ip netns pids "$(host_ns "$host")" 2>/dev/null); do
      kill -KILL "$pid" 2>/dev/null
    done
  done
  for host in "${NET_HOSTS[@]}"; do
    ip netns del "$(host_ns "$host")" 2>/dev/null
  done
  NET_HOSTS=()
}

# link_cut HOST SECONDS: the host's link goes down at the bridge (a cable pulled at the switch:
# the host keeps its address and sees no carrier) for SECONDS, then comes back.
link_cut() {
  local host=$1 s=$2 status=0
  ip -n "$NET_TAG-net" link set "to-$host" down || { row_fail "cannot cut $host's link"; return 1; }
  mark "$LOG_DIR/faults.log" "$host's link down for $s s"
  row_sleep "$s" "$host's link down for $s s" || status=1
  ip -n "$NET_TAG-net" link set "to-$host" up || row_fail "cannot bring $host's link back"
  mark "$LOG_DIR/faults.log" "$host's link up"
  return "$status"
}

# udp_loss HOST PERCENT: drops PERCENT % of the UDP packets entering and leaving HOST's eth0,
# at random (nftables' numgen in the host's namespace), until the namespace is removed.
udp_loss() {
  local host=$1 p=$2
  ip netns exec "$(host_ns "$host")" nft -f - <<EOF || { row_fail "nft refused the loss rules"; return 1; }
table inet faults {
  chain in {
    type filter hook input priority 0; policy accept;
    iifname "eth0" meta l4proto udp numgen random mod 100 < $p counter drop
  }
  chain out {
    type filter hook output priority 0; policy accept;
    oifname "eth0" meta l4proto udp numgen random mod 100 < $p counter drop
  }
}
EOF
  mark "$LOG_DIR/faults.log" "$p % of UDP dropped both ways at $host"
}

# udp_dropped HOST: how many packets the loss rules dropped.
udp_dropped() {
  ip netns exec "$(host_ns "$1")" nft list table inet faults 2>/dev/null |
    awk '{for (i = 1; i < NF; i++) if ($i == "packets") n += $(i + 1)} END {print n + 0}'
}

# --- programs --------------------------------------------------------------------------------

# prog_start HOST NAME COMMAND...: runs COMMAND on HOST in the background with the row's
# environment; its output (stdout and stderr) is appended to $LOG_DIR/NAME.log.
prog_start() {
  local host=$1 name=$2
  shift 2
  if [[ -z "${PROG_CMD[$name]:-}" ]]; then
    PROG_ORDER+=("$name")
    PROG_STARTS[$name]=0
  fi
  PROG_HOST[$name]=$host
  PROG_CMD[$name]=$(printf '%q ' "$@")
  PROG_LOG[$name]="$LOG_DIR/$name.log"
  PROG_STARTS[$name]=$((PROG_STARTS[$name] + 1))
  mark "${PROG_LOG[$name]}" "start $((PROG_STARTS[$name])) of $name on $host: $*"
  mark "$LOG_DIR/faults.log" "start $((PROG_STARTS[$name])) of $name on $host"
  ip netns exec "$(host_ns "$host")" env -u CYCLONEDDS_URI "${PROG_ENV[@]}" "$@" \
    >>"${PROG_LOG[$name]}" 2>&1 &
  PROG_PID[$name]=$!
}

prog_alive() {
  [[ -n "${PROG_PID[$1]:-}" ]] && kill -0 "${PROG_PID[$1]}" 2>/dev/null
}

# prog_reap NAME: its exit status into PROG_STATUS (it has ended).
prog_reap() {
  wait "${PROG_PID[$1]}" 2>/dev/null
  PROG_STATUS=$?
  PROG_PID[$1]=""
}

# prog_wait_exit NAME SECONDS [WHAT]: until NAME ends (its status in PROG_STATUS); 1 when it
# still runs after SECONDS or at the row's limit.
prog_wait_exit() {
  local deadline=$((SECONDS + $2))
  while prog_alive "$1"; do
    if row_over; then
      row_fail "over the row's limit of $ROW_LIMIT s (waiting for $1 to end)"
      return 1
    fi
    ((SECONDS < deadline)) || return 1
    [[ -n "${3:-}" ]] && row_tick "$3"
    sleep 0.1
  done
  [[ -n "${PROG_PID[$1]:-}" ]] && prog_reap "$1"
  return 0
}

# prog_kill NAME: kill -9, as a crash or a power cut would end it.
prog_kill() {
  prog_alive "$1" || { row_fail "$1 was not running when it was to be killed"; return 1; }
  # Reaped at once, quietly: bash would otherwise report the job "Killed" on standard error.
  { kill -KILL "${PROG_PID[$1]}" && prog_reap "$1"; } 2>/dev/null
  mark "${PROG_LOG[$1]}" "kill -9"
  mark "$LOG_DIR/faults.log" "kill -9 $1"
}

# prog_restart NAME SECONDS: kill -9, then the same command on the same host SECONDS later.
prog_restart() {
  local name=$1 cmd
  prog_kill "$name" || return 1
  row_sleep "$2" "restarting $name" || return 1
  eval "cmd=(${PROG_CMD[$name]})"
  prog_start "${PROG_HOST[$name]}" "$name" "${cmd[@]}"
}

# prog_signal NAME SIGNAL
prog_signal() {
  prog_alive "$1" || { row_fail "$1 was not running when it was to get SIG$2"; return 1; }
  kill "-$2" "${PROG_PID[$1]}"
  mark "${PROG_LOG[$1]}" "SIG$2"
  mark "$LOG_DIR/faults.log" "SIG$2 to $1"
}

# prog_catches NAME SIGNAL: NAME has a handler for SIGNAL (else the signal would end it).
prog_catches() {
  local number mask
  number=$(kill -l "$2") || return 1
  mask=$(awk '/^SigCgt:/{print $2}' "/proc/${PROG_PID[$1]}/status" 2>/dev/null) || return 1
  [[ -n "$mask" ]] && (((16#$mask >> (number - 1)) & 1))
}

# prog_stop NAME [INTERRUPTS]: Ctrl-C (INTERRUPTS times, a second apart: quorvel task takes its
# first one as a cancel); a program still running STOP_GRACE_S later hangs: the row fails and it
# is killed. A program ended by a signal it did not handle (a crash) fails the row too.
prog_stop() {
  local name=$1 n=${2:-1} i deadline
  prog_alive "$name" || { [[ -n "${PROG_PID[$name]:-}" ]] && prog_reap "$name"; return 0; }
  for ((i = 0; i < n; i++)); do
    ((i == 0)) || sleep 1
    prog_alive "$name" && kill -INT "${PROG_PID[$name]}" 2>/dev/null
  done
  deadline=$(awk -v now="$EPOCHREALTIME" -v s="$STOP_GRACE_S" 'BEGIN{printf "%.3f", now + s}')
  while prog_alive "$name" && awk -v now="$EPOCHREALTIME" -v d="$deadline" 'BEGIN{exit !(now < d)}'; do
    sleep 0.1
  done
  if prog_alive "$name"; then
    row_fail "$name hung: still running ${STOP_GRACE_S} s after Ctrl-C (killed)"
    { kill -KILL "${PROG_PID[$name]}" && prog_reap "$name"; } 2>/dev/null
    return 1
  fi
  prog_reap "$name"
  # 130: ended by Ctrl-C on purpose (quorvel task); above 128 otherwise: killed by a signal.
  if ((PROG_STATUS > 128 && PROG_STATUS != 130)); then
    row_fail "$name ended with status $PROG_STATUS after Ctrl-C (signal $((PROG_STATUS - 128)))"
    return 1
  fi
}

# prog_stop_all: every program of the row, newest first.
prog_stop_all() {
  local i name
  for ((i = ${#PROG_ORDER[@]} - 1; i >= 0; i--)); do
    name=${PROG_ORDER[$i]}
    prog_stop "$name" "${PROG_INTS[$name]:-1}"
  done
}

# prog_forget_all: a new row starts with no programs.
prog_forget_all() {
  PROG_PID=() PROG_HOST=() PROG_CMD=() PROG_LOG=() PROG_STARTS=() PROG_INTS=()
  PROG_ORDER=()
}

# --- output ----------------------------------------------------------------------------------

# line_count NAME REGEX: lines of NAME's output (all its starts) matching REGEX.
line_count() {
  local n
  n=$(grep -cE -- "$2" "${PROG_LOG[$1]}" 2>/dev/null) || true
  echo "${n:-0}"
}

# wait_line NAME REGEX SECONDS [COUNT]: until COUNT (default 1) lines of NAME's output match
# REGEX; 1 when NAME ended first, after SECONDS or at the row's limit.
wait_line() {
  local name=$1 regex=$2 count=${4:-1} deadline=$((SECONDS + $3))
  while (($(line_count "$name" "$regex") < count)); do
    if ! prog_alive "$name"; then
      row_fail "$name ended before printing '$regex'"
      return 1
    fi
    if row_over; then
      row_fail "over the row's limit of $ROW_LIMIT s (waiting for '$regex' from $name)"
      return 1
    fi
    if ((SECONDS >= deadline)); then
      row_fail "no '$regex' from $name within $3 s"
      return 1
    fi
    row_tick "waiting for '$regex' from $name"
    sleep 0.1
  done
}

# Helpers for every end-to-end script: a scratch folder removed at exit with
# the processes the script started, failure reports that show what those
# processes printed, free loopback ports, bounded waits, and a dev server on
# a free port reached with Debian's rconclt. Every wait here is bounded.
#
# Source it, under `set -euo pipefail`, as
#   source "$(dirname "$0")/../support/e2e.sh" NAME
# NAME names the scratch folder $WORK. Send each process's output to a file
# $WORK/*.out: fail shows the end of each.

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmoor-${1:-e2e}-XXXXXX")
PIDS=()  # processes that cleanup kills; add with `track`

# How long, in tenths of a second, a wait for something that must happen lets
# nothing happen before it calls it a stall and fails. Every wait ends as
# soon as its event comes, and one on a process ends at once when the
# process is gone, so this bound only decides how long a hung run takes to
# fail: it is long, so that a loaded machine or a sanitizer never fails a
# test, only a stall does. QUILLMOOR_E2E_STALL_TENTHS overrides it.
STALL_TENTHS=${QUILLMOOR_E2E_STALL_TENTHS:-900}

# For start_server, rc and stop_server: the command that runs the dev server,
# up to its RCON options (a bash array); its password; how long it may take to
# listen, in tenths of a second. They keep the server's port and pid in PORT
# and PID, its output in OUT.
SERVER=()
PW="e2e-pw"
START_TENTHS=$STALL_TENTHS
OUT="$WORK/server.out"
PORT=""
PID=""

cleanup() {
  local p
  for p in ${PID:+"$PID"} "${PIDS[@]}"; do
    kill -KILL "$p" 2>/dev/null || true
  done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  local f
  echo "FAIL: $*" >&2
  for f in "$WORK"/*.out; do
    [ -f "$f" ] || continue
    echo "--- $(basename "$f") (last 40 lines) ---" >&2
    tail -n 40 "$f" >&2
  done
  exit 1
}

expect_eq() {
  [ "$1" == "$2" ] || fail "$3: expected [$2], got [$1]"
}

# A string constant of libs/formats (a command name, a reply's key), read
# from its header so that a test restates none: formats_text kStatsCommand
FORMATS_HEADERS="$(dirname "${BASH_SOURCE[0]}")/../../libs/formats/include/formats"
formats_text() {
  local value
  value=$(sed -n "s/^inline constexpr char $1\[\] = \"\([^\"\\]*\)\";\$/\1/p" \
    "$FORMATS_HEADERS"/*.h)
  [ -n "$value" ] || fail "no string constant $1 in $FORMATS_HEADERS"
  printf '%s' "$value"
}

# The port is free when asked; another process may take it before it is used.
free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

track() {
  PIDS+=("$1")
}

# A process that is gone may give its pid to another: cleanup must not kill that.
forget() {
  local p kept=()
  for p in "${PIDS[@]}"; do
    [ "$p" == "$1" ] || kept+=("$p")
  done
  PIDS=("${kept[@]}")
}

gone() {
  ! kill -0 "$1" 2>/dev/null
}

# wait_for TENTHS COMMAND [ARGS...]: runs COMMAND every tenth of a second
# until it succeeds; false when it has not after TENTHS tries.
wait_for() {
  local tries=$1 i
  shift
  for ((i = 0; i < tries; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# wait_listening PID FILE PORT TENTHS [SEEN]: until FILE shows the dev server
# listening on PORT more than SEEN times (default 0, for a file that a
# restarted server appends to); false at once when PID is gone.
wait_listening() {
  local pid=$1 file=$2 port=$3 tries=$4 seen=${5:-0} i n
  for ((i = 0; i < tries; i++)); do
    n=$(grep -cs "RCON listening on 127.0.0.1:$port" "$file" || true)
    [ "${n:-0}" -gt "$seen" ] && return 0
    gone "$pid" && return 1
    sleep 0.1
  done
  return 1
}

# stop_process PID SIGNAL [TENTHS]: sends SIGNAL and fails unless the process
# is gone within TENTHS tenths of a second (default STALL_TENTHS). STATUS is
# then its exit status, when this shell started it.
stop_process() {
  local pid=$1 signal=$2 tries=${3:-$STALL_TENTHS}
  kill "-$signal" "$pid"
  wait_for "$tries" gone "$pid" ||
    fail "process $pid did not stop within $((tries / 10)) s of SIG$signal"
  STATUS=0
  wait "$pid" 2>/dev/null || STATUS=$?
  forget "$pid"
}

# start_server [OPTIONS...]: starts "${SERVER[@]}" on a free port with password
# $PW and the OPTIONS, and waits until it listens. When another process took
# the port in between, it tries another.
start_server() {
  local attempt
  for attempt in 1 2 3 4 5; do
    PORT=$(free_port)
    "${SERVER[@]}" --rcon-port "$PORT" --rcon-password "$PW" "$@" >"$OUT" 2>&1 &
    PID=$!
    wait_listening "$PID" "$OUT" "$PORT" "$START_TENTHS" && return 0
    kill -KILL "$PID" 2>/dev/null || true
    wait "$PID" 2>/dev/null || true
    PID=""
    grep -qs "cannot listen on 127.0.0.1:$PORT" "$OUT" || fail "the dev server did not start"
  done
  fail "no free port after 5 attempts"
}

# start_in NAME PORT [SEEN]: for scripts that run several servers at once:
# starts "${SERVER[@]}" in the server directory $WORK/NAME (its plugin folder
# created) on PORT with password $PW, appending its output to $WORK/NAME.out,
# and prints its pid once it listens (SEEN times before: a restarted server
# appends to the same file). Run it as PID=$(start_in ...) and track the pid.
start_in() {
  local name=$1 port=$2 pid
  mkdir -p "$WORK/$name/ArkApi/Plugins/Quillmoor"
  "${SERVER[@]}" --server-dir "$WORK/$name" --rcon-port "$port" --rcon-password "$PW" \
    >>"$WORK/$name.out" 2>&1 &
  pid=$!
  wait_listening "$pid" "$WORK/$name.out" "$port" "$START_TENTHS" "${3:-0}" && echo "$pid"
}

# rc COMMAND [ARGS...]: runs one command over RCON and prints the reply.
rc() {
  timeout $((STALL_TENTHS / 10 + 10)) rconclt -t $((STALL_TENTHS / 10)) "$PW@127.0.0.1:$PORT" "$@"
}

# stop_server [SIGNAL [TENTHS]]: stops the server and fails unless it exits
# with 0 within TENTHS tenths of a second (default STALL_TENTHS).
stop_server() {
  local signal=${1:-INT}
  stop_process "$PID" "$signal" "${2:-$STALL_TENTHS}"
  PID=""
  [ "$STATUS" -eq 0 ] || fail "the dev server exited with $STATUS after SIG$signal"
}

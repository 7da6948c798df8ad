# Helpers for end-to-end tests: a dev server on a free loopback port in a
# fresh directory, reached with Debian's rconclt. Sourced by rcon_e2e.sh,
# which sets DEVSERVER and PLUGIN. Every wait here is bounded.

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmoor-e2e-XXXXXX")
SERVER_DIR="$WORK/server"
OUT="$WORK/out.log"
PW="e2e-pw"
PORT=""
PID=""
mkdir -p "$SERVER_DIR/ArkApi/Plugins/Quillmoor"

cleanup() {
  if [ -n "$PID" ] && kill -0 "$PID" 2>/dev/null; then
    kill -KILL "$PID" 2>/dev/null || true
    wait "$PID" 2>/dev/null || true
  fi
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  if [ -f "$OUT" ]; then
    echo "--- dev server output (last 40 lines) ---" >&2
    tail -n 40 "$OUT" >&2
  fi
  exit 1
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_server [devserver options...]: starts the server on a free port with
# password $PW and waits until its RCON port listens. The port is picked
# before the server binds it, so another process may take it in between:
# then it tries another.
start_server() {
  local attempt i
  for attempt in 1 2 3 4 5; do
    PORT=$(free_port)
    "$DEVSERVER" --server-dir "$SERVER_DIR" --plugin "$PLUGIN" --rcon-port "$PORT" \
      --rcon-password "$PW" "$@" >"$OUT" 2>&1 &
    PID=$!
    for i in $(seq 1 100); do
      grep -qs "RCON listening on 127.0.0.1:$PORT" "$OUT" && return 0
      kill -0 "$PID" 2>/dev/null || break
      sleep 0.1
    done
    wait "$PID" 2>/dev/null || true
    PID=""
    grep -qs "Address already in use" "$OUT" || fail "the dev server did not start"
  done
  fail "no free port after 5 attempts"
}

# rc COMMAND [ARGS...]: runs one command over RCON and prints the reply.
rc() {
  timeout 15 rconclt -t 5 "$PW@127.0.0.1:$PORT" "$@"
}

# stop_server [SIGNAL [SECONDS]]: stops the server and fails unless it exits
# with 0 within SECONDS (default 10).
stop_server() {
  local signal=${1:-INT} seconds=${2:-10} i status
  kill "-$signal" "$PID"
  for i in $(seq 1 $((seconds * 10))); do
    kill -0 "$PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$PID" 2>/dev/null && fail "the dev server did not stop within $seconds s of SIG$signal"
  status=0
  wait "$PID" || status=$?
  PID=""
  [ "$status" -eq 0 ] || fail "the dev server exited with $status after SIG$signal"
}

# A line of `status`, e.g. status_value "Game time" -> 12.3
status_value() {
  rc status | sed -n "s/^$1: \([0-9.]*\).*/\1/p"
}

# Waits until the game clock has passed $1 seconds (at most 10 s of real time).
wait_for_game_time() {
  local i t
  for i in $(seq 1 100); do
    t=$(status_value "Game time")
    [ -n "$t" ] && awk -v t="$t" -v min="$1" 'BEGIN { exit !(t >= min) }' && return 0
    sleep 0.1
  done
  fail "game time did not reach $1 s"
}

expect_eq() {
  [ "$1" == "$2" ] || fail "$3: expected [$2], got [$1]"
}

stats_log() {
  echo "$SERVER_DIR/ArkApi/Plugins/Quillmoor/Quillmoor_stats.log"
}

count_lines() {
  grep -c -- "$1" "$2" 2>/dev/null || true
}

host_log() {
  echo "$SERVER_DIR/ArkApi/Logs/ArkApi.log"
}

# The dev server's resident memory in kB.
rss_kb() {
  sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$PID/status"
}

# churn [-j THREADS] COUNT [PASSWORD COMMAND]: COUNT connections to the server,
# each closed at once or after one command, THREADS at a time (rcon_churn.py).
churn() {
  timeout 100 python3 "$(dirname "${BASH_SOURCE[0]}")/rcon_churn.py" "$PORT" "$@" ||
    fail "rcon_churn.py $* failed"
}

# Helpers for the Linux end-to-end scenarios: the dev server with the plugin
# in a fresh server directory, its clock, files and memory. Sourced by
# rcon_e2e.sh, which sets DEVSERVER and PLUGIN. Every wait here is bounded.

source "$(dirname "${BASH_SOURCE[0]}")/../support/e2e.sh" e2e
SERVER_DIR="$WORK/server"
SERVER=("$DEVSERVER" --server-dir "$SERVER_DIR" --plugin "$PLUGIN")
mkdir -p "$SERVER_DIR/ArkApi/Plugins/Quillmoor"

# A line of `status`, e.g. status_value "Game time" -> 12.3
status_value() {
  rc status | sed -n "s/^$1: \([0-9.]*\).*/\1/p"
}

game_time_reached() {
  local t
  t=$(status_value "Game time")
  [ -n "$t" ] && awk -v t="$t" -v min="$1" 'BEGIN { exit !(t >= min) }'
}

# Waits until the game clock has passed $1 seconds.
wait_for_game_time() {
  wait_for "$STALL_TENTHS" game_time_reached "$1" || fail "game time did not reach $1 s"
}

stats_log() {
  echo "$SERVER_DIR/ArkApi/Plugins/Quillmoor/$(formats_text kStatsLogFile)"
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
  python3 "$(dirname "${BASH_SOURCE[0]}")/rcon_churn.py" "$PORT" "$@" ||
    fail "rcon_churn.py $* failed"
}

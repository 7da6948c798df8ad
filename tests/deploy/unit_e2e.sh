#!/usr/bin/env bash
# The service unit's own command line, run as systemd would run it: as an
# unprivileged user, with the servers file handed over in a credentials
# folder that only that user can read, and its state folder. It must poll a
# dev server and serve /metrics. The unit's example metrics address is
# replaced by a free loopback port, its program by the one built here.
# Usage: unit_e2e.sh WATCH DEVSERVER PLUGIN UNIT
set -euo pipefail

WATCH=$1
DEVSERVER=$2
PLUGIN=$3
UNIT=$4
API="$(dirname "$0")/../tools/prometheus_api.py"
source "$(dirname "$0")/../support/e2e.sh" unit
SERVER=("$DEVSERVER" --plugin "$PLUGIN" --time-scale 600)
PORT=$(free_port)
S_PID=$(start_in island "$PORT") || fail "the dev server did not start"
track "$S_PID"

# ExecStart= with its continuation lines joined.
exec_start=$(awk '/^ExecStart=/ { on = 1; sub(/^ExecStart=/, "") }
                  on { line = line $0; if (!sub(/\\$/, "", line)) { print line; exit } }' "$UNIT")
[ -n "$exec_start" ] || fail "no ExecStart= in $UNIT"
grep -q "^LoadCredential=servers:" "$UNIT" || fail "the unit does not load the servers credential"
grep -q "^StateDirectory=quillmoor$" "$UNIT" || fail "the unit has no state folder quillmoor"

# What systemd would give the service: %d its credentials folder, %S the
# state root; the folders belong to the service's user alone.
chmod 711 "$WORK"
CRED="$WORK/credentials"
STATE="$WORK/state"
mkdir -p "$CRED" "$STATE/quillmoor"
printf 'island 127.0.0.1:%s %s\n' "$PORT" "$PW" >"$CRED/servers"
chown -R nobody:nogroup "$CRED" "$STATE/quillmoor"
chmod 700 "$CRED" "$STATE/quillmoor"
chmod 400 "$CRED/servers"
command_line=$(echo "$exec_start" | sed -e "s|/usr/bin/quillmoor-watch|$WATCH|" \
  -e "s|%d|$CRED|g" -e "s|%S|$STATE|g" -e 's|--metrics [^ ]*|--metrics 0|')
read -ra args <<<"$command_line"

setpriv --reuid=nobody --regid=nogroup --clear-groups "${args[@]}" >"$WORK/watch.out" 2>&1 &
W_PID=$!
track "$W_PID"
listening() { grep -o 'metrics at http://127.0.0.1:[0-9]*/metrics' "$WORK/watch.out"; }
wait_for 200 listening || fail "the watcher does not say where its metrics are"
METRICS=$(listening | sed 's/^metrics at //')
up() { python3 "$API" get "$METRICS" 2>/dev/null | grep -q '^quillmoor_up{server="island"} 1'; }
wait_for 200 up || fail "island is not up in $METRICS"
row() { grep -qs ',island,[0-9][0-9]*,ok' "$STATE/quillmoor/watch.csv"; }
wait_for 200 row || fail "no CSV row in the state folder"

stop_process "$W_PID" TERM
expect_eq "$STATUS" 0 "the watcher's exit status after SIGTERM"
[ -s "$STATE/quillmoor/watch.svg" ] || fail "no chart in the state folder"
echo "unit command line: polled, served /metrics and wrote its state as nobody"

#!/usr/bin/env bash
# quillmoor-watch against dev servers started here: "alpha" is restarted in
# the middle of the run, "beta" runs throughout, and "gamma" is beta with a
# wrong password. Game time runs 600 times faster, so Auto-GC forces a
# collection every 1.5 s. Loopback only; every wait is bounded.
# Usage: watch_e2e.sh WATCH DEVSERVER PLUGIN
set -euo pipefail

WATCH=$1
DEVSERVER=$2
PLUGIN=$3
source "$(dirname "$0")/../support/e2e.sh" watch
PW="watch-pw"

SERVER=("$DEVSERVER" --plugin "$PLUGIN" --time-scale 600)

A_PORT=$(free_port)
B_PORT=$(free_port)
A_PID=$(start_in alpha "$A_PORT") || fail "alpha did not start"
track "$A_PID"
B_PID=$(start_in beta "$B_PORT") || fail "beta did not start"
track "$B_PID"

cat >"$WORK/servers" <<SERVERS
# name  address  password
alpha 127.0.0.1:$A_PORT $PW
beta  127.0.0.1:$B_PORT $PW

gamma 127.0.0.1:$B_PORT not-$PW
SERVERS

CSV="$WORK/counts.csv"
"$WATCH" --servers "$WORK/servers" --interval 0.2 --timeout 2 --force-gc-every 0.04 --csv "$CSV" \
  --plot "$WORK/chart.svg" --stats-log "beta=$WORK/beta/ArkApi/Plugins/Quillmoor/Quillmoor_stats.log" \
  >"$WORK/watch.out" 2>&1 &
W_PID=$!
track "$W_PID"

sleep 2
stop_process "$A_PID" TERM
sleep 1
A_PID=$(start_in alpha "$A_PORT" 1) || fail "alpha did not start again"
track "$A_PID"
alpha_back() {
  awk -F, '$2 == "alpha" && $4 == "down" { down = 1 } $2 == "alpha" && $4 == "ok" && down { back = 1 }
           END { exit !back }' "$CSV"
}
# Until the watcher has found alpha again (its back-off is short here).
wait_for 150 alpha_back || true
sleep 1
stop_process "$W_PID" INT
[ "$STATUS" -eq 1 ] || fail "exit status $STATUS after a refused password; expected 1"
grep -q "gamma (127.0.0.1:$B_PORT): password refused; it is no longer polled" "$WORK/watch.out" ||
  fail "no report of the refused password"
[ "$(grep -c "password refused" "$WORK/watch.out")" -eq 2 ] ||
  fail "the refused password is not reported exactly once as a row and once as a message"

grep -q "GC forced. Trigger: rcon" "$WORK/beta/ArkApi/Plugins/Quillmoor/Quillmoor_stats.log" ||
  fail "the force-GC command did not reach beta"

# A second run appends to the same file without a second header.
QUILLMOOR_RCON_PASSWORD="$PW" "$WATCH" --server "beta=127.0.0.1:$B_PORT" --interval 0.2 \
  --duration 1 --csv "$CSV" >"$WORK/second.out" 2>&1 || fail "the second run failed"

python3 - "$CSV" "$WORK/chart.svg" <<'PY' || fail "CSV or chart"
import csv, re, sys
import xml.etree.ElementTree as ET

lines = open(sys.argv[1], newline="").read().split("\n")
assert lines[0] == "timestamp,server,objects,status", lines[0]
assert lines[-1] == "", "the last row is not ended"
assert lines.count(lines[0]) == 1, "header written twice"
rows = list(csv.DictReader(lines[:-1]))
by = {}
for r in rows:
    assert re.fullmatch(r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z", r["timestamp"]), r
    assert (r["objects"] != "") == (r["status"] == "ok"), r
    by.setdefault(r["server"], []).append(r)

# gamma: one refused login, then never asked again.
assert [r["status"] for r in by["gamma"]] == ["auth-failed"], by["gamma"]

# alpha: answered, was down while it restarted (never a count of 0), answered again.
states = [r["status"] for r in by["alpha"] if r["status"] != "forced-gc"]
collapsed = [s for i, s in enumerate(states) if i == 0 or states[i - 1] != s]
assert collapsed == ["ok", "down", "ok"], collapsed

# beta: answered every poll of both runs, and Auto-GC's drops are in its counts.
counts = [int(r["objects"]) for r in by["beta"] if r["status"] == "ok"]
forced = [r for r in by["beta"] if r["status"] == "forced-gc"]
assert len(counts) + len(forced) == len(by["beta"]) and len(counts) >= 20, len(counts)
# --force-gc-every 0.04 (2.4 s) over a run of several seconds.
assert len(forced) >= 1, forced
assert any(b < a for a, b in zip(counts, counts[1:])), "no forced collection seen"
assert all(c > 0 for c in counts)

# The chart: valid XML with one thick multi-point line colour per server that answered.
root = ET.parse(sys.argv[2]).getroot()
ns = "{http://www.w3.org/2000/svg}"
series = {p.get("stroke") for p in root.iter(ns + "polyline")
          if float(p.get("stroke-width")) == 2.0 and len(p.get("points").split()) > 2}
assert len(series) == 2, series
PY

# The chart again, from the CSV file, as PNG: a real image of the set size.
"$WATCH" plot "$CSV" --plot "$WORK/chart.png" >"$WORK/plot.out" 2>&1 || fail "plot from CSV"
python3 - "$WORK/chart.png" <<'PY' || fail "PNG"
import struct, sys
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR", data[:16]
w, h = struct.unpack(">II", data[16:24])
assert (w, h) == (1200, 640), (w, h)
assert len(data) > 20000, len(data)
PY

stop_process "$B_PID" TERM
stop_process "$A_PID" TERM
echo "PASS: watch_e2e"

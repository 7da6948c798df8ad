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
wait_for "$STALL_TENTHS" alpha_back || true
sleep 1
stop_process "$W_PID" INT
[ "$STATUS" -eq 1 ] || fail "exit status $STATUS after one refused password among others; expected 1"
grep -q "gamma (127.0.0.1:$B_PORT): password refused; it is no longer polled" "$WORK/watch.out" ||
  fail "no report of the refused password"
[ "$(grep -c "password refused" "$WORK/watch.out")" -eq 2 ] ||
  fail "the refused password is not reported exactly once as a row and once as a message"

grep -qF "$(formats_text kForcedCollectionPrefix)$(formats_text kRconTrigger)" \
  "$WORK/beta/ArkApi/Plugins/Quillmoor/$(formats_text kStatsLogFile)" ||
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

# Numbers must be finite: a usage error before anything is polled.
QUILLMOOR_RCON_PASSWORD="$PW" "$WATCH" --server "beta=127.0.0.1:$B_PORT" --interval nan \
  >"$WORK/nan.out" 2>&1 && STATUS=0 || STATUS=$?
[ "$STATUS" -eq 2 ] || fail "--interval nan: exit status $STATUS; expected 2"

# SIGHUP stops it like SIGTERM, and a reader that goes away costs the table,
# not the run: both still end with the chart.
QUILLMOOR_RCON_PASSWORD="$PW" "$WATCH" --server "beta=127.0.0.1:$B_PORT" --interval 0.2 \
  --plot "$WORK/hup.svg" >"$WORK/hup.out" 2>&1 &
H_PID=$!
track "$H_PID"
sleep 1
stop_process "$H_PID" HUP
[ "$STATUS" -eq 0 ] && [ -s "$WORK/hup.svg" ] || fail "SIGHUP: exit status $STATUS, or no chart"
set +o pipefail
QUILLMOOR_RCON_PASSWORD="$PW" "$WATCH" --server "beta=127.0.0.1:$B_PORT" --interval 0.1 \
  --duration 1.5 --plot "$WORK/pipe.svg" 2>"$WORK/pipe.out" | head -1 >/dev/null
STATUS=${PIPESTATUS[0]}
set -o pipefail
[ "$STATUS" -eq 0 ] && [ -s "$WORK/pipe.svg" ] || fail "closed stdout: exit status $STATUS, or no chart"

# At 80 columns the live table never wraps, with a long name and a long error.
python3 - "$WATCH" "$B_PORT" "$(free_port)" "$PW" <<'PY' || fail "the table is wider than 80 columns"
import fcntl, os, pty, re, struct, sys, termios, time
watch, port, closed, pw = sys.argv[1:]
pid, fd = pty.fork()
if pid == 0:
    os.environ["QUILLMOOR_RCON_PASSWORD"] = pw
    os.execv(watch, [watch, "--server", f"beta=127.0.0.1:{port}",
                     "--server", f"a-server-name-far-longer-than-a-column=127.0.0.1:{closed}",
                     "--interval", "0.2", "--duration", "2s"])
fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
out = b""
deadline = time.time() + 20
while time.time() < deadline:
    try:
        chunk = os.read(fd, 65536)
    except OSError:
        break
    if not chunk:
        break
    out += chunk
os.waitpid(pid, 0)
text = re.sub(r"\x1b\[[0-9;]*[A-Za-z]", "", out.decode("utf-8")).replace("\r", "")
lines = text.split("\n")
assert any("Connection refused" in l for l in lines), text
assert any("a-server-name" in l and "\u2026" in l for l in lines), text
wide = [l for l in lines if len(l) > 79]
assert not wide, wide
PY

# A chart that cannot be written keeps the previous one and fails the run;
# no scratch file is left behind.
cp "$WORK/chart.png" "$WORK/chart.before"
(ulimit -f 8 && exec "$WATCH" plot "$CSV" --plot "$WORK/chart.png") >"$WORK/limit.out" 2>&1 &&
  STATUS=0 || STATUS=$?
[ "$STATUS" -eq 1 ] || fail "chart over the size limit: exit status $STATUS; expected 1"
cmp -s "$WORK/chart.png" "$WORK/chart.before" || fail "the previous chart was changed"
! ls "$WORK"/.quillmoor-watch-* >/dev/null 2>&1 || fail "a scratch file was left behind"

# A row cut short (a full disk) costs that row, not the chart; two runs never
# share a line.
{ cat "$CSV"; printf '2026-12-07T17:04:34.250Z,beta,12'; } >"$WORK/cut.csv"
"$WATCH" plot "$WORK/cut.csv" --plot "$WORK/cut.svg" >"$WORK/cut.out" 2>&1 || fail "plot with a cut row"
grep -q "skipped 1 line that is not a row" "$WORK/cut.out" || fail "the skipped row is not reported"
python3 - "$WORK/cut.svg" <<'PY' || fail "beta's runs are joined"
import sys
import xml.etree.ElementTree as ET
ns = "{http://www.w3.org/2000/svg}"
lines = {}
for p in ET.parse(sys.argv[1]).getroot().iter(ns + "polyline"):
    if p.get("stroke-width") == "2" and len(p.get("points").split()) > 2:
        lines.setdefault(p.get("stroke"), []).append(p)
assert sorted(len(v) >= 2 for v in lines.values()) == [True, True], lines
PY

stop_process "$B_PID" TERM
stop_process "$A_PID" TERM
echo "PASS: watch_e2e"

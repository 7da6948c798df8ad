#!/usr/bin/env bash
# The Windows dev server under Wine, in a server directory with a space and a
# letter outside ASCII, answering rconclt that runs on Linux; then the files
# it wrote as a Windows server writes them: the two documents with CR LF
# line ends and statistics lines ending in exactly one CR LF. Ctrl-C, which
# Wine turns SIGINT into, stops it cleanly.
# Usage: devserver_e2e.sh DEVSERVER.exe GOLDEN_DIR EMULATOR PREFIX
set -euo pipefail

DEVSERVER=$1
GOLDEN=$2
EMULATOR=$3
PREFIX=$4

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmoor-wine-e2e-XXXXXX")
SERVER_DIR="$WORK/Données/My Server"
PLUGIN_DIR="$SERVER_DIR/ArkApi/Plugins/Quillmoor"
OUT="$WORK/out.log"
PW="wine-e2e"
PID=""
mkdir -p "$SERVER_DIR"

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

rc() {
  timeout 15 rconclt -t 5 "$PW@127.0.0.1:$PORT" "$@"
}

expect_eq() {
  [ "$1" == "$2" ] || fail "$3: expected [$2], got [$1]"
}

# The Windows program gets the folder as Windows names it (Z:\...).
export LC_ALL=C.UTF-8
WIN_DIR=$(WINEPREFIX="$PREFIX" WINEDEBUG=-all winepath -w "$SERVER_DIR")
case "$WIN_DIR" in *'Données\My Server') ;; *) fail "winepath gave [$WIN_DIR]" ;; esac

started=""
for attempt in 1 2 3; do
  PORT=$(free_port)
  "$EMULATOR" "$PREFIX" "$DEVSERVER" --server-dir "$WIN_DIR" --rcon-port "$PORT" \
    --rcon-password "$PW" --objects 123456 --object-churn 0 >"$OUT" 2>&1 &
  PID=$!
  for i in $(seq 1 300); do
    grep -qs "RCON listening on 127.0.0.1:$PORT" "$OUT" && started=yes && break 2
    kill -0 "$PID" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$PID" 2>/dev/null || true
  wait "$PID" 2>/dev/null || true
  PID=""
done
[ -n "$started" ] || fail "the dev server did not start"

expect_eq "$(rc GetServerStats)" \
  '{"cmd":"GetServerStats","data":{"uobjects":123456},"status":"success"}' "GetServerStats"
expect_eq "$(rc ForceGC)" \
  '{"cmd":"ForceGC","message":"Garbage collection forced successfully","status":"success"}' "ForceGC"
expect_eq "$(rc getserverstats)" \
  '{"cmd":"GetServerStats","data":{"uobjects":123456},"status":"success"}' "lower-case command"
expect_eq "$(rc NoSuchCommand)" "Unknown command: NoSuchCommand" "unknown command"

# Ctrl-C: Wine delivers SIGINT to the console handlers as CTRL_C_EVENT.
kill -INT "$PID"
for i in $(seq 1 150); do
  kill -0 "$PID" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$PID" 2>/dev/null && fail "the dev server did not stop within 15 s of Ctrl-C"
status=0
wait "$PID" || status=$?
PID=""
expect_eq "$status" 0 "exit status after Ctrl-C"
grep -q "Dev server stopping" "$OUT" || fail "no stop line"
grep -q "\[Quillmoor\] Plugin unloaded." "$OUT" || fail "the plugin was not unloaded"

# The golden files with each line feed as CR LF.
for doc in PluginConfig.json PluginConfig.guide.json; do
  python3 - "$GOLDEN/$doc" "$PLUGIN_DIR/$doc" <<'PY' || fail "$doc is not the golden file with CR LF"
import sys
golden = open(sys.argv[1], "rb").read().replace(b"\n", b"\r\n")
written = open(sys.argv[2], "rb").read()
sys.exit(0 if golden == written else 1)
PY
done

python3 - "$PLUGIN_DIR/Quillmoor_stats.log" <<'PY' || fail "statistics lines do not end in one CR LF"
import re, sys
data = open(sys.argv[1], "rb").read()
lines = data.split(b"\r\n")
assert lines[-1] == b"", "the log does not end in CR LF"
assert len(lines) == 2, f"expected one line, got {lines!r}"
assert re.fullmatch(rb"\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] GC forced\. Trigger: rcon", lines[0]), lines[0]
assert b"\r" not in lines[0] and b"\n" not in lines[0]
PY
echo "PASS: dev server under Wine in $WIN_DIR"

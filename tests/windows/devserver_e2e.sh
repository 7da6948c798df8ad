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

source "$(dirname "$0")/../support/e2e.sh" wine-e2e
SERVER_DIR="$WORK/Données/My Server"
PLUGIN_DIR="$SERVER_DIR/ArkApi/Plugins/Quillmoor"
PW="wine-e2e"
mkdir -p "$SERVER_DIR"

# The Windows program gets the folder as Windows names it (Z:\...).
export LC_ALL=C.UTF-8
WIN_DIR=$(WINEPREFIX="$PREFIX" WINEDEBUG=-all winepath -w "$SERVER_DIR")
case "$WIN_DIR" in *'Données\My Server') ;; *) fail "winepath gave [$WIN_DIR]" ;; esac

SERVER=("$EMULATOR" "$PREFIX" "$DEVSERVER" --server-dir "$WIN_DIR")
start_server --objects 123456 --object-churn 0

expect_eq "$(rc GetServerStats)" \
  '{"cmd":"GetServerStats","data":{"uobjects":123456},"status":"success"}' "GetServerStats"
expect_eq "$(rc ForceGC)" \
  '{"cmd":"ForceGC","message":"Garbage collection forced successfully","status":"success"}' "ForceGC"
expect_eq "$(rc getserverstats)" \
  '{"cmd":"GetServerStats","data":{"uobjects":123456},"status":"success"}' "lower-case command"
expect_eq "$(rc NoSuchCommand)" "Unknown command: NoSuchCommand" "unknown command"

# Ctrl-C: Wine delivers SIGINT to the console handlers as CTRL_C_EVENT.
stop_server INT
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

#!/usr/bin/env bash
# End-to-end scenarios: the dev server as a process, the plugin installed and
# loaded by it, and Debian's rconclt as the operator's client.
# Usage: rcon_e2e.sh SCENARIO DEVSERVER PLUGIN
set -euo pipefail

SCENARIO=$1
DEVSERVER=$2
PLUGIN=$3
source "$(dirname "$0")/lib.sh"

STATS=$(formats_text kStatsCommand)
FORCE_GC=$(formats_text kForceGcCommand)
OBJECTS_KEY=$(formats_text kObjectCountKey)
FORCED="{\"cmd\":\"$FORCE_GC\",\"message\":\"Garbage collection forced successfully\",\"status\":\"success\"}"

get_server_stats_reply() {
  # No churn: the count stays at --objects, so the reply can be known.
  start_server --objects 123456 --object-churn 0
  rc "$STATS" >"$WORK/reply" || fail "rconclt $STATS failed"
  printf '{"cmd":"%s","data":{"%s":123456},"status":"success"}\n' "$STATS" "$OBJECTS_KEY" \
    >"$WORK/expected"
  cmp "$WORK/reply" "$WORK/expected" || fail "$STATS reply: $(cat "$WORK/reply")"
  expect_eq "$(status_value Objects)" 123456 "object count in status"
  # Command names are matched without regard to case.
  expect_eq "$(rc "${STATS,,}")" "$(cat "$WORK/expected")" "lower-case command"
  stop_server
}

force_gc_reply_and_drop() {
  start_server --objects 100000 --object-churn 200000
  # No automatic purge runs in the first 20 game seconds: the garbage of two
  # seconds dwarfs what is created between the two requests below.
  wait_for_game_time 2
  local before after
  before=$(rc "$STATS" | sed -n "s/.*\"$OBJECTS_KEY\":\([0-9]*\).*/\1/p")
  rc "$FORCE_GC" >"$WORK/reply" || fail "rconclt $FORCE_GC failed"
  printf '%s\n' "$FORCED" >"$WORK/expected"
  cmp "$WORK/reply" "$WORK/expected" || fail "$FORCE_GC reply: $(cat "$WORK/reply")"
  after=$(rc "$STATS" | sed -n "s/.*\"$OBJECTS_KEY\":\([0-9]*\).*/\1/p")
  [ -n "$before" ] && [ -n "$after" ] || fail "no object counts ($before, $after)"
  [ "$after" -lt "$before" ] || fail "object count did not drop: $before before, $after after"
  expect_eq "$(status_value "Forced collections")" 1 "forced collections"
  grep -qF "$(formats_text kForcedCollectionPrefix)$(formats_text kRconTrigger)" "$(stats_log)" ||
    fail "no statistics line for the collection"
  stop_server
}

wrong_password() {
  start_server
  local status=0
  timeout 15 rconclt -t 5 "not-$PW@127.0.0.1:$PORT" "$STATS" >/dev/null 2>&1 || status=$?
  expect_eq "$status" 5 "rconclt exit status for a wrong password"
  grep -q "wrong password (1 of 3)" "$OUT" || fail "no host log line for the wrong password"
  # One wrong password blocks nothing.
  rc "$STATS" | grep -q '"status":"success"' || fail "right password refused afterwards"
  stop_server
}

renamed_force_gc() {
  # A first start writes the current document; the operator edits one value.
  timeout 20 "$DEVSERVER" --server-dir "$SERVER_DIR" --plugin "$PLUGIN" --rcon-port 0 \
    --run-for 0.2 >"$OUT" 2>&1 || fail "the first start failed"
  local config="$SERVER_DIR/ArkApi/Plugins/Quillmoor/PluginConfig.json"
  [ -f "$config" ] || fail "the plugin wrote no PluginConfig.json"
  python3 - "$config" <<'PY' || fail "PluginConfig.json has no ConfigVersion 3 or no Rcon section"
import json, sys
path = sys.argv[1]
with open(path) as f:
    config = json.load(f)
assert config["ConfigVersion"] == 3
config["Rcon"]["CommandName"] = "CleanUp"
with open(path, "w") as f:
    json.dump(config, f, indent=2)
PY
  start_server
  grep -q "\[Quillmoor\] RCON command 'CleanUp' registered." "$OUT" ||
    fail "the renamed command was not registered"
  expect_eq "$(rc CleanUp)" "$FORCED" "reply of the renamed command"
  expect_eq "$(rc cleanup)" "$FORCED" "reply of the renamed command in lower case"
  expect_eq "$(rc "$FORCE_GC")" "Unknown command: $FORCE_GC" "reply of the old name"
  expect_eq "$(status_value "Forced collections")" 2 "forced collections"
  stop_server
}

reload_without_leaked_timer() {
  # 300 game seconds per real second: the structure timer fires every second.
  start_server --time-scale 300 --object-churn 0 --structures 200
  expect_eq "$(rc plugins.unload Quillmoor)" "Successfully unloaded plugin Quillmoor" "unload"
  expect_eq "$(rc "$STATS")" "Unknown command: $STATS" "command after unload"
  expect_eq "$(rc plugins.load Quillmoor)" "Successfully loaded plugin Quillmoor" "load"
  # Each count is read between two readings of the game clock, so that a
  # slow reply widens the range of passes expected instead of failing.
  local t1a t1b t2a t2b n1 n2 passes low high
  t1a=$(status_value "Game time")
  n1=$(count_lines "StructureNetFreq: Applied" "$(stats_log)")
  t1b=$(status_value "Game time")
  # Six periods of the timer, however long the machine takes to run them.
  wait_for_game_time "$(awk -v t="$t1b" 'BEGIN { print t + 1800 }')"
  t2a=$(status_value "Game time")
  n2=$(count_lines "StructureNetFreq: Applied" "$(stats_log)")
  t2b=$(status_value "Game time")
  passes=$((n2 - n1))
  low=$(awk -v a="$t1b" -v b="$t2a" 'BEGIN { printf "%d", (b - a) / 300 - 1 }')
  high=$(awk -v a="$t1a" -v b="$t2b" 'BEGIN { printf "%d", (b - a) / 300 + 2 }')
  # A timer left behind by the first load would double the passes.
  [ "$passes" -ge "$low" ] && [ "$passes" -le "$high" ] && [ "$passes" -lt $((2 * low)) ] ||
    fail "$passes structure passes in $t1a..$t2b s of game time; expected $low..$high (one per 300 s)"
  expect_eq "$(count_lines "\[Quillmoor\] Plugin initialized." "$OUT")" 2 "plugin starts"
  stop_server
}

clean_stop() {
  local signal=$1
  start_server
  rc "$STATS" >/dev/null
  # A client that stays connected must not hold the stop up.
  exec 3<>"/dev/tcp/127.0.0.1/$PORT"
  stop_server "$signal"
  exec 3>&-
  grep -q "Dev server stopping" "$OUT" || fail "no stop line"
  expect_eq "$(grep "\[Quillmoor\]\[" "$OUT" | tail -n 1 | sed 's/.*\]\[[a-z]*\] //')" \
    "[Quillmoor] Plugin unloaded." "last plugin line"
  grep -q "Dev server stopping (SIG$signal)" "$(host_log)" || fail "no stop line in ArkApi.log"
  expect_eq "$(grep "\[Quillmoor\]\[" "$(host_log)" | tail -n 1 | sed 's/.*\]\[[a-z]*\] //')" \
    "[Quillmoor] Plugin unloaded." "last plugin line in ArkApi.log"
}

closed_stdout_keeps_running() {
  # As `quillmoor-devserver ... | head -1`: the reader goes away after the
  # first line and every later write to standard output fails.
  mkfifo "$WORK/stdout"
  head -n 1 <"$WORK/stdout" >"$WORK/first" &
  local head_pid=$! i
  PORT=$(free_port)
  "$DEVSERVER" --server-dir "$SERVER_DIR" --plugin "$PLUGIN" --rcon-port "$PORT" \
    --rcon-password "$PW" >"$WORK/stdout" 2>"$OUT" &
  PID=$!
  wait "$head_pid" || true
  [ -s "$WORK/first" ] || fail "nothing reached standard output"
  wait_listening "$PID" "$(host_log)" "$PORT" "$START_TENTHS" ||
    fail "the dev server did not listen with its standard output closed"
  # Each of these writes lines to the closed standard output.
  for i in 1 2 3; do
    rc "$STATS" | grep -q '"status":"success"' || fail "no reply with standard output closed"
  done
  kill -0 "$PID" 2>/dev/null || fail "the dev server died with its standard output closed"
  stop_server INT
  expect_eq "$(grep "\[Quillmoor\]\[" "$(host_log)" | tail -n 1 | sed 's/.*\]\[[a-z]*\] //')" \
    "[Quillmoor] Plugin unloaded." "last plugin line in ArkApi.log"
}

command_text_logged_on_one_line() {
  start_server
  churn 1 "$PW" $'Forged\n01/01/26 00:00 [Quillmoor][info] [Quillmoor] Plugin unloaded.\x1b[2J\xff'
  local log
  log=$(host_log)
  grep -qF 'Forged\n01/01/26 00:00 [Quillmoor][info] [Quillmoor] Plugin unloaded.\x1b[2J\xff' \
    "$log" || fail "the command is not in ArkApi.log with its escapes"
  # Every line starts with a pattern's date and time: none was forged. The
  # host's own lines have ISO 8601 time stamps, the plugin's its own pattern.
  local iso='[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2}'
  local short='[0-9]{2}/[0-9]{2}/[0-9]{2} [0-9]{2}:[0-9]{2}'
  if grep -vqE "^($iso|$short) \[" "$log"; then
    fail "a line without the pattern: $(grep -vE "^($iso|$short) \[" "$log" | head -n 1)"
  fi
  if grep '\[AsaApi\]' "$log" | grep -vqE "^$iso \["; then
    fail "a host line without ISO 8601 time: $(grep '\[AsaApi\]' "$log" | grep -vE "^$iso" | head -n 1)"
  fi
  grep -q $'\x1b' "$log" && fail "an ESC byte reached ArkApi.log"
  python3 -c 'import sys; open(sys.argv[1], encoding="utf-8").read()' "$log" ||
    fail "ArkApi.log is not valid UTF-8"
  stop_server
}

memory_flat_under_connection_churn() {
  # ASan keeps freed memory in quarantine: let it hand memory back at once,
  # so that only what is still held counts.
  export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0"
  start_server --object-churn 0
  # Warm-up: the allocator's arenas, asio's caches, the log files' buffers.
  churn 2000
  churn 50 "$PW" "$STATS"
  local before after
  before=$(rss_kb)
  # A scanner that never logs in, then a monitoring tool polling (each of its
  # commands waits for a game frame, hence fewer).
  churn 20000
  churn 500 "$PW" "$STATS"
  after=$(rss_kb)
  echo "VmRSS: $before kB after the warm-up, $after kB after 20500 more connections"
  # Keeping every line cost about 11 MB here; ASan's allocator drifts by about 1.
  [ "$after" -le $((before + 4096)) ] ||
    fail "resident memory grew from $before kB to $after kB over 20500 connections"
  stop_server
}

host_log_rotates_at_the_configured_size() {
  # 0.01 MiB: 10486 bytes.
  start_server --log-max-size 0.01 --log-max-files 2
  # Logged-in commands: connect and close lines are only counted beyond the
  # first few.
  churn -j 4 400 "$PW" status
  local dir name size
  dir=$(dirname "$(host_log)")
  for name in ArkApi.log ArkApi.1.log ArkApi.2.log; do
    [ -f "$dir/$name" ] || fail "no $name after 400 connections: $(ls "$dir")"
    size=$(stat -c %s "$dir/$name")
    [ "$size" -le 10486 ] || fail "$name holds $size bytes, more than 10486"
  done
  [ -e "$dir/ArkApi.3.log" ] && fail "a third rotated log was kept"
  stop_server
  grep -q "\[Quillmoor\] Plugin unloaded." "$(host_log)" || fail "the last lines went elsewhere"
}

stdout_never_read_blocks_nothing() {
  # A reader that holds the pipe open and never reads from it.
  mkfifo "$WORK/stdout"
  sleep 300 <"$WORK/stdout" &
  local reader=$!
  track "$reader"
  PORT=$(free_port)
  "${SERVER[@]}" --rcon-port "$PORT" --rcon-password "$PW" >"$WORK/stdout" 2>"$OUT" &
  PID=$!
  wait_listening "$PID" "$(host_log)" "$PORT" "$START_TENTHS" || fail "the dev server did not start"
  # About 500 bytes of host log each: several times what the pipe and the
  # sink's queue hold together.
  churn -j 4 1000 "$PW" "NoSuchCommand $(printf 'x%.0s' $(seq 1 200))"
  for i in 1 2 3; do
    rc "$STATS" | grep -q '"status":"success"' || fail "no reply with standard output unread"
  done
  grep -q "Standard output is not being read" "$(host_log)" ||
    fail "no host log line about the dropped output"
  stop_server TERM
  kill "$reader"
  expect_eq "$(grep "\[Quillmoor\]\[" "$(host_log)" | tail -n 1 | sed 's/.*\]\[[a-z]*\] //')" \
    "[Quillmoor] Plugin unloaded." "last plugin line in ArkApi.log"
}

stdout_full_from_the_start() {
  # A pipe already full when the server starts, its reader never reading:
  # the start-up lines, the banner included, must not stop the game thread.
  mkfifo "$WORK/stdout"
  exec 7<>"$WORK/stdout"
  python3 -c '
import os
os.set_blocking(7, False)
try:
    while True:
        os.write(7, b"x" * 4096)
except BlockingIOError:
    pass
'
  PORT=$(free_port)
  "${SERVER[@]}" --rcon-port "$PORT" --rcon-password "$PW" >&7 2>"$OUT" &
  PID=$!
  wait_listening "$PID" "$(host_log)" "$PORT" "$START_TENTHS" || fail "the dev server did not start"
  for i in 1 2 3; do
    rc "$STATS" | grep -q '"status":"success"' || fail "no reply with standard output full"
  done
  wait_for_game_time 1
  stop_server TERM 30
  exec 7>&-
}

failed_install_leaves_nothing_behind() {
  # A server folder on a file system too small for the library.
  mkdir -p "$WORK/small"
  if ! mount -t tmpfs -o size=64k tmpfs "$WORK/small" 2>/dev/null; then
    echo "SKIP: cannot mount a tmpfs here"
    return 0
  fi
  local status=0
  timeout 20 "$DEVSERVER" --server-dir "$WORK/small" --plugin "$PLUGIN" --rcon-port 0 \
    --run-for 0.2 >"$WORK/install.out" 2>&1 || status=$?
  local left
  left=$(find "$WORK/small" -name '*.new')
  umount "$WORK/small"
  expect_eq "$status" 1 "exit status of a failed install"
  grep -q "cannot install the plugin" "$WORK/install.out" || fail "no reason given"
  expect_eq "$left" "" "files left behind"
}

wrong_password_flood_leaves_the_start_up() {
  start_server --log-max-size 1 --log-max-files 1
  # Each guess from an address of its own (127.1.0.1 onwards), one
  # connection each, waiting for the refusal before the next.
  python3 - "$PORT" 20000 <<'PY' || fail "the guesses did not all get their refusal"
import socket, struct, sys
port, count = int(sys.argv[1]), int(sys.argv[2])
def packet(pid, ptype, body):
    data = struct.pack("<ii", pid, ptype) + body + b"\0\0"
    return struct.pack("<i", len(data)) + data
for i in range(count):
    source = "127.1.%d.%d" % (i // 250, 1 + i % 250)
    with socket.create_connection(("127.0.0.1", port), timeout=20, source_address=(source, 0)) as s:
        s.sendall(packet(1, 3, b"not-the-password"))
        header = b""
        while len(header) < 8:
            chunk = s.recv(8 - len(header))
            if not chunk:
                sys.exit("closed before the refusal from " + source)
            header += chunk
        if struct.unpack("<ii", header)[1] != -1:
            sys.exit("a wrong password was taken from " + source)
PY
  rc "$STATS" | grep -q '"status":"success"' || fail "the operator's command failed"
  stop_server
  local log
  log=$(host_log)
  grep -q "Dev server starting in" "$log" || fail "the start-up line is gone"
  grep -q "\[Quillmoor\] Plugin initialized." "$log" || fail "the plugin's start-up is gone"
  grep -q "more wrong passwords from" "$log" || fail "no summary of the wrong passwords"
}

connection_flood_leaves_the_start_up() {
  start_server
  churn -j 2 100000
  stop_server
  local log dir
  log=$(host_log)
  dir=$(dirname "$log")
  grep -q "Dev server starting in" "$log" || fail "the start-up line is gone"
  grep -q "\[Quillmoor\] Plugin initialized." "$log" || fail "the plugin's start-up is gone"
  grep -q "more connections from 127.0.0.1 in the last" "$log" || fail "no summary line"
  [ -e "$dir/ArkApi.1.log" ] && fail "100000 connections rotated the host log"
  echo "host log after 100000 connections: $(stat -c %s "$log") bytes"
}

run_for_stops_by_itself() {
  local status=0
  timeout 20 "$DEVSERVER" --server-dir "$SERVER_DIR" --plugin "$PLUGIN" --rcon-port 0 \
    --run-for 1 >"$OUT" 2>&1 || status=$?
  expect_eq "$status" 0 "exit status after --run-for"
  grep -q "RCON is off" "$OUT" || fail "--rcon-port 0 did not turn RCON off"
  expect_eq "$(grep "\[Quillmoor\]\[" "$OUT" | tail -n 1 | sed 's/.*\]\[[a-z]*\] //')" \
    "[Quillmoor] Plugin unloaded." "last plugin line"
}

printed_command_line_connects() {
  # No --rcon-password: the server makes one up and says how to connect.
  PORT=$(free_port)
  # The background shell opens the output file when it gets to it: made here,
  # the first look for the line finds it empty rather than missing.
  : >"$OUT"
  "$DEVSERVER" --server-dir "$SERVER_DIR" --plugin "$PLUGIN" --rcon-port "$PORT" >"$OUT" 2>&1 &
  PID=$!
  local i line
  for ((i = 0; i < START_TENTHS; i++)); do
    line=$(sed -n 's/^Connect with: //p' "$OUT")
    [ -n "$line" ] && break
    kill -0 "$PID" 2>/dev/null || fail "the dev server did not start"
    sleep 0.1
  done
  [ -n "$line" ] || fail "no 'Connect with:' line"
  grep -q "^RCON password: [A-Za-z0-9]\{16\} (generated" "$OUT" || fail "no generated password"
  grep -q "RCON password" "$SERVER_DIR/ArkApi/Logs/ArkApi.log" && fail "the password is in the log file"
  timeout $((STALL_TENTHS / 10)) bash -c "$line" | grep -q "\"cmd\":\"$STATS\".*\"status\":\"success\"" ||
    fail "the printed command line: $line"
  stop_server TERM
}

missing_server_dir_is_created() {
  local status=0 fresh="$WORK/fresh/island"
  timeout 20 "$DEVSERVER" --server-dir "$fresh" --plugin "$PLUGIN" --rcon-port 0 \
    --run-for 500ms >"$OUT" 2>&1 || status=$?
  expect_eq "$status" 0 "exit status in a missing server directory"
  [ -f "$fresh/ArkApi/Plugins/Quillmoor/PluginConfig.json" ] || fail "no config in $fresh"
  grep -q "Created the server directory" "$fresh/ArkApi/Logs/ArkApi.log" || fail "creation not logged"
  touch "$WORK/a-file"
  status=0
  timeout 20 "$DEVSERVER" --server-dir "$WORK/a-file" --plugin "$PLUGIN" --rcon-port 0 \
    --run-for 500ms >"$OUT" 2>&1 || status=$?
  expect_eq "$status" 2 "exit status for a file as server directory"
  grep -q "a-file\" is not a directory" "$OUT" || fail "no reason given: $(cat "$OUT")"
}

refused_start() {
  local status=0
  timeout 20 "$DEVSERVER" --server-dir "$SERVER_DIR" --plugin "$PLUGIN" --rcon-password "" \
    >"$OUT" 2>&1 || status=$?
  expect_eq "$status" 2 "exit status for an empty password"
  start_server
  status=0
  timeout 20 "$DEVSERVER" --server-dir "$WORK" --plugin "$PLUGIN" --rcon-port "$PORT" \
    --rcon-password "$PW" >"$WORK/second.log" 2>&1 || status=$?
  expect_eq "$status" 1 "exit status when the RCON port is taken"
  grep -q "Cannot start RCON: cannot listen on 127.0.0.1:$PORT" "$WORK/second.log" ||
    fail "no reason given for the taken port: $(cat "$WORK/second.log")"
  rc "$STATS" | grep -q '"status":"success"' || fail "the first server stopped answering"
  stop_server
}

case "$SCENARIO" in
  get_server_stats_reply) get_server_stats_reply ;;
  force_gc_reply_and_drop) force_gc_reply_and_drop ;;
  wrong_password) wrong_password ;;
  renamed_force_gc) renamed_force_gc ;;
  reload_without_leaked_timer) reload_without_leaked_timer ;;
  clean_stop_sigint) clean_stop INT ;;
  clean_stop_sigterm) clean_stop TERM ;;
  clean_stop_sighup) clean_stop HUP ;;
  closed_stdout_keeps_running) closed_stdout_keeps_running ;;
  command_text_logged_on_one_line) command_text_logged_on_one_line ;;
  memory_flat_under_connection_churn) memory_flat_under_connection_churn ;;
  host_log_rotates_at_the_configured_size) host_log_rotates_at_the_configured_size ;;
  run_for_stops_by_itself) run_for_stops_by_itself ;;
  stdout_never_read_blocks_nothing) stdout_never_read_blocks_nothing ;;
  stdout_full_from_the_start) stdout_full_from_the_start ;;
  failed_install_leaves_nothing_behind) failed_install_leaves_nothing_behind ;;
  connection_flood_leaves_the_start_up) connection_flood_leaves_the_start_up ;;
  wrong_password_flood_leaves_the_start_up) wrong_password_flood_leaves_the_start_up ;;
  printed_command_line_connects) printed_command_line_connects ;;
  refused_start) refused_start ;;
  missing_server_dir_is_created) missing_server_dir_is_created ;;
  *) echo "unknown scenario: $SCENARIO" >&2; exit 2 ;;
esac
echo "PASS: $SCENARIO"

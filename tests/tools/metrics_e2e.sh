#!/usr/bin/env bash
# quillmoor-watch --metrics scraped by a real Prometheus (Debian's), started
# here on a free loopback port with its own configuration and data folder,
# scraping every second and evaluating the shipped alert rules. Two dev
# servers; alpha is stopped and started again. Game time runs 600 times
# faster, so Auto-GC forces a collection every 1.5 s and the structure pass
# runs every 0.5 s. Loopback only; every wait is bounded.
# Usage: metrics_e2e.sh WATCH DEVSERVER PLUGIN DEPLOY_DIR
set -euo pipefail

WATCH=$1
DEVSERVER=$2
PLUGIN=$3
DEPLOY=$4
PROMETHEUS=${PROMETHEUS:-prometheus}
PROMTOOL=${PROMTOOL:-promtool}
API="$(dirname "$0")/prometheus_api.py"
source "$(dirname "$0")/../support/e2e.sh" metrics
PW="metrics-pw"

SERVER=("$DEVSERVER" --plugin "$PLUGIN" --time-scale 600 --structures 40)
stats_log() {
  echo "$WORK/$1/ArkApi/Plugins/Quillmoor/Quillmoor_stats.log"
}
auto_gcs() {
  grep -cF "$(formats_text kForcedCollectionPrefix)$(formats_text kAutoTimerTrigger)" \
    "$(stats_log "$1")" || true
}

A_PORT=$(free_port)
B_PORT=$(free_port)
A_PID=$(start_in alpha "$A_PORT") || fail "alpha did not start"
track "$A_PID"
B_PID=$(start_in beta "$B_PORT") || fail "beta did not start"
track "$B_PID"

# Lines written before the watcher starts must not count.
two_before() { [ "$(auto_gcs beta)" -ge 2 ]; }
wait_for "$STALL_TENTHS" two_before || fail "beta wrote no Auto-GC lines"
BEFORE=$(auto_gcs beta)

CSV="$WORK/counts.csv"
QUILLMOOR_RCON_PASSWORD="$PW" "$WATCH" --server "alpha=127.0.0.1:$A_PORT" \
  --server "beta=127.0.0.1:$B_PORT" --interval 0.2 --timeout 2 --quiet --metrics 0 --csv "$CSV" \
  --stats-log "alpha=$(stats_log alpha)" --stats-log "beta=$(stats_log beta)" \
  >"$WORK/watch.out" 2>&1 &
W_PID=$!
track "$W_PID"
listening() { grep -o 'metrics at http://127.0.0.1:[0-9]*/metrics' "$WORK/watch.out"; }
wait_for "$STALL_TENTHS" listening || fail "the watcher does not say where its metrics are"
METRICS=$(listening | sed 's/^metrics at //')
M_PORT=$(echo "$METRICS" | sed 's|.*:\([0-9]*\)/metrics|\1|')

# The port taken: usage error before polling and before any file is touched.
STATUS=0
QUILLMOOR_RCON_PASSWORD="$PW" "$WATCH" --server "alpha=127.0.0.1:$A_PORT" \
  --metrics "$M_PORT" --csv "$WORK/second.csv" >"$WORK/second.out" 2>&1 || STATUS=$?
expect_eq "$STATUS" 2 "exit status with the metrics port in use"
grep -q "cannot listen on 127.0.0.1:$M_PORT: Address already in use" "$WORK/second.out" ||
  fail "no reason given for the port in use"
[ ! -e "$WORK/second.csv" ] || fail "the CSV file was created although the run could not start"

# Prometheus on a free port with the shipped rules; another try when the
# port was taken in between.
cat >"$WORK/prometheus.yml" <<YAML
global:
  scrape_interval: 1s
  evaluation_interval: 1s
rule_files:
  - $DEPLOY/prometheus/quillmoor-alerts.yml
scrape_configs:
  - job_name: quillmoor-watch
    static_configs:
      - targets: ["127.0.0.1:$M_PORT"]
YAML
prom_ready() { python3 "$API" get "$PROM/-/ready" >/dev/null 2>&1; }
for attempt in 1 2 3 4 5; do
  P_PORT=$(free_port)
  PROM="http://127.0.0.1:$P_PORT"
  "$PROMETHEUS" --config.file="$WORK/prometheus.yml" --storage.tsdb.path="$WORK/tsdb" \
    --web.listen-address="127.0.0.1:$P_PORT" >"$WORK/prometheus.out" 2>&1 &
  P_PID=$!
  track "$P_PID"
  wait_for "$STALL_TENTHS" prom_ready && break
  gone "$P_PID" || fail "Prometheus did not become ready"
  forget "$P_PID"
  [ "$attempt" -lt 5 ] || fail "Prometheus did not start"
done

q() { python3 "$API" query "$PROM" "$1"; }
# has EXPR: the instant query EXPR gives at least one sample.
has() { [ -n "$(q "$1")" ]; }

# Both servers' counts, as the CSV file recorded them; the log's lines.
wait_for "$STALL_TENTHS" has 'count(quillmoor_uobjects) == 2' || fail "Prometheus has no counts of both servers"
wait_for "$STALL_TENTHS" has 'quillmoor_gc_forced_total{server="beta",trigger="auto-timer"} > 0' ||
  fail "no forced collection from beta's statistics log"
wait_for "$STALL_TENTHS" has 'quillmoor_structures_found{server="beta"} == 40' || fail "no structure pass"
wait_for "$STALL_TENTHS" has 'quillmoor_gc_last_drop_objects{server="beta"}' || fail "no drop measured"
for s in alpha beta; do
  python3 "$API" csv-match "$PROM" "$CSV" "$s" || fail "$s: Prometheus and the CSV file differ"
done
python3 "$API" get "$METRICS" >"$WORK/scrape.txt" || fail "no scrape"
LINT=$("$PROMTOOL" check metrics <"$WORK/scrape.txt" 2>&1) || fail "promtool check metrics: $LINT"
expect_eq "$LINT" "" "promtool check metrics"

# alpha stopped: up 0, its count gone from the scrape (not 0, not stale), the
# down alert pending for it alone.
stop_process "$A_PID" TERM
wait_for "$STALL_TENTHS" has 'quillmoor_up{server="alpha"} == 0' || fail "alpha is not down in Prometheus"
wait_for "$STALL_TENTHS" has 'ALERTS{alertname="QuillmoorServerDown",server="alpha",alertstate="pending"}' ||
  fail "no pending down alert for alpha"
wait_for "$STALL_TENTHS" eval '! has "quillmoor_uobjects{server=\"alpha\"}"' ||
  fail "Prometheus still has a count of alpha: $(q 'quillmoor_uobjects{server="alpha"}')"
python3 "$API" get "$METRICS" >"$WORK/scrape.txt"
! grep -q 'quillmoor_uobjects{server="alpha"}' "$WORK/scrape.txt" || fail "a count of alpha while down"
has 'quillmoor_uobjects{server="beta"}' || fail "beta's count went with alpha's"
! has 'ALERTS{alertname="QuillmoorServerDown",server="beta"}' || fail "a down alert for beta"

# alpha back: found again by the watcher's back-off, counted again.
A_PID=$(start_in alpha "$A_PORT" 1) || fail "alpha did not start again"
track "$A_PID"
wait_for "$STALL_TENTHS" has 'quillmoor_up{server="alpha"} == 1 and on(server) quillmoor_uobjects{server="alpha"}' ||
  fail "alpha is not back in Prometheus"
python3 "$API" csv-match "$PROM" "$CSV" alpha || fail "alpha: Prometheus and the CSV file differ"

# Every rule evaluated without error, and every expression of the dashboard.
rules_ok() { python3 "$API" rules-ok "$PROM" >"$WORK/rules.txt"; }
wait_for "$STALL_TENTHS" rules_ok || fail "rules not evaluated cleanly: $(cat "$WORK/rules.txt")"
python3 "$API" dashboard "$PROM" "$DEPLOY/grafana/quillmoor.json" ||
  fail "dashboard expressions fail"

# With beta stopped its log ends; the watcher has read it all by the time
# beta shows down, and counted none of the lines written before it started.
stop_process "$B_PID" TERM
beta_down() { python3 "$API" get "$METRICS" | grep -q '^quillmoor_up{server="beta"} 0$'; }
wait_for "$STALL_TENTHS" beta_down || fail "beta is not down in the scrape"
COUNTED=$(python3 "$API" get "$METRICS" |
  sed -n 's/^quillmoor_gc_forced_total{server="beta",trigger="auto-timer"} //p')
IN_LOG=$(auto_gcs beta)
[ "$COUNTED" -ge 1 ] && [ "$COUNTED" -le $((IN_LOG - BEFORE)) ] ||
  fail "counted $COUNTED Auto-GC lines of $IN_LOG, $BEFORE of them written before the watcher"

stop_process "$W_PID" INT
expect_eq "$STATUS" 0 "the watcher's exit status"
stop_process "$P_PID" TERM
stop_process "$A_PID" TERM
echo "PASS: metrics_e2e"

#!/usr/bin/env python3
"""Writes the promtool test file of the alert rules' tables: object counts
under an Auto-GC sawtooth at the intervals the plugin allows, healthy or
creeping; a watcher stopped minutes ago; a statistics log given up; a stuck
poll loop; and the dashboard's annotations across counter resets.

Usage: alert_cases.py OUT.yml RULES.yml DASHBOARD.json
"""
import json
import sys

OUT, RULES, DASHBOARD = sys.argv[1:4]
LABELS = 'job="quillmoor-watch",instance="w:9764"'
BASE = 100000
RISES = [0.05, 0.15]  # the sawtooth: the count climbs 5 or 15 % between collections
CREEP = 0.07  # a leak: the floor climbs 7 % of the first count an hour
START = 180  # minutes: the leak begins after three healthy hours
RUN = START + 7 * 60  # the leak must have fired 7 hours after it began
INTERVALS = [1, 15, 60, 120]  # AutoGC.IntervalMinutes, 1 to 120 allowed

tests = []


def series(name, server, values, extra=""):
    labels = f'{LABELS},server="{server}"' + (f",{extra}" if extra else "")
    return {"series": f"{name}{{{labels}}}", "values": values}


def explicit(values):
    return " ".join(str(round(v)) for v in values)


def count(minute, interval, creep, rise=RISES[0]):
    floor = BASE * (1 + (CREEP * max(0, minute - START) / 60 if creep else 0))
    return floor + BASE * rise * ((minute % interval) / interval)


def firing(*alerts):
    """The ALERTS samples expected firing: (alertname, labels) pairs."""
    return [
        {"labels": "ALERTS{" + ",".join([f'alertname="{name}"', 'alertstate="firing"'] + labels)
                   + "}", "value": 1}
        for name, labels in alerts
    ]


SERVER = ['instance="w:9764"', 'job="quillmoor-watch"']

# The sawtooth at each interval: silent for its healthy hours and, healthy
# all along, for the whole run; firing by 7 hours into a leak.
for interval, rise in ((i, r) for i in INTERVALS for r in RISES):
    healthy = f"healthy{interval}m{round(rise * 100)}pc"
    leaking = f"leaking{interval}m{round(rise * 100)}pc"
    input_series = []
    for server, creep in ((healthy, False), (leaking, True)):
        input_series.append(series(
            "quillmoor_uobjects", server,
            explicit(count(m, interval, creep, rise) for m in range(RUN + 1))))
        input_series.append(series("quillmoor_up", server, f"1x{RUN}"))
    creeping = 'ALERTS{alertname="QuillmoorObjectCountCreeping",alertstate="firing"'
    checks = [{"expr": f'{creeping},server="{healthy}"}}', "eval_time": f"{m}m",
               "exp_samples": []} for m in range(30, RUN + 1, 15)]
    checks += [{"expr": f'{creeping},server="{leaking}"}}', "eval_time": f"{m}m",
                "exp_samples": []} for m in range(30, START + 1, 15)]
    checks.append({"expr": creeping + "}", "eval_time": f"{RUN}m",
                   "exp_samples": firing(("QuillmoorObjectCountCreeping",
                                          SERVER + [f'server="{leaking}"',
                                                    'severity="warning"']))})
    tests.append({"interval": "1m", "input_series": input_series, "promql_expr_test": checks})

# Only the loss of the watcher fires once it stopped 10 minutes ago, however
# its last hours looked: a leak, Auto-GC gone quiet, no poll for long.
STOP = RUN - 10
tests.append({
    "interval": "1m",
    "input_series": [
        series("quillmoor_uobjects", "island",
               explicit(count(m, 15, True) for m in range(STOP + 1))),
        series("quillmoor_up", "island", f"1x{STOP}"),
        series("quillmoor_gc_forced_total", "island", f"0x{STOP}", 'trigger="auto-timer"'),
        series("quillmoor_last_poll_timestamp_seconds", "island", f"0+60x{STOP}"),
        {"series": f"up{{{LABELS}}}", "values": f"1x{STOP} 0x10"},
    ],
    "promql_expr_test": [{
        "expr": 'ALERTS{alertstate="firing"}',
        "eval_time": f"{RUN}m",
        "exp_samples": firing(("QuillmoorWatcherDown", SERVER + ['severity="critical"'])),
    }],
})

# A log the watcher gave up is its own alert, not the plugin's; a poll loop
# that finished nothing for minutes is the watcher's.
tests.append({
    "interval": "1m",
    "input_series": [
        series("quillmoor_up", "island", "1x240"),
        series("quillmoor_gc_forced_total", "island", "0+1x30 30x210", 'trigger="auto-timer"'),
        series("quillmoor_stats_log_given_up", "island", "0x30 1x210"),
        series("quillmoor_last_poll_timestamp_seconds", "island", "0+60x230 13800x10"),
        series("quillmoor_up", "scorched", "1x240"),
        series("quillmoor_gc_forced_total", "scorched", "0+1x240", 'trigger="auto-timer"'),
        series("quillmoor_stats_log_given_up", "scorched", "0x240"),
        {"series": f"up{{{LABELS}}}", "values": "1x240"},
    ],
    "promql_expr_test": [
        {"expr": 'ALERTS{alertstate="firing"}', "eval_time": "235m",
         "exp_samples": firing(("QuillmoorStatsLogGivenUp",
                                SERVER + ['server="island"', 'severity="warning"']))},
        {"expr": 'ALERTS{alertstate="firing"}', "eval_time": "240m",
         "exp_samples": firing(
             ("QuillmoorStatsLogGivenUp", SERVER + ['server="island"', 'severity="warning"']),
             ("QuillmoorWatcherStalled", SERVER + ['severity="critical"']))},
    ],
})

# The dashboard's annotations: a watcher restart resets its counters and
# may leave its servers' series absent for a while; neither is a collection
# nor a server coming back. island: a collection at 5m, the watcher
# restarting at 6m (between two scrapes) and at 9m (missing a scrape).
# scorched: down from 3m, back at 8m.
with open(DASHBOARD, encoding="utf-8") as f:
    annotations = [a for a in json.load(f)["annotations"]["list"] if "expr" in a]
marks = {"Forced collections": ("island", "5m"), "Server back": ("scorched", "8m")}
assert sorted(a["name"] for a in annotations) == sorted(marks), "an annotation without a case"
checks = []
for a in annotations:
    expr = a["expr"].replace("$server", ".*")
    marked_server, marked_at = marks[a["name"]]
    for minute in range(1, 12):
        result = []
        if f"{minute}m" == marked_at:
            result = [{"labels": "{" + ",".join(SERVER + [f'server="{marked_server}"']
                                               + (['trigger="auto-timer"']
                                                  if "trigger" in a.get("tagKeys", "") else []))
                                  + "}", "value": 1}]
        checks.append({"expr": f"sgn({expr})", "eval_time": f"{minute}m", "exp_samples": result})
tests.append({
    "interval": "1m",
    "input_series": [
        series("quillmoor_gc_forced_total", "island", "3 3 3 3 3 4 0 0 0 _ 0 0",
               'trigger="auto-timer"'),
        series("quillmoor_up", "island", "1 1 1 1 1 1 1 1 1 _ 1 1"),
        series("quillmoor_up", "scorched", "1 1 1 0 0 0 0 0 1 1 1 1"),
    ],
    "promql_expr_test": checks,
})

with open(OUT, "w", encoding="utf-8") as f:
    json.dump({"rule_files": [RULES], "evaluation_interval": "1m", "tests": tests}, f, indent=1)

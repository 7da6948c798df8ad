#!/usr/bin/env python3
"""A small client of Prometheus's HTTP API for metrics_e2e.sh; every request
gives up after 10 s.

  get URL                    print the body; exit 1 unless the status is 200
  query BASE EXPR            print each sample of an instant query as
                             "LABEL=VALUE,... VALUE" (labels sorted, no name)
  rules-ok BASE              exit 0 when every loaded rule has been evaluated
                             without error; else print the others, exit 1
  dashboard BASE FILE        evaluate every PromQL expression of a Grafana
                             dashboard; print each that fails, exit 1 if any
  csv-match BASE CSV SERVER  the last quillmoor_uobjects sample of SERVER in
                             Prometheus is one of the last two counts the CSV
                             file recorded for it by the time of that scrape
Exit 2 on a failed request or query.
"""
import csv
import datetime
import json
import re
import sys
import urllib.error
import urllib.parse
import urllib.request


def fail(message):
    print(message, file=sys.stderr)
    sys.exit(2)


def get(url):
    try:
        with urllib.request.urlopen(url, timeout=10) as reply:
            return reply.read().decode()
    except (urllib.error.URLError, OSError) as e:
        fail(f"{url}: {e}")


def api(base, path, **params):
    reply = json.loads(get(f"{base}{path}?{urllib.parse.urlencode(params)}"))
    if reply.get("status") != "success":
        fail(f"{path} {params}: {reply.get('error')}")
    return reply["data"]


def query(base, expr):
    data = api(base, "/api/v1/query", query=expr)
    for r in data["result"] if data["resultType"] == "vector" else []:
        labels = ",".join(f"{k}={v}" for k, v in sorted(r["metric"].items()) if k != "__name__")
        print(labels, r["value"][1])


def rules_ok(base):
    bad = [f"{r['name']}: {r['health']} {r.get('lastError', '')}"
           for g in api(base, "/api/v1/rules")["groups"] for r in g["rules"]
           if r["health"] != "ok" or r["lastEvaluation"].startswith("0001-")]
    print("\n".join(bad))
    return 1 if bad else 0


# What Grafana puts in place of its variables before a query.
GRAFANA = {"$server": ".*", "$__rate_interval": "1m", "$__interval": "1m"}


def dashboard(base, path):
    board = json.load(open(path))
    exprs = [t["expr"] for p in board["panels"] for t in p.get("targets", [])]
    exprs += [a["expr"] for a in board["annotations"]["list"] if "expr" in a]
    for v in board["templating"]["list"]:
        if v["type"] == "query":  # label_values(EXPR, LABEL): Grafana asks for EXPR's series
            q = v["query"]["query"] if isinstance(v["query"], dict) else v["query"]
            exprs.append(re.fullmatch(r"label_values\((.+),\s*\w+\)", q).group(1))
    failed = 0
    for expr in exprs:
        for name, value in GRAFANA.items():
            expr = expr.replace(name, value)
        data = json.loads(get(f"{base}/api/v1/query?{urllib.parse.urlencode({'query': expr})}"))
        if data.get("status") != "success":
            print(f"{expr}: {data.get('error')}")
            failed += 1
    print(f"{len(exprs)} expressions, {failed} failed", file=sys.stderr)
    return 1 if failed or not exprs else 0


def csv_match(base, path, server):
    data = api(base, "/api/v1/query", query=f'quillmoor_uobjects{{server="{server}"}}[30s]')
    if not data["result"]:
        print(f"no quillmoor_uobjects for {server}")
        return 1
    scraped_at, value = data["result"][0]["values"][-1]
    counts = []
    for row in csv.DictReader(open(path, newline="")):
        at = datetime.datetime.strptime(row["timestamp"], "%Y-%m-%dT%H:%M:%S.%fZ")
        at = at.replace(tzinfo=datetime.timezone.utc).timestamp()
        # The watcher writes the row before the metrics change; the scrape
        # may have begun a moment earlier.
        if row["server"] == server and row["status"] == "ok" and at <= scraped_at + 0.1:
            counts.append(row["objects"])
    if value not in counts[-2:]:
        print(f"{server}: Prometheus has {value} at {scraped_at}; the CSV file {counts[-3:]}")
        return 1
    return 0


def main(argv):
    command, args = argv[1], argv[2:]
    if command == "get":
        print(get(args[0]), end="")
        return 0
    if command == "query":
        query(*args)
        return 0
    return {"rules-ok": rules_ok, "dashboard": dashboard, "csv-match": csv_match}[command](*args)


if __name__ == "__main__":
    sys.exit(main(sys.argv))

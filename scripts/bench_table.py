#!/usr/bin/env python3
"""Prints the medians of Google Benchmark JSON reports as one table.

Each row is one benchmark: its time per iteration and its counters, and, for
the rows the library's goals are about, whether the goal is met."""
import json
import sys

STANDARD = {"name", "family_index", "per_family_instance_index", "run_name", "run_type", "repetitions",
            "repetition_index", "threads", "iterations", "real_time", "cpu_time", "time_unit",
            "aggregate_name", "aggregate_unit", "items_per_second", "bytes_per_second", "label",
            "error_occurred", "error_message"}

# (row name prefix, counter, test, goal text)
GOALS = [
    ("StationDrain/clients:512", "ratio", lambda v: v <= 1.0, "ratio <= 1.0"),
    ("CallRecordFeed", "ratio", lambda v: v <= 1.3, "ratio <= 1.3"),
    ("CallRecordFeed", "library_Mrec_s", lambda v: v >= 2.5, ">= 2.5 M records/s"),
    ("StationFlood", "longest_tick_ms", lambda v: v < 5.0, "longest tick < 5 ms"),
    ("FeedBacklog", "records_per_tick_least", lambda v: v >= 900, ">= 900 records every tick"),
    ("HostsFileOf400000Lines", "slice_us", lambda v: v < 5000, "a slice < 5 ms"),
    ("", "heap_allocs", lambda v: v == 0, "no heap allocation"),
    ("", "heap_allocs_per_tick", lambda v: v == 0, "no heap allocation per tick"),
    ("Footprint", "station_client_bytes", lambda v: v <= 10240, "<= 10 KiB per client"),
]


def short(name):
    for part in ("BM_", "/manual_time", "/iterations:1", "_median"):
        name = name.replace(part, "")
    return name


def number(value):
    if value == int(value) and abs(value) < 1e6:
        return str(int(value))
    return f"{value:.3g}" if abs(value) < 1000 else f"{value:.0f}"


def rows(report):
    for b in report["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = short(b.get("run_name", b["name"]))
        if b.get("error_occurred"):
            yield name, "-", "error: " + b.get("error_message", ""), ""
            continue
        counters = {k: v for k, v in b.items() if k not in STANDARD and isinstance(v, (int, float))}
        goals = []
        for prefix, counter, test, text in GOALS:
            if name.startswith(prefix) and counter in counters:
                goals.append(("met: " if test(counters[counter]) else "MISSED: ") + text)
        time = f"{b['real_time']:.4g} {b['time_unit']}"
        text = "  ".join(f"{k}={number(v)}" for k, v in sorted(counters.items()))
        yield name, time, text, "; ".join(goals)


def main(paths):
    table = [("benchmark", "time/iter", "counters (medians)", "goal")]
    for path in paths:
        with open(path) as f:
            table.extend(rows(json.load(f)))
    widths = [max(len(r[i]) for r in table) for i in range(3)]
    for r in table:
        print("  ".join(r[i].ljust(widths[i]) for i in range(3)) + ("  " + r[3] if r[3] else ""))


if __name__ == "__main__":
    main(sys.argv[1:])

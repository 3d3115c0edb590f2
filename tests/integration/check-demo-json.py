#!/usr/bin/env python3
"""Runs the demo with the console's JSON lines and a call-record CSV file,
and checks that every console line is a JSON object, that the call records
carry their dates, numbers and texts, and that the CSV file holds the same
records under a header that names every column.

    check-demo-json.py DEMO SIM CONSOLE
"""
import csv
import json
import os
import subprocess
import sys
import tempfile

COLUMNS = ["kindLetter", "second", "minute", "hour", "day", "month", "year", "duration",
           "numberA", "numberB", "numberC", "textA", "textB", "textC", "text",
           "wordA", "wordB", "valueA", "valueB", "addressText", "numberD", "serverAddressText"]


def fail(why):
    print("FAILED: " + why)
    sys.exit(1)


def main():
    demo, sim, console = sys.argv[1:4]
    with tempfile.TemporaryDirectory() as work:
        path = os.path.join(work, "cdr.csv")
        env = dict(os.environ, QAPI_SIM=sim, QAPI_CONSOLE=console)
        run = subprocess.run([demo, "--json", "--cdr-csv", path], env=env, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, text=True, errors="replace", timeout=50)
        print(run.stdout)
        if run.returncode != 0:
            fail("the demo ended with status %d" % run.returncode)
        lines = run.stdout.split("=== console ===\n", 1)[-1].split("=== simulator ===\n", 1)[0].splitlines()
        notes = []
        for line in lines:
            try:
                note = json.loads(line)
            except ValueError as e:
                fail("not JSON (%s): %s" % (e, line))
            if not isinstance(note, dict) or "source" not in note or "event" not in note:
                fail("not a console object: " + line)
            notes.append(note)

        records = [n for n in notes if n["event"] == "record"]
        first = next((r for r in records if r["kindLetter"] == "F"), None)
        expected = {"year": 2024, "month": 5, "day": 17, "hour": 10, "minute": 30, "second": 0, "duration": 60,
                    "numberA": 17, "numberB": 4711, "numberC": 1, "numberD": 1000, "textA": "4711", "textB": "17",
                    "textC": "0815", "addressText": "192.0.2.10", "serverAddressText": "10.78.0.2"}
        if not first or any(first.get(k) != v for k, v in expected.items()):
            fail("no kind F record with %s: %s" % (expected, first))
        if not any(r["kindLetter"] == "B" and r["text"] == "Call record note 2" for r in records):
            fail("no kind B record with its text")
        if not any(n["event"] == "route-request" and n["textA"] == "4711" and n["numberB"] == 17 for n in notes):
            fail("no route request")
        if not any(n["event"] == "snapshot" and n.get("station") == 17 and n["isAlerting"] is True for n in notes):
            fail("no ringing snapshot of station 17")

        with open(path, newline="", encoding="utf-8") as f:
            rows = list(csv.reader(f))
        if not rows or rows[0] != COLUMNS:
            fail("CSV header %s" % (rows[:1],))
        if any(len(row) != len(COLUMNS) for row in rows):
            fail("CSV rows of another width: %s" % rows)
        # The file holds the records the console printed, field for field.
        printed = [[str(r[c]) for c in COLUMNS] for r in records]
        if rows[1:] != printed:
            fail("CSV rows %s differ from the printed records %s" % (rows[1:], printed))
    print("ok: %d JSON lines, %d call records in both forms" % (len(notes), len(records)))


main()

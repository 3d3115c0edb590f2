"""512 lamps, each changing ten times a second: how far behind the page falls.

A sender in the simulator's namespace multicasts the status changes (the
simulator's own commands go one at a time); the page is read every 200 ms.
At a reading, a lamp is behind by the age of the oldest change sent for it
that it does not show yet (0 when it shows the latest).  The report (also
kept as panel-lag.txt beside the screenshot) gives, over the readings of
the steady part, the median and the worst of the readings' worst lamps,
and how long after the last change every lamp showed its last status.
Only the last must hold: every lamp ends on the last status sent.
"""
import bisect
import json
import os
import statistics
import subprocess
import sys
import time

from panel_support import registered, screenshot_path, until
from status_sender import SLOTS, status_of

FIRST, LAMPS, RATE, SECONDS = 1000, 512, 10, 10.0
READ_LAMPS = "return [Date.now() / 1000, Array.from(document.querySelectorAll('.lamp'), b => +b.dataset.status)]"


def behind(reading, sent):
    """The worst lamp's lag (seconds) and changes behind in one reading."""
    at, statuses = reading
    worst, changes = 0.0, 0
    for i, status in enumerate(statuses):
        times = sent[i % SLOTS]                       # the send time of each change of this lamp
        latest = bisect.bisect_right(times, at) - 1   # the last change sent by then
        shown = status - 10 if status >= 10 else -1
        if shown < latest:
            worst = max(worst, at - times[shown + 1])
            changes = max(changes, latest - shown)
    return worst, changes


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def test_512_lamps_changing_ten_times_a_second_stay_in_step(sim_namespace, sim, panel, browser, capsys):
    server = panel("--station", "17", "--watch", f"{FIRST}-{FIRST + LAMPS - 1}")
    page = browser()
    until(page, registered, "the station registered")
    until(page, lambda p: p.execute_script(READ_LAMPS)[1] == [1] * LAMPS, "every lamp reported idle", seconds=30)

    sender = subprocess.Popen(
        ["nsenter", f"--net={sim_namespace}", sys.executable, os.path.join(os.path.dirname(__file__),
         "status_sender.py"), "--first", str(FIRST), "--count", str(LAMPS), "--rate", str(RATE),
         "--seconds", str(SECONDS)], stdout=subprocess.PIPE, text=True)
    readings, cpu_before = [], cpu_seconds(server.process.pid)
    while sender.poll() is None:
        readings.append(page.execute_script(READ_LAMPS))
        time.sleep(0.2)
    log = json.loads(sender.stdout.read())
    assert sender.wait() == 0
    last_sent = log[-1][0]
    cpu = (cpu_seconds(server.process.pid) - cpu_before) / (last_sent - log[0][0])
    final = [status_of(int(SECONDS * RATE) - 1)] * LAMPS
    until(page, lambda p: p.execute_script(READ_LAMPS)[1] == final, "every lamp on its last status")
    caught_up = time.time() - last_sent

    sent = [[t for t, _, slot in log if slot == s] for s in range(SLOTS)]
    steady = [r for r in readings if log[0][0] + 1.0 <= r[0] <= last_sent]
    lags = [behind(r, sent) for r in steady]
    seconds = sorted(lag for lag, _ in lags)
    report = (f"panel lag: {LAMPS} lamps x {RATE} changes/s ({len(log)} datagrams, "
              f"{LAMPS * RATE * SECONDS / (last_sent - log[0][0]):.0f} changes/s sent), {len(steady)} readings: "
              f"worst lamp behind by median {statistics.median(seconds) * 1000:.0f} ms, "
              f"p90 {seconds[int(len(seconds) * 0.9)] * 1000:.0f} ms, max {seconds[-1] * 1000:.0f} ms "
              f"({max(c for _, c in lags)} changes at most); every lamp on its last status "
              f"{caught_up * 1000:.0f} ms after the last change (read every 50 ms); the panel took "
              f"{cpu * 100:.0f} % of a core")
    with open(screenshot_path("panel-lag.txt"), "w") as f:
        f.write(report + "\n")
    with capsys.disabled():
        print("\n" + report)

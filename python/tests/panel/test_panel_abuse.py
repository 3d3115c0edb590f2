"""One client cannot swell the panel or slow the others down."""
import json
import socket
import time

from qapi.panel.hub import MAX_BROWSERS
from raw_websocket import RawWebSocket, frame

FLOOD_SECONDS = 5.0
POLICY_VIOLATION = 1008


def rss_mib(pid):
    with open(f"/proc/{pid}/status") as f:
        kib = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    return kib / 1024


def test_a_client_that_floods_commands_and_never_reads_is_closed_and_the_others_keep_up(sim, panel, capsys):
    server = panel("--station", "17", "--watch", "201-232")
    other = RawWebSocket()
    assert other.message()["type"] == "state"
    before = peak = rss_mib(server.process.pid)

    flooder = RawWebSocket(receive_buffer=4096)    # reads nothing from here on
    burst = frame(json.dumps({"op": "answer", "id": 1})) * 200
    flooder.sock.settimeout(1.0)
    sent, end = 0, time.monotonic() + FLOOD_SECONDS
    while time.monotonic() < end:
        try:
            flooder.sock.sendall(burst)
        except (socket.timeout, OSError):
            break
        sent += 200
        peak = max(peak, rss_mib(server.process.pid))
    peak = max(peak, rss_mib(server.process.pid))

    start = time.monotonic()
    sim.send("extension 201 2")
    other.until(lambda m: m.get("lamps", {}).get("201") == 2)
    lamp_seconds = time.monotonic() - start
    code = flooder.close_code()
    with capsys.disabled():
        print(f"\nflood: {sent} commands sent; panel RSS {before:.0f} -> {peak:.0f} MiB; the other client's lamp "
              f"after {lamp_seconds * 1000:.0f} ms; close code {code}")
    assert code == POLICY_VIOLATION
    assert peak - before < 16, f"the panel grew by {peak - before:.0f} MiB"
    assert lamp_seconds < 1.0


def test_browsers_beyond_the_cap_are_refused_until_one_leaves(sim_namespace, panel):
    panel("--station", "17")
    connected = [RawWebSocket() for _ in range(MAX_BROWSERS)]
    assert {c.status for c in connected} == {101}
    assert RawWebSocket().status == 503
    connected.pop().close()
    deadline = time.monotonic() + 5
    while (late := RawWebSocket()).status != 101 and time.monotonic() < deadline:
        time.sleep(0.05)
    assert late.status == 101 and late.message()["type"] == "state"

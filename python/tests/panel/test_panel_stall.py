"""A server whose connection requests vanish never holds a page or a message.

10.78.0.9 lies on the simulator's link, but a permanent neighbour entry
sends its frames to a hardware address nobody has: every connection request
to it vanishes.  The routing link names a host that only a name server at
that address would know, in a resolver configuration of the panel's own
mount namespace, so its lookups vanish too.  Each start then waits for the
library's full connect time, and again each time the panel retries.
"""
import http.client
import subprocess
import threading
import time

from raw_websocket import RawWebSocket

SILENT = "10.78.0.9"
LONGEST = 0.1                  # seconds a page or a message takes, 99 times in 100
WORST = 0.5                    # ... and every time: well under a start's 3 s, above a busy machine's hiccups
WAIT = 30.0                    # two starts of each, one after the other, take about 20 s


def test_starting_and_restarting_a_feed_and_a_link_to_a_silent_host_hold_no_page_or_message(
        sim_namespace, panel, tmp_path, capsys):
    subprocess.run(["ip", "neigh", "replace", SILENT, "lladdr", "02:00:00:00:00:09", "dev", "qtpy",
                    "nud", "permanent"], check=True)
    resolver = tmp_path / "resolv.conf"
    resolver.write_text(f"nameserver {SILENT}\noptions timeout:5 attempts:1\n")
    panel("--station", "17", "--feed", f"{SILENT}:7001", "--link", "callserver.test:7002",
          prefix=("unshare", "--mount", "sh", "-c", 'mount --bind "$0" /etc/resolv.conf && exec "$@"', resolver))

    pages, done = [], threading.Event()

    def load_pages():
        while not done.wait(0.05):
            start = time.monotonic()
            page = http.client.HTTPConnection("127.0.0.1", 8080, timeout=15)
            page.request("GET", "/")
            if page.getresponse().status == 200:
                pages.append(time.monotonic() - start)
            page.close()

    client = RawWebSocket(timeout=15)
    state = client.message()
    loader = threading.Thread(target=load_pages)
    loader.start()
    failures = {"feed": 0, "link": 0}
    trips = []
    deadline = time.monotonic() + WAIT
    while min(failures.values()) < 2 and time.monotonic() < deadline:
        start = time.monotonic()
        client.send({"op": "no such", "id": len(trips)})
        while (message := client.message()).get("type") != "result":
            for name in failures:
                if message.get(name) and message[name]["state"] == "failed":
                    failures[name] += 1
        assert message["id"] == len(trips)
        trips.append(time.monotonic() - start)
        time.sleep(0.05)
    done.set()
    loader.join()

    pages.sort()
    trips.sort()
    with capsys.disabled():
        print(f"\nsilent feed and link: {len(pages)} pages, 99 % within {pages[len(pages) * 99 // 100] * 1000:.0f} ms,"
              f" slowest {pages[-1] * 1000:.0f} ms; {len(trips)} WebSocket round trips, 99 % within "
              f"{trips[len(trips) * 99 // 100] * 1000:.0f} ms, slowest {trips[-1] * 1000:.0f} ms; starts failed: "
              f"feed {failures['feed']}, link {failures['link']} (at first {state['feed']['state']})")
    for times in (pages, trips):
        assert times[-1] < WORST and times[len(times) * 99 // 100] < LONGEST
    assert failures == {"feed": 2, "link": 2}, "the starts were not seen failing twice each"

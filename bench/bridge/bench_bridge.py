"""qapi-bridge's benchmark, inside a private network namespace (run by
scripts/bench-bridge.sh): a RabbitMQ broker of its own, qapi-sim on a second
namespace for the station, and extension statuses multicast from there.

1. Throughput: EVENTS statuses offered faster than a broker takes them; a
   consumer times them from the first to the last receipt and keeps them.
   Then a bare rabbitmq-c publisher sends the same bodies, with the same
   properties and confirms (the bridge's window), to the same consumer.
2. Latency at 1,000 events a second: from the time in each body (when the
   bridge took the notification, right after the library posted it) to the
   consumer's receipt.

    bench_bridge.py BRIDGE SIM PEER [--events N] [--rate R] [--latency-seconds S]
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import pika

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, os.pardir, os.pardir, "tests", "apps", "bridge"))
from harness import Bridge, Consumer, SimHost, Simulator  # noqa: E402
from rabbitmq import RabbitMQ  # noqa: E402


def main():
    p = argparse.ArgumentParser()
    p.add_argument("bridge")
    p.add_argument("sim")
    p.add_argument("peer")
    p.add_argument("--events", type=int, default=60000)
    p.add_argument("--rate", type=int, default=30000, help="statuses offered a second in the throughput run")
    p.add_argument("--latency-seconds", type=int, default=10)
    p.add_argument("--repetitions", type=int, default=3, help="throughput runs of each way, taking turns")
    p.add_argument("--bridge-option", action="append", default=[], help="an option for qapi-bridge (repeatable)")
    o = p.parse_args()
    os.environ["QAPI_BRIDGE"], os.environ["QAPI_SIM"] = o.bridge, o.sim
    folder = tempfile.mkdtemp(prefix="qapi-bridge-bench-")
    os.chmod(folder, 0o755)
    broker = RabbitMQ(os.path.join(folder, "broker")).start()
    host = SimHost()
    sim = bridge = None
    try:
        sim = Simulator(host)
        Consumer(broker.url, "bench", queue="bench")
        bridge = Bridge(folder, "bench", broker.url, "--station", "17", "--watch", "200-711", "--status-seconds",
                        "86400", *o.bridge_option)
        bridge.expect(r"broker .* up")
        sim.expect(r"station 17 watches .*\b711\b", 30)
        saved = os.path.join(folder, "bodies")

        def purge():
            # What earlier phases left (the lamps' first statuses, statuses of the bridge) is not timed.
            time.sleep(1)
            connection = pika.BlockingConnection(pika.URLParameters(broker.url))
            connection.channel().queue_purge("bench")
            connection.close()

        def consume(count, save=None):
            purge()
            peer = subprocess.Popen([o.peer, "consume", broker.url, "bench", str(count)] + ([save] if save else []),
                                    stdout=subprocess.PIPE, text=True)
            assert peer.stdout.readline().strip() == "ready"
            return peer

        def send(count, rate, pack):
            subprocess.run(["nsenter", "--net=" + host.path, sys.executable, os.path.join(HERE, "status_sender.py"),
                            str(count), str(rate), str(pack)], check=True)

        def rate(result):
            return result["count"] / ((result["last_us"] - result["first_us"]) / 1e6)

        bridge_runs, bare_runs, published = [], [], None
        for _ in range(o.repetitions):
            consumer = consume(o.events, saved)
            send(o.events, o.rate, 64)
            bridge_runs.append(json.loads(consumer.communicate(timeout=600)[0]))
            consumer = consume(o.events)
            published = json.loads(subprocess.run([o.peer, "publish", broker.url, saved, "1024"],
                                                  stdout=subprocess.PIPE, text=True, check=True).stdout)
            bare_runs.append(json.loads(consumer.communicate(timeout=600)[0]))

        latency_events = 1000 * o.latency_seconds
        consumer = consume(latency_events)
        send(latency_events, 1000, 10)
        latency = json.loads(consumer.communicate(timeout=600)[0])
        bridge.stop()
        summary = bridge.summary()
        body_bytes = os.path.getsize(saved) // o.events
    finally:
        if bridge:
            bridge.kill()
        if sim:
            sim.stop()
        host.close()
        broker.stop()
        shutil.rmtree(folder, ignore_errors=True)

    print("| run | bare rabbitmq-c publisher, events/s | simulator -> library -> qapi-bridge -> consumer, events/s "
          "| bridge vs bare |")
    print("|---|---|---|---|")
    for i, (bare, through) in enumerate(zip(bare_runs, bridge_runs)):
        print("| %d | %.0f | %.0f | %.2f |" % (i + 1, rate(bare), rate(through), rate(through) / rate(bare)))
    bare_rate = statistics.median(map(rate, bare_runs))
    bridge_rate = statistics.median(map(rate, bridge_runs))
    print("| median | %.0f | %.0f | %.2f |" % (bare_rate, bridge_rate, bridge_rate / bare_rate))
    print("each run: %d events, %d bytes a message (routing key and body) on average, persistent, to one durable queue, with publisher confirms "
          "(window 1024); the consumer's first to last receipt" % (o.events, body_bytes))
    print("bare publisher: %d confirmed in %.2f s (%.0f/s at the publisher)"
          % (published["count"], published["seconds"], published["count"] / published["seconds"]))
    print("qapi-bridge: %d events, %d spooled on the way, %d lost" % (summary["made"], summary["spooled"],
                                                                   summary["lost"]))
    print("latency at 1,000 events/s, from the library's post to the consumer (%d events): median %.2f ms, "
          "99th percentile %.2f ms, most %.2f ms (goal: 99th under 20 ms)"
          % (latency["count"], latency["median_us"] / 1e3, latency["p99_us"] / 1e3, latency["max_us"] / 1e3))
    goal = bridge_rate / bare_rate >= 0.8 and latency["p99_us"] < 20000
    print("goals met" if goal else "goals NOT met")


if __name__ == "__main__":
    main()

"""What the bridge's tests run against: qapi-sim on a second network
namespace joined to the test's by a veth pair, qapi-bridge in the test's own
namespace, and consumers on the test's broker (pika, a real client)."""
import json
import os
import re
import signal
import subprocess
import threading
import time
import uuid

import pika

SIM_ADDRESS, BRIDGE_ADDRESS = "10.79.0.2", "10.79.0.1"
STATION_PORT, FEED_PORT, ADJUNCT_PORT = 5001, 7001, 7002
EXCHANGE = "quentara.events"


def wait_for(what, check, seconds=30.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def _run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


class SimHost:
    """A second network namespace, held open by a sleeping process, whose
    qtbrsim end of a veth pair has SIM_ADDRESS; this namespace's end has
    BRIDGE_ADDRESS and the route of the station group."""

    def __init__(self):
        self.holder = subprocess.Popen(["unshare", "--net", "sleep", "3600"], stdin=subprocess.DEVNULL)
        self.path = "/proc/%d/ns/net" % self.holder.pid
        wait_for("the simulator's namespace", lambda: os.readlink(self.path) != os.readlink("/proc/self/ns/net"), 5)
        there = ["nsenter", "--net=" + self.path]
        _run("ip", "link", "add", "qtbr", "type", "veth", "peer", "name", "qtbrsim")
        _run("ip", "link", "set", "qtbrsim", "netns", str(self.holder.pid))
        _run("ip", "addr", "add", BRIDGE_ADDRESS + "/24", "dev", "qtbr")
        _run("ip", "link", "set", "qtbr", "up")
        _run("ip", "route", "replace", "224.0.0.0/4", "dev", "qtbr")
        for command in (["ip", "link", "set", "lo", "up"], ["ip", "addr", "add", SIM_ADDRESS + "/24", "dev", "qtbrsim"],
                        ["ip", "link", "set", "qtbrsim", "up"], ["ip", "route", "add", "224.0.0.0/4", "dev", "qtbrsim"]):
            _run(*(there + command))

        def active(*command):
            line = subprocess.run(command, stdout=subprocess.PIPE, text=True).stdout
            return " state UP " in line and " qdisc noop " not in line

        wait_for("the veth pair", lambda: active("ip", "-o", "link", "show", "dev", "qtbr")
                 and active(*(there + ["ip", "-o", "link", "show", "dev", "qtbrsim"])), 5)

    def close(self):
        self.holder.kill()
        self.holder.wait()


class Process:
    """A program whose output lines are gathered by a thread."""

    def __init__(self, command, stdin=subprocess.DEVNULL, log=None):
        self.lines = []
        self.changed = threading.Condition()
        self.log = log
        self.process = subprocess.Popen(command, stdin=stdin, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        text=True, bufsize=1)
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for line in self.process.stdout:
            if self.log:
                self.log.write(line)
                self.log.flush()
            with self.changed:
                self.lines.append(line.rstrip("\n"))
                self.changed.notify_all()

    def expect(self, pattern, seconds=20.0):
        found = re.compile(pattern)
        with self.changed:
            if not self.changed.wait_for(lambda: any(found.search(l) for l in self.lines), seconds):
                raise AssertionError("never said /%s/:\n%s" % (pattern, "\n".join(self.lines[-40:])))
            return next(l for l in self.lines if found.search(l))

    def text(self):
        with self.changed:
            return "\n".join(self.lines)

    def kill(self, sig=signal.SIGKILL):
        if self.process.poll() is None:
            self.process.send_signal(sig)
        code = self.process.wait(30)
        self.reader.join(10)  # every line read
        return code


class Simulator(Process):
    def __init__(self, host, records=0, per_poll=1):
        program = os.environ["QAPI_SIM"]
        super().__init__(["nsenter", "--net=" + host.path, program, "--station-port", str(STATION_PORT),
                          "--feed-port", str(FEED_PORT), "--feed-records", str(records), "--records-per-poll",
                          str(per_poll), "--adjunct-port", str(ADJUNCT_PORT), "--listen-address", SIM_ADDRESS],
                         stdin=subprocess.PIPE)
        self.expect(r"^sim: ready")

    def send(self, command):
        self.process.stdin.write(command + "\n")
        self.process.stdin.flush()

    def stop(self):
        if self.process.poll() is None:
            self.send("quit")
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.kill()


class Bridge(Process):
    def __init__(self, folder, site, broker_url, *extra, name="bridge"):
        self.log_file = open(os.path.join(folder, name + ".log"), "a")
        super().__init__([os.environ["QAPI_BRIDGE"], "--site", site, "--amqp", broker_url, "--spool",
                          os.path.join(folder, site + ".spool")] + list(extra), log=self.log_file)

    def stop(self, sig=signal.SIGTERM):
        code = self.kill(sig)
        self.log_file.close()
        return code

    def summary(self):
        m = re.search(r"stopped: (\d+) events, (\d+) confirmed, (\d+) spooled \((\d+) wait in the spool\), "
                      r"(\d+) sent again, (\d+) lost", self.text())
        assert m, self.text()
        return dict(zip(("made", "confirmed", "spooled", "waiting", "resent", "lost"), map(int, m.groups())))

    @property
    def sanitized(self):
        with open("/proc/%d/maps" % self.process.pid) as f:
            return "libasan" in f.read()

    def rss_kib(self):
        with open("/proc/%d/status" % self.process.pid) as f:
            return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))


class Consumer:
    """A durable queue bound to a site's events, read when the test says."""

    def __init__(self, url, site, queue=None):
        self.url, self.site = url, site
        self.queue = queue or "test." + site
        with self._channel() as (_, ch):
            ch.exchange_declare(EXCHANGE, "topic", durable=True)
            ch.queue_declare(self.queue, durable=True)
            ch.queue_bind(self.queue, EXCHANGE, routing_key=site + ".#")
        self.messages = []

    def _channel(self):
        consumer = self

        class Opened:
            def __enter__(self):
                self.connection = pika.BlockingConnection(pika.URLParameters(consumer.url))
                return self.connection, self.connection.channel()

            def __exit__(self, *exc):
                self.connection.close()

        return Opened()

    def take(self, until=None, seconds=30.0):
        """Reads what waits (and what comes) until `until(messages)` holds or nothing came for a while."""
        deadline = time.monotonic() + seconds
        with self._channel() as (connection, ch):
            while time.monotonic() < deadline:
                method, properties, body = ch.basic_get(self.queue, auto_ack=True)
                if method is None:
                    if until is None or until(self.messages):
                        break
                    connection.sleep(0.05)
                    continue
                self.messages.append((properties, json.loads(body), method.routing_key))
        return self.messages

    def events(self):
        return [body for _, body, _ in self.messages]


class Commands:
    """Sends commands to a bridge and waits for their replies."""

    def __init__(self, url, site):
        self.connection = pika.BlockingConnection(pika.URLParameters(url))
        self.channel = self.connection.channel()
        self.replies = self.channel.queue_declare("", exclusive=True).method.queue
        self.site = site

    def send(self, request, raw=None, app_id=None, seconds=15.0):
        correlation = str(uuid.uuid4())
        body = raw if raw is not None else json.dumps(request).encode()
        self.channel.basic_publish("", "quentara.%s.commands" % self.site, body,
                                   pika.BasicProperties(reply_to=self.replies, correlation_id=correlation,
                                                        app_id=app_id))
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            method, properties, reply = self.channel.basic_get(self.replies, auto_ack=True)
            if method and properties.correlation_id == correlation:
                return json.loads(reply)
            self.connection.sleep(0.02)
        raise AssertionError("no reply to %r" % (request,))

    def close(self):
        self.connection.close()

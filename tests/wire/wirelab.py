"""Two hosts for the wire-fault scenarios: this process's network namespace
(the library's host: qapi-wire-driver) and a second one (the server's host:
qapi-sim), joined by a veth pair that carries the station multicast.  Both
namespaces are private: nothing sent here leaves the machine.

Python standard library only."""

import ctypes
import json
import os
import signal
import socket
import subprocess
import sys
import threading
import time

LIBRARY_ADDRESS = "10.79.0.1"
SERVER_ADDRESS = "10.79.0.2"
STATION_PORT = 5001
FEED_PORT = 7001
ADJUNCT_PORT = 7002
PR_SET_PDEATHSIG = 1


def enter_private_namespace():
    """Runs this script again in a network namespace of its own, unless it
    is in one already (one whose only interface is the loopback).  Run by
    any user but root, the namespace lives in a user namespace in which that
    user is root."""
    if [name for _, name in socket.if_nameindex()] == ["lo"]:
        return
    if os.environ.get("QAPI_WIRE_INSIDE") == "1":
        sys.exit("wire: still not in a private network namespace")
    namespaces = ["--net"] if os.geteuid() == 0 else ["--user", "--map-root-user", "--net"]
    env = dict(os.environ, QAPI_WIRE_INSIDE="1")
    os.execvpe("unshare", ["unshare"] + namespaces + [sys.executable] + sys.argv, env)


def die_with_parent():
    """In a child before it runs its program: when this script ends, however
    it ends, the kernel ends the child too."""
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def run(*argv):
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)


def host_address():
    """What the library takes as its own address: the first IPv4 address its
    host name resolves to."""
    return socket.getaddrinfo(socket.gethostname(), None, socket.AF_INET)[0][4][0]


class Peer:
    """A program with its stdin and stdout on pipes; every line it prints is
    kept, in order, and can be waited for."""

    def __init__(self, name, argv, parse=None):
        self.name = name
        self.lines = []
        self._parse = parse or (lambda line: line)
        self._new = threading.Condition()
        self.process = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True, bufsize=1,
                                        preexec_fn=die_with_parent)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        for line in self.process.stdout:
            item = self._parse(line.rstrip("\n"))
            with self._new:
                self.lines.append(item)
                self._new.notify_all()
        with self._new:
            self._new.notify_all()

    def send(self, *lines):
        self.process.stdin.write("".join(line + "\n" for line in lines))
        self.process.stdin.flush()

    def wait_for(self, found, start=0, timeout=20.0):
        """The index of the first line from `start` on for which found(line)
        is true; raises AssertionError when none comes within `timeout`."""
        deadline = time.monotonic() + timeout
        with self._new:
            at = start
            while True:
                while at < len(self.lines):
                    if found(self.lines[at]):
                        return at
                    at += 1
                left = deadline - time.monotonic()
                if left <= 0 or (self.process.poll() is not None and at >= len(self.lines)):
                    tail = "\n".join(str(line) for line in self.lines[-15:])
                    raise AssertionError(f"{self.name}: waited in vain; its last lines:\n{tail}")
                self._new.wait(min(left, 0.5))

    def stop(self, kill=False):
        if self.process.poll() is None:
            if kill:
                self.process.send_signal(signal.SIGKILL)
            else:
                try:
                    self.process.stdin.close()
                except BrokenPipeError:
                    pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self._reader.join(timeout=10)
        return self.process.returncode

    def quit(self):
        """Ends the program with "quit"; it has to end well (a sanitizer's
        report, for one, makes it end otherwise)."""
        self.send("quit")
        status = self.stop()
        if status != 0:
            tail = "\n".join(str(line) for line in self.lines[-30:])
            raise AssertionError(f"{self.name} ended with status {status}; its last lines:\n{tail}")


class Sim(Peer):
    """qapi-sim on the server's host; its lines without the "sim: " prefix."""

    def __init__(self, lab, args):
        argv = ["nsenter", f"--net=/proc/{lab.holder.pid}/ns/net", lab.sim_program] + args
        super().__init__("qapi-sim", argv, parse=lambda line: line[5:] if line.startswith("sim: ") else line)
        self.wait_for(lambda line: line == "ready", timeout=10)

    def command(self, line, done):
        """Sends a command and waits for the line that says it was carried out."""
        start = len(self.lines)
        self.send(line)
        return self.wait_for(done, start)



class Driver(Peer):
    """qapi-wire-driver on the library's host: one JSON object per line."""

    def __init__(self, lab, pace_ms):
        self.snapshot = {}  # station -> its last snapshot

        def parse(line):
            try:
                event = json.loads(line)
            except ValueError:
                return {"event": "text", "text": line}
            if event.get("event") == "snapshot":
                self.snapshot[event["station"]] = event
            return event
        super().__init__("qapi-wire-driver", [lab.driver_program, "--port", str(STATION_PORT), "--pace", str(pace_ms)],
                         parse=parse)
        self.tick = 0

    def run(self, ticks):
        """Lets `ticks` ticks pass; returns the events they brought."""
        start = len(self.lines)
        self.send(f"run {ticks}")
        end = self.wait_for(lambda e: e.get("event") == "ran", start, timeout=30 + ticks * 0.1)
        self.tick = self.lines[end]["tick"]
        return self.lines[start:end]

    def command(self, line):
        """Runs a console command; returns its result event."""
        start = len(self.lines)
        self.send(line)
        return self.lines[self.wait_for(lambda e: e.get("event") == "result", start)]

    def events(self, **match):
        return [e for e in self.lines if all(e.get(k) == v for k, v in match.items())]


class Lab:
    """The two hosts.  Used as a context manager: the server's namespace and
    every program started go with it."""

    def __init__(self, sim_program, driver_program):
        self.sim_program = sim_program
        self.driver_program = driver_program
        self.peers = []
        self.holder = None

    def __enter__(self):
        run("ip", "link", "set", "lo", "up")
        # The server's namespace, held open by a sleeping process.
        self.holder = subprocess.Popen(["unshare", "--net", "sleep", "3600"], preexec_fn=die_with_parent)
        mine = os.readlink("/proc/self/ns/net")
        for _ in range(200):
            try:
                if os.readlink(f"/proc/{self.holder.pid}/ns/net") != mine:
                    break
            except FileNotFoundError:
                pass
            time.sleep(0.01)
        else:
            raise RuntimeError("no namespace for the server")
        there = ["nsenter", f"--net=/proc/{self.holder.pid}/ns/net"]
        run("ip", "link", "add", "qtwlib", "type", "veth", "peer", "name", "qtwsrv")
        run("ip", "link", "set", "qtwsrv", "netns", str(self.holder.pid))
        run("ip", "addr", "add", LIBRARY_ADDRESS + "/24", "dev", "qtwlib")
        run("ip", "link", "set", "qtwlib", "up")
        run("ip", "route", "replace", "224.0.0.0/4", "dev", "qtwlib")
        run(*there, "ip", "link", "set", "lo", "up")
        run(*there, "ip", "addr", "add", SERVER_ADDRESS + "/24", "dev", "qtwsrv")
        run(*there, "ip", "link", "set", "qtwsrv", "up")
        run(*there, "ip", "route", "add", "224.0.0.0/4", "dev", "qtwsrv")
        # A veth end drops what is sent before the kernel has activated its
        # queue ("qdisc noop" until then), a moment after both ends are up.
        def active(*command):
            line = subprocess.run(list(command), capture_output=True, text=True).stdout
            return " state UP " in line and " qdisc noop " not in line

        for _ in range(500):
            if active("ip", "-o", "link", "show", "dev", "qtwlib") and active(*there, "ip", "-o", "link", "show",
                                                                               "dev", "qtwsrv"):
                break
            time.sleep(0.01)
        else:
            raise RuntimeError("the veth pair did not come up")
        return self

    def sim(self, *args):
        peer = Sim(self, [str(a) for a in args])
        self.peers.append(peer)
        return peer

    def driver(self, pace_ms=5):
        peer = Driver(self, pace_ms)
        self.peers.append(peer)
        return peer

    def __exit__(self, *exc):
        for peer in self.peers:
            peer.stop(kill=True)
        if self.holder:
            self.holder.kill()
            self.holder.wait()
        subprocess.run(["ip", "link", "del", "qtwlib"], stderr=subprocess.DEVNULL)
        return False


class Checks:
    """Collects what a scenario found: every failed check is reported, and
    the numbers it measured are printed in one summary."""

    def __init__(self, name):
        self.name = name
        self.failures = []
        self.numbers = []

    def expect(self, ok, text):
        if not ok:
            self.failures.append(text)
            print(f"FAILED ({self.name}): {text}", flush=True)
        return ok

    def note(self, text):
        self.numbers.append(text)

    def report(self, seconds):
        print(f"{self.name}: {'ok' if not self.failures else 'FAILED'} in {seconds:.1f} s; " + "; ".join(self.numbers),
              flush=True)
        return not self.failures

"""Two hosts for the package's tests: this process (the library's host) and
qapi-sim in a second network namespace, joined by a veth pair.

The station protocol multicasts, so the tests run only inside a private
network namespace (tests/support/netns-run.sh, as CTest runs them); anywhere
else they are skipped.  The simulator's namespace is held open by a sleeping
process; both vanish with the session.
"""
import os
import re
import socket
import subprocess
import threading
import time

import pytest

import qapi

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, os.pardir, os.pardir))
SIM_ADDRESS = "10.78.0.2"
STATION_PORT, FEED_PORT, ADJUNCT_PORT = 5001, 7001, 7002


def _private_namespace():
    return all(name == "lo" or name.startswith("qt") for _, name in socket.if_nameindex())


def _run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _until(condition, what, seconds=5.0):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            raise RuntimeError(what + " did not happen")
        time.sleep(0.01)


@pytest.fixture(scope="session")
def sim_namespace():
    """The path of the simulator's network namespace, joined to this one."""
    if not _private_namespace():
        pytest.skip("the station protocol multicasts: run under tests/support/netns-run.sh")
    holder = subprocess.Popen(["unshare", "--net", "sleep", "3600"], stdin=subprocess.DEVNULL)
    try:
        namespace = f"/proc/{holder.pid}/ns/net"
        _until(lambda: os.readlink(namespace) != os.readlink("/proc/self/ns/net"), "the simulator's namespace")

        def there(*command):
            return ("nsenter", f"--net={namespace}") + command

        _run("ip", "link", "set", "lo", "up")
        _run("ip", "link", "add", "qtpy", "type", "veth", "peer", "name", "qtsim")
        _run("ip", "link", "set", "qtsim", "netns", str(holder.pid))
        _run("ip", "addr", "add", "10.78.0.1/24", "dev", "qtpy")
        _run("ip", "link", "set", "qtpy", "up")
        _run("ip", "route", "replace", "224.0.0.0/4", "dev", "qtpy")
        _run(*there("ip", "link", "set", "lo", "up"))
        _run(*there("ip", "addr", "add", SIM_ADDRESS + "/24", "dev", "qtsim"))
        _run(*there("ip", "link", "set", "qtsim", "up"))
        _run(*there("ip", "route", "add", "224.0.0.0/4", "dev", "qtsim"))

        # A device drops what is sent before its queue starts ("qdisc noop").
        def active(*command):
            line = subprocess.run(command, stdout=subprocess.PIPE, text=True).stdout
            return " state UP " in line and " qdisc noop " not in line

        _until(lambda: active("ip", "-o", "link", "show", "dev", "qtpy")
               and active(*there("ip", "-o", "link", "show", "dev", "qtsim")), "the veth pair's start")
        yield namespace
    finally:
        holder.kill()
        holder.wait()


class Simulator:
    """qapi-sim in the simulator's namespace, driven through its stdin."""

    address, feed_port, adjunct_port = SIM_ADDRESS, FEED_PORT, ADJUNCT_PORT

    def __init__(self, namespace):
        program = os.environ.get("QAPI_SIM", os.path.join(SOURCE, "build", "plain", "apps", "sim", "qapi-sim"))
        self.lines = []
        self._changed = threading.Condition()
        self._process = subprocess.Popen(
            ["nsenter", f"--net={namespace}", program, "--station-port", str(STATION_PORT),
             "--feed-port", str(FEED_PORT), "--feed-records", "3",
             "--records-per-poll", "2", "--adjunct-port", str(ADJUNCT_PORT), "--listen-address", SIM_ADDRESS,
             "--seconds", "120"],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, bufsize=1)
        threading.Thread(target=self._read, daemon=True).start()
        self.expect(r"^sim: ready")

    def _read(self):
        for line in self._process.stdout:
            with self._changed:
                self.lines.append(line.rstrip("\n"))
                self._changed.notify_all()

    def send(self, command):
        self._process.stdin.write(command + "\n")
        self._process.stdin.flush()

    def expect(self, pattern, seconds=10.0):
        """The first line matching `pattern`, waiting up to `seconds` for it."""
        found = re.compile(pattern)
        with self._changed:
            if not self._changed.wait_for(lambda: any(found.search(line) for line in self.lines), seconds):
                raise AssertionError(f"the simulator never said /{pattern}/:\n" + "\n".join(self.lines))
            return next(line for line in self.lines if found.search(line))

    def stop(self):
        if self._process.poll() is None:
            self.send("quit")
            try:
                self._process.wait(5)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()


@pytest.fixture
def start_sim(sim_namespace):
    """start_sim(): a simulator started when the test says, stopped at its end."""
    started = []

    def start():
        started.append(Simulator(sim_namespace))
        return started[-1]

    yield start
    for simulator in started:
        simulator.stop()


@pytest.fixture
def sim(start_sim):
    return start_sim()


@pytest.fixture
def library():
    with qapi.initialize(STATION_PORT) as running:
        yield running


@pytest.fixture
def expect():
    """expect(kind, matches, seconds): the first notification of `kind` that
    `matches`, taken with the blocking iterator within `seconds`."""
    def first(kind, matches=lambda note: True, seconds=10.0):
        seen = []
        for note in qapi.notifications(timeout=seconds):
            seen.append(note)
            if isinstance(note, kind) and matches(note):
                return note
        raise AssertionError(f"no matching {kind.__name__} within {seconds} s; the last seen: {seen[-5:]}")
    return first

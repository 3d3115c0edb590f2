"""Two hosts for the wire-fault scenarios: this process's network namespace
(the library's host: qapi-wire-driver) and a second one (the server's host:
qapi-sim), joined by a veth pair.  The library's host is set up as a
desktop's: it reaches the server through its default route, has no route
for the station group, is called qapi-desktop and maps that name to
127.0.1.1 in its hosts file.  Every namespace is private: nothing sent here
leaves the machine.

Python standard library only."""

import atexit
import ctypes
import json
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

LIBRARY_ADDRESS = "10.79.0.1"
SERVER_ADDRESS = "10.79.0.2"
LAN_ADDRESS, LAN_PEER_ADDRESS = "10.80.0.1", "10.80.0.2"  # the first interface of a host with two
HOST_NAME = "qapi-desktop"
DESKTOP_HOSTS = "127.0.0.1 localhost\n127.0.1.1 qapi-desktop\n"
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


_desktop_files = None


def desktop_host_files():
    """This process (and every program it starts) in a mount and UTS
    namespace of its own, named qapi-desktop, with a hosts file that maps
    the name to 127.0.1.1 as Debian's and Ubuntu's installers write it.
    Nothing outside the process sees the name or the file."""
    global _desktop_files
    if _desktop_files:
        return
    libc = ctypes.CDLL(None, use_errno=True)
    clone_newns, clone_newuts, ms_bind, ms_rec, ms_private = 0x00020000, 0x04000000, 4096, 16384, 1 << 18
    if libc.unshare(clone_newns | clone_newuts) != 0:
        raise OSError(ctypes.get_errno(), "unshare of the mount and UTS namespaces")
    # Private before anything is mounted: nothing here propagates out.
    if libc.mount(None, b"/", None, ms_rec | ms_private, None) != 0:
        raise OSError(ctypes.get_errno(), "making the mounts private")
    hosts = tempfile.NamedTemporaryFile("w", prefix="qapi-wire-hosts-", delete=False)
    hosts.write(DESKTOP_HOSTS)
    hosts.close()
    if libc.mount(hosts.name.encode(), b"/etc/hosts", None, ms_bind, None) != 0:
        raise OSError(ctypes.get_errno(), "binding the hosts file")
    if libc.sethostname(HOST_NAME.encode(), len(HOST_NAME)) != 0:
        raise OSError(ctypes.get_errno(), "sethostname")
    _desktop_files = hosts.name
    atexit.register(os.unlink, hosts.name)


def die_with_parent():
    """In a child before it runs its program: when this script ends, however
    it ends, the kernel ends the child too."""
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def run(*argv):
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)


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
    """The hosts.  Used as a context manager: the server's namespace and
    every program started go with it.

    topology "desktop": the library's host has one link, to the server's
    host, and a default route through it.  "two-interfaces": its first
    interface leads to a third host (a LAN, with the default route), the
    second to the server's host, and the station group is routed over the
    second."""

    def __init__(self, sim_program, driver_program, topology="desktop"):
        self.sim_program = sim_program
        self.driver_program = driver_program
        self.topology = topology
        self.peers = []
        self.holder = None
        self.lan = None
        self.links = []

    def _namespace(self):
        """A network namespace of its own, held open by a sleeping process."""
        holder = subprocess.Popen(["unshare", "--net", "sleep", "3600"], preexec_fn=die_with_parent)
        mine = os.readlink("/proc/self/ns/net")
        for _ in range(200):
            try:
                if os.readlink(f"/proc/{holder.pid}/ns/net") != mine:
                    return holder
            except FileNotFoundError:
                pass
            time.sleep(0.01)
        holder.kill()
        raise RuntimeError("no namespace for a peer host")

    def _link(self, holder, near, near_address, far, far_address):
        """A veth pair to the host that `holder` holds, both ends up."""
        there = ["nsenter", f"--net=/proc/{holder.pid}/ns/net"]
        run("ip", "link", "add", near, "type", "veth", "peer", "name", far)
        self.links.append(near)
        run("ip", "link", "set", far, "netns", str(holder.pid))
        run("ip", "addr", "add", near_address + "/24", "dev", near)
        run("ip", "link", "set", near, "up")
        run(*there, "ip", "link", "set", "lo", "up")
        run(*there, "ip", "addr", "add", far_address + "/24", "dev", far)
        run(*there, "ip", "link", "set", far, "up")
        # A veth end drops what is sent before the kernel has activated its
        # queue ("qdisc noop" until then), a moment after both ends are up.
        def active(*command):
            line = subprocess.run(list(command), capture_output=True, text=True).stdout
            return " state UP " in line and " qdisc noop " not in line

        for _ in range(500):
            if active("ip", "-o", "link", "show", "dev", near) and active(*there, "ip", "-o", "link", "show",
                                                                          "dev", far):
                return there
            time.sleep(0.01)
        raise RuntimeError(f"the veth pair {near} did not come up")

    def __enter__(self):
        desktop_host_files()
        run("ip", "link", "set", "lo", "up")
        # No route for the station group on the library's side: the test
        # launcher's loopback route goes.
        subprocess.run(["ip", "route", "del", "224.0.0.0/4", "dev", "lo"], stderr=subprocess.DEVNULL)
        if self.topology == "two-interfaces":
            self.lan = self._namespace()
            self._link(self.lan, "qtwlan", LAN_ADDRESS, "qtwpeer", LAN_PEER_ADDRESS)
        self.holder = self._namespace()
        there = self._link(self.holder, "qtwlib", LIBRARY_ADDRESS, "qtwsrv", SERVER_ADDRESS)
        run(*there, "ip", "route", "add", "224.0.0.0/4", "dev", "qtwsrv")
        if self.topology == "two-interfaces":
            run("ip", "route", "add", "default", "via", LAN_PEER_ADDRESS)
            run("ip", "route", "add", "224.0.0.0/4", "dev", "qtwlib")
        else:
            run("ip", "route", "add", "default", "via", SERVER_ADDRESS)
        return self

    def lan_ipv4_received(self):
        """IPv4 packets the LAN's host has received (two-interfaces only)."""
        snmp = subprocess.run(["nsenter", f"--net=/proc/{self.lan.pid}/ns/net", "cat", "/proc/net/snmp"],
                              capture_output=True, text=True, check=True).stdout.splitlines()
        names, values = [line.split() for line in snmp if line.startswith("Ip:")][:2]
        return int(values[names.index("InReceives")])

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
        for holder in (self.holder, self.lan):
            if holder:
                holder.kill()
                holder.wait()
        for link in self.links:
            subprocess.run(["ip", "link", "del", link], stderr=subprocess.DEVNULL)
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

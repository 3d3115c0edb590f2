"""Captures read through tshark with the Quentara dissectors, as trees of
fields (tshark's PDML), and the checks every capture test makes of them.

A test that finds no tshark or dumpcap ends with SKIP (77), which CTest
shows as skipped.  tshark runs with a home of its own, so neither the
user's preferences nor an installed copy of the dissectors take part.

Python standard library only."""

import ctypes
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree

SKIP = 77
PR_SET_PDEATHSIG = 1
OURS = ("qstation", "qcdr", "qadjunct")
DISSECTOR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "tools",
                                          "wireshark", "quentara.lua"))


def require_tools():
    missing = [tool for tool in ("tshark", "dumpcap", "editcap") if not shutil.which(tool)]
    if missing:
        print("skipped: no " + " or ".join(missing) + " (scripts/install-deps.sh installs tshark)")
        sys.exit(SKIP)


class Node:
    """One item of a packet's tree: its field name, shown value, label and
    the items below it."""

    def __init__(self, element):
        self.name = element.get("name", "")
        self.show = element.get("show", "")
        self.label = element.get("showname") or self.show
        self.children = [Node(child) for child in element]

    def walk(self):
        yield self
        for child in self.children:
            yield from child.walk()

    def all(self, name):
        return [n for n in self.walk() if n.name == name]

    def first(self, name):
        return next((n for n in self.walk() if n.name == name), None)

    def value(self, name, default=None):
        """The shown value of the first item of that name."""
        node = self.first(name)
        return node.show if node else default

    def own(self, name):
        """The shown value of a direct child of that name."""
        return next((c.show for c in self.children if c.name == name), None)

    def number(self):
        return int(self.value("num"))

    def ours(self):
        return [c for c in self.children if c.name in OURS]


def _tshark(capture, options, installed=False):
    """tshark's output for `capture`.  The dissectors are given to tshark on
    its command line, or when `installed`, copied into the plugin folder as
    a user installs them."""
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, ".config"))
        env.pop("WIRESHARK_CONFIG_DIR", None)
        script = ["-X", "lua_script:" + DISSECTOR]
        if installed:
            shutil.copytree(os.path.dirname(DISSECTOR), os.path.join(home, ".local", "lib", "wireshark", "plugins"))
            script = []
        run = subprocess.run(["tshark", "-n", "-r", capture] + script + list(options), env=env,
                             capture_output=True, text=True, errors="replace")
    if run.returncode != 0 or "Lua: Error" in run.stderr:
        raise AssertionError("tshark failed (%d): %s" % (run.returncode, run.stderr))
    return run.stdout


def dissect(capture, *options, installed=False):
    """The packets of `capture`, each a Node whose children are its
    protocols."""
    root = ElementTree.fromstring(_tshark(capture, ["-T", "pdml"] + list(options), installed))
    return [Node(packet) for packet in root.iter("packet")]


def info_column(capture, *options):
    """The info column of every frame of `capture` that our protocols
    decoded."""
    fields = ["-T", "fields", "-e", "_ws.col.Info", "-Y", " || ".join(OURS)]
    return _tshark(capture, fields + list(options)).splitlines()


def labels(packets):
    """The text of every item of our protocols in `packets`, in order."""
    return [n.label for p in packets for proto in p.ours() for n in proto.walk()]


def experts(node):
    """The expert infos of our protocols within `node`: (name, message)."""
    found = []
    for item in node.all("_ws.expert"):
        name = next((c.name for c in item.children if c.name.startswith(OURS)), None)
        if name:
            found.append((name, item.value("_ws.expert.message", "")))
    return found


def faults(packets, malformed=False):
    """What no capture may show, frame by frame: a Lua error, and unless
    `malformed` is allowed, a packet marked malformed."""
    bad = []
    for p in packets:
        for n in p.walk():
            if n.name == "_ws.lua.error" or (n.name == "_ws.malformed" and not malformed):
                bad.append("frame %d: %s" % (p.number(), n.label or n.name))
    return bad


def expect_clean(checks, packets):
    """Good traffic: no Lua error, nothing malformed, no expert info of
    ours."""
    for fault in faults(packets):
        checks.expect(False, fault)
    for p in packets:
        for name, message in experts(p):
            checks.expect(False, "frame %d: expert info %s: %s" % (p.number(), name, message))


def _die_with_parent():
    """In the capture's process before dumpcap runs: however the test ends,
    the kernel ends the capture with it."""
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class Capture:
    """dumpcap on an interface of this network namespace, from the moment it
    names its file until stop().  It says "Capturing on" before it opens the
    interface, and names the file once the interface is open."""

    def __init__(self, interface, path):
        self.path = path
        self._log = tempfile.TemporaryFile(mode="w+")
        self.process = subprocess.Popen(["dumpcap", "-q", "-i", interface, "-w", path], stdout=subprocess.DEVNULL,
                                        stderr=self._log, text=True, preexec_fn=_die_with_parent)
        deadline = time.monotonic() + 10
        while not self._said("File: "):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("dumpcap did not start: " + self._said(""))
            time.sleep(0.05)

    def _said(self, what):
        self._log.seek(0)
        text = self._log.read()
        return text if what in text else ""

    def stop(self):
        time.sleep(0.3)  # what is still on its way
        self.process.send_signal(signal.SIGINT)
        if self.process.wait(timeout=10) != 0:
            raise RuntimeError("dumpcap failed: " + self._said(""))


class Checks:
    """Every failed check is reported; the test fails when any did."""

    def __init__(self):
        self.failures = 0

    def expect(self, ok, what):
        if not ok:
            self.failures += 1
            print("FAILED: " + what, flush=True)
        return ok

    def equal(self, got, wanted, what):
        return self.expect(got == wanted, "%s: %r, not %r" % (what, got, wanted))

    def end(self, summary):
        print(("ok: " if not self.failures else "%d checks FAILED; " % self.failures) + summary)
        sys.exit(1 if self.failures else 0)

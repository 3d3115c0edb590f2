"""qapi-cdr as a user runs it: against qapi-sim and a feed server of the
test's own, into a real SQLite file and a real PostgreSQL 15 server; with
the database stopped, the collector killed and the feed server restarted in
the middle of a stream.  Runs inside a private network namespace
(tests/support/netns-run.sh); PostgreSQL runs as an unprivileged user.

    collector_test.py QAPI-CDR QAPI-SIM QAPI-CONSOLE PG-SERVER-SCRIPT
"""
import os
import re
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from cdr_wire import FeedServer, Record, numbered  # noqa: E402

CDR = SIM = CONSOLE = PG_SERVER = None
PSQL = "/usr/lib/postgresql/15/bin/psql"
COLUMNS = ["kindLetter", "callTime", "sentTime", "duration", "numberA", "numberB", "numberC", "textA", "textB",
           "textC", "text", "wordA", "wordB", "valueA", "valueB", "addressText", "numberD", "serverAddressText"]


def wait_for(what, check, seconds=30.0, state=None):
    """`state`, when given, tells what was there instead."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if check():
            return
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what + (": " + state() if state else ""))


class Collector:
    """One qapi-cdr process, its status lines in a file."""

    def __init__(self, folder, args, name="collector"):
        self.log_path = os.path.join(folder, name + ".log")
        self.log = open(self.log_path, "w")
        self.process = subprocess.Popen([CDR] + args, cwd=folder, stdout=self.log, stderr=subprocess.STDOUT)

    def text(self):
        with open(self.log_path) as f:
            return f.read()

    def stop(self, sig=signal.SIGTERM):
        self.process.send_signal(sig)
        code = self.process.wait(30)
        self.log.close()
        return code

    def summary(self):
        m = re.search(r"(\d+) records received, (\d+) stored, (\d+) already stored, (\d+) spooled", self.text())
        assert m, self.text()
        return dict(zip(("received", "stored", "skipped", "spooled"), map(int, m.groups())))


class Sqlite:
    def __init__(self, folder):
        self.path = os.path.join(folder, "cdr.sqlite")
        self.db = self.path

    def rows(self, columns="*"):
        if not os.path.exists(self.path):
            return []
        with sqlite3.connect("file:%s?mode=ro" % self.path, uri=True) as c:
            try:
                cursor = c.execute('SELECT %s FROM cdr ORDER BY id' % columns)
            except sqlite3.OperationalError:
                return []
            names = [d[0] for d in cursor.description]
            return [dict(zip(names, r)) for r in cursor.fetchall()]

    def count(self):
        return len(self.rows('"id"'))


class Postgres:
    def __init__(self, url):
        self.db = url

    def rows(self, columns="*"):
        query = "SELECT %s FROM cdr ORDER BY id" % columns
        out = subprocess.run([PSQL, self.db, "-AtX", "-F", "\x1f", "-R", "\x1e", "-c",
                              "SELECT to_regclass('cdr') IS NOT NULL"], capture_output=True, text=True)
        if out.stdout.strip() != "t":
            return []
        header = subprocess.run([PSQL, self.db, "-AX", "-F", "\x1f", "-R", "\x1e", "-P", "footer=off", "-c",
                                 query], capture_output=True, text=True, check=True).stdout
        lines = header.rstrip("\n").split("\x1e")
        names = lines[0].split("\x1f")
        return [dict(zip(names, [None if v == "" else v for v in line.split("\x1f")])) for line in lines[1:] if line]

    def count(self):
        out = subprocess.run([PSQL, self.db, "-AtX", "-c", "SELECT count(*) FROM cdr"], capture_output=True,
                             text=True)
        return int(out.stdout) if out.returncode == 0 and out.stdout.strip() else 0

    def sql(self, query):
        subprocess.run([PSQL, self.db, "-AtqX", "-c", query], check=True, capture_output=True)


def stored_fields(store):
    """Every stored record's columns as the tests compare them."""
    cast = "::text" if isinstance(store, Postgres) else ""
    rows = store.rows(", ".join('"%s"%s AS "%s"' % (c, cast, c) for c in COLUMNS))
    numbers = {"duration", "numberA", "numberB", "numberC", "wordA", "wordB", "valueA", "valueB", "numberD"}
    for r in rows:
        for k in numbers:
            r[k] = int(r[k])
        for k in ("textA", "textB", "textC", "text", "addressText"):
            r[k] = r[k] or ""
    return rows


class Case(unittest.TestCase):
    port = 7100

    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="qapi-cdr-test-")
        os.chmod(self.folder, 0o755)
        Case.port += 1
        self.port = Case.port
        self.cleanups = []

    def tearDown(self):
        for c in reversed(self.cleanups):
            c()
        shutil.rmtree(self.folder, ignore_errors=True)

    def feed_server(self, records, **kw):
        server = FeedServer(self.port, records, **kw)
        self.cleanups.append(server.close)
        return server

    def sim(self, records, per_poll=5):
        p = subprocess.Popen([SIM, "--feed-port", str(self.port), "--feed-records", str(records),
                              "--records-per-poll", str(per_poll)], stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.cleanups.append(lambda: (p.poll() is None and p.kill(), p.wait()))
        time.sleep(0.3)
        return p

    def collector(self, store, *extra, name="collector"):
        c = Collector(self.folder, ["--feed", "127.0.0.1:%d" % self.port, "--db", store.db] + list(extra), name)
        self.cleanups.append(lambda: c.process.poll() is None and (c.process.kill(), c.process.wait()))
        return c

    def cdr(self, *args, **kw):
        return subprocess.run([CDR] + list(args), cwd=self.folder, capture_output=True, text=True, timeout=60, **kw)

    # -- shared scenarios ------------------------------------------------

    def every_field_right(self, store):
        records = [
            Record(5, a=17, b=4711, c=42, d=1234, digits=("4711", "17", "0815"), when=(2024, 5, 17, 10, 30, 5),
                   count=7531, value_a=3, value_b=0xFFFFFFFF, address=0xC000020A, word_a=1, word_b=65535),
            Record(1, text=b"Note with \xe9\xff and, \"quotes\"\nand a line"),
            Record(2, a=18, c=4712, text=b"x" * 96, word_b=7),
            Record(3, a=19, c=4713, digits=("*#0123456789ABCD" * 2, "99", "1" * 32)),
            Record(4, a=-5, word_a=2, word_b=3),
            Record(0, a=1, b=2, c=3, when=(2023, 2, 30, 23, 59, 59)),  # a day the calendar lacks
            Record(63, a=7, when=(2063, 12, 31, 0, 0, 0), count=31),
        ]
        self.feed_server(records)
        c = self.collector(store)
        wait_for("the records", lambda: store.count() == len(records))
        self.assertEqual(c.stop(signal.SIGINT), 0)
        stored = stored_fields(store)
        for want, got in zip(records, stored):
            self.assertEqual(got, want.expected())
        self.assertEqual(c.summary(), {"received": 7, "stored": 7, "skipped": 0, "spooled": 0})
        # The export gives the console's columns, the texts back as sent.
        self.assertEqual(self.cdr("export", "--db", store.db, "--csv", "out.csv").returncode, 0)
        with open(os.path.join(self.folder, "out.csv"), encoding="utf-8", newline="") as f:
            lines = f.read().split("\r\n")
        self.assertTrue(lines[0].startswith("kindLetter,second,minute,hour,day,month,year,duration,"))
        self.assertEqual(lines[1].split(",")[:11], "F,5,30,10,17,5,2024,120,17,4711,42".split(","))
        self.assertIn("\"Note with \u00e9\u00ff and, \"\"quotes\"\"\nand a line\"", lines[2])
        self.assertTrue(lines[6].startswith("A,59,59,23,30,2,2023,"))

    def sim_records(self, store):
        sim = self.sim(30, per_poll=7)
        c = self.collector(store)
        wait_for("30 records", lambda: store.count() == 30)
        self.assertEqual(c.stop(signal.SIGINT), 0)
        sim.kill()
        sim.wait()
        rows = stored_fields(store)
        self.assertEqual([r["kindLetter"] for r in rows[:3]], ["F", "B", "D"])
        self.assertEqual(rows[0]["callTime"], "2024-05-17 10:30:00")
        self.assertEqual((rows[0]["numberA"], rows[0]["numberC"], rows[0]["textA"], rows[0]["duration"]),
                         (17, 1, "4711", 60))
        self.assertEqual(rows[1]["text"], "Call record note 2")
        self.assertEqual((rows[29]["callTime"], rows[29]["textC"]), ("2024-05-17 10:59:00", "18"))
        # Every field: the export is the file the console writes from a
        # simulator of its own with the same sequence.
        self.assertEqual(self.cdr("export", "--db", store.db, "--csv", "export.csv").returncode, 0)
        sim = self.sim(30, per_poll=7)
        console = subprocess.run([CONSOLE, "--feed", "127.0.0.1:%d" % self.port, "--no-stdin", "--seconds", "3",
                                  "--cdr-csv", "console.csv"], cwd=self.folder, capture_output=True, timeout=30)
        self.assertEqual(console.returncode, 0, console.stderr)
        sim.kill()
        with open(os.path.join(self.folder, "export.csv"), "rb") as a, \
                open(os.path.join(self.folder, "console.csv"), "rb") as b:
            self.assertEqual(a.read(), b.read())


class SqliteTest(Case):
    def test_records_of_every_kind_arrive_with_every_field_right(self):
        self.every_field_right(Sqlite(self.folder))
        with sqlite3.connect(os.path.join(self.folder, "cdr.sqlite")) as c:
            self.assertEqual(c.execute("PRAGMA journal_mode").fetchone()[0], "wal")

    def test_records_from_the_simulator_match_the_consoles_csv(self):
        store = Sqlite(self.folder)
        self.sim_records(store)
        report = self.cdr("report", "--db", store.db, "--from", "2024-05-17 10:30", "--to", "2024-05-17 10:40",
                          "--html", "report.html")
        self.assertEqual(report.returncode, 0, report.stderr)
        self.assertIn("10 records, 7 calls", report.stdout)
        self.assertRegex(report.stdout, r"2024-05-17 10:00 +7 ")
        with open(os.path.join(self.folder, "report.html")) as f:
            page = f.read()
        self.assertIn("<svg", page)
        self.assertNotIn("<script", page)

    def test_a_killed_collector_started_again_stores_nothing_twice(self):
        store = Sqlite(self.folder)
        records = numbered(3000)
        records[1001:1001] = [records[1000]]  # two identical calls: both are kept
        self.feed_server(records, per_batch=40, interval=0.04)
        first = self.collector(store, name="first")
        wait_for("a part of the stream", lambda: store.count() >= 800)
        first.stop(signal.SIGKILL)
        kept = store.count()
        second = self.collector(store, name="second")  # the server sends it all again
        wait_for("the whole stream", lambda: store.count() == len(records))
        time.sleep(0.5)
        self.assertEqual(second.stop(), 0)
        counts = second.summary()
        rows = store.rows('"numberC", "occurrence"')
        self.assertEqual(len(rows), len(records))
        self.assertEqual(len({(r["numberC"], r["occurrence"]) for r in rows}), len(records))
        self.assertEqual(counts["received"], len(records))
        self.assertEqual(counts["stored"] + counts["skipped"], len(records))
        self.assertGreaterEqual(counts["skipped"], kept)
        print("\nkilled collector: %d records sent twice, %d stored by the first, %d by the second, %d skipped"
              % (len(records), kept, counts["stored"], counts["skipped"]), file=sys.stderr)

    def test_a_restarted_feed_server_is_taken_up_again(self):
        store = Sqlite(self.folder)
        sim = self.sim(10)
        c = self.collector(store)
        wait_for("10 records", lambda: store.count() == 10)
        sim.terminate()
        sim.wait()
        wait_for("the feed's failure", lambda: "failed: Connection socket closed!; next try in 1 s" in c.text())
        self.sim(25)  # the same sequence again, and more
        wait_for("the feed again", lambda: "connected again" in c.text())
        wait_for("25 records", lambda: store.count() == 25)
        self.assertEqual(c.stop(), 0)
        self.assertEqual(c.summary(), {"received": 35, "stored": 25, "skipped": 10, "spooled": 0})

    def test_bad_command_lines_and_unusable_files_are_refused(self):
        not_a_folder = os.path.join(self.folder, "plain-file")
        open(not_a_folder, "w").close()
        garbage = os.path.join(self.folder, "garbage.sqlite")
        with open(garbage, "wb") as f:
            f.write(b"this is no database" * 100)
        feed = ["--feed", "127.0.0.1:%d" % self.port]
        cases = [
            ([], "name at least one server with --feed HOST:PORT"),
            (["--feed", "callserver"], "not HOST:PORT"),
            (["--feed", "h:70000"], "the port of h:70000 wants a number from 1 to 65535"),
            (feed + ["--dbx", "a"], "unknown option"),
            (feed + ["--db"], "--db wants a value"),
            (feed + ["--db", not_a_folder + "/cdr.sqlite"], "cannot open"),
            (feed + ["--db", garbage], "file is not a database"),
            (feed + ["--db", "postgresql://localhost/cdr?bogus=1"], "not a PostgreSQL URL"),
            (["export", "--db", garbage], "export wants --csv FILE"),
            (["report", "--from", "2024-13-01"], "--from wants YYYY-MM-DD"),
            (["report", "--db", os.path.join(self.folder, "none.sqlite")], "cannot open"),
            (["report", "--html", "x.html", "--csv", "y"], "--csv does not belong to this command"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                r = self.cdr(*args)
                self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                self.assertIn(message, r.stderr)
        # A file its user may only read.
        readonly = os.path.join(self.folder, "readonly.sqlite")
        sqlite3.connect(readonly).execute("CREATE TABLE t (x)").connection.close()
        os.chmod(readonly, 0o444)
        as_user = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"] if os.getuid() == 0 else []
        if as_user and subprocess.run(as_user + ["true"]).returncode != 0:
            self.skipTest("no second user to run as")
        os.chmod(self.folder, 0o777)
        r = subprocess.run(as_user + [CDR] + feed + ["--db", readonly], cwd=self.folder, capture_output=True,
                           text=True, timeout=30)
        self.assertEqual(r.returncode, 1)
        self.assertIn("readonly.sqlite: the file cannot be written", r.stderr)


class PostgresTest(Case):
    server = None

    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="qapi-cdr-pg-")
        cls.pg = os.path.join(cls.home, "pg")
        started = subprocess.run([PG_SERVER, "start", cls.pg, "5433"], capture_output=True, text=True)
        if started.returncode == 77:
            raise unittest.SkipTest(started.stderr.strip())
        if started.returncode != 0:
            raise RuntimeError(started.stderr)
        cls.url = started.stdout.strip()

    @classmethod
    def tearDownClass(cls):
        subprocess.run([PG_SERVER, "stop", cls.pg], capture_output=True)
        shutil.rmtree(cls.home, ignore_errors=True)

    def setUp(self):
        super().setUp()
        self.store = Postgres(self.url)
        self.store.sql("DROP TABLE IF EXISTS cdr")

    def test_records_of_every_kind_arrive_with_every_field_right(self):
        self.every_field_right(self.store)

    def test_records_from_the_simulator_match_the_consoles_csv(self):
        self.sim_records(self.store)

    def test_postgres_stopped_in_the_middle_of_a_stream_loses_nothing_and_stores_nothing_twice(self):
        records = numbered(4000)
        server = self.feed_server(records, per_batch=40, interval=0.04)
        c = self.collector(self.store, "--spool", "cdr.spool")
        wait_for("a part of the stream", lambda: self.store.count() >= 800)
        subprocess.run([PG_SERVER, "stop", self.pg], check=True, capture_output=True)
        wait_for("the spool", lambda: "database down" in c.text())
        time.sleep(1.5)
        subprocess.run([PG_SERVER, "start", self.pg, "5433"], check=True, capture_output=True)
        server.done.wait(60)
        wait_for("the whole stream", lambda: self.store.count() == len(records), 60)
        self.assertEqual(c.stop(), 0)
        counts = c.summary()
        numbers = [int(r["numberC"]) for r in self.store.rows('"numberC"')]
        self.assertEqual(numbers, list(range(len(records))))  # each once, in order
        self.assertRegex(c.text(), r"database back: \d+ records from the spool stored")
        self.assertGreater(counts["spooled"], 0)
        self.assertEqual(counts["received"], len(records))
        self.assertEqual(counts["stored"], len(records))
        self.assertEqual(os.path.getsize(os.path.join(self.folder, "cdr.spool")), 0)
        print("\npostgres stopped: %d records sent, %d stored, %d spooled, %d skipped"
              % (len(records), counts["stored"], counts["spooled"], counts["skipped"]), file=sys.stderr)


if __name__ == "__main__":
    CDR, SIM, CONSOLE, PG_SERVER = (os.path.abspath(a) for a in sys.argv[1:5])
    unittest.main(argv=sys.argv[:1] + sys.argv[5:], verbosity=2)

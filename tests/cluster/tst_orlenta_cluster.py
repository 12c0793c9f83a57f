#!/usr/bin/python3
"""orlenta-cluster run as a user would, against one orlenta-extract run over the same input.

    tst_orlenta_cluster.py --extract BUILD/cli/orlenta-extract --cluster BUILD/cli/orlenta-cluster

Half the runs go to a Dask cluster this test starts (--scheduler), the others start their own
(--local). Each driver runs in a session of its own, so what it leaves behind is found by its
process group; this process is the subreaper of those, so their ends are seen, not left to
init. Every run is bounded, and whatever a failed check leaves is killed.
"""
import argparse
import ctypes
import logging
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

EXTRACT = None
CLUSTER = None
RUN_SECONDS = 60  # one driver run, cluster start included, on a busy machine
PR_SET_CHILD_SUBREAPER = 36

SLOW_WRAPPER = """#!/usr/bin/python3
# orlenta-extract, each slice held back a while, with the worker that runs it noted down.
import os, sys, time
if "--slice" in sys.argv:
    with open({log!r}, "a") as log:
        log.write("%d %d %s\\n" % (os.getppid(), os.getpid(), sys.argv[sys.argv.index("--slice") + 1]))
    time.sleep({delay})
os.execv({real!r}, [{real!r}] + sys.argv[1:])
"""

CORRUPTING_WRAPPER = """#!/usr/bin/python3
# orlenta-extract, and then the partial of slice 2 damaged: cut to half its length.
import os, subprocess, sys
status = subprocess.call([{real!r}] + sys.argv[1:])
if "--slice" in sys.argv and sys.argv[sys.argv.index("--slice") + 1].startswith("2/"):
    partial = sys.argv[sys.argv.index("--partial") + 1]
    os.truncate(partial, os.path.getsize(partial) // 2)
sys.exit(status)
"""


def make_input(root):
    """Files and a folder whose slices split a large file and hold mixed-case duplicates."""
    os.makedirs(os.path.join(root, "in", "sub"))

    def write(name, data):
        with open(os.path.join(root, "in", name), "wb") as out:
            out.write(data)

    write("a.txt", b"Write to Ann@Example.org or bob@example.org.\r\n")
    lines = []
    for i in range(24000):  # about 1 MB: larger than a slice
        lines.append(b"user%d@host%d.example.com some words between\r\n" % (i, i % 97))
        if i % 7 == 3:  # an earlier address again, in another case, often in a later slice
            lines.append(b"USER%d@HOST%d.EXAMPLE.COM\r\n" % (i // 3, (i // 3) % 97))
        if i == 20000:
            lines.append(b"ann@EXAMPLE.org at the end\r\n")
    write("big.txt", b"".join(lines))
    write("sub/c.html", b"<a href=\"mailto:BOB@example.org\">carol@example.net</a>\r\n")
    # Unix line ends: these two form one token unless --lf; .dat is read only with --all.
    write("sub/e.dat", b"dave@example.com\nerin@example.com\n")
    write("sub/f.txt", b"frank@example.com\ngrace@example.com\n")


def processes_in_group(group):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        state, parent, process_group = fields[0], int(fields[1]), int(fields[2])
        if process_group == group:
            found.append((int(entry), state, parent))
    return found


class Result:
    def __init__(self, status, stdout, stderr):
        self.status, self.stdout, self.stderr = status, stdout, stderr


class ClusterTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)
        cls.scratch = tempfile.mkdtemp(prefix="tst_orlenta_cluster.")
        make_input(cls.scratch)
        cls.scheduler = None

    @classmethod
    def tearDownClass(cls):
        if cls.scheduler is not None:
            cls.client.close()
            cls.scheduler.close()
        shutil.rmtree(cls.scratch, ignore_errors=True)

    @classmethod
    def shared_scheduler(cls):
        """A cluster of two worker processes of this test's, for --scheduler runs."""
        if cls.scheduler is None:
            import distributed

            cls.scheduler = distributed.LocalCluster(
                n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                scheduler_port=0, dashboard_address="127.0.0.1:0", memory_limit=0,
                silence_logs=logging.ERROR,
                local_directory=os.path.join(cls.scratch, "dask"))
            cls.client = distributed.Client(cls.scheduler)
        return cls.scheduler.scheduler_address

    def setUp(self):
        self.tmp = tempfile.mkdtemp(dir=self.scratch, prefix="tmp.")  # the drivers' TMPDIR
        self.work = tempfile.mkdtemp(dir=self.scratch, prefix="work.")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)
        shutil.rmtree(self.work, ignore_errors=True)

    def extract(self, arguments):
        done = subprocess.run([EXTRACT] + arguments, cwd=self.scratch, capture_output=True,
                              timeout=RUN_SECONDS)
        return Result(done.returncode, done.stdout, done.stderr)

    def cluster(self, arguments, during=None):
        """Runs the driver; `during(process, group)` acts while it runs. Checks that it left
        no process and no file behind."""
        environment = dict(os.environ, TMPDIR=self.tmp)
        process = subprocess.Popen([CLUSTER] + arguments, cwd=self.scratch, env=environment,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, start_new_session=True)
        group = process.pid
        try:
            if during is not None:
                during(process, group)
            stdout, stderr = process.communicate(timeout=RUN_SECONDS)
        except BaseException:
            os.killpg(group, signal.SIGKILL)
            process.communicate()
            raise
        finally:
            left = self.wait_for_group(group)
        self.assertEqual(left, [], "processes left behind: %s" % left)
        self.assertEqual(os.listdir(self.tmp), [], "files left in TMPDIR")
        self.assertEqual(os.listdir(self.work), [], "files left in the work folder")
        return Result(process.returncode, stdout, stderr)

    def wait_for_group(self, group):
        """Reaps what the driver left to this process; what still runs after a few seconds
        is listed, then killed."""
        deadline = time.monotonic() + 5
        while True:
            running = []
            for pid, state, parent in processes_in_group(group):
                if state == "Z" and parent == os.getpid():
                    try:
                        os.waitpid(pid, os.WNOHANG)
                    except ChildProcessError:
                        pass
                elif state != "Z":
                    running.append(pid)
            if not running or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        if running:
            os.killpg(group, signal.SIGKILL)
        return running

    def wrapper(self, template, **values):
        path = os.path.join(self.scratch, "wrapper-%s" % self.id().rsplit(".", 1)[1])
        with open(path, "w") as out:
            out.write(template.format(real=EXTRACT, **values))
        os.chmod(path, 0o755)
        return path

    # ------------------------------------------------------------------------------------------

    def test_output_is_that_of_one_run(self):
        paths = ["in/a.txt", "in/big.txt", "in/sub"]
        rows = [
            # name, options, extra paths, its own cluster
            ("plain list", [], [], False),
            ("--comma and -o go to the merge, --lf --all -j 1 to the slices",
             ["--comma", "--lf", "--all", "-j", "1"], [], False),
            ("an unreadable path: status 1, named once, the rest written", [],
             ["in/missing.txt"], False),
            ("--local 2 with its default number of slices", [], [], True),
            ("--report goes to the merge, its columns to the slices: the one run's report",
             ["--report", os.path.join(self.scratch, "report.csv")], [], False),
        ]
        for name, options, extra, local in rows:
            with self.subTest(name):
                arguments = options + paths + extra
                expected = self.extract(arguments)
                report = options[1] if "--report" in options else None
                if report:
                    with open(report, "rb") as written:
                        expected_report = written.read()
                    os.remove(report)
                output = os.path.join(self.scratch, "out.txt")
                if "--comma" in options:
                    arguments = ["-o", output] + arguments
                where = (["--local", "2"] if local else
                         ["--scheduler", self.shared_scheduler(), "--work-dir", self.work,
                          "--slices", "7"])
                got = self.cluster(where + arguments)
                self.assertEqual(got.status, expected.status, got.stderr.decode())
                if "--comma" in options:
                    with open(output, "rb") as written:
                        self.assertEqual(written.read(), expected.stdout)
                    os.remove(output)
                else:
                    self.assertEqual(got.stdout, expected.stdout)
                self.assertGreater(len(expected.stdout), 100000)
                if report:
                    with open(report, "rb") as written:
                        self.assertEqual(written.read(), expected_report)
                    os.remove(report)
                if extra:
                    self.assertEqual(got.stderr.count(b"in/missing.txt"), 1, got.stderr)

    def test_a_killed_worker_has_its_slice_run_again(self):
        log = os.path.join(self.scratch, "slices-run.log")
        slow = self.wrapper(SLOW_WRAPPER, log=log, delay=1.0)
        killed = []

        def kill_a_worker(process, group):
            deadline = time.monotonic() + RUN_SECONDS
            while time.monotonic() < deadline and not os.path.getsize(log):
                time.sleep(0.05)
            with open(log) as runs:
                worker, _, choice = runs.readline().split()
            os.kill(int(worker), signal.SIGKILL)
            killed.append(choice)

        open(log, "w").close()
        paths = ["in/a.txt", "in/big.txt", "in/sub"]
        expected = self.extract(paths)
        got = self.cluster(["--local", "2", "--slices", "6", "--extract", slow] + paths,
                           during=kill_a_worker)
        self.assertEqual(got.status, 0, got.stderr.decode())
        self.assertEqual(got.stdout, expected.stdout)
        with open(log) as lines:
            runs = [line.split()[2] for line in lines]
        self.assertEqual(runs.count(killed[0]), 2, "slice %s ran %s" % (killed[0], runs))

    def test_a_corrupt_partial_is_refused(self):
        damaging = self.wrapper(CORRUPTING_WRAPPER)
        output = os.path.join(self.scratch, "kept.txt")
        with open(output, "wb") as out:
            out.write(b"what the user had\r\n")
        got = self.cluster(["--scheduler", self.shared_scheduler(), "--work-dir", self.work,
                            "--slices", "3", "--extract", damaging, "-o", output,
                            "in/a.txt", "in/big.txt"])
        self.assertEqual(got.status, 1)
        self.assertIn(b"slice-000002-of-000003.partial: truncated", got.stderr)
        with open(output, "rb") as kept:
            self.assertEqual(kept.read(), b"what the user had\r\n")
        os.remove(output)

    def test_ctrl_c_stops_everything(self):
        log = os.path.join(self.scratch, "slices-run.log")
        slow = self.wrapper(SLOW_WRAPPER, log=log, delay=30)
        rows = [
            # name, the signal sent to the whole group
            ("Ctrl-C", signal.SIGINT),
            ("timeout(1)", signal.SIGTERM),
            ("a hangup", signal.SIGHUP),
        ]
        for name, number in rows:
            with self.subTest(name):
                open(log, "w").close()

                def send(process, group):
                    deadline = time.monotonic() + RUN_SECONDS
                    while time.monotonic() < deadline and not os.path.getsize(log):
                        time.sleep(0.05)
                    os.killpg(group, number)  # as a terminal or timeout does: to the group

                output = os.path.join(self.scratch, "untouched.txt")
                got = self.cluster(["--local", "2", "--extract", slow, "-o", output, "in/a.txt"],
                                   during=send)
                self.assertEqual(got.status, -number, got.stderr.decode())
                self.assertFalse(os.path.exists(output))
                self.assertNotIn(b"Traceback", got.stderr)

    def test_sigterm_leaves_nothing(self):
        log = os.path.join(self.scratch, "slices-run.log")
        slow = self.wrapper(SLOW_WRAPPER, log=log, delay=0)
        report = os.path.join(self.scratch, "report.csv")

        def slices_started(count):
            with open(log) as runs:
                return len(runs.readlines()) >= count

        def merge_writing():  # the merge holds the report's temporary file: stdout is full
            return any(name.startswith(".report.csv.") for name in os.listdir(self.scratch))

        rows = [
            # name, options, when to send SIGTERM to the driver alone
            ("while slices keep renaming their partials in",
             ["--slices", "60", "--extract", slow], lambda: slices_started(6)),
            ("during the merge: its temporary file beside --report goes",
             ["--slices", "3", "--report", report], merge_writing),
        ]
        for name, options, ready in rows:
            with self.subTest(name):
                open(log, "w").close()

                def terminate(process, group):
                    deadline = time.monotonic() + RUN_SECONDS
                    while time.monotonic() < deadline and not ready():
                        time.sleep(0.02)
                    process.terminate()

                got = self.cluster(["--local", "2"] + options + ["in/a.txt", "in/big.txt"],
                                   during=terminate)
                self.assertEqual(got.status, -signal.SIGTERM, got.stderr.decode())
                self.assertEqual([name for name in os.listdir(self.scratch)
                                  if name.startswith(".report.csv") or name == "report.csv"], [])

    def test_usage_errors(self):
        rows = [
            ("neither --local nor --scheduler", ["in/a.txt"], 2, b"give either"),
            ("standard input cannot be spread", ["--local", "2", "-"], 2, b"standard input"),
            ("--scheduler without shared storage named", ["--scheduler", "tcp://127.0.0.1:1",
                                                          "in/a.txt"], 2, b"--work-dir"),
            ("the driver cuts the slices itself", ["--local", "2", "--slice", "1/2", "in/a.txt"],
             2, b"--slice"),
            ("no input", ["--local", "2"], 2, b"no input files"),
            ("no more local workers than the processors can use",
             ["--local", "99999999999999999999", "in/a.txt"], 2, b"--local takes at most"),
            ("digits other than ASCII's", ["--local", "\u00b2", "in/a.txt"], 2,
             b"--local needs a number"),
            ("a scheduler address no other process reaches",
             ["--scheduler", "inproc://x", "--work-dir", self.work, "in/a.txt"], 2,
             b"--scheduler needs the scheduler's address"),
            ("an option orlenta-extract does not know",
             ["--local", "2", "--bogus", "in/a.txt"], 2, b"unknown option '--bogus'"),
            ("-o in a missing folder, as one run refuses it",
             ["--local", "2", "-o", "missing/out.txt", "in/a.txt"], 1,
             b"missing/out.txt: No such file or directory"),
        ]
        for name, arguments, status, message in rows:
            with self.subTest(name):
                got = self.cluster(arguments)
                self.assertEqual(got.status, status)
                self.assertIn(message, got.stderr)
                self.assertNotIn(b"slices on", got.stderr)  # refused before the cluster ran
                self.assertEqual(got.stdout, b"")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--extract", required=True)
    parser.add_argument("--cluster", required=True)
    options, rest = parser.parse_known_args()
    EXTRACT = os.path.abspath(options.extract)
    CLUSTER = os.path.abspath(options.cluster)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)

#!/usr/bin/env python3
"""What a fuzz run stopped early leaves behind: run_fuzzer.py with a stand-in
for the build_log target that, as libFuzzer does when interrupted, ends at
once with status 72 and leaves its scratch log in /tmp."""

import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

RUNNER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "run_fuzzer.py")

STAND_IN = """#!%s
import os, signal, sys, time
def interrupted(signum, frame):
    os._exit(72)
for signum in (signal.SIGINT, signal.SIGTERM):
    signal.signal(signum, interrupted)
open("/tmp/kestrane_build_log_fuzz_%%d.log" %% os.getpid(), "w").close()
with open(sys.argv[0] + ".args", "w") as f:
    f.write("\\n".join(sys.argv[1:]))
time.sleep(60)
""" % sys.executable


class InterruptedRunTests(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="kestrane-fuzz-")
        self.addCleanup(self.tmp.cleanup)
        folder = os.path.join(self.tmp.name, "tests", "fuzz")
        os.makedirs(folder)
        self.stand_in = os.path.join(folder, "kestrane_build_log_fuzz")
        with open(self.stand_in, "w") as f:
            f.write(STAND_IN)
        os.chmod(self.stand_in, 0o755)
        before = self.scratch_logs()
        self.addCleanup(lambda: [os.remove(os.path.join("/tmp", n))
                                 for n in self.scratch_logs() - before])

    def scratch_logs(self):
        return {n for n in os.listdir("/tmp") if n.startswith("kestrane_build_log_fuzz_")}

    @staticmethod
    def end_group(group):
        """Whatever of a run's process group is still there."""
        try:
            os.killpg(group, signal.SIGKILL)
        except ProcessLookupError:
            pass

    def start(self):
        """Starts a run in a process group of its own, as a terminal would;
        returns it once the stand-in runs, and the stand-in's arguments."""
        if os.path.exists(self.stand_in + ".args"):
            os.remove(self.stand_in + ".args")
        runner = subprocess.Popen(
            [sys.executable, RUNNER, "build_log", "--seconds", "7",
             "--build", self.tmp.name, "--corpus", os.path.join(self.tmp.name, "corpus"),
             "--", "-runs=5"], start_new_session=True)
        self.addCleanup(self.end_group, runner.pid)
        deadline = time.monotonic() + 30
        while not os.path.exists(self.stand_in + ".args"):
            self.assertIsNone(runner.poll(), "the run ended before the target started")
            self.assertLess(time.monotonic(), deadline, "the target did not start")
            time.sleep(0.05)
        time.sleep(0.1)  # the stand-in has its scratch log once its arguments are written
        with open(self.stand_in + ".args") as f:
            return runner, f.read().split("\n")

    def test_leaves_nothing_when_stopped(self):
        """However the run is stopped, its status tells how, and the scratch
        log the target left in /tmp is gone."""
        before = self.scratch_logs()
        to_group = lambda runner, signum: os.killpg(runner.pid, signum)  # noqa: E731
        to_runner = lambda runner, signum: runner.send_signal(signum)  # noqa: E731
        for how, send, signum, status in [
                ("Ctrl-C", to_group, signal.SIGINT, 72),
                ("a CI job's timeout", to_runner, signal.SIGTERM, 72),
                # libFuzzer does not handle SIGHUP: the target dies of it.
                ("a closed terminal", to_group, signal.SIGHUP, 128 + signal.SIGHUP)]:
            with self.subTest(how):
                runner, args = self.start()
                self.assertEqual(args, ["-max_total_time=7", "-max_len=2100", "-runs=5",
                                        os.path.join(self.tmp.name, "corpus"),
                                        os.path.join(os.path.dirname(RUNNER), "build_log")])
                self.assertEqual(len(self.scratch_logs() - before), 1, "the stand-in's scratch log")
                send(runner, signum)
                self.assertEqual(runner.wait(timeout=30), status)
                self.assertEqual(self.scratch_logs() - before, set())

    def test_refuses_a_run_without_end(self):
        proc = subprocess.run([sys.executable, RUNNER, "build_log", "--seconds", "0",
                               "--build", self.tmp.name], stderr=subprocess.PIPE, text=True)
        self.assertEqual(proc.returncode, 2)
        self.assertIn("never ends", proc.stderr)
        self.assertFalse(os.path.exists(self.stand_in + ".args"))


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""The identification banner, as the built executables print it.

Settings (environment variables):
  KESTRANE_COMMAND        required; the command that starts the tool (as for
                          cli_test.py). Its banner must read
                          "Kestrane.exe version 1.1 from <build date>" and the
                          copyright notice.
  KESTRANE_COPYRIGHT      required; the notice the build put in.
  KESTRANE_PROBE_COMMAND  optional; the command that starts a banner probe,
                          with {} where the probe's name goes
                          ("wine build/windows/tests/banner_probe_{}.exe").
                          The probes print only the banner of their own
                          executable, each from a variant of the version
                          resource; without this setting they are skipped.
  KESTRANE_WINE           optional; the Wine loader. With it, each of
                          KESTRANE_WINDOWS_EXES (Kestrane.exe builds, split
                          like a shell would) is started the ways Windows users and
                          programs start it, KESTRANE_LAUNCHER (launcher.exe)
                          among them, and must print Kestrane's banner each
                          time; without it these starts are skipped. Windows
                          paths are made of Unix ones with Wine's drive Z:.
  SOURCE_DATE_EPOCH       when set (at build time and here), the build date
                          must be the day it names, in UTC.

Console lines are compared, not bytes: under Windows they end in CR LF.
"""

import os
import re
import shlex
import shutil
import subprocess
import tempfile
import time
import unittest

COPYRIGHT = os.environ.get("KESTRANE_COPYRIGHT", "")
PROBE_COMMAND = os.environ.get("KESTRANE_PROBE_COMMAND", "")
WINE = os.environ.get("KESTRANE_WINE", "")
USAGE = [
    "Kestrane error: Not enough command line arguments.",
    "Usage: Kestrane.exe",
    " --input=INFILE",
    " --output=OUTFILE",
]
DATE_FORM = re.compile(r"(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) ( [1-9]|[12][0-9]|3[01]) [0-9]{4}\Z")
MONTHS = "Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec".split()


def setUpModule():
    for setting in ("KESTRANE_COMMAND", "KESTRANE_COPYRIGHT"):
        if not os.environ.get(setting):
            raise RuntimeError(setting + " is not set")


def expected_date():
    """The build date SOURCE_DATE_EPOCH names, or None when it is not set."""
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if epoch is None:
        return None
    t = time.gmtime(int(epoch))
    return "%s %2d %d" % (MONTHS[t.tm_mon - 1], t.tm_mday, t.tm_year)


def run(words, **options):
    """Start `words` (with subprocess.run `options`); return (exit status,
    console lines)."""
    for attempt in range(3):  # a start Wine ended before it ran, as in cli_test.py
        proc = subprocess.run(words, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=60, **options)
        if proc.returncode != 1 or proc.stdout:
            break
    lines = [l[:-1] if l.endswith("\r") else l
             for l in proc.stdout.decode("latin-1").split("\n")[:-1]]
    return proc.returncode, lines


class BannerTestCase(unittest.TestCase):
    def assertBanner(self, words, status, name, version, notice, lines_after, **options):
        """The run of `words` ends with `status`, and its console holds the
        banner for file `name`, `version` and `notice`, then `lines_after`."""
        got_status, lines = run(words, **options)
        self.assertEqual(got_status, status, lines)
        self.assertGreaterEqual(len(lines), 2, lines)
        head = "%s version %s from " % (name, version)
        self.assertTrue(lines[0].startswith(head), lines)
        date = lines[0][len(head):]
        self.assertRegex(date, DATE_FORM)
        if expected_date() is not None:
            self.assertEqual(date, expected_date())
        self.assertEqual(lines[1], notice)
        self.assertEqual(lines[2:], lines_after)


class ToolBannerTests(BannerTestCase):
    def test_banner_comes_first(self):
        # No arguments: the banner, then the usage.
        words = shlex.split(os.environ["KESTRANE_COMMAND"])
        self.assertBanner(words, 255, "Kestrane.exe", "1.1", COPYRIGHT, USAGE)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WindowsStartTests(BannerTestCase):
    """The banner comes from the executable's own file, whatever the program
    path that the parent passes as argv[0]."""

    def setUp(self):
        if not WINE:
            self.skipTest("KESTRANE_WINE is not set")
        self.tmp = tempfile.mkdtemp(prefix="kestrane-starts-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def install(self, exe, folder):
        """A copy of `exe` as `folder`/Kestrane.exe; returns its path."""
        os.makedirs(os.path.join(self.tmp, folder))
        path = os.path.join(self.tmp, folder, "Kestrane.exe")
        shutil.copy(exe, path)
        return path

    def test_banner_however_started(self):
        launcher = os.environ["KESTRANE_LAUNCHER"]
        for number, exe in enumerate(shlex.split(os.environ["KESTRANE_WINDOWS_EXES"])):
            # (start, folder the copy of exe lies in, words that start it, given
            # its path, and environment)
            starts = [
                ("as Kestrane through PATH, from cmd", "bin",
                 lambda path: [WINE, "cmd", "/c", "Kestrane"],
                 lambda path: dict(os.environ, WINEPATH=windows_path(os.path.dirname(path)))),
                ("from a folder whose name is not ASCII", "ツール",
                 lambda path: [WINE, path], lambda path: None),
                ("from a folder path of more than 260 characters", "/".join(["long" * 12] * 6),
                 lambda path: [WINE, path], lambda path: None),
                ("with kernel32 as the first word of its command line", "launched",
                 lambda path: [WINE, launcher, windows_path(path), "kernel32"], lambda path: None),
            ]
            for start, folder, words, env in starts:
                with self.subTest(exe=os.path.basename(exe), start=start):
                    path = self.install(exe, os.path.join(str(number), folder))
                    self.assertBanner(words(path), 255, "Kestrane.exe", "1.1", COPYRIGHT, USAGE,
                                      cwd=self.tmp, env=env(path))


class ProbeBannerTests(BannerTestCase):
    def setUp(self):
        if not PROBE_COMMAND:
            self.skipTest("KESTRANE_PROBE_COMMAND is not set")

    def probe(self, name):
        return shlex.split(PROBE_COMMAND.replace("{}", name))

    def test_variant_resources(self):
        # (probe, file name, version text, notice), the probe's resource
        # changed from Kestrane.exe's as the name says.
        cases = [
            ("no_copyright", "Kestrane.exe", "1.1", ""),
            ("no_filename", "", "1.1", COPYRIGHT),
            ("version_10_20", "Kestrane.exe", "10.20", COPYRIGHT),
            ("version_max", "Kestrane.exe", "65535.65535", COPYRIGHT),
        ]
        for probe, name, version, notice in cases:
            with self.subTest(probe):
                self.assertBanner(self.probe(probe), 0, name, version, notice, [])

    def test_no_version_resource_prints_nothing(self):
        self.assertEqual(run(self.probe("no_resource")), (0, []))


if __name__ == "__main__":
    unittest.main()

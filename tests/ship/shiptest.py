"""What the shipping tests share: their settings and a checked command runner.

Settings come from the environment; tests/CMakeLists.txt sets them.
"""

import glob
import os
import shutil
import subprocess
import tempfile
import unittest

TIMEOUT = 300


def setting(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError("%s is not set; run this test through ctest" % name)
    return value


def run(args, cwd=None, check=True, env=None):
    """Runs `args`; returns the completed process, its output as text.

    With `check`, a non-zero exit fails the test and shows the output.
    """
    proc = subprocess.run(args, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=TIMEOUT)
    proc.stdout = proc.stdout.decode("utf-8", "replace")
    proc.stderr = proc.stderr.decode("utf-8", "replace")
    if check and proc.returncode != 0:
        raise AssertionError("%s exited with %s\n--- stdout\n%s--- stderr\n%s"
                             % (args, proc.returncode, proc.stdout, proc.stderr))
    return proc


def need(program):
    """Skips the test when `program` is missing, except in CI, which installs
    every checker: there a missing one fails rather than passing unseen."""
    if shutil.which(program):
        return
    if os.environ.get("CI"):
        raise AssertionError("%s is not installed" % program)
    raise unittest.SkipTest("%s is not installed" % program)


class ScratchTestCase(unittest.TestCase):
    """A test with a fresh scratch folder, self.tmp, removed afterwards."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kestrane-ship-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def assertListsExampleLog(self, program):
        """`program`, an installed kestrane, turns the bundled supplier log
        into the list that goes with it."""
        examples = os.path.join(setting("KESTRANE_SOURCE_DIR"), "examples")
        out = self.path("example-sources.txt")
        run([program, "--input=" + os.path.join(examples, "supplier-build.log"), "--output=" + out])
        with open(out, "rb") as got, open(os.path.join(examples, "supplier-build.expected"), "rb") as want:
            self.assertEqual(got.read(), want.read())


class PackageTestCase(ScratchTestCase):
    """Tests of one package, made by cpack once for the whole class: with
    GENERATOR ("DEB", "ZIP") from the CPackConfig.cmake in BUILD_DIR."""

    GENERATOR = None
    BUILD_DIR = None

    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.mkdtemp(prefix="kestrane-package-")
        run([setting("CPACK_COMMAND"), "-G", cls.GENERATOR,
             "--config", os.path.join(cls.BUILD_DIR, "CPackConfig.cmake"), "-B", cls.out])
        packages = glob.glob(os.path.join(cls.out, "*." + cls.GENERATOR.lower()))
        if len(packages) != 1:
            raise AssertionError("expected one package, cpack made %s" % packages)
        cls.package = packages[0]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.out, ignore_errors=True)

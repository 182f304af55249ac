#!/usr/bin/env python3
"""kestrane_sources(), taken from this source tree and run by a probe project.

The probe (probe/CMakeLists.txt), copied into the test's scratch folder,
calls the function on a log that the test writes and saves what it returned,
one source per line. The listed files must exist: the test makes them.
"""

import os
import shutil
import stat
import sys
import tempfile
import time
import unittest

from shiptest import ScratchTestCase, run, setting

SOURCE_DIR = setting("KESTRANE_SOURCE_DIR")
CMAKE = setting("CMAKE_COMMAND")
NINJA = setting("CMAKE_MAKE_PROGRAM")
TOOL = setting("KESTRANE_COMMAND")
PROBE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "probe")


def flat(text):
    """`text` with every run of white space made one blank: CMake wraps errors."""
    return " ".join(text.split())


class ProbeTestCase(ScratchTestCase):
    def setUp(self):
        super().setUp()
        self.probe = self.path("probe")
        shutil.copytree(PROBE, self.probe)

    def make_files(self, folder, *names):
        """Makes empty files `names` (bytes) in `folder`; returns `folder`."""
        for name in names:
            path = os.path.join(os.fsencode(folder), name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, "wb").close()
        return folder

    def write_log(self, data, name="build.log"):
        path = self.path(name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def configure(self, log, tool=TOOL, root=None, extension=None, allow_empty=False,
                  timeout=None, wrap=(), build=None):
        """Configures the probe in `build`, a new build folder unless given,
        self.build; returns the process (not checked)."""
        self.build = build or tempfile.mkdtemp(prefix="build-", dir=self.tmp)
        build = self.build
        args = [CMAKE, "-S", self.probe, "-B", build, "-G", "Ninja",
                "-DCMAKE_MAKE_PROGRAM=" + NINJA,
                "-DKESTRANE_SOURCE_DIR=" + SOURCE_DIR, "-DPROBE_LOG=" + log]
        if tool:
            args.append("-DKESTRANE_EXECUTABLE=" + tool)
        if root is not None:
            args.append("-DPROBE_ROOT=" + root)
        if extension is not None:
            args.append("-DPROBE_EXTENSION=" + extension)
        if allow_empty:
            args.append("-DPROBE_ALLOW_EMPTY=ON")
        if timeout is not None:
            args.append("-DPROBE_TIMEOUT=" + timeout)
        return run([*wrap, *args], check=False)

    def sources(self, log, **options):
        proc = self.proc = self.configure(log, **options)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        with open(os.path.join(self.build, "sources.txt"), "rb") as f:
            return f.read().split(b"\n")[:-1]

    def assertConfigureFails(self, log, *texts, **options):
        proc = self.configure(log, **options)
        self.assertNotEqual(proc.returncode, 0, proc.stdout)
        for text in texts:
            self.assertIn(flat(text), flat(proc.stderr))
        return proc

    def fake_tool(self, list_data, console, status, report=True, name="Kestrane.sh"):
        """A stand-in: the Windows build under an emulator (CR LF on the
        console and in the list, which the native build never writes), or
        without `report` one from before --changes, which writes its list and
        checks nothing."""
        path = self.path(name)
        with open(path, "w") as f:
            f.write("#!/bin/sh\n"
                    "for a; do case $a in --output=*) out=${a#--output=};;\n"
                    "  --explain=*) : > \"${a#--explain=}\";; --changes=*) changes=${a#--changes=};; esac\n"
                    "done\n"
                    "printf '%s' '" + console + "'\n"
                    "[ %d -ne 0 ] && exit %d\n" % (status, status) +
                    "printf '%s' '" + list_data + "' > \"$out\"\n" +
                    ('echo "no earlier list" > "$changes"\n' if report else ""))
        os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
        return path


class ListTests(ProbeTestCase):
    def test_entries_keep_log_order_and_the_count_is_told(self):
        log = self.write_log(
            b"2> Compiling ..\\..\\src\\b\\z.c ...\r\n"
            b"noise\r\n"
            b"3> Compiling ../../src/a/y.c ...\n"
            b"4> Compiling ..\\..\\src\\b\\z.c ...\r\n"
            b"5> Compiling ../../src/a/w.cpp ...\r\n"
            b"Compiling ../../dir.old/x.c ...\r\n"
            b"Compiling ../src/a/y.c ...\r\n"
            b"Compiling ../../never.c ...", name="supplier logs/build.log")
        files = [b"src/b/z.c", b"src/a/y.c", b"src/b/z.c", b"dir.old/x.c"]
        root = self.make_files(self.path("r"), *files)
        self.assertEqual(self.sources(log, root=root + "/"),
                         [os.fsencode(root) + b"/" + f for f in files])
        # The C++ file, the line with one "../" and the last line without a
        # line feed: each told with its number and reason.
        self.assertIn("-- Kestrane: 4 sources from " + log + ' (3 lines that mention "compiling" '
                      "left out)\n"
                      "--   the first list\n"
                      '--   line 5: a C++ file (more than one character after the last dot): '
                      '"5> Compiling ../../src/a/w.cpp ..."\n'
                      '--   line 7: one step where two are needed (../ for ../../): '
                      '"Compiling ../src/a/y.c ..."\n'
                      '--   line 8: the last line, which has no line feed: '
                      '"Compiling ../../never.c ..."\n', self.proc.stdout)

    def test_root_and_extension(self):
        log = self.write_log(b"Compiling ../../b/z.c ...\nCompiling ../../a.c ...\n")
        # Relative paths are taken from the probe's folder, as CMake takes sources.
        self.make_files(self.probe, b"b/z.c", b"a.c", b"fw/b/z.c", b"fw/a.c", b"b/z.p", b"a.p",
                        b"b/z", b"a")
        cases = [
            ("neither", {}, [b"b/z.c", b"a.c"]),
            ("relative root", {"root": "fw"}, [b"fw/b/z.c", b"fw/a.c"]),
            ("other extension", {"extension": ".p"}, [b"b/z.p", b"a.p"]),
            ("empty extension", {"extension": ""}, [b"b/z", b"a"]),
        ]
        for name, options, expected in cases:
            with self.subTest(name):
                self.assertEqual(self.sources(log, **options), expected)

    def test_log_without_compile_lines(self):
        log = self.write_log(b"Linking app.elf ...\r\nCompiling ../../a.cpp ...\r\n")
        self.assertEqual(self.sources(log, allow_empty=True), [])
        self.assertIn('Kestrane: 0 sources from %s (1 line that mentions "compiling" left out)' % log,
                      self.proc.stdout)

    def test_every_listed_file_is_in_the_tree(self):
        """kestrane checks the tree: each case refuses the log with its
        message, and no list is made."""
        root = self.make_files(self.path("r"), b"src/a.c")
        outside = self.make_files(self.path("outside"), b"evil.c")
        build = self.make_files(os.path.join(root, "build"), b"gen.c")
        os.symlink("a.c", os.path.join(root, "src", "alias.c"))
        os.symlink(os.path.join(outside, "evil.c"), os.path.join(root, "src", "link.c"))
        os.symlink(outside, os.path.join(root, "src", "out"))
        os.symlink(os.path.join("..", "..", "outside", "evil.c"), os.path.join(root, "src", "up.c"))
        # The root itself may be reached through a link.
        os.symlink(root, self.path("r-link"))
        cases = [("src/link", "leads out of the source tree"), ("src/out/evil", "leads out of the source tree"),
                 ("src/up", "leads out of the source tree"), ("src/b", "is not a file in the source tree"),
                 ("build/gen", "is in an excluded folder")]
        for root_given in [root, self.path("r-link")]:
            log = self.write_log(b"Compiling ../../src/alias.c ...\n")
            self.assertEqual(self.sources(log, root=root_given, build=build),
                             [os.fsencode(root_given) + b"/src/alias.c"])
            for entry, said in cases:
                with self.subTest(entry, root=root_given):
                    log = self.write_log(b"Compiling ../../src/a.c ...\nCompiling ../../"
                                         + entry.encode() + b".c ...\n")
                    shutil.rmtree(os.path.join(build, "kestrane"), ignore_errors=True)
                    self.assertConfigureFails(
                        log, "could not list the sources of the supplier's build log " + log,
                        'It said: Kestrane error: Input file line 2: "%s" %s (exit status 254)'
                        % (entry, said), root=root_given, build=build)
                    self.assertFalse(os.path.exists(os.path.join(build, "kestrane", "sources.txt")))

    def test_what_changed_is_told(self):
        """At the first configure, at one after a new log, and at the one
        that a build's new list brings (Ninja), told by that build's run."""
        self.make_files(self.probe, b"a.c", b"b.c", b"c.c", b"new.c")
        log = self.write_log(b"Compiling ../../a.c ...\nCompiling ../../b.c ...\nCompiling ../../c.c ...\n")
        self.sources(log)
        build = self.build
        report = os.path.join(build, "kestrane", "sources.txt.changes")
        steps = [
            (b"Compiling ../../new.c ...\nCompiling ../../a.c ...\nCompiling ../../b.c ...\n"
             b"Compiling ../../c.c ...\n", "configure",
             ["--   since the last list: 1 added, 0 removed, 0 moved (all in %s)" % report,
              "--     + new (1)"]),
            (None, "configure", ["--   the same list as before"]),
            (b"Compiling ../../c.c ...\nCompiling ../../a.c ...\nCompiling ../../b.c ...\n", "build",
             ["--   since the last list: 0 added, 1 removed, 1 moved (all in %s)" % report,
              "--     - new (was 1)", "--     ~ c 1 (was 4)"]),
        ]
        for data, how, told in steps:
            with self.subTest(how, told=told[0]):
                if data:
                    self.write_log(data)
                if how == "configure":
                    proc = self.configure(log, build=build)
                else:
                    proc = run([CMAKE, "--build", build], check=False)
                self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
                lines = proc.stdout.splitlines()
                start = next(i for i, l in enumerate(lines) if l.startswith("-- Kestrane: "))
                self.assertEqual(lines[start + 1:start + 1 + len(told)], told)

    def test_windows_list_with_cr_lf(self):
        self.make_files(self.probe, b"x.c", b".c", b"y/z.c")
        tool = self.fake_tool("x\r\n\r\ny/z\r\n", "Kestrane.exe version 1.1\r\n(c)\r\n", 0)
        self.assertEqual(self.sources(self.write_log(b""), tool=tool), [b"x.c", b".c", b"y/z.c"])


class FailureTests(ProbeTestCase):
    def test_missing_log(self):
        log = self.path("missing.log")
        self.assertConfigureFails(log, "the supplier's build log does not exist: " + log)

    def test_log_that_is_not_a_regular_file(self):
        """Refused before the tool reads it: a device or a pipe could be read
        for ever."""
        os.mkdir(self.path("folder.log"))
        os.symlink("/dev/zero", self.path("zero.log"))
        os.mkfifo(self.path("pipe.log"))
        for name in ["folder.log", "zero.log", "pipe.log"]:
            with self.subTest(name):
                self.assertConfigureFails(self.path(name), "the supplier's build log is not a "
                                          "regular file (a folder, a device or a pipe): " +
                                          self.path(name), timeout="10")

    def test_tool_gets_a_time_limit(self):
        tool = self.path("slow-kestrane")
        with open(tool, "w") as f:
            f.write("#!/bin/sh\nexec sleep 60\n")
        os.chmod(tool, 0o755)
        log = self.write_log(b"Compiling ../../a.c ...\n")
        self.assertConfigureFails(log, "kestrane " + tool + " did not finish within 1 s on the "
                                  "supplier's build log " + log, tool=tool, timeout="1")
        self.assertConfigureFails(log, 'TIMEOUT takes a number of seconds greater than 0, not "0"',
                                  timeout="0")
        # The build step too: a log that became a 1 TB sparse file.
        self.make_files(self.probe, b"a.c")
        self.sources(log, timeout="2")
        with open(log, "r+b") as f:
            f.truncate(1 << 40)
        started = time.monotonic()
        proc = run([CMAKE, "--build", self.build], check=False)
        self.assertNotEqual(proc.returncode, 0)
        self.assertIn("did not finish within 2 s", flat(proc.stdout + proc.stderr))
        self.assertLess(time.monotonic() - started, 60)

    def test_message_follows_the_identification_lines(self):
        tool = self.fake_tool(
            "", "Kestrane.exe version 1.1 from Dec  8 2026\r\n(c) the Kestrane developers\r\n"
                "Kestrane error: Could not open input file\r\n", 254)
        log = self.write_log(b"")
        self.assertConfigureFails(log, "It said: Kestrane error: Could not open input file (exit status 254)",
                                  tool=tool)

    def test_path_the_tool_would_take_for_an_option(self):
        log = self.write_log(b"Compiling ../../a.c ...\n", name="x--output/build.log")
        self.assertConfigureFails(log, "would misread this path", log)

    def test_no_tool(self):
        self.assertConfigureFails(self.write_log(b""), "no kestrane to run", tool=None)

    def test_tool_that_cannot_run(self):
        tool = self.path("bin", "kestrane")
        log = self.write_log(b"")
        self.assertConfigureFails(log, "could not run kestrane " + tool,
                                  "on the supplier's build log " + log, tool=tool)

    def test_log_that_lists_nothing(self):
        """An empty list names the lines left out and offers ALLOW_EMPTY; a
        log where no line mentions compiling is asked about instead."""
        cpp = b"".join(b"%d> Compiling ../../src/f%d.cpp ...\r\n" % (n, n) for n in range(6))
        cases = [  # the log, what the message says
            (b"Linking app.elf ...\r\n", 'no line of %s mentions "compiling": is it the supplier\'s '
             'build log, in the form the README describes?'),
            (b"compiling ..\\x\x1b]0;x\x07.c ...\r\n" + cpp,
             'the supplier\'s build log %s lists no compiled source file; 7 lines that mention '
             '"compiling" were left out: line 1: the word is not written Compiling (letter case '
             'counts): "compiling ..\\\\x\\x1B]0;x\\x07.c ..." '
             'line 2: a C++ file (more than one character after the last dot): '
             '"0> Compiling ../../src/f0.cpp ..."'),
        ]
        for data, said in cases:
            with self.subTest(said[:60]):
                log = self.write_log(data)
                proc = self.assertConfigureFails(log, said % log)
                self.assertEqual("ALLOW_EMPTY" in proc.stderr, b"ompiling" in data)
                self.assertNotIn("\x1b", proc.stdout + proc.stderr)
        explanation = os.path.join(self.build, "kestrane", "sources.txt.left-out")
        self.assertIn(flat("line 5: a C++ file (more than one character after the last dot): "
                           '"3> Compiling ../../src/f3.cpp ..." 2 more in ' + explanation),
                      flat(proc.stderr))

    def test_entry_that_is_not_a_plain_relative_path(self):
        """kestrane --strict refuses the log; the message shows the entry as
        the tool escaped it, and no list is made."""
        root = self.make_files(self.path("r"), b"src/a.c", b"src/app/blink.c", b"src/app/main.c")
        # Each file is there, outside the root: only the entry's text can stop it.
        self.make_files(self.tmp, b"outside/evil.c", b"elsewhere/evil.c")
        cases = [  # what follows "Compiling " in the log line, the entry as the message shows it
            (b"../../a;b.c", "a;b"),
            (b"../../x[y].c", "x[y]"),
            (b"../../src/app/blink.c$<SEMICOLON>" + os.fsencode(self.tmp) + b"/elsewhere/evil.c"
             b"$<SEMICOLON>y/$<0:/../../../../>/../src/app/main.c",
             "src/app/blink.c$<SEMICOLON>" + self.tmp + "/elsewhere/evil.c"
             "$<SEMICOLON>y/$<0:/../../../../>/../src/app/main"),
            (b"..\\..\\..\\outside\\evil.c", "../outside/evil"),
            (b"../../src/../../outside/evil.c", "src/../../outside/evil"),
            (b"../../" + os.fsencode(self.tmp) + b"/outside/evil.c", self.tmp + "/outside/evil"),
            (b"..\\..\\C:\\Work\\x.c", "C:/Work/x"),
            (b"../../src/a\x00/../../../outside/evil.c", "src/a\\x00/../../../outside/evil"),
            (b"../../src/\x1b]0;pwned\x07\x1b[2Ja.c", "src/\\x1B]0;pwned\\x07\\x1B[2Ja"),
            # Over 4096 bytes in names of 255, a blank inside one: only the
            # length refuses it.
            (b"../../src/" + (b"d" * 255 + b"/") * 15 + b"a b" + b"c" * 250 + b".c",
             "src/" + "d" * 196 + '"... (4097 bytes)'),
        ]
        for path, shown in cases:
            with self.subTest(shown[:40]):
                log = self.write_log(b"Compiling ../../src/a.c ...\nCompiling " + path + b" ...\n")
                if not shown.endswith(")"):
                    shown += '"'
                proc = self.assertConfigureFails(
                    log, "could not list the sources of the supplier's build log " + log,
                    'It said: Kestrane error: Input file line 2: "%s is not a plain relative path '
                    "(exit status 254)" % shown, root=root)
                self.assertNotIn("\x1b", proc.stdout + proc.stderr)
                self.assertNotIn("sources.txt", os.listdir(os.path.join(self.build, "kestrane")))

    def test_tool_that_does_not_check_the_tree(self):
        """A kestrane from before --root and --changes, which writes its list
        unchecked, is named and goes no further."""
        self.make_files(self.probe, b"ok.c")
        tool = self.fake_tool("ok\n", "", 0, report=False)
        self.assertConfigureFails(self.write_log(b""), "kestrane " + tool + " does not check the "
                                  "listed files against the source tree nor report changes",
                                  tool=tool)


if __name__ == "__main__":
    unittest.main()

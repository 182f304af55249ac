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
                  timeout=None, wrap=()):
        """Configures the probe in a new build folder, self.build; returns the
        process (not checked)."""
        self.build = tempfile.mkdtemp(prefix="build-", dir=self.tmp)
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

    def fake_windows_tool(self, list_data, console, status):
        """A stand-in for the Windows build under an emulator: CR LF on the
        console and in the list, which the native build never writes."""
        path = self.path("Kestrane.sh")
        with open(path, "w") as f:
            f.write("#!/bin/sh\n"
                    "for a; do case $a in --output=*) out=${a#--output=};; esac; done\n"
                    "printf '%s' '" + console + "'\n"
                    "[ %d -ne 0 ] && exit %d\n" % (status, status) +
                    "printf '%s' '" + list_data + "' > \"$out\"\n")
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

    def test_symbolic_links_must_stay_inside_the_root(self):
        root = self.make_files(self.path("r"), b"src/a.c")
        outside = self.make_files(self.path("outside"), b"evil.c")
        os.symlink("a.c", os.path.join(root, "src", "alias.c"))
        os.symlink(os.path.join(outside, "evil.c"), os.path.join(root, "src", "link.c"))
        os.symlink(outside, os.path.join(root, "src", "out"))
        os.symlink(os.path.join("..", "..", "outside", "evil.c"), os.path.join(root, "src", "up.c"))
        # The root itself may be reached through a link.
        os.symlink(root, self.path("r-link"))
        for root_given in [root, self.path("r-link")]:
            with self.subTest(root=root_given):
                log = self.write_log(b"Compiling ../../src/alias.c ...\n")
                self.assertEqual(self.sources(log, root=root_given),
                                 [os.fsencode(root_given) + b"/src/alias.c"])
                for entry in ["src/link", "src/out/evil", "src/up"]:
                    log = self.write_log(b"Compiling ../../src/a.c ...\nCompiling ../../"
                                         + entry.encode() + b".c ...\n")
                    self.assertConfigureFails(
                        log, "the supplier's build log " + log + " lists the source file " +
                        root_given + "/" + entry + ".c which is, with symbolic links resolved, " +
                        outside + "/evil.c outside the root " + root, root=root_given)
                    self.assertFalse(os.path.exists(os.path.join(self.build, "sources.txt")))

    def test_windows_list_with_cr_lf(self):
        self.make_files(self.probe, b"x.c", b".c", b"y/z.c")
        tool = self.fake_windows_tool("x\r\n\r\ny/z\r\n", "Kestrane.exe version 1.1\r\n(c)\r\n", 0)
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

    def test_memory_grows_with_the_list_not_with_an_entry(self):
        """A kestrane without --strict may write an entry of any length: such
        a list is not read, nor copied over and over."""
        size = 32 << 20
        tool = self.path("old-kestrane")
        with open(tool, "w") as f:
            f.write("#!/bin/sh\nfor a; do case $a in --output=*) out=${a#--output=};; esac; done\n"
                    "head -c %d /dev/zero | tr '\\0' a > \"$out\"; echo >> \"$out\"\n" % size)
        os.chmod(tool, 0o755)
        # The peak resident size of the configure and its children, in KiB.
        peak = ("import resource, subprocess, sys; status = subprocess.run(sys.argv[1:]).returncode; "
                "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss); sys.exit(status)")
        proc = self.assertConfigureFails(self.write_log(b""), "holds an entry longer than 4096 bytes",
                                         "The entry begins: " + "a" * 400 + "... (4097 bytes)",
                                         tool=tool, wrap=[sys.executable, "-c", peak])
        self.assertLess(int(proc.stdout.split()[-1]) * 1024, size)

    def test_message_follows_the_identification_lines(self):
        tool = self.fake_windows_tool(
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
        """An empty list names the lines left out, escaped; ALLOW_EMPTY is
        offered only for a log that mentions no compiling at all."""
        cpp = b"".join(b"%d> Compiling ../../src/f%d.cpp ...\r\n" % (n, n) for n in range(6))
        cases = [  # the log, what the message says after the log's name
            (b"Linking app.elf ...\r\n", 'lists no compiled source file, and no line of it mentions '
             '"compiling" (give ALLOW_EMPTY to accept an empty list)'),
            (b"compiling ..\\x\x1b]0;x\x07.c ...\r\n" + cpp,
             'lists no compiled source file; 7 lines that mention "compiling" were left out: '
             'line 1: the word is not written Compiling (letter case counts): '
             '"compiling ..\\x5Cx\\x1B]0;x\\x07.c ..." '
             'line 2: a C++ file (more than one character after the last dot): '
             '"0> Compiling ../../src/f0.cpp ..."'),
        ]
        for data, said in cases:
            with self.subTest(said[:60]):
                log = self.write_log(data)
                proc = self.assertConfigureFails(log, "the supplier's build log " + log + " " + said)
                self.assertEqual("ALLOW_EMPTY" in proc.stderr, b"ompiling" not in data)
                self.assertNotIn("\x1b", proc.stdout + proc.stderr)
        explanation = os.path.join(self.build, "kestrane", "sources.txt.left-out")
        self.assertIn(flat("line 5: a C++ file (more than one character after the last dot): "
                           '"3> Compiling ../../src/f3.cpp ..." 2 more in ' + explanation),
                      flat(proc.stderr))
        with open(explanation, "rb") as f:
            self.assertEqual(len(f.read().splitlines()), 7)

    def test_listed_file_that_is_not_there(self):
        root = self.make_files(self.path("r"), b"src/a.c")
        log = self.write_log(b"Compiling ../../src/a.c ...\nCompiling ../../src/b.c ...\n")
        self.assertConfigureFails(log, "the supplier's build log " + log + " lists a source file "
                                  "that is not there: " + root + "/src/b.c", root=root)

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
                self.assertEqual(os.listdir(os.path.join(self.build, "kestrane")), [])

    def test_messages_show_control_characters_escaped(self):
        folder = self.path("logs\x1b]0;pwned\x07\x1b[2J\n\u009b")
        os.mkdir(folder)
        shown = self.tmp + "/logs\\x1B]0;pwned\\x07\\x1B[2J\\x0A\\xC2\\x9B"
        tool = self.fake_windows_tool("", "banner\r\nit broke \x1b[2J\r\n", 254)
        cases = [
            ("log that is not there", os.path.join(folder, "missing.log"), TOOL,
             ["the supplier's build log does not exist: " + shown + "/missing.log"]),
            ("what the tool said", self.write_log(b"", name=os.path.join(folder, "build.log")), tool,
             ["build log " + shown + "/build.log", "It said: it broke \\x1B[2J (exit status 254)"]),
        ]
        for name, log, tool, texts in cases:
            with self.subTest(name):
                proc = self.assertConfigureFails(log, *texts, tool=tool)
                self.assertNotRegex(proc.stdout + proc.stderr, "[\x00-\x09\x0b-\x1f\x7f\x80-\x9f]")

    def test_list_from_a_kestrane_without_strict(self):
        """A tool that ignores --strict: what it listed goes no further."""
        self.make_files(self.probe, b"ok.c", b"a b/c.c")
        cases = [  # the list, the entry the message shows
            ("ok\r\nsrc/app/blink.c$<SEMICOLON>/elsewhere/evil\x1b\r\nok\r\n",
             "src/app/blink.c$<SEMICOLON>/elsewhere/evil\\x1B"),
            ("a b/c\n a b/c\n", " a b/c"),
            ("a b/c\na  b/c\n", "a  b/c"),
            ("ok\na b /c\n", "a b /c"),
        ]
        for listed, shown in cases:
            with self.subTest(shown):
                tool = self.fake_windows_tool(listed, "", 0)
                self.assertConfigureFails(self.write_log(b""), "holds an entry that is not a plain "
                                          "relative path, which kestrane --strict refuses; is " + tool +
                                          " a kestrane without --strict? The entry: " + shown, tool=tool)


if __name__ == "__main__":
    unittest.main()

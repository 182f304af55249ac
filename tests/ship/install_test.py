#!/usr/bin/env python3
"""The install tree, and the example firmware built from it: with CMake
natively and for a Cortex-M4, and with its Makefile (the README's) and the
installed kestrane.mk.

The example's supplier log lists its five sources in an order that is not
alphabetical; the build must compile and link them in exactly that order.
"""

import fnmatch
import os
import platform
import re
import shutil
import time
import unittest

from shiptest import (EM_ARM, FIRMWARE_OUTPUT, LOG_ORDER, ExampleTestCase, ScratchTestCase,
                      backdate, elf_machine, need, old_kestrane, readme_block, run, setting,
                      spoil_log, version_file_verdict)

SOURCE_DIR = setting("KESTRANE_SOURCE_DIR")
BUILD_DIR = setting("KESTRANE_BUILD_DIR")
CMAKE = setting("CMAKE_COMMAND")

# Every installed file matches exactly one of these; nothing else is there.
INSTALLED = [
    "bin/kestrane",
    "share/man/man1/kestrane.1",
    "share/doc/kestrane/README.md",
    "share/doc/kestrane/CHANGELOG.md",
    "share/doc/kestrane/LICENSE",
    "share/kestrane/kestrane.mk",
    "lib*/cmake/Kestrane/KestraneConfig.cmake",
    "lib*/cmake/Kestrane/KestraneConfigVersion.cmake",
    "lib*/cmake/Kestrane/KestraneTargets.cmake",
    "lib*/cmake/Kestrane/KestraneTargets-*.cmake",
    "lib*/cmake/Kestrane/Kestrane.cmake",
]


def install(prefix):
    run([CMAKE, "--install", BUILD_DIR, "--prefix", prefix])


def readme_section(heading):
    """The README's text under `heading`, up to the next heading of its level."""
    with open(os.path.join(SOURCE_DIR, "README.md")) as f:
        readme = f.read()
    level = heading.split()[0]
    return readme.split("\n%s\n" % heading, 1)[1].split("\n%s " % level, 1)[0]


def installed_files(prefix):
    return sorted(os.path.relpath(os.path.join(folder, name), prefix).replace(os.sep, "/")
                  for folder, _, names in os.walk(prefix) for name in names)


class InstallTreeTests(ScratchTestCase):
    def test_installs_exactly_the_shipped_files(self):
        install(self.tmp)
        files = installed_files(self.tmp)
        for pattern in INSTALLED:
            self.assertEqual(len(fnmatch.filter(files, pattern)), 1, (pattern, files))
        self.assertEqual(len(files), len(INSTALLED), files)

    def test_readme_uninstall_leaves_only_the_shared_folders(self):
        install(self.tmp)
        manifest = self.path("install_manifest.txt")
        shutil.copy(os.path.join(BUILD_DIR, "install_manifest.txt"), manifest)
        [block] = [b for b in re.findall(r"(?ms)^```sh\n(.*?)^```$", readme_section("## Install"))
                   if "install_manifest.txt" in b and " rm " in b]
        script = block.replace("build/release/install_manifest.txt", manifest).replace("sudo ", "")
        run(["sh", "-euc", script])
        self.assertEqual(installed_files(self.tmp), ["install_manifest.txt"])
        folders = {re.sub(r"^lib[^/]*", "lib", os.path.relpath(f, self.tmp))
                   for f, _, _ in os.walk(self.tmp)} - {"."}
        # As the README says, with the folders above them.
        self.assertEqual(folders, {"bin", "lib", "lib/cmake", "share", "share/doc", "share/man",
                                   "share/man/man1"})

    def test_installed_tool_lists_the_supplier_log(self):
        install(self.tmp)
        self.assertListsExampleLog(self.path("bin", "kestrane"))

    def test_package_suits_only_machines_that_run_its_tool(self):
        install(self.tmp)
        [version_file] = [os.path.join(self.tmp, f) for f in installed_files(self.tmp)
                          if f.endswith("/KestraneConfigVersion.cmake")]
        here = platform.machine()
        other = "aarch64" if here == "x86_64" else "x86_64"
        cases = [  # machine, wanted version: unsuitable, compatible
            ((platform.system(), here), "1.0", False, True),
            ((platform.system(), here), "2.0", False, False),
            (("Windows", "AMD64"), "1.0", True, False),
            ((platform.system(), other), "1.0", True, False),
        ]
        for (system, processor), wanted, unsuitable, compatible in cases:
            with self.subTest(system=system, processor=processor, wanted=wanted):
                verdict = version_file_verdict(version_file, system, processor, wanted)
                self.assertEqual(verdict[:2], (unsuitable, compatible), verdict)
                if unsuitable:
                    self.assertIn("which this machine, %s on %s, cannot run" % (system, processor),
                                  verdict[2])


class ExampleBuildTests(ExampleTestCase):
    """Builds a copy of examples/firmware against a scratch install."""

    def setUp(self):
        super().setUp()
        self.prefix = self.path("prefix")
        install(self.prefix)
        warnings = ["-DCMAKE_C_FLAGS=-Wall -Wextra -Wpedantic -Werror"] if os.name != "nt" else []
        self.configured = self.configure("-DCMAKE_PREFIX_PATH=" + self.prefix, *warnings)

    def test_configure_tells_what_the_readme_shows(self):
        """The first list, the same again, and the README's log that
        compiles main.c first, each as the configure tells it."""
        shown = [line.replace("<build>", self.build) for line in readme_section("### CMake").splitlines()
                 if line.startswith("-- Kestrane: ") or line.startswith("--   ")]
        log = os.path.join(self.source, "supplier-build.log")
        with open(log, "rb") as f:
            lines = f.read().splitlines(keepends=True)
        main = next(i for i, line in enumerate(lines) if b"main.c" in line)
        first = next(i for i, line in enumerate(lines) if b"> Compiling " in line)
        lines.insert(first, lines.pop(main))
        for told, log_lines in [([shown[0], "--   the first list"], None),
                                ([shown[0], "--   the same list as before"], None), (shown, lines)]:
            if log_lines:
                with open(log, "wb") as f:
                    f.write(b"".join(log_lines))
            configured = self.configured if told[1].endswith("first list") else \
                self.configure("-DCMAKE_PREFIX_PATH=" + self.prefix)
            out = configured.stdout.splitlines()
            start = out.index(told[0])
            self.assertEqual(out[start:start + len(told)], told)

    def test_sources_reach_the_build_in_log_order(self):
        self.assertNotEqual(LOG_ORDER, sorted(LOG_ORDER), "the example must not be in alphabetical order")
        self.assertBuildsInLogOrder()
        program = os.path.join(self.build, "firmware")
        self.assertEqual(run([program]).stdout, FIRMWARE_OUTPUT)

    def test_newest_log_wins_whatever_its_date(self):
        run([CMAKE, "--build", self.build])
        self.reverse_log_order()
        backdate(os.path.join(self.source, "supplier-build.log"))
        self.assertBuildsInLogOrder(LOG_ORDER[::-1])  # no configure step by hand
        self.assertIn("no work to do", run([CMAKE, "--build", self.build]).stdout)

    def test_refused_or_missing_log_stops_the_build_but_not_clean(self):
        log = os.path.join(self.source, "supplier-build.log")
        with open(log, "rb") as f:
            good = f.read()
        for how, said in [("refused", 'Kestrane error: Input file line 13: "a;b" is not a plain relative '
                                      'path (exit status 254)'),
                          ("c++", 'lists no compiled source file; 5 lines that mention "compiling" '
                           "were left out: line 5: a C++ file (more than one character after "
                           'the last dot): "2> Compiling ..\\\\..\\\\src\\\\board\\\\clock.cpp ..."'),
                          ("missing", "the supplier's build log does not exist: " + log),
                          ("device", "the supplier's build log is not a regular file")]:
            with self.subTest(how):
                spoil_log(log, good, None)
                run([CMAKE, "--build", self.build])
                spoil_log(log, good, how)
                os.utime(os.path.join(self.source, "src", "app", "main.c"))
                proc = run([CMAKE, "--build", self.build], check=False)
                self.assertNotEqual(proc.returncode, 0)
                self.assertIn(said, " ".join(proc.stdout.split()))
                self.assertNotIn("Building C object", proc.stdout, "compiled from the old list")
                run([CMAKE, "--build", self.build, "--target", "clean"])
                self.assertFalse(os.path.exists(os.path.join(self.build, "firmware")))
        spoil_log(log, good, None)
        self.assertBuildsInLogOrder()

    def test_tree_with_blanks_in_its_names(self):
        os.rename(os.path.join(self.source, "src", "app"), os.path.join(self.source, "src", "app files"))
        log = os.path.join(self.source, "supplier-build.log")
        with open(log, "rb") as f:
            text = f.read().replace(b"\\app\\", b"\\app files\\")
        with open(log, "wb") as f:
            f.write(text)
        self.build = self.path("build-blanks")
        self.configure("-DCMAKE_PREFIX_PATH=" + self.prefix)
        run([CMAKE, "--build", self.build])
        self.assertEqual(self.compiled_sources(), [s.replace("/app/", "/app files/") for s in LOG_ORDER])


class OtherGeneratorTests(ExampleTestCase):
    """Generators that read their build files before the log is listed."""

    def test_new_log_stops_the_build_once(self):
        need("make")
        prefix = self.path("prefix")
        install(prefix)
        self.configure_with("Unix Makefiles", "-DCMAKE_PREFIX_PATH=" + prefix)
        run([CMAKE, "--build", self.build])
        self.reverse_log_order()
        log = os.path.join(self.source, "supplier-build.log")
        backdate(log)
        proc = run([CMAKE, "--build", self.build], check=False)
        self.assertNotEqual(proc.returncode, 0)
        self.assertIn("the supplier's build log " + log + " lists other sources now; this build "
                      "was set up for the old list and stops here: build again to compile the new "
                      "one", " ".join(proc.stderr.split()))
        # The configure that the next build brings tells what the stopped one found.
        proc = run([CMAKE, "--build", self.build])
        self.assertIn("--   since the last list: 0 added, 0 removed, 4 moved", proc.stdout)
        self.assertEqual(self.compiled_sources(), LOG_ORDER[::-1])
        self.assertEqual(run([os.path.join(self.build, "firmware")]).stdout, FIRMWARE_OUTPUT)
        proc = run([CMAKE, "-S", self.source, "-B", self.build])
        self.assertIn("--   the same list as before", proc.stdout)


class CrossBuildTests(ExampleTestCase):
    """The example built for a Cortex-M4 with its toolchain file, as a user
    calls it, against a scratch install that a bare-metal toolchain file's
    CMAKE_FIND_ROOT_PATH does not reach."""

    def test_sources_reach_the_cross_build_in_log_order(self):
        toolchain = self.cortex_m4()
        prefix = self.path("prefix")
        install(prefix)
        path = os.pathsep.join([os.path.join(prefix, "bin"), os.environ["PATH"]])
        cases = [
            ("CMAKE_PREFIX_PATH", ["-DCMAKE_PREFIX_PATH=" + prefix], None),
            # As a package installed in /usr is found: its bin folder is on PATH.
            ("PATH", [], dict(os.environ, PATH=path)),
        ]
        for name, args, env in cases:
            with self.subTest(name):
                self.build = self.path("build-" + name)
                self.configure("--toolchain", toolchain, *args, env=env)
                self.assertBuildsInLogOrder()
                self.assertEqual(elf_machine(os.path.join(self.build, "firmware")), EM_ARM)


class MakeTests(ExampleTestCase):
    """The example's Makefile, which the README prints, with GNU make, the C
    compiler and an installed kestrane on PATH, nothing else set: it finds
    the installed kestrane.mk."""

    def setUp(self):
        super().setUp()
        need("make")
        need("cc")
        self.prefix = self.path("prefix")
        install(self.prefix)
        self.log = os.path.join(self.source, "supplier-build.log")
        with open(self.log, "rb") as f:
            self.good = f.read()

    def make(self, *args, check=True):
        """Runs make -j4; returns the process, and the sources of the objects
        on its link line, or None when it did not link."""
        path = os.pathsep.join([os.path.join(self.prefix, "bin"), os.environ["PATH"]])
        proc = run(["make", "-j4", "-C", self.source, *args], env=dict(os.environ, PATH=path),
                   check=check)
        links = [line for line in proc.stdout.splitlines() if " -o firmware " in line + " "]
        return proc, [o + ".c" for o in re.findall(r"(\S+)\.o\b", links[-1])] if links else None

    def write_log(self, data):
        with open(self.log, "wb") as f:
            f.write(data)

    def assertStops(self, said, *args):
        """make fails with `said` on its error output, before it links, and
        says nothing else: no missing makefile, no recipe that failed."""
        proc, linked = self.make(*args, check=False)
        self.assertNotEqual(proc.returncode, 0)
        self.assertIn(said, proc.stderr)
        self.assertEqual(len([l for l in proc.stderr.splitlines() if l]), said.count("\n") + 1,
                         proc.stderr)
        self.assertIsNone(linked)
        return proc

    def test_readme_shows_the_example_makefile(self):
        with open(os.path.join(self.source, "Makefile")) as f:
            self.assertEqual(readme_block("### Make", "make"), f.read())

    def test_tells_each_new_list_and_relinks_only_for_a_new_order(self):
        """The first list and each changed one are told, with what changed;
        an unchanged one, whatever the log's date, is not, and relinks
        nothing."""
        [first] = re.findall(r"(?ms)^  ```\n(.*?)^  ```$", readme_section("### Make"))
        proc, linked = self.make()
        self.assertEqual(linked, LOG_ORDER)
        self.assertIn(first.replace("\n  ", "\n")[2:], proc.stdout, "as the README shows")
        self.assertEqual(run([os.path.join(self.source, "firmware")]).stdout, FIRMWARE_OUTPUT)
        for touch in [None, self.log]:
            if touch:
                os.utime(touch)
            proc, linked = self.make()
            self.assertIsNone(linked, "the same list, nothing to link")
            self.assertNotIn("kestrane.mk", proc.stdout)
        extra = os.path.join(self.source, "src", "app", "extra.c")
        with open(extra, "w") as f:
            f.write("int extra;\n")
        top, rest = self.good.split(b"2> Compiling", 1)
        lines = self.good.splitlines(keepends=True)
        clock, uart = [i for i, line in enumerate(lines)
                       if re.search(rb"Compiling .*\\(clock|uart)\.c", line)]
        lines[clock], lines[uart] = lines[uart], lines[clock]
        since = ('kestrane.mk: %d sources from supplier-build.log (0 lines that mention "compiling" '
                 "left out)\n  since the last list: %s (all in sources.txt.changes)\n")
        cases = [  # the log; the order linked, what make tells of it
            (top + b"1> Compiling ..\\..\\src\\app\\extra.c ...\n2> Compiling" + rest,
             ["src/app/extra.c"] + LOG_ORDER,
             re.escape(since % (6, "1 added, 0 removed, 0 moved") + "    + src/app/extra (1)\n")),
            (self.good, LOG_ORDER,
             re.escape(since % (5, "0 added, 1 removed, 0 moved") + "    - src/app/extra (was 1)\n")),
            # Which of the two moved is the comparison's choice.
            (b"".join(lines), LOG_ORDER[1::-1] + LOG_ORDER[2:],
             re.escape(since % (5, "0 added, 0 removed, 1 moved")) +
             r"    ~ (src/drivers/uart 1 \(was 2\)|src/board/clock 2 \(was 1\))\n"),
        ]
        for log, order, said in cases:
            with self.subTest(order=order):
                self.write_log(log)
                backdate(self.log)
                proc, linked = self.make()
                self.assertEqual(linked, order)
                self.assertRegex(proc.stdout, said)
                proc, linked = self.make()
                self.assertIsNone(linked)
                self.assertNotIn("kestrane.mk", proc.stdout)

    def test_clean_works_while_the_log_is_refused_or_missing(self):
        clean = self.path("clean.mk")
        with open(clean, "w") as f:
            f.write("clean:\n\trm -f firmware $(OBJS)\n")
        for how, said in [("refused", 'Kestrane error: Input file line 13: "a;b" is not a plain relative '
                                      'path (exit status 254)'),
                          ("missing", "the supplier's build log is missing or not a regular file"),
                          ("device", "the supplier's build log is missing or not a regular file")]:
            with self.subTest(how):
                spoil_log(self.log, self.good, None)
                self.make()
                spoil_log(self.log, self.good, how)
                self.assertStops("kestrane.mk: supplier-build.log: " + said)
                self.make("-f", "Makefile", "-f", clean, "clean")
                self.assertEqual([s for s in LOG_ORDER if os.path.exists(
                    os.path.join(self.source, s[:-len(".c")] + ".o"))], [])

    def test_new_list_tells_the_lines_left_out(self):
        """Told with the list, the count taking in what the explanation's
        bound left out. An empty list stops the build: with the lines left
        out, and KESTRANE_ALLOW_EMPTY offered, where a line mentions the
        word in any letter case; where none does, asking whether the log is
        the right one."""
        cpp = self.good.replace(b".c ...", b".cpp ...")
        not_the_log = ('kestrane.mk: no line of supplier-build.log mentions "compiling": is it the '
                       "supplier's build log, in the form the README describes?")
        cases = [  # the log, make's arguments, its status, what it says
            (self.good + b"7> Compiling ../../src/app/extra.cpp ...\n", [], 0,
             'kestrane.mk: 5 sources from supplier-build.log (1 line that mentions "compiling" left '
             'out)\n  the first list\n  line 13: a C++ file (more than one character after the last '
             'dot): "7> Compiling ../../src/app/extra.cpp ..."\n'),
            (cpp + cpp, [], 2,
             'kestrane.mk: supplier-build.log: lists no compiled source file; 10 lines that mention '
             '"compiling" were left out:\n  line 5: a C++ file (more than one character after the '
             'last dot): "2> Compiling ..\\\\..\\\\src\\\\board\\\\clock.cpp ..."\n'),
            (cpp + cpp, [], 2, '"6> Compiling ..\\\\..\\\\src\\\\app\\\\blink.cpp ..."\n'
             "  5 more in sources.txt.left-out\n"
             "  (set KESTRANE_ALLOW_EMPTY to accept an empty list)"),
            (b"COMPILING ../../src/app/main.c ...\n", [], 2, "1 line that mentions \"compiling\" "
             "was left out:\n  line 1: the word is not written Compiling (letter case counts)"),
            (b"Linking firmware.elf ...\n", [], 2, not_the_log),
            # A log in another form: UTF-16 without its byte-order mark.
            (self.good.decode("ascii").encode("utf-16-le"), [], 2, not_the_log),
            (cpp, ["KESTRANE_ALLOW_EMPTY=1", "sources.txt.mk"], 0,
             'kestrane.mk: 0 sources from supplier-build.log (5 lines that mention "compiling" left '
             "out)\n  the same list as before\n  line 5: "),
            # Past both bounds: the report's line, and the explanation's count.
            (b"4> Compiling ..\\..\\src\\app\\main.c ...\n" * 10001 + b"compiling\n" * 100005,
             ["sources.txt.mk"], 0,
             'kestrane.mk: 10001 sources from supplier-build.log (100005 lines that mention '
             '"compiling" left out)\n  since the last list: more than 10000 changes: 10001 added, '
             '0 removed (all in sources.txt.changes)\n  line 10002: the word is not written '
             'Compiling (letter case counts): "compiling"\n'),
            (b"compiling\n" * 100005 + self.good, ["sources.txt.mk"], 0,
             "  100000 more in sources.txt.left-out\n"),
        ]
        for log, args, status, said in cases:
            with self.subTest(said):
                self.write_log(log)
                proc = self.make(*args, check=False)[0]
                self.assertEqual(proc.returncode, status, proc.stderr)
                self.assertIn(said, proc.stdout + proc.stderr)
                offered = status != 0 and b"ompiling" in log.lower()
                self.assertEqual("KESTRANE_ALLOW_EMPTY" in proc.stderr, offered)

    def test_only_files_in_the_tree_compile_and_only_by_the_include(self):
        """kestrane checks every entry against the tree on every build, the
        list new or not: one that is no file inside it, links resolved, stops
        the build before anything is compiled, by the include's rule or by
        make's built-in rules from a .cpp or .s file of the same name."""
        self.make()
        app = os.path.join(self.source, "src", "app")
        evil = self.path("evil.c")  # outside the tree
        os.rename(os.path.join(app, "main.c"), evil)
        os.remove(os.path.join(app, "main.o"))
        os.symlink("../..", os.path.join(self.source, "src", "up"))
        main = b"4> Compiling ..\\..\\src\\app\\main.c ..."
        cases = [  # what stands in main.c's place, the entry logged instead, kestrane's reason
            ("main.cpp", None, '"src/app/main" is not a file in the source tree'),
            ("main.s", None, '"src/app/main" is not a file in the source tree'),
            ("main.c", None, '"src/app/main" leads out of the source tree'),
            # ".." hidden in a link, and a file the log names that is not there.
            (None, b"src\\up\\evil", '"src/up/evil" leads out of the source tree'),
            (None, b"src\\app\\gone", '"src/app/gone" is not a file in the source tree'),
        ]
        for stand_in, entry, why in cases:
            with self.subTest(why, stand_in=stand_in):
                if stand_in:
                    os.symlink(evil, os.path.join(app, stand_in))
                self.write_log(self.good.replace(main, b"4> Compiling ..\\..\\%s.c ..." % entry)
                               if entry else self.good)
                self.assertStops("kestrane.mk: supplier-build.log: Kestrane error: Input file line "
                                 "8: %s (exit status 254)" % why)
                self.assertFalse(os.path.exists(os.path.join(app, "main.o")))
                if stand_in:
                    os.remove(os.path.join(app, stand_in))

    def test_hostile_log_stops_the_build(self):
        """Nothing an entry holds is run by make or the shell, nothing is read
        or written outside the tree: the build stops, naming the log and
        showing the entry as kestrane escaped it; the list and program stay."""
        self.make()
        # The makefile tells the failure, and keeps the last list's entries.
        built = {name: os.stat(os.path.join(self.source, name)).st_mtime_ns
                 for name in ["firmware", "sources.txt"]}
        with open(os.path.join(self.source, "sources.txt.mk")) as f:
            entries = f.read().splitlines()[1:]
        pwned = self.path("pwned")
        target = os.fsencode(pwned)
        cases = [  # the log line, what make must say
            (b"1> Compiling ..\\..\\;touch " + target + b";echo \x1b]0;x\x07.c ...\r\n",
             'Input file line 2: ";touch %s;echo \\x1B]0;x\\x07" is not a plain relative path '
             "(exit status 254)" % pwned),
            (b"Compiling ../../$(shell touch " + target + b").c ...\n",
             'Input file line 2: "$(shell touch %s)" is not a plain relative path' % pwned),
            (b"Compiling ../../src/a$(file >" + target + b",x).c ...\n",
             'Input file line 2: "src/a$(file >%s,x)" is not a plain relative path' % pwned),
            (b"Compiling ../../../../../../../etc/hostname.c ...\n",
             'Input file line 2: "../../../../../etc/hostname" is not a plain relative path'),
            # make splits names at blanks: no --allow-blanks.
            (b"Compiling ../../Source Files/main.c ...\n",
             'Input file line 2: "Source Files/main" is not a plain relative path'),
        ]
        for line, said in cases:
            with self.subTest(said):
                self.write_log(b"2> Compiling ..\\..\\src\\app\\main.c ...\n" + line)
                proc = self.assertStops("kestrane.mk: supplier-build.log: Kestrane error: " + said)
                self.assertNotIn("\x1b", proc.stdout + proc.stderr)
                self.assertFalse(os.path.exists(pwned), "a command from the log ran")
                for name, mtime in built.items():
                    self.assertEqual(os.stat(os.path.join(self.source, name)).st_mtime_ns, mtime, name)
                with open(os.path.join(self.source, "sources.txt.mk")) as f:
                    self.assertEqual(f.read().splitlines()[1:-1], entries)
        # The supplier's log again: the list it gives is the one kept.
        self.write_log(self.good)
        self.assertIsNone(self.make()[1])

    def test_old_or_slow_kestrane_and_bad_settings_stop_the_build(self):
        """A kestrane that writes no report of changes checked nothing (one
        from before --root): the build stops, naming it, whatever list it
        wrote; one that runs past KESTRANE_TIMEOUT is stopped."""
        self.make()
        pwned = self.path("pwned")
        old = old_kestrane(self.path("old"), b"src/app/main\n;touch " + os.fsencode(pwned) + b"\n")
        slow = self.path("slow")
        with open(slow, "w") as f:
            f.write("#!/bin/sh\nexec sleep 60\n")
        os.chmod(slow, 0o755)
        cases = [  # make's arguments, what it says
            (["KESTRANE=" + old], "kestrane.mk: %s is not a kestrane that checks the source tree "
             "and reports changes (--root, --changes); use the kestrane this include came with" % old),
            (["KESTRANE=" + slow, "KESTRANE_TIMEOUT=1"], "kestrane.mk: supplier-build.log: "
             "kestrane %s did not finish within 1 s (set KESTRANE_TIMEOUT if the log is that "
             "large)" % slow),
            (["KESTRANE_TIMEOUT=0"],
             'kestrane.mk: KESTRANE_TIMEOUT takes a number of seconds greater than 0, not "0"'),
            (["KESTRANE_ROOT=x--output"], 'kestrane.mk: kestrane would misread a value with '
             '"--input" or "--output" in it as that option'),
        ]
        for args, said in cases:
            with self.subTest(said):
                started = time.monotonic()
                self.assertStops(said, *args)
                self.assertLess(time.monotonic() - started, 30)
                self.assertFalse(os.path.exists(pwned), "a command from the list ran")
        # The old kestrane's list was never taken; kestrane puts the log's back.
        self.assertEqual(self.make()[1], LOG_ORDER)


if __name__ == "__main__":
    unittest.main()

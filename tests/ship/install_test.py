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
import unittest

from shiptest import (EM_ARM, FIRMWARE_OUTPUT, LOG_ORDER, ExampleTestCase, ScratchTestCase,
                      backdate, elf_machine, need, readme_block, run, setting, spoil_log,
                      version_file_verdict)

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
        for how, said in [("refused", 'Input file line 13: "a;b" is not a plain relative path'),
                          ("c++", 'lists no compiled source file; 5 lines that mention "compiling" '
                           "were left out: line 5: a C++ file (more than one character after "
                           'the last dot): "2> Compiling ..\\x5C..\\x5Csrc\\x5Cboard\\x5Cclock.cpp ..."'),
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
        run([CMAKE, "--build", self.build])
        self.assertEqual(self.compiled_sources(), LOG_ORDER[::-1])
        self.assertEqual(run([os.path.join(self.build, "firmware")]).stdout, FIRMWARE_OUTPUT)


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

    def make(self, *args, check=True):
        """Runs make -j4; returns the process, and the sources of the objects
        on its link line, or None when it did not link."""
        path = os.pathsep.join([os.path.join(self.prefix, "bin"), os.environ["PATH"]])
        proc = run(["make", "-j4", "-C", self.source, *args], env=dict(os.environ, PATH=path),
                   check=check)
        links = [line for line in proc.stdout.splitlines() if " -o firmware " in line + " "]
        return proc, [o + ".c" for o in re.findall(r"(\S+)\.o\b", links[-1])] if links else None

    def test_readme_shows_the_example_makefile(self):
        with open(os.path.join(self.source, "Makefile")) as f:
            self.assertEqual(readme_block("### Make", "make"), f.read())

    def test_relinks_only_when_the_order_of_the_log_changes(self):
        self.assertEqual(self.make()[1], LOG_ORDER)
        self.assertEqual(run([os.path.join(self.source, "firmware")]).stdout, FIRMWARE_OUTPUT)
        self.assertIsNone(self.make()[1], "nothing changed, nothing to link")
        os.utime(self.log)
        self.assertIsNone(self.make()[1], "the same list, nothing to link")
        # The newest log wins, whatever its date, in one run of make.
        self.reverse_log_order()
        backdate(self.log)
        self.assertEqual(self.make()[1], LOG_ORDER[::-1])
        proc, linked = self.make()
        self.assertIsNone(linked)
        self.assertNotIn("kestrane --strict", proc.stdout, "the list made again")

    def test_clean_works_while_the_log_is_refused_or_missing(self):
        clean = self.path("clean.mk")
        with open(clean, "w") as f:
            f.write("clean:\n\trm -f firmware $(OBJS)\n")
        with open(self.log, "rb") as f:
            good = f.read()
        for how, said in [("refused", 'Input file line 13: "a;b" is not a plain relative path'),
                          ("missing", "the supplier's build log is missing or not a regular file"),
                          ("device", "the supplier's build log is missing or not a regular file")]:
            with self.subTest(how):
                spoil_log(self.log, good, None)
                self.make()
                spoil_log(self.log, good, how)
                proc = self.make(check=False)[0]
                self.assertNotEqual(proc.returncode, 0)
                self.assertIn("kestrane.mk: supplier-build.log: ", proc.stderr)
                self.assertIn(said, proc.stderr)
                self.make("-f", "Makefile", "-f", clean, "clean")
                self.assertEqual([s for s in LOG_ORDER if os.path.exists(
                    os.path.join(self.source, s[:-len(".c")] + ".o"))], [])

    def test_new_list_tells_the_lines_left_out(self):
        """Told once, when the list is made; an empty list stops the build
        and names them, and KESTRANE_ALLOW_EMPTY is offered only for a log
        without such a line."""
        with open(self.log, "rb") as f:
            good = f.read()
        cpp = good.replace(b".c ...", b".cpp ...")
        cases = [  # the log, make's status, what it says
            (good + b"7> Compiling ../../src/app/extra.cpp ...\n", 0,
             'kestrane.mk: 5 sources from supplier-build.log (1 line that mentions "compiling" left '
             'out)\n  line 13: a C++ file (more than one character after the last dot): '
             '"7> Compiling ../../src/app/extra.cpp ..."\n'),
            (cpp + cpp, 2, ('kestrane.mk: supplier-build.log: lists no compiled source file; 10 '
                            'lines that mention "compiling" were left out:\n  line 5: a C++ file',
                            '\n  line 10: a C++ file (more than one character after the last dot): '
                            '"6> Compiling ..\\x5C..\\x5Csrc\\x5Capp\\x5Cblink.cpp ..."\n'
                            "  5 more in sources.txt.left-out\n")),
            (b"Linking firmware.elf ...\n", 2, 'kestrane.mk: supplier-build.log: lists no compiled '
             'source file, and no line of it mentions "compiling" (set KESTRANE_ALLOW_EMPTY to '
             "accept an empty list)\n"),
        ]
        for log, status, said in cases:
            with self.subTest(said):
                with open(self.log, "wb") as f:
                    f.write(log)
                proc = self.make(check=False)[0]
                self.assertEqual(proc.returncode, status, proc.stderr)
                for part in (said,) if isinstance(said, str) else said:
                    self.assertIn(part, proc.stdout + proc.stderr)
                self.assertEqual("KESTRANE_ALLOW_EMPTY" in proc.stderr, b"ompiling" not in log)
        self.assertIn("kestrane.mk: 0 sources from supplier-build.log",
                      self.make("KESTRANE_ALLOW_EMPTY=1", "sources.txt.mk")[0].stdout)

    def test_only_files_in_the_tree_compile_and_only_by_the_include(self):
        """An entry compiles from <entry>.c inside the tree, by the include's
        rule: never by make's built-in rules from a .cpp or .s file of the
        same name, nor from a file outside that a link leads to."""
        self.make()
        app = os.path.join(self.source, "src", "app")
        os.rename(os.path.join(app, "main.c"), self.path("evil.c"))
        os.remove(os.path.join(app, "main.o"))
        cases = [  # what stands in for main.c; what make says with the list kept and a new one
            ("main.cpp", "No rule to make target 'src/app/main.c'",
             "lists a source file that is not there: src/app/main.c"),
            ("main.s", "No rule to make target 'src/app/main.c'",
             "lists a source file that is not there: src/app/main.c"),
            ("main.c", None, "lists the source file src/app/main.c, which is, with symbolic links "
             "resolved, %s, outside %s" % (self.path("evil.c"), os.path.realpath(self.source))),
        ]
        for stand_in, kept, new in cases:
            with self.subTest(stand_in):
                os.symlink(self.path("evil.c"), os.path.join(app, stand_in))
                for said in [kept, new]:
                    if said == new:
                        self.reverse_log_order()
                    if said:
                        proc = self.make(check=False)[0]
                        self.assertIn(said, proc.stderr)
                        self.assertFalse(os.path.exists(os.path.join(app, "main.o")))
                self.reverse_log_order()
                os.remove(os.path.join(app, stand_in))

    def old_kestrane(self, name, list_data):
        """A kestrane that ignores --strict and writes `list_data`."""
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(b"#!/bin/sh\nfor a; do case $a in --output=*) out=${a#--output=};; esac; done\n"
                    b"cat > \"$out\" <<'EOF'\n" + list_data + b"EOF\n")
        os.chmod(path, 0o755)
        return "KESTRANE=" + path

    def test_hostile_log_stops_the_build(self):
        """Nothing an entry holds is run by make or the shell, nothing is read
        or written outside the tree: the build stops, naming the log and
        showing the entry escaped. So too with a kestrane that ignores
        --strict: kestrane.mk checks the list itself."""
        self.make()
        built = {name: os.stat(os.path.join(self.source, name)).st_mtime_ns
                 for name in ["firmware", "sources.txt", "sources.txt.mk"]}
        pwned = self.path("pwned")
        target = os.fsencode(pwned)
        cases = [  # the log line or the list, what make must say
            (b"1> Compiling ..\\..\\;touch " + target + b";echo \x1b]0;x\x07.c ...\r\n", [],
             'Input file line 2: ";touch %s;echo \\x1B]0;x\\x07" is not a plain relative path '
             "(exit status 254)" % pwned),
            (b"Compiling ../../$(shell touch " + target + b").c ...\n", [],
             'Input file line 2: "$(shell touch %s)" is not a plain relative path' % pwned),
            (b"Compiling ../../src/a$(file >" + target + b",x).c ...\n", [], '"src/a$(file >'),
            (b"Compiling ../../../../../../../etc/hostname.c ...\n", [], '"../../../../../etc/hostname"'),
            (b"", [self.old_kestrane("old-crlf", b"src/app/main\r\n;touch " + target + b";echo \x1b[2J\r\n")],
             'list line 2: ";touch %s;echo \\x1B[2J" is not a plain relative path' % pwned),
            (b"", [self.old_kestrane("old-lf", b"src/app/main\n/etc/hostname\n")],
             'list line 2: "/etc/hostname" is not a plain relative path'),
            (b"", [self.old_kestrane("old-long", b"src/app/main\n" + b"a" * 5000 + b"\n")],
             'list line 2: "%s"... (5000 bytes) is not a plain relative path' % ("a" * 200)),
            (b"", [self.old_kestrane("blank", b"src/app/main\nSource Files/main\n")],
             'list line 2: "Source Files/main" holds a blank, and make cannot take a file name '
             "with blanks; build with CMake and kestrane_sources(), which can"),
        ]
        with open(self.log, "rb") as f:
            log = f.read()
        for line, args, said in cases:
            with self.subTest(said):
                with open(self.log, "wb") as f:
                    f.write(b"2> Compiling ..\\..\\src\\app\\main.c ...\n" + line)
                proc, linked = self.make(*args, check=False)
                self.assertNotEqual(proc.returncode, 0)
                self.assertIn("kestrane.mk: supplier-build.log: ", proc.stderr)
                self.assertIn(said, proc.stderr)
                self.assertNotIn("\x1b", proc.stdout + proc.stderr)
                self.assertIsNone(linked)
                self.assertFalse(os.path.exists(pwned), "a command from the log ran")
                for name, mtime in built.items():
                    self.assertEqual(os.stat(os.path.join(self.source, name)).st_mtime_ns, mtime, name)
        # The supplier's log again: the list it gives is the one kept.
        with open(self.log, "wb") as f:
            f.write(log)
        self.assertIsNone(self.make()[1])


if __name__ == "__main__":
    unittest.main()

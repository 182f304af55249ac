#!/usr/bin/env python3
"""The Debian package: built by cpack from the build folder, checked by
dpkg-deb and lintian, unpacked into a scratch root and run there."""

import os
import platform
import re
import shutil
import unittest

from shiptest import PackageTestCase, need, run, setting

VERSION = setting("KESTRANE_VERSION")  # the package version


def cet_marks(path):
    """What an ELF file is marked for of CET: IBT (indirect branch tracking)
    and SHSTK (shadow stacks), as its GNU property note says."""
    notes = run(["readelf", "--notes", "--wide", path]).stdout
    features = re.search(r"x86 feature: (.*)", notes)
    return {f.strip() for f in features.group(1).split(",")} & {"IBT", "SHSTK"} if features else set()


class DebianPackageTests(PackageTestCase):
    GENERATOR = "DEB"
    BUILD_DIR = setting("KESTRANE_BUILD_DIR")

    def field(self, name):
        return run(["dpkg-deb", "--field", self.package, name]).stdout.strip()

    def test_control_fields(self):
        self.assertEqual(run(["dpkg-deb", "--info", self.package]).stderr, "", "dpkg-deb warned")
        architecture = run(["dpkg", "--print-architecture"]).stdout.strip()
        self.assertEqual(self.field("Package"), "kestrane")
        self.assertEqual(self.field("Version"), VERSION)
        self.assertEqual(self.field("Architecture"), architecture)
        self.assertEqual(os.path.basename(self.package), "kestrane_%s_%s.deb" % (VERSION, architecture))
        self.assertRegex(self.field("Maintainer"), r"^[^<>]+ <[^@<>]+@[^@<>]+>$")
        # The libraries the program is linked with, found by dpkg-shlibdeps:
        # the C library, and not the C++ runtime, which an optimised build
        # links in.
        depends = [d.split()[0] for d in self.field("Depends").split(",")]
        self.assertIn("libc6", depends)
        if setting("KESTRANE_OPTIMISED") == "1":
            self.assertNotIn("libstdc++6", depends)
        summary, *extended = self.field("Description").splitlines()
        self.assertTrue(summary and extended, "a summary and an extended description")

    def test_lintian_pedantic_finds_only_what_contributing_explains(self):
        need("lintian")
        proc = run(["lintian", "--pedantic", "--display-info", "--display-experimental",
                    "--tag-display-limit", "0", "--fail-on", "error,warning", self.package],
                   check=False)
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        tags = set(re.findall(r"(?m)^[A-Z]: kestrane[^:]*: (\S+)", proc.stdout))
        # CONTRIBUTING.md says why this one stays.
        explained = {"hardening-no-fortify-functions"}
        if setting("KESTRANE_HARDENED") != "1":
            explained.add("hardening-no-bindnow")  # as asked for
        self.assertLessEqual(tags, explained, proc.stdout)

    def test_unpacked_tool_lists_the_supplier_log(self):
        run(["dpkg-deb", "-x", self.package, self.tmp])
        self.assertListsExampleLog(self.path("usr", "bin", "kestrane"))
        # What Debian asks of the documents, done while packing.
        for name in ["usr/share/man/man1/kestrane.1.gz", "usr/share/doc/kestrane/copyright",
                     "usr/share/doc/kestrane/changelog.gz", "usr/share/kestrane/kestrane.mk"]:
            self.assertTrue(os.path.isfile(self.path(name)), name)
        if shutil.which("readelf"):
            sections = run(["readelf", "--sections", "--wide", self.path("usr", "bin", "kestrane")])
            self.assertNotIn(" .comment ", sections.stdout)

    def test_program_is_hardened(self):
        """A position-independent executable, its relocations bound at start-up
        and read-only after (full RELRO), with a stack protector; marked for
        CET only as far as the C library's start files allow (on Debian 12:
        not at all)."""
        if setting("KESTRANE_HARDENED") != "1":
            self.skipTest("a build without hardening (KESTRANE_HARDENING=OFF, or not optimised)")
        need("readelf")
        run(["dpkg-deb", "-x", self.package, self.tmp])
        program = self.path("usr", "bin", "kestrane")
        dynamic = run(["readelf", "--dynamic", "--wide", program]).stdout
        self.assertRegex(dynamic, r"\(FLAGS\)\s+.*\bBIND_NOW\b")
        self.assertRegex(dynamic, r"\(FLAGS_1\)\s+Flags:.*\bNOW\b.*\bPIE\b")
        self.assertRegex(run(["readelf", "--program-headers", "--wide", program]).stdout,
                         r"(?m)^\s*GNU_RELRO\s")
        self.assertRegex(run(["readelf", "--dyn-syms", "--wide", program]).stdout,
                         r"\b__stack_chk_fail\b")
        if platform.machine() == "x86_64":
            # CET: the objects are compiled for it (-fcf-protection, below),
            # but the linker marks the program only when every object it
            # links is marked, and Debian 12's C library start files are not.
            need("cc")
            start_files = [run(["cc", "-print-file-name=" + name]).stdout.strip()
                           for name in ["Scrt1.o", "crti.o", "crtn.o"]]
            self.assertEqual(cet_marks(program), set.intersection(*map(cet_marks, start_files)),
                             "the program is marked for what every start file is")
        # _FORTIFY_SOURCE leaves no trace in this program: none of its calls
        # writes to a buffer of a size the compiler knows and cannot prove
        # safe, so no checked function is called. Its compile commands hold it.
        commands = run([setting("CMAKE_MAKE_PROGRAM"), "-C", setting("KESTRANE_BUILD_DIR"),
                        "-t", "commands", "kestrane"]).stdout
        compiles = [c for c in commands.splitlines() if re.search(r"\s-c\s", c)]
        self.assertTrue(compiles)
        flags = ["-fstack-protector-strong", "-U_FORTIFY_SOURCE"]
        if platform.machine() in ("x86_64", "i686"):
            flags.append("-fcf-protection")
        for command in compiles:
            for flag in flags:
                self.assertIn(" %s " % flag, command)
            self.assertRegex(command, r" -D_FORTIFY_SOURCE=[23] ")
            self.assertRegex(command, r" -O[123s] ", "fortify needs an optimised build")


if __name__ == "__main__":
    unittest.main()

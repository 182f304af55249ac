#!/usr/bin/env python3
"""The install tree, and the example firmware built from it: with CMake
natively and for a Cortex-M4, and with the README's Makefile.

The example's supplier log lists its five sources in an order that is not
alphabetical; the build must compile and link them in exactly that order.
"""

import fnmatch
import os
import platform
import re
import unittest

from shiptest import (EM_ARM, FIRMWARE_OUTPUT, LOG_ORDER, ExampleTestCase, ScratchTestCase,
                      elf_machine, need, readme_block, run, setting, version_file_verdict)

SOURCE_DIR = setting("KESTRANE_SOURCE_DIR")
BUILD_DIR = setting("KESTRANE_BUILD_DIR")
CMAKE = setting("CMAKE_COMMAND")

# Every installed file matches exactly one of these; nothing else is there.
INSTALLED = [
    "bin/kestrane",
    "share/man/man1/kestrane.1",
    "share/doc/kestrane/README.md",
    "share/doc/kestrane/LICENSE",
    "lib*/cmake/Kestrane/KestraneConfig.cmake",
    "lib*/cmake/Kestrane/KestraneConfigVersion.cmake",
    "lib*/cmake/Kestrane/KestraneTargets.cmake",
    "lib*/cmake/Kestrane/KestraneTargets-*.cmake",
    "lib*/cmake/Kestrane/Kestrane.cmake",
]


def install(prefix):
    run([CMAKE, "--install", BUILD_DIR, "--prefix", prefix])


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
        self.configure("-DCMAKE_PREFIX_PATH=" + self.prefix, *warnings)

    def test_sources_reach_the_build_in_log_order(self):
        self.assertNotEqual(LOG_ORDER, sorted(LOG_ORDER), "the example must not be in alphabetical order")
        self.assertBuildsInLogOrder()
        program = os.path.join(self.build, "firmware")
        self.assertEqual(run([program]).stdout, FIRMWARE_OUTPUT)

    def test_new_supplier_log_reconfigures_the_build(self):
        run([CMAKE, "--build", self.build])
        self.reverse_log_order()
        self.assertBuildsInLogOrder(LOG_ORDER[::-1])  # no configure step by hand


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


class MakeSnippetTests(ExampleTestCase):
    """The README's Makefile, as printed, on the example, with an installed
    kestrane on PATH: GNU make and the C compiler."""

    def make(self):
        """Runs make; returns the sources of the objects on its link line, or
        None when it did not link."""
        path = os.pathsep.join([os.path.join(self.prefix, "bin"), os.environ["PATH"]])
        out = run(["make", "-C", self.source], env=dict(os.environ, PATH=path)).stdout
        links = [line for line in out.splitlines() if " -o firmware " in line + " "]
        return [o + ".c" for o in re.findall(r"(\S+)\.o\b", links[-1])] if links else None

    def test_relinks_in_the_order_of_a_new_log(self):
        need("make")
        need("cc")
        with open(os.path.join(self.source, "Makefile"), "w") as f:
            f.write(readme_block("### Make", "make"))
        self.prefix = self.path("prefix")
        install(self.prefix)

        self.assertEqual(self.make(), LOG_ORDER)
        self.assertEqual(run([os.path.join(self.source, "firmware")]).stdout, FIRMWARE_OUTPUT)
        self.assertIsNone(self.make(), "nothing changed, nothing to link")
        self.reverse_log_order()
        self.assertEqual(self.make(), LOG_ORDER[::-1])


if __name__ == "__main__":
    unittest.main()

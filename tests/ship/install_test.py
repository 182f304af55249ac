#!/usr/bin/env python3
"""The install tree, and the example firmware built from it with find_package.

The example's supplier log lists its five sources in an order that is not
alphabetical; the build must compile and link them in exactly that order.
"""

import fnmatch
import json
import os
import re
import shutil
import unittest

from shiptest import ScratchTestCase, run, setting

SOURCE_DIR = setting("KESTRANE_SOURCE_DIR")
BUILD_DIR = setting("KESTRANE_BUILD_DIR")
CMAKE = setting("CMAKE_COMMAND")
NINJA = setting("CMAKE_MAKE_PROGRAM")
EXAMPLES = os.path.join(SOURCE_DIR, "examples")

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

# The order of the compile lines in examples/firmware/supplier-build.log.
LOG_ORDER = ["src/board/clock.c", "src/drivers/uart.c", "src/app/main.c",
             "src/board/gpio.c", "src/app/blink.c"]

FIRMWARE_OUTPUT = """clock: 16 MHz
uart: 115200 baud, divider 8
led: on
led: off
led: on
led: off
firmware: done
"""


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


class ExampleBuildTests(ScratchTestCase):
    """Builds a copy of examples/firmware against a scratch install."""

    def setUp(self):
        super().setUp()
        self.prefix = self.path("prefix")
        self.source = self.path("firmware")
        self.build = self.path("build")
        install(self.prefix)
        shutil.copytree(os.path.join(EXAMPLES, "firmware"), self.source)
        configure = [CMAKE, "-S", self.source, "-B", self.build, "-G", "Ninja",
                     "-DCMAKE_MAKE_PROGRAM=" + NINJA,
                     "-DCMAKE_PREFIX_PATH=" + self.prefix,
                     "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"]
        if os.name != "nt":
            configure.append("-DCMAKE_C_FLAGS=-Wall -Wextra -Wpedantic -Werror")
        run(configure)

    def compiled_sources(self):
        with open(os.path.join(self.build, "compile_commands.json")) as f:
            commands = json.load(f)
        return [os.path.relpath(c["file"], self.source).replace(os.sep, "/") for c in commands]

    def linked_sources(self):
        """The sources of the objects on the link line, in link order."""
        link = run([NINJA, "-C", self.build, "-t", "commands", "firmware"]).stdout.splitlines()[-1]
        return re.findall(r"CMakeFiles/firmware\.dir/(\S+\.c)\.o(?:bj)?\b", link.replace("\\", "/"))

    def test_sources_reach_the_build_in_log_order(self):
        self.assertNotEqual(LOG_ORDER, sorted(LOG_ORDER), "the example must not be in alphabetical order")
        run([CMAKE, "--build", self.build])
        self.assertEqual(self.compiled_sources(), LOG_ORDER)
        self.assertEqual(self.linked_sources(), LOG_ORDER)
        program = os.path.join(self.build, "firmware")
        self.assertEqual(run([program]).stdout, FIRMWARE_OUTPUT)

    def test_new_supplier_log_reconfigures_the_build(self):
        run([CMAKE, "--build", self.build])
        log = os.path.join(self.source, "supplier-build.log")
        with open(log, "rb") as f:
            lines = f.read().splitlines(keepends=True)
        compiles = [i for i, line in enumerate(lines) if b"> Compiling " in line]
        # The supplier now compiles the same sources in the opposite order.
        reordered = list(lines)
        for i, j in zip(compiles, reversed(compiles)):
            reordered[i] = lines[j]
        with open(log, "wb") as f:
            f.write(b"".join(reordered))
        run([CMAKE, "--build", self.build])  # no configure step by hand
        self.assertEqual(self.compiled_sources(), LOG_ORDER[::-1])
        self.assertEqual(self.linked_sources(), LOG_ORDER[::-1])


if __name__ == "__main__":
    unittest.main()

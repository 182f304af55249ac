#!/usr/bin/env python3
"""The install tree: what `cmake --install` puts under a prefix."""

import fnmatch
import os
import unittest

from shiptest import ScratchTestCase, run, setting

SOURCE_DIR = setting("KESTRANE_SOURCE_DIR")
BUILD_DIR = setting("KESTRANE_BUILD_DIR")
CMAKE = setting("CMAKE_COMMAND")
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
        out = self.path("sources.txt")
        run([self.path("bin", "kestrane"),
             "--input=" + os.path.join(EXAMPLES, "supplier-build.log"), "--output=" + out])
        with open(out, "rb") as got, open(os.path.join(EXAMPLES, "supplier-build.expected"), "rb") as want:
            self.assertEqual(got.read(), want.read())


if __name__ == "__main__":
    unittest.main()

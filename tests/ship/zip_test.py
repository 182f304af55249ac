#!/usr/bin/env python3
"""The ZIP of the Windows build: made by cpack from the cross-built tree,
unpacked into a scratch folder, and the Kestrane.exe in it run under Wine."""

import os
import shutil
import unittest
import zipfile

from shiptest import PackageTestCase, run, setting

VERSION = setting("KESTRANE_VERSION")
WINE = setting("KESTRANE_WINE")
EXAMPLES = os.path.join(setting("KESTRANE_SOURCE_DIR"), "examples")
FOLDER = "kestrane-%s-win64" % VERSION


class ZipPackageTests(PackageTestCase):
    GENERATOR = "ZIP"
    BUILD_DIR = setting("KESTRANE_WINDOWS_BUILD_DIR")

    def test_holds_the_program_and_its_documents(self):
        self.assertEqual(os.path.basename(self.package), FOLDER + ".zip")
        with zipfile.ZipFile(self.package) as archive:
            names = set(archive.namelist())
        for name in ["Kestrane.exe", "README.md", "LICENSE.txt", "cmake/KestraneConfig.cmake",
                     "cmake/Kestrane.cmake"]:
            self.assertIn(FOLDER + "/" + name, names)
        self.assertFalse([n for n in names if "test" in n.lower() or "probe" in n.lower()],
                         "no test programs in the package")

    def test_unpacked_program_lists_the_supplier_log(self):
        with zipfile.ZipFile(self.package) as archive:
            archive.extractall(self.tmp)
        shutil.copy(os.path.join(EXAMPLES, "supplier-build.log"), self.tmp)
        run([WINE, os.path.join(self.tmp, FOLDER, "Kestrane.exe"),
             "--input=supplier-build.log", "--output=sources.txt"], cwd=self.tmp)
        with open(self.path("sources.txt"), "rb") as got, \
                open(os.path.join(EXAMPLES, "supplier-build.expected"), "rb") as want:
            self.assertEqual(got.read(), want.read().replace(b"\n", b"\r\n"))


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""The ZIP of the Windows build: made by cpack from the cross-built tree,
unpacked into a scratch folder, and the Kestrane.exe in it run under Wine."""

import glob
import os
import shutil
import tempfile
import unittest
import zipfile

from shiptest import ScratchTestCase, run, setting

WINDOWS_BUILD_DIR = setting("KESTRANE_WINDOWS_BUILD_DIR")
CPACK = setting("CPACK_COMMAND")
VERSION = setting("KESTRANE_VERSION")
WINE = setting("KESTRANE_WINE")
EXAMPLES = os.path.join(setting("KESTRANE_SOURCE_DIR"), "examples")
FOLDER = "kestrane-%s-win64" % VERSION


class ZipPackageTests(ScratchTestCase):
    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.mkdtemp(prefix="kestrane-zip-")
        run([CPACK, "-G", "ZIP", "--config", os.path.join(WINDOWS_BUILD_DIR, "CPackConfig.cmake"),
             "-B", cls.out])
        packages = glob.glob(os.path.join(cls.out, "*.zip"))
        if len(packages) != 1:
            raise AssertionError("expected one ZIP, cpack made %s" % packages)
        cls.zip = packages[0]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.out, ignore_errors=True)

    def test_holds_the_program_and_its_documents(self):
        self.assertEqual(os.path.basename(self.zip), FOLDER + ".zip")
        with zipfile.ZipFile(self.zip) as archive:
            names = set(archive.namelist())
        for name in ["Kestrane.exe", "README.md", "LICENSE.txt", "cmake/KestraneConfig.cmake",
                     "cmake/Kestrane.cmake"]:
            self.assertIn(FOLDER + "/" + name, names)
        self.assertFalse([n for n in names if "test" in n.lower() or "probe" in n.lower()],
                         "no test programs in the package")

    def test_unpacked_program_lists_the_supplier_log(self):
        with zipfile.ZipFile(self.zip) as archive:
            archive.extractall(self.tmp)
        shutil.copy(os.path.join(EXAMPLES, "supplier-build.log"), self.tmp)
        run([WINE, os.path.join(self.tmp, FOLDER, "Kestrane.exe"),
             "--input=supplier-build.log", "--output=sources.txt"], cwd=self.tmp)
        with open(self.path("sources.txt"), "rb") as got, \
                open(os.path.join(EXAMPLES, "supplier-build.expected"), "rb") as want:
            self.assertEqual(got.read(), want.read().replace(b"\n", b"\r\n"))


if __name__ == "__main__":
    unittest.main()

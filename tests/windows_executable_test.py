#!/usr/bin/env python3
"""What Kestrane.exe carries: its version resource and manifest, and imports
from no DLL that a plain Windows lacks (the C++ runtime is linked in).

Settings: KESTRANE_EXE (the executable), KESTRANE_OBJDUMP (MinGW-w64 objdump).
"""

import os
import re
import subprocess
import unittest

EXE = os.environ.get("KESTRANE_EXE", "")
OBJDUMP = os.environ.get("KESTRANE_OBJDUMP", "")

# DLLs of Windows itself; a MinGW runtime DLL (libstdc++-6, libgcc_s_seh-1,
# libwinpthread-1) must not appear.
SYSTEM_DLLS = re.compile(r"(kernel32|msvcrt|ucrtbase|version|user32|advapi32|api-ms-win-.*)\.dll\Z", re.I)
RT_VERSION, RT_MANIFEST = 0x10, 0x18


class WindowsExecutableTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.headers = subprocess.run([OBJDUMP, "-p", EXE], check=True, stdout=subprocess.PIPE,
                                     timeout=60).stdout.decode("latin-1")

    def test_imports_only_system_dlls(self):
        dlls = re.findall(r"DLL Name: (\S+)", self.headers)
        self.assertIn("VERSION.dll", dlls)
        self.assertEqual([d for d in dlls if not SYSTEM_DLLS.match(d)], [])

    def test_carries_version_resource_and_manifest(self):
        # Top level of the resource directory: one entry per resource type.
        types = re.findall(r"^0[0-9a-f]{2}   Entry: ID: 0x([0-9a-f]+),", self.headers, re.M)
        self.assertIn(RT_VERSION, [int(t, 16) for t in types])
        self.assertIn(RT_MANIFEST, [int(t, 16) for t in types])
        with open(EXE, "rb") as f:
            self.assertIn(b'<requestedExecutionLevel level="asInvoker"', f.read())


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""What Kestrane.exe carries: its version resource and manifest (with the
entries for UTF-8, long paths and the supported Windows versions), ASLR with
high-entropy addresses and NX, and imports from no DLL that a plain Windows
lacks (the C++ runtime is linked in).

Settings: KESTRANE_EXE (the executable), KESTRANE_OBJDUMP (MinGW-w64 objdump).
"""

import os
import re
import subprocess
import unittest
import xml.etree.ElementTree as ElementTree

EXE = os.environ.get("KESTRANE_EXE", "")
OBJDUMP = os.environ.get("KESTRANE_OBJDUMP", "")

# DLLs of Windows itself; a MinGW runtime DLL (libstdc++-6, libgcc_s_seh-1,
# libwinpthread-1) must not appear.
SYSTEM_DLLS = re.compile(r"(kernel32|msvcrt|ucrtbase|version|user32|advapi32|api-ms-win-.*)\.dll\Z", re.I)
RT_VERSION, RT_MANIFEST = 0x10, 0x18
# DllCharacteristics: ASLR with 64-bit addresses, NX.
HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT = 0x20, 0x40, 0x100

# Windows reads a manifest entry only in its own namespace; in any other it
# is ignored without a word.
NAMESPACES = {
    "asm": "urn:schemas-microsoft-com:asm.v3",
    "compatibility": "urn:schemas-microsoft-com:compatibility.v1",
    "settings2016": "http://schemas.microsoft.com/SMI/2016/WindowsSettings",
    "settings2019": "http://schemas.microsoft.com/SMI/2019/WindowsSettings",
}
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}


class WindowsExecutableTests(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.headers = subprocess.run([OBJDUMP, "-p", EXE], check=True, stdout=subprocess.PIPE,
                                     timeout=60).stdout.decode("latin-1")

    def test_imports_only_system_dlls(self):
        dlls = re.findall(r"DLL Name: (\S+)", self.headers)
        self.assertIn("VERSION.dll", dlls)
        self.assertEqual([d for d in dlls if not SYSTEM_DLLS.match(d)], [])

    def test_address_space_layout_randomised_and_data_not_executable(self):
        characteristics = int(re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)$", self.headers,
                                        re.M).group(1), 16)
        for flag in [HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT]:
            self.assertTrue(characteristics & flag, "DllCharacteristics %#x lacks %#x"
                            % (characteristics, flag))
        # Without its base relocations the image cannot be moved: ASLR in name only.
        relocations = re.search(r"^Entry 5 [0-9a-f]+ ([0-9a-f]+) Base Relocation Directory",
                                self.headers, re.M)
        self.assertTrue(relocations and int(relocations.group(1), 16) > 0)

    def test_carries_version_resource_and_manifest(self):
        # Top level of the resource directory: one entry per resource type.
        types = re.findall(r"^0[0-9a-f]{2}   Entry: ID: 0x([0-9a-f]+),", self.headers, re.M)
        self.assertIn(RT_VERSION, [int(t, 16) for t in types])
        self.assertIn(RT_MANIFEST, [int(t, 16) for t in types])
        with open(EXE, "rb") as f:
            self.assertIn(b'<requestedExecutionLevel level="asInvoker"', f.read())

    def test_manifest_entries(self):
        with open(EXE, "rb") as f:
            manifests = re.findall(rb"<\?xml .*?</assembly>", f.read(), re.S)
        self.assertEqual(len(manifests), 1)
        manifest = ElementTree.fromstring(manifests[0])
        supported = manifest.findall("compatibility:compatibility/compatibility:application/"
                                     "compatibility:supportedOS", NAMESPACES)
        self.assertEqual({e.get("Id") for e in supported}, SUPPORTED_OS)
        settings = manifest.find("asm:application/asm:windowsSettings", NAMESPACES)
        self.assertIsNotNone(settings)
        self.assertEqual(settings.findtext("settings2019:activeCodePage", None, NAMESPACES), "UTF-8")
        self.assertEqual(settings.findtext("settings2016:longPathAware", None, NAMESPACES), "true")


if __name__ == "__main__":
    unittest.main()

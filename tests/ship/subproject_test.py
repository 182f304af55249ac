#!/usr/bin/env python3
"""Kestrane as part of the example's build, through FetchContent, natively
from a git URL and for a Cortex-M4 from a source folder.

kestrane is then built for the build machine while the example is
configured, in the example's build tree, whatever the example's toolchain.
"""

import os
import shutil
import unittest

from shiptest import (EM_ARM, FIRMWARE_OUTPUT, LOG_ORDER, ExampleTestCase, backdate, elf_machine,
                      need, readme_block, run, setting)

SOURCE_DIR = setting("KESTRANE_SOURCE_DIR")
CMAKE = setting("CMAKE_COMMAND")
TOOL = setting("KESTRANE_COMMAND")


class SubprojectTests(ExampleTestCase):
    def fetch_kestrane(self, *details):
        self.use_kestrane_from(
            "include(FetchContent)",
            "FetchContent_Declare(Kestrane %s)" % " ".join('"%s"' % d for d in details),
            "FetchContent_MakeAvailable(Kestrane)")

    def git_repository(self):
        """A repository of the working tree as it is, committed or not;
        returns its file URL and commit."""
        need("git")
        repo = self.path("kestrane.git")
        files = run(["git", "-C", SOURCE_DIR, "ls-files", "-z", "--cached", "--others",
                     "--exclude-standard"]).stdout.split("\0")
        for name in filter(None, files):
            source = os.path.join(SOURCE_DIR, name)
            if os.path.isfile(source):  # not a file deleted since the last commit
                os.makedirs(os.path.dirname(os.path.join(repo, name)), exist_ok=True)
                shutil.copy2(source, os.path.join(repo, name))
        git = ["git", "-C", repo, "-c", "user.name=test", "-c", "user.email=test@example.org"]
        run(git + ["init", "-q"])
        run(git + ["add", "-A"])
        run(git + ["commit", "-q", "-m", "working tree"])
        return "file://" + repo, run(git + ["rev-parse", "HEAD"]).stdout.strip()

    def host_tool(self):
        return os.path.join(self.build, "_deps", "kestrane-build", "host", "kestrane")

    def assertAddsNothingToTheBuild(self):
        """No tests, packages or install rules of Kestrane's in the example's
        build; its own build for the build machine has them, apart."""
        host = os.path.dirname(self.host_tool())
        for folder, subfolders, names in os.walk(self.build):
            if folder == host:
                subfolders.clear()
                continue
            for name in ["CTestTestfile.cmake", "CPackConfig.cmake"]:
                self.assertNotIn(name, names, folder)
        prefix = self.path("installed")
        run([CMAKE, "--install", self.build, "--prefix", prefix])
        self.assertFalse(os.path.exists(prefix) and os.listdir(prefix), "nothing installed")

    def test_fetched_from_a_git_url(self):
        url, commit = self.git_repository()
        self.fetch_kestrane("GIT_REPOSITORY", url, "GIT_TAG", commit)
        # The README's build step that runs Kestrane::kestrane, too.
        with open(os.path.join(self.source, "CMakeLists.txt"), "a") as f:
            f.write(readme_block("### Build-time use", "cmake"))
        self.configure()
        self.assertBuildsInLogOrder()
        self.assertEqual(run([os.path.join(self.build, "firmware")]).stdout, FIRMWARE_OUTPUT)
        listed = os.path.join(self.build, "sources.txt")
        with open(listed) as f:
            self.assertEqual(f.read().split(), [s[:-len(".c")] for s in LOG_ORDER])
        # The build-time step takes the newest log whatever its date, and
        # refuses one that lists nothing, keeping the list it had.
        self.reverse_log_order()
        log = os.path.join(self.source, "supplier-build.log")
        backdate(log)
        run([CMAKE, "--build", self.build])
        with open(listed) as f:
            self.assertEqual(f.read().split(), [s[:-len(".c")] for s in LOG_ORDER[::-1]])
        os.rename(log, log + ".kept")
        with open(log, "w") as f:
            f.write("Compiling ../../src/app/main.cpp ...\n")
        proc = run([CMAKE, "--build", self.build, "--target", "supplier_sources"], check=False)
        self.assertNotEqual(proc.returncode, 0)
        self.assertIn("supplier-build.log lists no compiled source file; left-out.txt tells why",
                      proc.stdout)
        with open(os.path.join(self.build, "left-out.txt")) as f:
            self.assertEqual(f.read(), "1\ta C++ file (more than one character after the last dot)"
                             '\t"Compiling ../../src/app/main.cpp ..."\n')
        with open(listed) as f:
            self.assertEqual(f.read().split(), [s[:-len(".c")] for s in LOG_ORDER[::-1]])
        os.replace(log + ".kept", log)
        self.assertAddsNothingToTheBuild()
        # A later configure reuses the tool it built.
        built = os.stat(self.host_tool()).st_mtime_ns
        run([CMAKE, self.build])
        self.assertEqual(os.stat(self.host_tool()).st_mtime_ns, built, "kestrane was rebuilt")

    def test_cross_build_keeps_its_toolchain_to_itself(self):
        toolchain = self.cortex_m4()
        self.fetch_kestrane("SOURCE_DIR", SOURCE_DIR)
        # Everything by which a cross environment hands its compilers to CMake;
        # the flags would fail the build machine's compiler.
        flags = "-mcpu=cortex-m4 -mthumb"
        env = dict(os.environ, CMAKE_TOOLCHAIN_FILE=toolchain, CC="arm-none-eabi-gcc",
                   CXX="arm-none-eabi-g++", CFLAGS=flags, CXXFLAGS=flags, LDFLAGS=flags)
        self.configure("--toolchain", toolchain, env=env)
        self.assertBuildsInLogOrder()
        self.assertEqual(elf_machine(os.path.join(self.build, "firmware")), EM_ARM)
        self.assertEqual(elf_machine(self.host_tool()), elf_machine(TOOL))
        with open(os.path.join(self.build, "CMakeCache.txt")) as f:
            self.assertNotIn("CMAKE_CXX_COMPILER:", f.read(), "C++ enabled in the example")
        self.assertAddsNothingToTheBuild()


if __name__ == "__main__":
    unittest.main()

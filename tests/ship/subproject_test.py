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
                      need, old_kestrane, readme_block, run, setting)

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
        # refuses one that lists nothing.
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
        self.assertIn("supplier-build.log lists no source; see left-out.txt", proc.stdout)
        with open(os.path.join(self.build, "left-out.txt")) as f:
            self.assertEqual(f.read(), "1\ta C++ file (more than one character after the last dot)"
                             '\t"Compiling ../../src/app/main.cpp ..."\n')
        os.replace(log + ".kept", log)
        self.assertAddsNothingToTheBuild()
        # A later configure reuses the tool it built.
        built = os.stat(self.host_tool()).st_mtime_ns
        run([CMAKE, self.build])
        self.assertEqual(os.stat(self.host_tool()).st_mtime_ns, built, "kestrane was rebuilt")

    def build_time_step(self, tool):
        """The example's tree with a project of the README's build-time step
        alone, Kestrane::kestrane being `tool`, and its build folder inside
        the tree; returns the build's output, its whitespace made single
        blanks, and whether it succeeded."""
        with open(os.path.join(self.source, "CMakeLists.txt"), "w") as f:
            f.write("cmake_minimum_required(VERSION 3.25)\n"
                    "project(recipe LANGUAGES NONE)\n"
                    "add_executable(Kestrane::kestrane IMPORTED)\n"
                    'set_target_properties(Kestrane::kestrane PROPERTIES IMPORTED_LOCATION "%s")\n'
                    % tool + readme_block("### Build-time use", "cmake"))
        self.build = os.path.join(self.source, "build")
        self.configure()
        proc = run([CMAKE, "--build", self.build], check=False)
        return " ".join((proc.stdout + proc.stderr).split()), proc.returncode == 0

    def test_build_time_step_takes_only_files_in_the_tree(self):
        """The README's build-time step: kestrane checks each listed file
        against the source tree, the build folder in it excluded; the step
        tells what changed and stops on a refusal or a kestrane that does
        not check the tree."""
        log = os.path.join(self.source, "supplier-build.log")
        with open(log, "rb") as f:
            good = f.read()
        said, built = self.build_time_step(TOOL)
        self.assertTrue(built, said)
        self.assertIn("no earlier list", said)
        self.assertNotIn("no earlier list", self.build_time_step(TOOL)[0], "the same list told")
        with open(log, "wb") as f:
            f.write(b"1> Compiling ../../src/app/extra.c ...\n" + good)
        with open(os.path.join(self.source, "src", "app", "extra.c"), "w") as f:
            f.write("int extra;\n")
        said, built = self.build_time_step(TOOL)
        self.assertTrue(built, said)
        self.assertIn('+ 1 "src/app/extra"', said)
        # A link to a file outside the tree, and ".." hidden in a link.
        outside = self.path("outside.c")
        with open(outside, "w") as f:
            f.write("int outside;\n")
        os.symlink(outside, os.path.join(self.source, "src", "sdk.c"))
        os.symlink("../..", os.path.join(self.source, "src", "up"))
        os.makedirs(os.path.join(self.source, "build"), exist_ok=True)
        with open(os.path.join(self.source, "build", "gen.c"), "w") as f:
            f.write("int gen;\n")
        old = old_kestrane(self.path("old"), b"src/app/main\n")
        cases = [  # the entry logged, the tool, what the build says
            ("src/sdk", TOOL, '"src/sdk" leads out of the source tree'),
            ("src/up/outside", TOOL, '"src/up/outside" leads out of the source tree'),
            ("src/app/gone", TOOL, '"src/app/gone" is not a file in the source tree'),
            ("build/gen", TOOL, '"build/gen" is in an excluded folder'),
            ("src/app/main", old, "Kestrane::kestrane checks no source tree"),
        ]
        for entry, tool, why in cases:
            with self.subTest(why):
                with open(log, "wb") as f:
                    f.write(good + b"Compiling ../../%s.c ...\n" % entry.encode())
                said, built = self.build_time_step(tool)
                self.assertFalse(built, said)
                self.assertIn(why, said)

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

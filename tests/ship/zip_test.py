#!/usr/bin/env python3
"""The ZIP of the Windows build: made by cpack from the cross-built tree,
unpacked into a scratch folder, and the Kestrane.exe in it run under Wine.
Its CMake package suits only machines that run Kestrane.exe."""

import html
import os
import platform
import re
import shlex
import shutil
import unittest
import zipfile

from shiptest import (LOG_ORDER, PackageTestCase, copy_example, need, readme_block, run,
                      setting, version_file_verdict)

VERSION = setting("KESTRANE_VERSION")
WINE = setting("KESTRANE_WINE")
SOURCE_DIR = setting("KESTRANE_SOURCE_DIR")
CMAKE = setting("CMAKE_COMMAND")
EXAMPLES = os.path.join(SOURCE_DIR, "examples")
FOLDER = "kestrane-%s-win64" % VERSION


def flat(text):
    """`text` with every run of white space made one blank: CMake wraps errors."""
    return " ".join(text.split())


class ZipPackageTests(PackageTestCase):
    GENERATOR = "ZIP"
    BUILD_DIR = setting("KESTRANE_WINDOWS_BUILD_DIR")

    def test_holds_the_program_and_its_documents(self):
        self.assertEqual(os.path.basename(self.package), FOLDER + ".zip")
        with zipfile.ZipFile(self.package) as archive:
            names = set(archive.namelist())
        for name in ["Kestrane.exe", "README.md", "CHANGELOG.md", "LICENSE.txt", "kestrane.mk",
                     "cmake/KestraneConfig.cmake", "cmake/Kestrane.cmake"]:
            self.assertIn(FOLDER + "/" + name, names)
        self.assertFalse([n for n in names if "test" in n.lower() or "probe" in n.lower()],
                         "no test programs in the package")

    def test_holds_the_manual_page_as_html(self):
        """Windows has no man: the page is there to be read in a browser,
        every section of it, its Makefile example as the example has it."""
        need("mandoc")  # what the Windows build makes it with
        with zipfile.ZipFile(self.package) as archive:
            page = archive.read(FOLDER + "/kestrane.1.html").decode("utf-8")
        self.assertEqual(re.findall(r'<h1 class="Sh" id="([^"]+)"', page),
                         ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT_STATUS", "FILES",
                          "EXAMPLES", "NOTES", "SEE_ALSO"])
        shown = html.unescape(re.sub(r"<[^>]+>", "", page))
        with open(os.path.join(SOURCE_DIR, "examples", "firmware", "Makefile")) as f:
            self.assertIn(f.read(), shown)

    def unpack(self, folder):
        """Unpacks the ZIP into `folder`; returns the package's folder."""
        with zipfile.ZipFile(self.package) as archive:
            archive.extractall(folder)
        return os.path.join(folder, FOLDER)

    def test_unpacked_program_lists_the_supplier_log(self):
        self.unpack(self.tmp)
        shutil.copy(os.path.join(EXAMPLES, "supplier-build.log"), self.tmp)
        run([WINE, os.path.join(self.tmp, FOLDER, "Kestrane.exe"),
             "--input=supplier-build.log", "--output=sources.txt"], cwd=self.tmp)
        with open(self.path("sources.txt"), "rb") as got, \
                open(os.path.join(EXAMPLES, "supplier-build.expected"), "rb") as want:
            self.assertEqual(got.read(), want.read().replace(b"\n", b"\r\n"))

    def test_make_include_takes_the_list_of_kestrane_exe(self):
        """The example's Makefile with the ZIP's kestrane.mk and Kestrane.exe,
        whose list and reports end their lines in CR LF."""
        need("make")
        need("cc")
        folder = self.unpack(self.tmp)
        source = self.path("firmware")
        copy_example(source)
        make = ["make", "-C", source, "KESTRANE_MK=" + os.path.join(folder, "kestrane.mk"),
                "KESTRANE=%s %s" % (WINE, os.path.join(folder, "Kestrane.exe"))]
        out = run(make).stdout
        with open(os.path.join(source, "sources.txt"), "rb") as f:
            self.assertEqual(f.read(), b"".join(s[:-len(".c")].encode() + b"\r\n" for s in LOG_ORDER))
        [link] = [line for line in out.splitlines() if " -o firmware " in line]
        self.assertEqual([o + ".c" for o in re.findall(r"(\S+)\.o\b", link)], LOG_ORDER)
        self.assertIn('kestrane.mk: 5 sources from supplier-build.log (0 lines that mention '
                      '"compiling" left out)\n  the first list\n', out)
        # The same list again: nothing told, nothing linked; then a new one.
        out = run(make).stdout
        self.assertNotIn("kestrane.mk", out)
        self.assertNotIn(" -o firmware ", out)
        log = os.path.join(source, "supplier-build.log")
        with open(log, "rb") as f:
            text = f.read()
        with open(log, "wb") as f:
            f.write(b"Compiling ../../src/app/extra.c ...\n" + text +
                    b"Compiling ../../src/app/x.cpp ...\n")
        with open(os.path.join(source, "src", "app", "extra.c"), "w") as f:
            f.write("int extra;\n")
        self.assertIn('kestrane.mk: 6 sources from supplier-build.log (1 line that mentions '
                      '"compiling" left out)\n  since the last list: 1 added, 0 removed, 0 moved '
                      "(all in sources.txt.changes)\n    + src/app/extra (1)\n  line 14: a C++ file "
                      '(more than one character after the last dot): "Compiling ../../src/app/x.cpp '
                      '..."\n', run(make).stdout)

    def test_readme_batch_file_under_cmd(self):
        """The README's batch file, run by cmd with the ZIP's Kestrane.exe
        on PATH and a stand-in for gcc that keeps the response file: every
        name reaches it in quotes, in log order, a folder with a blank
        included, and what changed is shown. A refused log (an entry that is
        no plain path, or no file inside the tree), an empty list, or a
        Kestrane that writes no report of changes stops it before gcc."""
        folder = self.unpack(self.path("zip"))
        work = self.path("work")
        shutil.copytree(os.path.join(EXAMPLES, "firmware", "src"), os.path.join(work, "src"))
        os.rename(os.path.join(work, "src", "app"), os.path.join(work, "src", "Source Files"))
        os.mkdir(self.path("outside"))
        os.symlink("../../outside", os.path.join(work, "src", "sdk"))  # made on Linux
        with open(self.path("outside", "x.c"), "w") as f:
            f.write("int x;\n")
        # Prints a banner, succeeds and writes nothing, whatever it is given.
        old = self.path("old")
        os.mkdir(old)
        shutil.copy(os.path.join(self.BUILD_DIR, "tests", "banner_probe_no_resource.exe"),
                    os.path.join(old, "Kestrane.exe"))
        with open(os.path.join(work, "build.bat"), "w", newline="\r\n") as f:
            f.write(readme_block("### cmd and PowerShell", "bat"))
        with open(os.path.join(work, "gcc.bat"), "w", newline="\r\n") as f:
            f.write('@set rsp=%3\n@type "%rsp:~1%" > gcc-got.rsp\n')
        with open(os.path.join(EXAMPLES, "firmware", "supplier-build.log"), "rb") as f:
            log = f.read().replace(b"\\app\\", b"\\Source Files\\")
        listed = [s.replace("/app/", "/Source Files/") for s in LOG_ORDER]
        refused = 'Kestrane error: Input file line 13: "%s" %s'
        cases = [  # the log, Kestrane's folder, what gcc got (None: not run), a line said
            (log, folder, listed, "no earlier list"),
            (log.replace(b"5> ", b"1> Compiling ../../src/board/clock.c ...\r\n5> "), folder,
             listed[:3] + ["src/board/clock.c"] + listed[3:], '+\t4\t"src/board/clock"'),
            (log.replace(b".c ...", b".cpp ..."), folder, None,
             "supplier-build.log lists no source; see left-out.txt"),
            (log + b"Compiling ../../a;b.c ...\r\n", folder, None,
             refused % ("a;b", "is not a plain relative path")),
            (log + b"Compiling ../../src/sdk/x.c ...\r\n", folder, None,
             refused % ("src/sdk/x", "leads out of the source tree")),
            (log + b"Compiling ../../src/gone.c ...\r\n", folder, None,
             refused % ("src/gone", "is not a file in the source tree")),
            (log, old, None, "Kestrane checks no source tree"),
        ]
        for data, path, got, said in cases:
            with self.subTest(said):
                with open(os.path.join(work, "supplier-build.log"), "wb") as f:
                    f.write(data)
                env = dict(os.environ, WINEPATH="Z:" + path.replace("/", "\\"))
                proc = run([WINE, "cmd", "/c", "build.bat"], cwd=work, env=env, check=False)
                self.assertEqual(proc.returncode != 0, got is None, proc.stdout)
                self.assertIn(said, proc.stdout.splitlines(), proc.stdout)
                rsp = os.path.join(work, "gcc-got.rsp")
                if got is not None:
                    with open(rsp) as f:
                        self.assertEqual(shlex.split(f.read()), got)
                    os.remove(rsp)
                self.assertFalse(os.path.exists(rsp), "gcc ran")

    def test_package_suits_windows_machines(self):
        version_file = os.path.join(self.unpack(self.tmp), "cmake", "KestraneConfigVersion.cmake")
        for processor, unsuitable in [("AMD64", False), ("ARM64", False), ("x86", True)]:
            with self.subTest(processor):
                verdict = version_file_verdict(version_file, "Windows", processor)
                self.assertEqual(verdict[:2], (unsuitable, not unsuitable), verdict)

    def test_cross_build_on_linux_passes_it_over(self):
        """Unpacked in the sysroot of a MinGW-w64 cross build, the package is
        found, but its Kestrane.exe cannot run here: find_package() says so,
        and takes a package for this machine when there is one."""
        package = self.unpack(self.path("sysroot"))
        toolchain = self.path("mingw-w64.cmake")
        with open(toolchain, "w") as f:
            f.write('include("%s/cmake/mingw-w64-x86_64.cmake")\n'
                    'set(CMAKE_FIND_ROOT_PATH "%s")\n' % (SOURCE_DIR, self.path("sysroot")))
        project = self.path("project")
        os.mkdir(project)
        with open(os.path.join(project, "CMakeLists.txt"), "w") as f:
            f.write("cmake_minimum_required(VERSION 3.25)\n"
                    "project(consumer LANGUAGES NONE)\n"
                    "find_package(Kestrane REQUIRED ${FIND_OPTIONS})\n")

        def configure(name, *args):
            build = self.path(name)
            return build, run([CMAKE, "-S", project, "-B", build, "--toolchain", toolchain, *args],
                              check=False)

        _, proc = configure("build-sysroot")
        self.assertNotEqual(proc.returncode, 0, proc.stdout)
        self.assertIn(flat("%s/cmake/KestraneConfig.cmake, version: %s (a kestrane for Windows on "
                           "x86_64, which this machine, %s on %s, cannot run)"
                           % (package, VERSION, platform.system(), platform.machine())),
                      flat(proc.stderr))

        prefix = self.path("prefix")
        run([CMAKE, "--install", setting("KESTRANE_BUILD_DIR"), "--prefix", prefix])
        build, proc = configure("build-both", "-DFIND_OPTIONS=NO_CMAKE_FIND_ROOT_PATH",
                                "-DCMAKE_PREFIX_PATH=%s;%s" % (package, prefix))
        self.assertEqual(proc.returncode, 0, proc.stderr)
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            found = [line.split("=", 1)[1] for line in f.read().splitlines()
                     if line.startswith("Kestrane_DIR:")]
        self.assertEqual([os.path.dirname(os.path.dirname(os.path.dirname(d))) for d in found],
                         [prefix])


if __name__ == "__main__":
    unittest.main()

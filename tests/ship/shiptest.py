"""What the shipping tests share: their settings and a checked command runner.

Settings come from the environment; tests/CMakeLists.txt sets them.
"""

import glob
import json
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

TIMEOUT = 300

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

EM_ARM = 40  # the ELF header's machine of 32-bit Arm programs


def setting(name):
    value = os.environ.get(name)
    if not value:
        raise RuntimeError("%s is not set; run this test through ctest" % name)
    return value


def run(args, cwd=None, check=True, env=None):
    """Runs `args`; returns the completed process, its output as text.

    With `check`, a non-zero exit fails the test and shows the output.
    """
    proc = subprocess.run(args, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=TIMEOUT)
    proc.stdout = proc.stdout.decode("utf-8", "replace")
    proc.stderr = proc.stderr.decode("utf-8", "replace")
    if check and proc.returncode != 0:
        raise AssertionError("%s exited with %s\n--- stdout\n%s--- stderr\n%s"
                             % (args, proc.returncode, proc.stdout, proc.stderr))
    return proc


def readme_block(heading, language):
    """The first `language` code block under the README's `heading`, as printed."""
    with open(os.path.join(setting("KESTRANE_SOURCE_DIR"), "README.md")) as f:
        readme = f.read()
    block = re.search(r"^%s\n.*?^```%s\n(.*?)^```$" % (re.escape(heading), language), readme,
                      re.MULTILINE | re.DOTALL)
    if not block:
        raise AssertionError("no %s block under %r in README.md" % (language, heading))
    return block.group(1)


def elf_machine(path):
    """The machine an ELF program is for, from its header."""
    with open(path, "rb") as f:
        header = f.read(20)
    if header[:4] != b"\x7fELF":
        raise AssertionError("%s is not an ELF file" % path)
    return struct.unpack_from("<H" if header[5] == 1 else ">H", header, 18)[0]


def version_file_verdict(version_file, system, processor, wanted="1.0"):
    """What a package's version file tells find_package(<name> <wanted>) on a
    machine that says it is `system` on `processor`: (unsuitable, compatible,
    the version shown)."""
    script = os.path.join(tempfile.mkdtemp(prefix="kestrane-version-"), "verdict.cmake")
    with open(script, "w") as f:
        f.write('set(CMAKE_HOST_SYSTEM_NAME "%s")\n'
                'set(CMAKE_HOST_SYSTEM_PROCESSOR "%s")\n'
                'set(PACKAGE_FIND_VERSION "%s")\n'
                'string(REGEX MATCH "^[0-9]+" PACKAGE_FIND_VERSION_MAJOR "%s")\n'
                'include("%s")\n'
                'message("${PACKAGE_VERSION_UNSUITABLE}|${PACKAGE_VERSION_COMPATIBLE}|${PACKAGE_VERSION}")\n'
                % (system, processor, wanted, wanted, version_file))
    try:
        said = run([setting("CMAKE_COMMAND"), "-P", script]).stderr.strip()
    finally:
        shutil.rmtree(os.path.dirname(script), ignore_errors=True)
    unsuitable, compatible, shown = said.split("|", 2)
    return unsuitable == "TRUE", compatible == "TRUE", shown


def copy_example(destination):
    """Copies examples/firmware's own files to `destination`: what a build of
    the example left in the source tree (its list, objects, program) stays
    behind, so a tree where someone ran make gives the same tests."""
    source = os.path.join(setting("KESTRANE_SOURCE_DIR"), "examples", "firmware")
    shutil.copytree(source, destination, ignore=shutil.ignore_patterns(*EXAMPLE_OUTPUTS))


# What building examples/firmware in place leaves there (.gitignore lists the same).
EXAMPLE_OUTPUTS = ("firmware", "sources.txt*", "*.o", "build")


def need(program):
    """Skips the test when `program` is missing, except in CI, which installs
    every checker: there a missing one fails rather than passing unseen."""
    if shutil.which(program):
        return
    if os.environ.get("CI"):
        raise AssertionError("%s is not installed" % program)
    raise unittest.SkipTest("%s is not installed" % program)


class ScratchTestCase(unittest.TestCase):
    """A test with a fresh scratch folder, self.tmp, removed afterwards."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kestrane-ship-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.tmp, *parts)

    def assertListsExampleLog(self, program):
        """`program`, an installed kestrane, turns the bundled supplier log
        into the list that goes with it."""
        examples = os.path.join(setting("KESTRANE_SOURCE_DIR"), "examples")
        out = self.path("example-sources.txt")
        run([program, "--input=" + os.path.join(examples, "supplier-build.log"), "--output=" + out])
        with open(out, "rb") as got, open(os.path.join(examples, "supplier-build.expected"), "rb") as want:
            self.assertEqual(got.read(), want.read())


class PackageTestCase(ScratchTestCase):
    """Tests of one package, made by cpack once for the whole class: with
    GENERATOR ("DEB", "ZIP") from the CPackConfig.cmake in BUILD_DIR."""

    GENERATOR = None
    BUILD_DIR = None

    @classmethod
    def setUpClass(cls):
        cls.out = tempfile.mkdtemp(prefix="kestrane-package-")
        run([setting("CPACK_COMMAND"), "-G", cls.GENERATOR,
             "--config", os.path.join(cls.BUILD_DIR, "CPackConfig.cmake"), "-B", cls.out])
        packages = glob.glob(os.path.join(cls.out, "*." + cls.GENERATOR.lower()))
        if len(packages) != 1:
            raise AssertionError("expected one package, cpack made %s" % packages)
        cls.package = packages[0]

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.out, ignore_errors=True)


class ExampleTestCase(ScratchTestCase):
    """Builds a copy of examples/firmware, self.source, in self.build."""

    def setUp(self):
        super().setUp()
        self.source = self.path("firmware")
        self.build = self.path("build")
        copy_example(self.source)

    def configure(self, *args, env=None):
        return run([setting("CMAKE_COMMAND"), "-S", self.source, "-B", self.build, "-G", "Ninja",
             "-DCMAKE_MAKE_PROGRAM=" + setting("CMAKE_MAKE_PROGRAM"),
             "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON", *args], env=env)

    def cortex_m4(self):
        """The example's toolchain file, where its compiler is installed."""
        need("arm-none-eabi-gcc")
        return os.path.join(self.source, "cortex-m4.cmake")

    def use_kestrane_from(self, *lines):
        """Makes the example take Kestrane from `lines` instead of find_package()."""
        path = os.path.join(self.source, "CMakeLists.txt")
        with open(path) as f:
            text = f.read()
        text, found = re.subn(r"^find_package\(Kestrane [^)]*\)$", "\n".join(lines), text,
                              flags=re.MULTILINE)
        self.assertEqual(found, 1, "the example's find_package(Kestrane) call")
        with open(path, "w") as f:
            f.write(text)

    def compiled_sources(self):
        with open(os.path.join(self.build, "compile_commands.json")) as f:
            commands = json.load(f)
        return [os.path.relpath(c["file"], self.source).replace(os.sep, "/") for c in commands]

    def linked_sources(self):
        """The sources of the objects on the link line, in link order."""
        link = run([setting("CMAKE_MAKE_PROGRAM"), "-C", self.build, "-t", "commands",
                    "firmware"]).stdout.splitlines()[-1]
        return re.findall(r"CMakeFiles/firmware\.dir/(\S+\.c)\.o(?:bj)?\b", link.replace("\\", "/"))

    def assertBuildsInLogOrder(self, order=LOG_ORDER):
        run([setting("CMAKE_COMMAND"), "--build", self.build])
        self.assertEqual(self.compiled_sources(), order)
        self.assertEqual(self.linked_sources(), order)

    def reverse_log_order(self):
        """The supplier now compiles the same sources in the opposite order."""
        log = os.path.join(self.source, "supplier-build.log")
        with open(log, "rb") as f:
            lines = f.read().splitlines(keepends=True)
        compiles = [i for i, line in enumerate(lines) if b"> Compiling " in line]
        reordered = list(lines)
        for i, j in zip(compiles, reversed(compiles)):
            reordered[i] = lines[j]
        with open(log, "wb") as f:
            f.write(b"".join(reordered))

    def configure_with(self, generator, *args):
        """Configures the example with another generator than Ninja."""
        run([setting("CMAKE_COMMAND"), "-S", self.source, "-B", self.build, "-G", generator,
             "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON", *args])


def backdate(path):
    """Gives `path` a date long past, as an archive or a copy that keeps the
    supplier's dates would."""
    os.utime(path, (OLD_DATE, OLD_DATE))


OLD_DATE = 946684800  # 2000-01-01


def old_kestrane(path, list_data):
    """Writes at `path` a stand-in for a kestrane from before --root and
    --changes: whatever else it is given, it writes `list_data` to its
    --output= file, unchecked, and succeeds. Returns `path`."""
    with open(path, "wb") as f:
        f.write(b"#!/bin/sh\nfor a; do case $a in --output=*) out=${a#--output=};; esac; done\n"
                b"cat > \"$out\" <<'EOF'\n" + list_data + b"EOF\n")
    os.chmod(path, 0o755)
    return path


def spoil_log(log, good, how):
    """Makes `log`, which held `good`, one that no build may follow: "refused"
    (its line 13 an entry that --strict refuses), "c++" (its sources C++
    files, so it lists nothing), "missing" or "device" (a link to /dev/zero);
    None puts `good` back."""
    if os.path.lexists(log):
        os.remove(log)
    if how == "device":
        os.symlink("/dev/zero", log)
    elif how == "c++":
        with open(log, "wb") as f:
            f.write(good.replace(b".c ...", b".cpp ..."))
    elif how != "missing":
        with open(log, "wb") as f:
            f.write(good + (b"Compiling ../../a;b.c ...\n" if how == "refused" else b""))

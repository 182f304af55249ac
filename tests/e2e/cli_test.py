#!/usr/bin/env python3
"""End-to-end tests for the kestrane command-line tool.

Each test starts the built executable in a fresh temporary folder and checks
what it prints on stdout, its exit status and the files it leaves behind.

Settings (environment variables):
  KESTRANE_COMMAND        required; the command that starts the tool, split
                          like a shell would ("build/kestrane",
                          "wine /path/Kestrane.exe"). Arguments are appended.
  KESTRANE_TARGET         "native" (default) or "windows". Under "windows" the
                          list file ends its lines in CR LF, console lines may
                          end in CR LF, and cases that an emulator cannot
                          reproduce are skipped.
  KESTRANE_BANNER_LINES   number of identification lines printed first on
                          every run (default 0).
  KESTRANE_CODE_PAGE      the code page a Windows build runs in, when it is not
                          UTF-8 ("1252", "932"): paths that it cannot carry
                          exactly must be refused, not opened as look-alikes.
                          Unset, every name must work (UTF-8, or bytes on the
                          native builds).

Run: KESTRANE_COMMAND=build/kestrane python3 tests/e2e/cli_test.py
"""

import os
import shlex
import shutil
import subprocess
import tempfile
import unittest

TARGET = os.environ.get("KESTRANE_TARGET", "native")
WINDOWS = TARGET == "windows"
BANNER_LINES = int(os.environ.get("KESTRANE_BANNER_LINES", "0"))
LIST_EOL = b"\r\n" if WINDOWS else b"\n"
CODE_PAGE = os.environ.get("KESTRANE_CODE_PAGE", "")
TIMEOUT = 60

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")

USAGE = [
    "Kestrane error: Not enough command line arguments.",
    "Usage: Kestrane.exe",
    " --input=INFILE",
    " --output=OUTFILE",
]
NO_INPUT = ["Kestrane error: Could not open input file"]
NO_OUTPUT = ["Kestrane error: Could not open output file"]
READ_FAILED = ["Kestrane error: Could not read input file"]
WRITE_FAILED = ["Kestrane error: Could not write output file"]

# Exit statuses as a POSIX parent sees -1, -2 and -3.
OK, NO_ARGS, INPUT_FAILED, OUTPUT_FAILED = 0, 255, 254, 253


def command():
    """The start command, with relative paths made absolute: tests run elsewhere."""
    words = shlex.split(os.environ.get("KESTRANE_COMMAND", ""))
    return [os.path.abspath(w) if "/" in w and not os.path.isabs(w) and os.path.exists(w)
            else w for w in words]


COMMAND = command()
_first_banner = None


def setUpModule():
    if not COMMAND:
        raise RuntimeError("KESTRANE_COMMAND is not set; it must name the command that starts the tool")


def compile_line(path, prefix=""):
    """A log line that announces the compilation of `path` (CR LF ended)."""
    return ("%sCompiling ../../%s ...\r\n" % (prefix, path)).encode()


def list_bytes(entries):
    return b"".join(e.encode() + LIST_EOL for e in entries)


def run(args, cwd, argv0=None, executable=None):
    """Start the tool with `args` in folder `cwd`; return (status, console lines after the banner).

    The banner lines are checked here: there must be KESTRANE_BANNER_LINES of them and
    they must be the same on every run. With `argv0`, the program is started under
    that program path (`executable` then names the file to start).
    """
    global _first_banner
    argv = ([argv0] if argv0 else COMMAND) + list(args)
    proc = subprocess.run(argv, cwd=cwd, executable=executable, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=TIMEOUT)
    text = proc.stdout.decode("latin-1")
    if text and not text.endswith("\n"):
        raise AssertionError("console output ends without a line break: %r" % text)
    lines = text.split("\n")[:-1]
    if WINDOWS:
        lines = [l[:-1] if l.endswith("\r") else l for l in lines]
    elif proc.stderr:
        raise AssertionError("unexpected output on stderr: %r" % proc.stderr)
    if len(lines) < BANNER_LINES:
        raise AssertionError("expected %d banner lines, got console %r" % (BANNER_LINES, lines))
    banner = lines[:BANNER_LINES]
    if _first_banner is None:
        _first_banner = banner
    if banner != _first_banner:
        raise AssertionError("banner %r differs from first run's %r" % (banner, _first_banner))
    return proc.returncode, lines[BANNER_LINES:]


class ToolTestCase(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kestrane-e2e-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.tmp, name)

    def write(self, name, data):
        """Create file `name` in the test folder with exactly the bytes `data`."""
        with open(self.path(name), "wb") as f:
            f.write(data)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def assertFolderHolds(self, *names):
        self.assertEqual(sorted(os.listdir(self.tmp)), sorted(names))

    def assertList(self, name, entries):
        self.assertEqual(self.read(name), list_bytes(entries))


class ArgumentTests(ToolTestCase):
    def test_no_arguments_prints_usage_and_touches_nothing(self):
        self.assertEqual(run([], self.tmp), (NO_ARGS, USAGE))
        self.assertFolderHolds()

    def assertFailsTouchingNothing(self, cases, expected):
        """Each (description, arguments) case, run in a folder that holds
        log.txt and an empty folder named folder, ends with `expected` and
        leaves the folder as it was."""
        for name, args in cases:
            with self.subTest(name), tempfile.TemporaryDirectory(dir=self.tmp) as d:
                with open(os.path.join(d, "log.txt"), "wb") as f:
                    f.write(compile_line("a.c"))
                os.mkdir(os.path.join(d, "folder"))
                self.assertEqual(run(args, cwd=d), expected)
                self.assertEqual(sorted(os.listdir(d)), ["folder", "log.txt"])
                self.assertEqual(os.listdir(os.path.join(d, "folder")), [])

    def test_input_that_cannot_be_opened(self):
        self.assertFailsTouchingNothing([
            ("lone --help", ["--help"]),
            ("--input= with nothing after it", ["--input=", "--output=out.txt"]),
            ("value given as a separate argument", ["--input", "log.txt", "--output=out.txt"]),
            ("first --input yields nothing, later one ignored", ["--input=", "--input=log.txt", "--output=out.txt"]),
            ("no --input at all", ["--output=out.txt"]),
            ("missing file", ["--input=missing.log", "--output=out.txt"]),
            ("directory", ["--input=folder", "--output=out.txt"]),
        ], (INPUT_FAILED, NO_INPUT))

    def test_output_that_cannot_be_opened(self):
        self.assertFailsTouchingNothing([
            ("no --output", ["--input=log.txt"]),
            ("--output= with nothing after it", ["--input=log.txt", "--output="]),
            ("directory", ["--input=log.txt", "--output=folder"]),
            ("missing folder", ["--input=log.txt", "--output=missing/out.txt"]),
        ], (OUTPUT_FAILED, NO_OUTPUT))

    def test_option_value_starts_at_fixed_index(self):
        # (description, arguments, file read -> entry, file written)
        cases = [
            ("prefix before --input", ["x--input=log.txt", "--output=out.txt"], "=log.txt", "out.txt"),
            ("no equals sign needed", ["--input:log.txt", "--output=out.txt"], "log.txt", "out.txt"),
            ("prefix before --output", ["--input=log.txt", "x--output=out.txt"], "log.txt", "=out.txt"),
            ("first --input wins", ["--input=a.txt", "--input=b.txt", "--output=out.txt"], "a.txt", "out.txt"),
            ("first --output wins", ["--input=log.txt", "--output=o1.txt", "--output=o2.txt"], "log.txt", "o1.txt"),
        ]
        logs = {"log.txt": "plain", "=log.txt": "equals", "a.txt": "first", "b.txt": "second"}
        for name, args, read, written in cases:
            with self.subTest(name), tempfile.TemporaryDirectory(dir=self.tmp) as d:
                for log, entry in logs.items():
                    with open(os.path.join(d, log), "wb") as f:
                        f.write(compile_line(entry + ".c"))
                self.assertEqual(run(args, cwd=d), (OK, []))
                self.assertEqual(sorted(os.listdir(d)), sorted(list(logs) + [written]))
                with open(os.path.join(d, written), "rb") as f:
                    self.assertEqual(f.read(), list_bytes([logs[read]]))

    def test_program_path_is_examined_first(self):
        if WINDOWS:
            self.skipTest("program path cannot be chosen freely under an emulator")
        if len(COMMAND) != 1:
            self.skipTest("program path can only be chosen when KESTRANE_COMMAND is the executable itself")
        program = shutil.which(COMMAND[0]) or COMMAND[0]
        # Program path "--input/kestrane" names the input "kestrane" (cut at index 8);
        # "--output/kestrane" names the output "kestrane" (cut at index 9).
        cases = [("--input", "from_program_path", "out.txt"), ("--output", "real", "kestrane")]
        for option, entry, written in cases:
            with self.subTest(option), tempfile.TemporaryDirectory(dir=self.tmp) as d:
                os.mkdir(os.path.join(d, option))
                link = os.path.join(d, option, "kestrane")
                os.symlink(os.path.abspath(program), link)
                with open(os.path.join(d, "real.log"), "wb") as f:
                    f.write(compile_line("real.c"))
                if option == "--input":
                    with open(os.path.join(d, "kestrane"), "wb") as f:
                        f.write(compile_line("from_program_path.c"))
                status = run(["--input=real.log", "--output=out.txt"], d,
                             argv0=option + "/kestrane", executable=link)
                self.assertEqual(status, (OK, []))
                self.assertEqual(sorted(os.listdir(d)), sorted({option, "real.log", "kestrane", written}))
                with open(os.path.join(d, written), "rb") as f:
                    self.assertEqual(f.read(), list_bytes([entry]))


class OutputFileTests(ToolTestCase):
    def test_log_without_compile_lines_leaves_empty_list(self):
        for name, log in [("empty log", b""),
                          ("only other lines", b"Linking app.elf ...\r\n\r\nCompiling ../../x.cpp ...\r\n")]:
            with self.subTest(name):
                self.write("log.txt", log)
                self.write("out.txt", b"old contents\nmore\n")
                self.assertEqual(run(["--input=log.txt", "--output=out.txt"], self.tmp), (OK, []))
                self.assertEqual(self.read("out.txt"), b"")

    def test_same_file_for_input_and_output(self):
        self.write("build.log", compile_line("Source/a.c") + b"noise\r\n" + compile_line("Source/b.c", "3> "))
        self.assertEqual(run(["--input=build.log", "--output=build.log"], self.tmp), (OK, []))
        self.assertList("build.log", ["Source/a", "Source/b"])
        self.assertFolderHolds("build.log")

    def test_supplier_build_log(self):
        with open(os.path.join(EXAMPLES, "supplier-build.expected"), "rb") as f:
            expected = f.read().replace(b"\n", LIST_EOL)
        shutil.copy(os.path.join(EXAMPLES, "supplier-build.log"), self.tmp)
        self.assertEqual(run(["--input=supplier-build.log", "--output=list.txt"], self.tmp), (OK, []))
        self.assertEqual(self.read("list.txt"), expected)


def carried(name):
    """Whether the tool's code page holds `name` exactly."""
    try:
        name.encode("cp" + CODE_PAGE if CODE_PAGE else "utf-8")
        return True
    except UnicodeEncodeError:
        return False


def tree(folder):
    """Every file and folder below `folder`, as sorted relative paths."""
    paths = []
    for parent, folders, files in os.walk(folder):
        relative = os.path.relpath(parent, folder)
        paths += [n if relative == "." else relative + "/" + n for n in folders + files]
    return sorted(paths)


class FileNameTests(ToolTestCase):
    # (description, log, a look-alike of the log beside it or None, list); a
    # folder in a path is created first.
    NAMES = [
        ("Latin and Greek list", "log.txt", None, "α-ā-ł-ő.txt"),
        ("log with an ASCII look-alike", "ł.log", "l.log", "list.txt"),
        ("Western European", "Eingabe-äöü.log", "Eingabe-aou.log", "Ausgabe-äöü.txt"),
        ("Japanese", "ログ.txt", None, "一覧.txt"),
        ("emoji", "🪵.log", None, "📋.txt"),
        ("in folders", "Ελληνικά/ログ.log", None, "📁/αβγ.txt"),
    ]
    # Beside the options on every run, and no option, so it must not matter:
    # no code page but UTF-8 holds it, and with its blank, quotes and
    # backslashes it reaches Windows quoted and escaped.
    IGNORED = 'ł "ツ" \\'

    def test_the_file_named_is_the_one_read_or_written(self):
        for name, log, look_alike, listed in self.NAMES:
            with self.subTest(name), tempfile.TemporaryDirectory(dir=self.tmp) as d:
                for path, entry in [(log, "named"), (look_alike, "look_alike")]:
                    if path:
                        os.makedirs(os.path.join(d, os.path.dirname(path)), exist_ok=True)
                        with open(os.path.join(d, path), "wb") as f:
                            f.write(compile_line(entry + ".c"))
                os.makedirs(os.path.join(d, os.path.dirname(listed)), exist_ok=True)
                before = tree(d)
                args = [self.IGNORED, "--input=" + log, "--output=" + listed]
                if not carried(log):
                    self.assertEqual(run(args, d), (INPUT_FAILED, NO_INPUT))
                    self.assertEqual(tree(d), before)
                elif not carried(listed):
                    self.assertEqual(run(args, d), (OUTPUT_FAILED, NO_OUTPUT))
                    self.assertEqual(tree(d), before)
                else:
                    self.assertEqual(run(args, d), (OK, []))
                    self.assertEqual(tree(d), sorted(before + [listed]))
                    with open(os.path.join(d, listed), "rb") as f:
                        self.assertEqual(f.read(), list_bytes(["named"]))


class IoFailureTests(ToolTestCase):
    def test_write_failure_is_reported(self):
        if WINDOWS:
            self.skipTest("/dev/full does not exist under an emulator")
        self.write("log.txt", compile_line("a.c") + compile_line("b.c"))
        self.assertEqual(run(["--input=log.txt", "--output=/dev/full"], self.tmp), (OUTPUT_FAILED, WRITE_FAILED))

    def test_read_failure_is_reported_before_output_is_opened(self):
        if WINDOWS:
            self.skipTest("/proc/self/mem does not exist under an emulator")
        self.assertEqual(run(["--input=/proc/self/mem", "--output=out.txt"], self.tmp), (INPUT_FAILED, READ_FAILED))
        self.assertFolderHolds()


class LineRuleTests(ToolTestCase):
    def test_line_rules(self):
        a, b = b"Compiling ../../a.c ...", b"Compiling ../../b.c ..."
        cases = [
            ("LF and CR LF line ends", a + b"\r\n" + b + b"\n", ["a", "b"]),
            ("last line without line feed", a + b"\n" + b, ["a"]),
            ("CR CR LF keeps one CR", a + b"\r\r\n" + b + b"\r\n", ["b"]),
            ("Ctrl-Z ends the input", a + b"\n\x1a" + b + b"\n", ["a"]),
            ("Ctrl-Z inside a compile line", a + b"\nCompiling ../../b\x1a.c ...\n" + b + b"\n", ["a"]),
            ("duplicates stay in place", a + b"\n" + b + b"\n" + a + b"\n", ["a", "b", "a"]),
            ("path of only .c", b"Compiling ../../.c ...\n" + a + b"\n", ["", "a"]),
            ("backslashes become slashes", b"12> Compiling ..\\..\\Source\\App\\main.c ...\r\n",
             ["Source/App/main"]),
            ("only the last dot is cut", b"Compiling ../../dir.old/a.c ...\n", ["dir.old/a"]),
            ("other lines leave no trace",
             b"\n" + a.replace(b"a.c", b"x.cpp") + b"\nAssembling ../../s.s ...\n" + a + b" done\n" + b + b"\n",
             ["b"]),
        ]
        for name, log, entries in cases:
            with self.subTest(name):
                self.write("log.txt", log)
                self.assertEqual(run(["--input=log.txt", "--output=out.txt"], self.tmp), (OK, []))
                self.assertList("out.txt", entries)


if __name__ == "__main__":
    unittest.main()

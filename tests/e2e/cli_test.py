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
  KESTRANE_UNPRIVILEGED_COMMAND
                          optional; words that start what follows as a user
                          without root's power over files ("setpriv
                          --reuid=nobody ..."). Used when the suite runs as
                          root, for the cases where a file must be refused;
                          without it they are skipped.
  KESTRANE_CODE_PAGE      the code page a Windows build runs in, when it is not
                          UTF-8 ("1252", "932"): paths that it cannot carry
                          exactly must be refused, not opened as look-alikes.
                          Unset, every name must work (UTF-8, or bytes on the
                          native builds).

Run: KESTRANE_COMMAND=build/kestrane python3 tests/e2e/cli_test.py
"""

import os
import re
import resource
import select
import shlex
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import threading
import time
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

# What a run that was killed while it wrote a list leaves beside it.
TEMPORARY_FILE = re.compile(r"\..+\.kestrane-[a-z0-9]{16}\Z")


# The sanitizers' options for a run under ptrace, where the leak checker cannot work.
NO_LEAK_CHECK = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"), "detect_leaks=0"]))


def traced(words, injection):
    """`words` started under strace, which injects `injection` into the
    system calls it names ("rename:signal=KILL"; see strace(1)). The leak
    checker of a sanitized build does not work under it."""
    return (["strace", "-f", "-qq", "-o", "/dev/null", "-E", "ASAN_OPTIONS=" + NO_LEAK_CHECK,
             "-e", "inject=" + injection] + words)


def in_own_mounts(setup, words):
    """`words` started in a mount namespace of its own after the shell
    commands `setup` (root only)."""
    return ["unshare", "-m", "sh", "-c", setup + ' && exec "$@"', "sh"] + words


def writes_seen(path, action):
    """How often `path` was closed after being opened for writing while
    `action` ran (Linux inotify's IN_CLOSE_WRITE, 16 bytes an event)."""
    import ctypes
    watch = ctypes.CDLL(None).inotify_init1(os.O_NONBLOCK)
    ctypes.CDLL(None).inotify_add_watch(watch, os.fsencode(path), 0x8)
    action()
    events = os.read(watch, 4096) if select.select([watch], [], [], 0)[0] else b""
    os.close(watch)
    return len(events) // 16


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


def dense_log(size):
    """A log of about `size` bytes, every other line a compile line."""
    pair = len(compile_line("Source/Module/file_000000.c") + NOISE)
    return b"".join(compile_line("Source/Module/file_%06d.c" % i) + NOISE
                    for i in range(size // pair))


NOISE = b"..\\..\\Source\\x.c:12:3: warning: unused variable 'x'\r\n"


def file_limit(which, limit):
    """Sets the resource limit `which` in the child before it starts."""
    return lambda: resource.setrlimit(which, (limit, limit))


def file_size_limit(size, killed):
    """Makes writes past `size` bytes of a file fail; with `killed` the process
    is ended by the signal of that write instead (and leaves no core file)."""
    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
        resource.setrlimit(resource.RLIMIT_CORE, (0, 0))
        signal.signal(signal.SIGXFSZ, signal.SIG_DFL if killed else signal.SIG_IGN)
    return limit


def failed_to_start(proc):
    """True for a start that Wine ended before the program ran. Now and then,
    on a loaded machine, Wine ends a start with status 1 and prints nothing,
    not even the banner; Kestrane never exits with 1, so such a start is tried
    again."""
    return proc.returncode == 1 and not proc.stdout


def run(args, cwd, argv0=None, executable=None, command=None, preexec=None):
    """Start the tool with `args` in folder `cwd`; return (status, console lines after the banner).

    The banner lines are checked here: there must be KESTRANE_BANNER_LINES of them and
    they must be the same on every run. With `argv0`, the program is started under
    that program path (`executable` then names the file to start). `command` starts
    the tool in place of KESTRANE_COMMAND; `preexec` runs in the child before it starts.
    """
    global _first_banner
    argv = ([argv0] if argv0 else command or COMMAND) + list(args)
    for attempt in range(3):
        proc = subprocess.run(argv, cwd=cwd, executable=executable, stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=TIMEOUT,
                              preexec_fn=preexec)
        if not (WINDOWS and failed_to_start(proc)):
            break
        print("Wine ended a start with status 1 before the program ran; starting again",
              file=sys.stderr)
    text = proc.stdout.decode("latin-1")
    if text and not text.endswith("\n"):
        raise AssertionError("console output ends without a line break: %r" % text)
    lines = text.split("\n")[:-1]
    if WINDOWS:
        lines = [l[:-1] if l.endswith("\r") else l for l in lines]
    elif proc.stderr:
        raise AssertionError("unexpected output on stderr: %r" % proc.stderr)
    if len(lines) < BANNER_LINES:
        raise AssertionError("expected %d banner lines, got console %r, status %d, stderr %r"
                             % (BANNER_LINES, lines, proc.returncode, proc.stderr[-2000:]))
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

    def strays(self, folder=None):
        """The temporary files of lists in `folder` (the test folder unless given)."""
        return [n for n in os.listdir(folder or self.tmp) if TEMPORARY_FILE.match(n)]

    def wait_for(self, condition):
        deadline = time.time() + TIMEOUT
        while not condition() and time.time() < deadline:
            time.sleep(0.01)

    def unprivileged(self):
        """(prefix, command): the words that start a program as a user whom a
        read-only file refuses, and the command that starts the tool so. As
        root, that is another user, to whom the test folder is opened and who
        starts a copy of the executable made there."""
        if not hasattr(os, "geteuid") or os.geteuid() != 0:
            return [], COMMAND
        prefix = shlex.split(os.environ.get("KESTRANE_UNPRIVILEGED_COMMAND", ""))
        if not prefix:
            self.skipTest("run as root, and KESTRANE_UNPRIVILEGED_COMMAND is not set")
        os.chmod(self.tmp, 0o777)
        program = os.path.join(self.tmp, "program")
        os.makedirs(program, exist_ok=True)
        shutil.copy(COMMAND[-1], program)
        return prefix, prefix + COMMAND[:-1] + [os.path.join(program, os.path.basename(COMMAND[-1]))]


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


class StrictTests(ToolTestCase):
    def test_strict_refuses_a_hostile_entry_and_keeps_the_list(self):
        log = (compile_line("src/a.c") + b"noise\n" +
               b"1> Compiling ..\\..\\;id>/tmp/pwned;echo \x1b]0;x\x07.c ...\r\n")
        self.write("log.txt", log)
        self.write("list.txt", b"previous\n")
        said = 'Kestrane error: Input file line 3: ";id>/tmp/pwned;echo \\x1B]0;x\\x07" ' \
               'is not a plain relative path'
        for args in (["--strict", "--input=log.txt", "--output=list.txt"],
                     ["--input=log.txt", "--output=list.txt", "--strict"]):
            self.assertEqual(run(args, self.tmp), (INPUT_FAILED, [said]))
            self.assertEqual(self.read("list.txt"), b"previous\n")
            self.assertFolderHolds("log.txt", "list.txt")
        if sys.platform.startswith("linux") and not WINDOWS:
            # Not even opened for writing: file watchers are told nothing.
            args = ["--strict", "--input=log.txt", "--output=list.txt"]
            self.assertEqual(writes_seen(self.path("list.txt"), lambda: run(args, self.tmp)), 0)
            self.assertEqual(writes_seen(self.path("list.txt"), lambda: open(self.path("list.txt"), "ab").close()), 1)
        # Without the option, and with one that only contains it, every entry
        # is written as the log spells it.
        for extra in ([], ["--strict=no"]):
            self.assertEqual(run(extra + ["--input=log.txt", "--output=list.txt"], self.tmp), (OK, []))
            self.assertEqual(self.read("list.txt"),
                             b"src/a" + LIST_EOL + b";id>/tmp/pwned;echo \x1b]0;x\x07" + LIST_EOL)


    def test_strict_refuses_devices_and_long_names_and_takes_blanks_when_allowed(self):
        # The rules themselves are the unit tests'; these are the options and
        # the message.
        cases = [
            # (path in the log, the entry as the message shows it, listed with --allow-blanks)
            (b"src\\app\\aux", '"src/app/aux"', False),
            (b"d" * 4097, '"%s"... (4097 bytes)' % ("d" * 200), False),
            (b"Source Files/main", '"Source Files/main"', True),
            (b"Source  Files/main", '"Source  Files/main"', False),
        ]
        for entry, shown, allowed in cases:
            with self.subTest(shown[:20]):
                self.write("log.txt", compile_line("a.c") + b"Compiling ../../" + entry + b".c ...\n")
                refused = (INPUT_FAILED,
                           ["Kestrane error: Input file line 2: %s is not a plain relative path" % shown])
                for extra in ([], ["--allow-blanks"]):
                    status = run(["--strict", "--input=log.txt", "--output=list.txt"] + extra, self.tmp)
                    self.assertEqual(status, (OK, []) if allowed and extra else refused)
                # Without --strict, --allow-blanks changes nothing.
                self.assertEqual(run(["--allow-blanks", "--input=log.txt", "--output=list.txt"],
                                     self.tmp), (OK, []))
                self.assertList("list.txt", ["a", entry.decode().replace("\\", "/")])


class ExplainTests(ToolTestCase):
    LOG = (compile_line("a.c") + b"Compiling ../../x.cpp ...\r\n" + b"noise\n" +
           b"compiling ../../y.c ...\n" + b"Compiling ../../b.c ...")
    TOLD = [b'2\ta C++ file (more than one character after the last dot)\t"Compiling ../../x.cpp ..."',
            b'4\tthe word is not written Compiling (letter case counts)\t"compiling ../../y.c ..."',
            b'5\tthe last line, which has no line feed\t"Compiling ../../b.c ..."']

    def test_lines_left_out_are_told_where_the_list_is_written(self):
        self.write("log.txt", self.LOG)
        self.assertEqual(run(["--input=log.txt", "--output=list.txt", "--explain=why.txt"], self.tmp),
                         (OK, []))
        self.assertList("list.txt", ["a"])
        self.assertEqual(self.read("why.txt"), b"".join(t + LIST_EOL for t in self.TOLD))
        # Nothing left out: an empty file. The first such argument counts.
        self.write("log.txt", compile_line("a.c"))
        self.assertEqual(run(["--input=log.txt", "--output=list.txt", "--explain=why.txt",
                              "--explain=other.txt"], self.tmp), (OK, []))
        self.assertEqual(self.read("why.txt"), b"")
        self.assertFolderHolds("log.txt", "list.txt", "why.txt")
        # A Windows path reads as one: each backslash shown as two.
        self.write("log.txt", b"10> Compiling ..\\..\\Source\\Comm\\CanOpenStack.cpp ...\r\n")
        self.assertEqual(run(["--input=log.txt", "--output=list.txt", "--explain=why.txt"], self.tmp),
                         (OK, []))
        self.assertEqual(self.read("why.txt").split(b"\t")[-1],
                         b'"10> Compiling ..\\\\..\\\\Source\\\\Comm\\\\CanOpenStack.cpp ..."' + LIST_EOL)
        # At most 100,000 lines, then how many more.
        self.write("log.txt", b"compiling ../../y.c ...\n" * 100003)
        self.assertEqual(run(["--input=log.txt", "--output=list.txt", "--explain=why.txt"], self.tmp),
                         (OK, []))
        told = self.read("why.txt").split(LIST_EOL)
        self.assertEqual((len(told), told[99999][:7], told[100000]),
                         (100002, b"100000\t", b"3 more lines left out"))

    def test_explanation_is_not_written_without_the_list(self):
        """Nor is the list replaced where the explanation fails: the
        explanation takes its place first, and the list last."""
        self.write("log.txt", self.LOG + b"\nCompiling ../../../x.c ...\n")
        self.write("why.txt", b"old\n")
        self.assertEqual(run(["--strict", "--input=log.txt", "--output=list.txt", "--explain=why.txt"],
                             self.tmp)[0], INPUT_FAILED)
        self.assertEqual(self.read("why.txt"), b"old\n")
        self.assertFolderHolds("log.txt", "why.txt")
        self.write("list.txt", b"old\n")
        os.chmod(self.path("list.txt"), 0o666)
        os.mkdir(self.path("folder"))
        command = self.unprivileged()[1]
        os.mkdir(self.path("locked"), 0o555)
        cases = [("folder", "open", command), ("", "open", command), ("missing/why.txt", "open", command),
                 ("locked/why.txt", "open", command)]
        if not WINDOWS:
            cases.append(("/dev/full", "write", command))
            if shutil.which("strace"):  # the list's room made by writing past its end (NFSv3)
                cases.append(("/dev/full", "write", traced(command, "fallocate:error=EOPNOTSUPP")))
        for name, said, words in cases:
            with self.subTest(name, words=words[0]):
                self.assertEqual(run(["--input=log.txt", "--output=list.txt", "--explain=" + name],
                                     self.tmp, command=words),
                                 (OUTPUT_FAILED, ["Kestrane error: Could not %s explanation file" % said]))
                self.assertEqual(self.read("list.txt"), b"old\n")

    def test_explanation_may_not_be_the_log_or_the_list(self):
        """Nor a link to either, nor the new name the list takes, nor on
        Windows either in other letter case. The log is read first, and
        nothing is written."""
        self.write("log.txt", self.LOG)
        self.write("s.txt", b"old\n")
        os.mkdir(self.path("sub"))
        same = [["--output=s.txt", "--explain=s.txt"], ["--output=list.txt", "--explain=log.txt"],
                ["--output=new.txt", "--explain=./new.txt"], ["--output=new.txt", "--explain=sub/../new.txt"]]
        if WINDOWS:
            same += [["--output=s.txt", "--explain=S.TXT"], ["--output=list.txt", "--explain=LOG.txt"]]
        else:
            os.symlink("log.txt", self.path("link"))
            os.link(self.path("s.txt"), self.path("hard"))
            same += [["--output=list.txt", "--explain=link"], ["--output=hard", "--explain=s.txt"],
                     ["--input=/dev/stdin", "--output=list.txt", "--explain=log.txt"]]
        before = tree(self.tmp), self.read("log.txt"), self.read("s.txt")
        for outputs in same:
            with self.subTest(outputs), open(self.path("log.txt"), "rb") as log:
                args = ["--input=log.txt"] if "--input" not in outputs[0] else []
                said = ["Kestrane error: Explanation file is the input or output file"]
                proc = subprocess.run(COMMAND + ["--strict"] + args + outputs, cwd=self.tmp, stdin=log,
                                      stdout=subprocess.PIPE, timeout=TIMEOUT)
                self.assertEqual((proc.returncode, proc.stdout.splitlines()[BANNER_LINES:]),
                                 (OUTPUT_FAILED, [l.encode() for l in said]))
                self.assertEqual((tree(self.tmp), self.read("log.txt"), self.read("s.txt")), before)
        # A refused log is told first; devices may be shared.
        self.write("refused.log", compile_line("../x.c"))
        self.assertEqual(run(["--strict", "--input=refused.log", "--output=list.txt",
                              "--explain=refused.log"], self.tmp)[0], INPUT_FAILED)
        device = "NUL" if WINDOWS else "/dev/null"
        self.assertEqual(run(["--input=log.txt", "--output=" + device, "--explain=" + device], self.tmp),
                         (OK, []))


class ChangesTests(ToolTestCase):
    def run_changes(self, entries, output="list.txt"):
        """Lists a log of `entries` into `output` with --changes=changes.txt;
        returns the status and the report's lines."""
        self.write("log.txt", b"".join(compile_line(e + ".c") for e in entries))
        status = run(["--input=log.txt", "--output=" + output, "--changes=changes.txt"], self.tmp)
        return status, self.read("changes.txt").split(LIST_EOL)[:-1]

    def test_what_changed_since_the_list_replaced(self):
        uart, tcp, dog = "Drivers/uart", "Middleware/lwip/tcp", "App/watchdog"
        cases = [  # (the list before, the new one, the report; None: two moves)
            (None, ["a"], [b"no earlier list"]),
            (["A", uart, "B", "C", "D", tcp], ["A", "B", "C", uart, "D", dog],
             [b'~\t4\t2\t"Drivers/uart"', b'-\t6\t"Middleware/lwip/tcp"', b'+\t6\t"App/watchdog"']),
            (["a", "b"], ["a", "b", "a"], [b'+\t3\t"a"']),
            (["a", "b", "c"], ["c", "b", "a"], None),
            ([], [], []),
            (["x%d" % i for i in range(10001)], [], [b"more than 10000 changes: 0 added, 10001 removed"]),
        ]
        for before, after, told in cases:
            with self.subTest(before=(before or [])[:3], after=after[:3]):
                if before is None:
                    if os.path.exists(self.path("list.txt")):
                        os.remove(self.path("list.txt"))
                else:
                    self.write("list.txt", list_bytes(before))
                status, lines = self.run_changes(after)
                self.assertEqual(status, (OK, []))
                self.assertList("list.txt", after)
                if told is None:
                    self.assertEqual([l[:2] for l in lines], [b"~\t", b"~\t"])
                else:
                    self.assertEqual(sorted(lines), sorted(told))

    def test_an_unchanged_list_is_left_as_it_was(self):
        self.run_changes(["a", "b"])
        before = os.stat(self.path("list.txt"))
        time.sleep(0.05)
        if sys.platform.startswith("linux") and not WINDOWS:
            opened = writes_seen(self.path("list.txt"), lambda: self.run_changes(["a", "b"]))
            self.assertEqual(opened, 0)
        status, lines = self.run_changes(["a", "b"])
        after = os.stat(self.path("list.txt"))
        self.assertEqual((status, lines, after.st_mtime_ns, after.st_ino),
                         ((OK, []), [], before.st_mtime_ns, before.st_ino))
        # A device is no earlier list; the report may not be another output.
        device = "NUL" if WINDOWS else "/dev/null"
        self.assertEqual(self.run_changes(["a"], output=device), ((OK, []), [b"no earlier list"]))
        self.write("changes.txt", b"old\n")
        for outputs in (["--output=changes.txt"], ["--output=list.txt", "--explain=changes.txt"]):
            self.assertEqual(run(["--input=log.txt", "--changes=changes.txt"] + outputs, self.tmp),
                             (OUTPUT_FAILED, ["Kestrane error: Changes file is the input or output file"]))
        self.assertEqual(self.read("changes.txt"), b"old\n")


class ListReplacementTests(ToolTestCase):
    """The list takes the place of the file that was there in one step, and
    that file's links and permissions stay."""

    LOG = compile_line("a.c") + compile_line("b.c")

    def replace(self, output, folder=None, **options):
        """Runs the tool in `folder` (the test folder unless given) on the log
        log.txt there, which holds two entries."""
        folder = folder or self.tmp
        log = os.path.join(folder, "log.txt")
        if not os.path.exists(log):
            with open(log, "wb") as f:
                f.write(self.LOG)
        return run(["--input=log.txt", "--output=" + output], folder, **options)

    def test_links_and_permissions_stay(self):
        if WINDOWS:
            self.skipTest("POSIX links and permission bits")
        os.mkdir(self.path("real"))
        self.write("real/list.txt", b"old\n")
        os.symlink("real/list.txt", self.path("link.txt"))
        os.symlink("real/new.txt", self.path("dangling.txt"))
        self.write("mode.txt", b"old\n")
        os.chmod(self.path("mode.txt"), 0o640)
        root = os.geteuid() == 0
        modes = {"mode.txt": 0o640}
        if root:  # the setgid bit, and an owner and group of their own
            self.write("setgid.txt", b"old\n")
            os.chmod(self.path("setgid.txt"), 0o2664)
            self.write("owned.txt", b"old\n")
            os.chown(self.path("owned.txt"), 65534, 0)
            modes["setgid.txt"] = 0o2664
        # A hard link keeps the old list, also where the list's name leaves no
        # room for a longer temporary name beside it.
        long_name = "l" * 240
        for name, link in [("list.txt", "hard.txt"), (long_name, "hard-long.txt")]:
            self.write(name, b"old\n")
            os.link(self.path(name), self.path(link))
        # A replaced list is on the disk before it takes the old one's name.
        calls = self.path("calls")
        outputs = ["link.txt", "dangling.txt", "mode.txt", "list.txt", long_name]
        for output in outputs + (["setgid.txt", "owned.txt"] if root else []):
            traced_calls = (["strace", "-f", "-qq", "-o", calls, "-E", "ASAN_OPTIONS=" + NO_LEAK_CHECK,
                             "-e", "trace=fdatasync,fsync,rename"]
                            if output == "list.txt" and shutil.which("strace") else [])
            self.assertEqual(self.replace(output, command=traced_calls + COMMAND if traced_calls else None),
                             (OK, []), output)
            if traced_calls:
                with open(calls) as f:
                    names = [line.split(None, 1)[1].split("(")[0] for line in f if "(" in line]
                os.remove(calls)
                self.assertEqual(names[-2:], ["fdatasync", "rename"])
        self.assertEqual(self.replace("umask.txt", preexec=lambda: os.umask(0o002)), (OK, []))
        if root and "ASAN_OPTIONS" not in os.environ:
            # Without /proc the new file has a name from the start: a short
            # one beside a list whose name leaves no room for more.
            self.assertEqual(self.replace(long_name, command=in_own_mounts("mount -t tmpfs none /proc",
                                                                            COMMAND)), (OK, []))

        self.assertEqual(os.readlink(self.path("link.txt")), "real/list.txt")
        self.assertEqual(os.readlink(self.path("dangling.txt")), "real/new.txt")
        for name in ["real/list.txt", "real/new.txt", "mode.txt", "list.txt", "umask.txt", long_name]:
            self.assertList(name, ["a", "b"])
        for name, mode in modes.items():
            self.assertEqual(stat.S_IMODE(os.stat(self.path(name)).st_mode), mode, name)
        if root:
            owned = os.stat(self.path("owned.txt"))
            self.assertEqual((owned.st_uid, owned.st_gid), (65534, 0))
        self.assertEqual(stat.S_IMODE(os.stat(self.path("umask.txt")).st_mode), 0o664)
        self.assertEqual(self.read("hard.txt"), b"old\n")
        self.assertEqual(self.read("hard-long.txt"), b"old\n")
        self.assertFolderHolds("real", "link.txt", "dangling.txt", "mode.txt", "list.txt",
                               "hard.txt", "umask.txt", "log.txt", long_name, "hard-long.txt",
                               *(["setgid.txt", "owned.txt"] if root else []))
        self.assertEqual(sorted(os.listdir(self.path("real"))), ["list.txt", "new.txt"])

    def test_read_only_list_is_refused_and_stays(self):
        prefix, command = self.unprivileged()
        # The user's own list: only its permission refuses the user.
        subprocess.run(prefix + ["sh", "-c", "echo old > list.txt && chmod 444 list.txt"],
                       cwd=self.tmp, check=True, timeout=TIMEOUT)
        self.assertEqual(os.stat(self.path("list.txt")).st_mode & 0o777, 0o444)  # Windows: read-only
        self.assertEqual(self.replace("list.txt", command=command), (OUTPUT_FAILED, NO_OUTPUT))
        self.assertEqual(self.read("list.txt"), b"old\n")
        self.assertEqual(sorted(n for n in os.listdir(self.tmp) if n != "program"),
                         ["list.txt", "log.txt"])

    def test_outputs_written_in_place(self):
        """Devices, FIFOs, and a list in a folder where no file can be made."""
        command = self.unprivileged()[1]
        locked = self.path("locked")
        os.mkdir(locked)
        for name, data in [("log.txt", self.LOG), ("list.txt", b"old\n")]:
            with open(os.path.join(locked, name), "wb") as f:
                f.write(data)
        os.chmod(os.path.join(locked, "list.txt"), 0o666)
        os.chmod(locked, 0o555)
        self.addCleanup(os.chmod, locked, 0o755)
        # Windows: access denied is no reason to write a list in place.
        outcome, kept = ((OUTPUT_FAILED, NO_OUTPUT), b"old\n") if WINDOWS else ((OK, []), list_bytes(["a", "b"]))
        self.assertEqual(self.replace("list.txt", folder=locked, command=command), outcome)
        with open(os.path.join(locked, "list.txt"), "rb") as f:
            self.assertEqual(f.read(), kept)
        if not WINDOWS and shutil.which("strace"):
            # Longer than before, where no room can be reserved (NFSv3).
            self.write("locked/list.txt", b"o\n")
            no_room = traced(command, "fallocate:error=EOPNOTSUPP")
            self.assertEqual(self.replace("list.txt", folder=locked, command=no_room), (OK, []))
            self.assertList("locked/list.txt", ["a", "b"])
            # Where no lock can be had (NFSv3 without its lock service), or
            # another holds it past the wait, the list is not even opened
            # for writing.
            import fcntl
            with open(self.path("locked/list.txt"), "rb") as held:
                fcntl.flock(held, fcntl.LOCK_EX)
                waited = writes_seen(self.path("locked/list.txt"),
                                     lambda: self.assertEqual(self.replace("list.txt", folder=locked,
                                                                           command=command),
                                                              (OUTPUT_FAILED, NO_OUTPUT)))
            self.assertEqual(waited, 0)
            no_lock = traced(command, "flock:error=ENOLCK")
            self.assertEqual(self.replace("list.txt", folder=locked, command=no_lock),
                             (OUTPUT_FAILED, NO_OUTPUT))
            self.assertList("locked/list.txt", ["a", "b"])
        if WINDOWS:
            self.assertEqual(self.replace("NUL"), (OK, []))
        else:
            self.assertEqual(self.replace("/dev/null"), (OK, []))
            self.assertEqual(self.replace("/dev/stdout"), (OK, ["a", "b"]))
            # A descriptor open for reading only takes no list.
            with open(self.path("log.txt"), "rb") as log:
                proc = subprocess.run(COMMAND + ["--input=log.txt", "--output=/dev/stdin"], cwd=self.tmp,
                                      stdin=log, stdout=subprocess.PIPE, timeout=TIMEOUT)
            self.assertEqual((proc.returncode, proc.stdout.splitlines()[BANNER_LINES:]),
                             (OUTPUT_FAILED, [NO_OUTPUT[0].encode()]))
            # The standard streams by name, with /proc or without (a container).
            for setup in [None, "mount -t tmpfs none /proc"]:
                if setup and (os.geteuid() != 0 or "ASAN_OPTIONS" in os.environ):
                    continue  # mounting takes root; the sanitizers' runtime needs /proc
                words = COMMAND + ["--input=/dev/stdin", "--output=/dev/stdout"]
                with open(self.path("log.txt"), "rb") as log:
                    piped = subprocess.run(in_own_mounts(setup, words) if setup else words,
                                           stdin=log, stdout=subprocess.PIPE, timeout=TIMEOUT)
                self.assertEqual((piped.returncode, piped.stdout.split(b"\n", BANNER_LINES)[-1]),
                                 (OK, list_bytes(["a", "b"])), setup)
            # Written where the caller's descriptor stands, the explanation
            # too: what a job's log held before stays, ">" or ">>"; room made
            # by writing past the end (NFSv3) stays the list's.
            cases = [("ab", ["--output=/dev/stdout"], None), ("wb", ["--output=/dev/stdout"], None),
                     ("wb", ["--output=/dev/null", "--explain=/dev/stdout"], None)]
            if shutil.which("strace"):
                cases.append(("wb", ["--output=/dev/stdout"], "fallocate:error=EOPNOTSUPP"))
            for mode, outputs, injection in cases:
                words = COMMAND + ["--input=log.txt"] + outputs
                with open(self.path("report"), mode) as f:
                    f.write(b"earlier\n")
                    f.flush()
                    subprocess.run(traced(words, injection) if injection else words, cwd=self.tmp,
                                   stdout=f, timeout=TIMEOUT, check=True)
                report = self.read("report").split(b"\n", 1 + BANNER_LINES)
                os.remove(self.path("report"))
                self.assertEqual((report[0], report[-1]),
                                 (b"earlier", b"" if len(outputs) > 1 else list_bytes(["a", "b"])))
            os.mkfifo(self.path("fifo"))
            received = []

            def receive():
                with open(self.path("fifo"), "rb") as fifo:
                    received.append(fifo.read())
            reader = threading.Thread(target=receive)
            reader.start()
            self.assertEqual(self.replace("fifo"), (OK, []))
            reader.join(TIMEOUT)
            self.assertEqual(received, [list_bytes(["a", "b"])])
        self.assertEqual(sorted(os.listdir(locked)), ["list.txt", "log.txt"])
        names = ["locked", "log.txt"] + ([] if WINDOWS else ["fifo"])
        self.assertEqual(sorted(n for n in os.listdir(self.tmp) if n != "program"), sorted(names))

    def test_temporary_files_of_runs_that_are_gone_go_with_the_next_run(self):
        """A run killed before its rename leaves its temporary file; the next
        run into the list removes it, but not the one of a live run about to
        rename its own. Without /proc an ordinary user's list gets a
        temporary name at once; with it, only when complete."""
        prefix, command = self.unprivileged()
        if WINDOWS or not prefix or not shutil.which("strace"):
            self.skipTest("a POSIX build as root, another user, strace")
        self.write("log.txt", self.LOG)
        args = ["--input=log.txt", "--output=list.txt"]
        for route, words in [("unnamed", command), ("named", in_own_mounts("mount -t tmpfs none /proc", command))]:
            with self.subTest(route):
                if route == "named" and "ASAN_OPTIONS" in os.environ:
                    self.skipTest("the sanitizers' runtime needs /proc")
                subprocess.run(prefix + ["sh", "-c", "echo old > list.txt"], cwd=self.tmp, check=True)
                killed = subprocess.run(traced(words + args, "rename:signal=KILL"), cwd=self.tmp,
                                        stdout=subprocess.DEVNULL, timeout=TIMEOUT)
                left = self.strays()
                self.assertEqual((killed.returncode, len(left), self.read("list.txt")),
                                 (-signal.SIGKILL, 1, b"old\n"))
                slow = subprocess.Popen(traced(words + args, "rename:delay_enter=1000000"), cwd=self.tmp,
                                        stdout=subprocess.DEVNULL)
                self.wait_for(lambda: self.strays() not in ([], left))
                self.assertEqual(run(args, self.tmp, command=words), (OK, []))
                self.assertEqual(slow.wait(TIMEOUT), OK)
                self.assertList("list.txt", ["a", "b"])
                self.assertEqual(self.strays(), [])
                # A refused run removes its own at once.
                self.write("refused.log", compile_line("../x.c"))
                self.assertEqual(run(["--strict", "--input=refused.log", "--output=list.txt"], self.tmp,
                                     command=words)[0], INPUT_FAILED)
                self.assertEqual((self.strays(), self.read("list.txt")), ([], list_bytes(["a", "b"])))

    def test_only_this_lists_abandoned_temporaries_are_removed(self):
        """A user's files named like temporaries, and a list and an
        explanation named so, survive ten runs into their folder, refused
        and killed runs among them; a killed run's temporary file goes with
        the next run into the same list."""
        like = ".sources.txt.kestrane-"  # and 16 letters: that list's temporaries
        kept = {".notes.kestrane-config": None, ".sources.txt.kestrane-2024q1": None,
                ".kestrane-backup": None, like + "x" * 17: None, like + "readonly00000000": 0o444,
                like + "hardlinked000000": None, like + "othersfile000000": None}
        for name, mode in kept.items():
            self.write(name, name.encode())
            if mode:
                os.chmod(self.path(name), mode)
        os.link(self.path(like + "hardlinked000000"), self.path("hard"))
        killable = not WINDOWS and shutil.which("strace")
        if not WINDOWS and os.geteuid() == 0:
            os.chmod(self.tmp, 0o777)  # any user may remove files here
            os.chown(self.path(like + "othersfile000000"), 65534, 65534)
        self.write("log.txt", self.LOG)
        self.write("refused.log", self.LOG + compile_line("../x.c"))
        lists = ["--output=.kestrane-output", "--explain=.kestrane-report"]
        runs = [(["--input=log.txt", "--output=sources.txt"], OK),
                (["--strict", "--input=refused.log", "--output=sources.txt"], INPUT_FAILED),
                (["--input=log.txt", "--output=sources.txt"], "killed"),
                (["--input=log.txt"] + lists, OK),
                (["--input=log.txt", "--output=sources.txt", "--explain=why.txt"], OK),
                (["--strict", "--input=refused.log"] + lists, INPUT_FAILED),
                (["--input=log.txt", "--output=other.txt"], OK),
                (["--input=log.txt"] + lists, "killed"),
                (["--input=log.txt"] + lists, OK),
                (["--input=log.txt", "--output=sources.txt"], OK)]
        for args, outcome in runs:
            if outcome != "killed":
                self.assertEqual(run(args, self.tmp)[0], outcome, args)
            elif killable:
                killed = subprocess.run(traced(COMMAND + args, "rename:signal=KILL"), cwd=self.tmp,
                                        stdout=subprocess.DEVNULL, timeout=TIMEOUT)
                # Killed at the first rename: each output's temporary stays.
                outputs = len([a for a in args if a.startswith(("--output", "--explain"))])
                self.assertEqual((killed.returncode, len(set(self.strays()) - set(kept))),
                                 (-signal.SIGKILL, outputs))
            for name in kept:
                self.assertEqual(self.read(name), name.encode(), args)
        self.assertEqual(set(self.strays()) - set(kept), set())
        self.assertList(".kestrane-output", ["a", "b"])
        self.assertEqual(self.read(".kestrane-report"), b"")
        self.assertEqual(self.read("hard"), (like + "hardlinked000000").encode())

    def test_runs_writing_in_place_take_turns(self):
        """Root's list in a shared folder whose group may write it: another
        user's runs write it in place, as no new file could keep its owner,
        one run at a time."""
        prefix, command = self.unprivileged()
        if WINDOWS or not prefix or not shutil.which("strace"):
            self.skipTest("a POSIX build as root, another user, strace")
        group = int(subprocess.run(prefix + ["id", "-g"], stdout=subprocess.PIPE, check=True).stdout)
        os.mkdir(self.path("shared"))
        long_list = ["long/%05d" % i for i in range(20000)]
        self.write("shared/long.log", b"".join(compile_line(e + ".c") for e in long_list))
        self.write("shared/short.log", compile_line("short.c"))
        self.write("shared/list.txt", b"old\n")
        for name, mode in [("shared", 0o2775), ("shared/list.txt", 0o664)]:
            os.chown(self.path(name), 0, group)
            os.chmod(self.path(name), mode)
        before = os.stat(self.path("shared/list.txt"))
        # The long list's run pauses before it ends the file; the short
        # list's run comes meanwhile.
        slow = subprocess.Popen(traced(command + ["--input=long.log", "--output=list.txt"],
                                       "ftruncate:delay_enter=1000000"),
                                cwd=self.path("shared"), stdout=subprocess.DEVNULL)
        self.wait_for(lambda: self.read("shared/list.txt").startswith(list_bytes(long_list)))
        self.assertEqual(run(["--input=short.log", "--output=list.txt"], self.path("shared"), command=command),
                         (OK, []))
        self.assertEqual(slow.wait(TIMEOUT), OK)
        self.assertList("shared/list.txt", ["short"])
        after = os.stat(self.path("shared/list.txt"))
        self.assertEqual((after.st_ino, after.st_uid), (before.st_ino, 0))
        self.assertEqual(self.strays(self.path("shared")), [])

    def test_access_control_list_stays(self):
        """The list's own access list, and none where a new file in its folder
        would get one."""
        if WINDOWS or not shutil.which("setfacl"):
            self.skipTest("POSIX access control lists (setfacl)")
        acl = "system.posix_acl_access"
        os.mkdir(self.path("shared"))
        for name in ["list.txt", "shared/list.txt"]:
            self.write(name, b"old\n")
            os.chmod(self.path(name), 0o640)
        for args in [["-m", "u:65534:r", "list.txt"], ["-d", "-m", "u:65534:rw", "shared"]]:
            if subprocess.run(["setfacl"] + args, cwd=self.tmp, stderr=subprocess.DEVNULL).returncode:
                self.skipTest("no access control lists here")
        kept = os.getxattr(self.path("list.txt"), acl)
        for name in ["list.txt", "shared/list.txt"]:
            self.assertEqual(self.replace(name), (OK, []))
            self.assertList(name, ["a", "b"])
            self.assertEqual(stat.S_IMODE(os.stat(self.path(name)).st_mode), 0o640)
        self.assertEqual(os.getxattr(self.path("list.txt"), acl), kept)
        self.assertNotIn(acl, os.listxattr(self.path("shared/list.txt")))

    def test_what_cannot_be_renamed_over_is_written_in_place(self):
        """A list mounted on its own (bound into a container); a folder that
        takes new names but refuses renames and removals."""
        if WINDOWS or os.geteuid() != 0:
            self.skipTest("bind mounts and chattr, as root")
        self.write("outside.txt", b"old\n")
        self.write("list.txt", b"")
        mounted = in_own_mounts("mount --bind outside.txt list.txt", COMMAND)
        self.assertEqual(self.replace("list.txt", command=mounted), (OK, []))
        self.assertList("outside.txt", ["a", "b"])
        os.mkdir(self.path("append-only"))
        self.write("append-only/list.txt", b"old\n")
        if subprocess.run(["chattr", "+a", self.path("append-only")], stderr=subprocess.DEVNULL).returncode:
            self.skipTest("no append-only folders here")
        self.addCleanup(subprocess.run, ["chattr", "-a", self.path("append-only")])
        for name in ["list.txt", "list.txt", "new.txt"]:
            self.assertEqual(self.replace(name, folder=self.path("append-only")), (OK, []))
        self.assertEqual(sorted(os.listdir(self.path("append-only"))), ["list.txt", "log.txt", "new.txt"])
        # Nor one that takes no new name at all (immutable: EPERM).
        os.mkdir(self.path("immutable"))
        self.write("immutable/list.txt", b"old\n")
        self.write("immutable/log.txt", self.LOG)
        subprocess.run(["chattr", "+i", self.path("immutable")], check=True)
        self.addCleanup(subprocess.run, ["chattr", "-i", self.path("immutable")])
        self.assertEqual(self.replace("list.txt", folder=self.path("immutable")), (OK, []))
        self.assertList("immutable/list.txt", ["a", "b"])

    def test_concurrent_runs_and_a_reader(self):
        """Eight runs replace one list at once while a reader reads it again
        and again: it is never missing or partial, and nothing is left."""
        lists = {b"old\n"}
        for i in range(8):
            entries = ["r%d/%04d" % (i, j) for j in range(300 * (i + 1))]
            self.write("log%d.txt" % i, b"".join(compile_line(e + ".c") for e in entries))
            lists.add(list_bytes(entries))
        os.mkdir(self.path("sub"))
        for name in ["list.txt", "sub/list.txt"]:
            with self.subTest(name):
                self.write(name, b"old\n")
                seen, done = [], threading.Event()

                def read():
                    while not done.is_set():
                        try:
                            seen.append(self.read(name) in lists or "partial")
                        except FileNotFoundError:
                            seen.append("missing")
                        except PermissionError:
                            pass  # Windows: being renamed over
                reader = threading.Thread(target=read)
                reader.start()
                output = name.replace("/", "\\") if WINDOWS else name
                argvs = [COMMAND + ["--input=log%d.txt" % i, "--output=" + output] for i in range(8)]
                runs = [subprocess.Popen(argv, cwd=self.tmp, stdout=subprocess.PIPE)
                        for argv in argvs]
                statuses = []
                for argv, p in zip(argvs, runs):
                    p.stdout = p.communicate(timeout=TIMEOUT)[0]
                    # A start that Wine ended before the program ran is no run.
                    if WINDOWS and failed_to_start(p):
                        p = subprocess.run(argv, cwd=self.tmp, stdout=subprocess.PIPE,
                                           timeout=TIMEOUT)
                    statuses.append(p.returncode)
                done.set()
                reader.join()
                self.assertEqual(statuses, [OK] * 8)
                self.assertIn(self.read(name), lists - {b"old\n"})
                self.assertEqual([s for s in seen if s is not True], [])
                self.assertEqual(sorted(os.listdir(self.path("sub"))), ["list.txt"] if "/" in name else [])

    def test_windows_attributes_stay(self):
        if not WINDOWS:
            self.skipTest("Windows file attributes")
        os.mkdir(self.path("sub"))
        attrib = COMMAND[:-1] + ["cmd", "/c", "attrib"]
        for name in ["list.txt", "sub\\list.txt"]:
            self.write(name.replace("\\", "/"), b"old\r\n")
            for flag in ["+h", "+s"]:  # one at a time: Wine's attrib takes one
                subprocess.run(attrib + [flag, name], cwd=self.tmp, check=True, stdout=subprocess.DEVNULL)
            self.assertEqual(self.replace(name), (OK, []))
            shown = subprocess.run(attrib + [name], cwd=self.tmp, stdout=subprocess.PIPE).stdout.decode()
            self.assertTrue({"H", "S"} <= set(shown[:shown.index(":") - 1]), shown)  # before the drive
            self.assertList(name.replace("\\", "/"), ["a", "b"])


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
    def small_file_system(self, options):
        """A new folder on a tmpfs mounted with `options`, or for "ext2" on an
        8 MB ext2 image, which has no way to reserve room in a file; None
        where none can be mounted (mounting takes root)."""
        folder = tempfile.mkdtemp(dir=self.tmp)
        mount = ["mount", "-t", "tmpfs", "-o", options, "tmpfs", folder]
        if options == "ext2":
            image = folder + ".img"
            with open(image, "wb") as f:
                f.truncate(8 << 20)
            if subprocess.run(["mkfs.ext2", "-q", "-F", image], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode != 0:
                return None
            mount = ["mount", "-o", "loop", image, folder]
        if not shutil.which("mount") or subprocess.run(
                mount, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
            return None
        self.addCleanup(subprocess.run, ["umount", folder])
        return folder

    def test_failed_or_killed_run_leaves_the_file_that_was_there(self):
        log = dense_log(3 << 20)  # its list of 0.6 MB is written in several writes
        no_files = file_limit(resource.RLIMIT_NOFILE, 4)  # the log takes the last one
        # (name, tmpfs options (None: a plain folder), 40 KiB left on it, folder
        # refuses new files, limit, outcome natively, outcome on Windows (None:
        # not under Wine, which does not start reliably under these limits))
        faults = [
            ("disk full", "size=4m", True, False, None, (OUTPUT_FAILED, WRITE_FAILED),
             (OUTPUT_FAILED, WRITE_FAILED)),
            ("no free inode", "size=8m,nr_inodes=3", False, False, None,
             (OUTPUT_FAILED, WRITE_FAILED), (OUTPUT_FAILED, WRITE_FAILED)),
            ("written in place, disk full", "size=4m", True, True, None,
             (OUTPUT_FAILED, WRITE_FAILED), (OUTPUT_FAILED, NO_OUTPUT)),
            ("written in place, disk full, no room reserved", "ext2", True, True, None,
             (OUTPUT_FAILED, WRITE_FAILED), None),
            ("too many open files", None, False, False, no_files, (OUTPUT_FAILED, NO_OUTPUT), None),
            ("write fails partway", None, False, False, file_size_limit(100000, killed=False),
             (OUTPUT_FAILED, WRITE_FAILED), None),
            ("killed while writing", None, False, False, file_size_limit(100000, killed=True),
             (-signal.SIGXFSZ, []), None),
        ]
        for name, mount, fill, locked, preexec, outcome, windows_outcome in faults:
            if WINDOWS and not windows_outcome:
                continue
            if preexec is no_files and "ASAN_OPTIONS" in os.environ:
                continue  # the sanitizers' runtime needs descriptors of its own
            # A previous list, or the log itself (in place, its list fits in its room).
            for output in ["list.txt"] + ([] if locked else ["log.txt"]):
                with self.subTest(name, output=output):
                    command = self.unprivileged()[1] if locked else None
                    folder = self.small_file_system(mount) if mount else tempfile.mkdtemp(dir=self.tmp)
                    if folder is None:
                        self.skipTest("no file system can be mounted here")
                    files = {"log.txt": log, "list.txt": b"previous\nlist\n"}
                    for file_name, data in files.items():
                        with open(os.path.join(folder, file_name), "wb") as f:
                            f.write(data)
                        os.chmod(os.path.join(folder, file_name), 0o666)
                    if fill:  # 40 KiB left
                        free = os.statvfs(folder)
                        with open(os.path.join(folder, "filler"), "wb") as f:
                            f.write(bytes(free.f_bavail * free.f_frsize - (40 << 10)))
                    if locked:
                        os.chmod(folder, 0o555)
                    status = run(["--input=log.txt", "--output=" + output], folder, preexec=preexec,
                                 command=command)
                    self.assertEqual(status, windows_outcome if WINDOWS else outcome)
                    for file_name, data in files.items():
                        with open(os.path.join(folder, file_name), "rb") as f:
                            self.assertTrue(f.read() == data, file_name + " changed")
                    # Not even a killed run leaves anything: its list had no name yet.
                    self.assertEqual([n for n in os.listdir(folder)
                                      if n not in files and n not in ("filler", "lost+found")], [])

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


class SourceTreeTests(ToolTestCase):
    """--root, --extension and --exclude: the messages, the list kept on a
    refusal, and what each system's path resolution makes of a path. The
    rules themselves are the unit tests'."""

    ARGS = ["--input=log.txt", "--output=list.txt"]

    def setUp(self):
        super().setUp()
        for name in ("tree/src/a.c", "tree/src/aux.c", "tree/build/gen.c", "outside/x.c"):
            os.makedirs(self.path(os.path.dirname(name)), exist_ok=True)
            self.write(name, b"")
        os.symlink("../../outside", self.path("tree/src/sdk"))
        os.symlink("src/../../outside", self.path("tree/hidden"))

    def assertRefused(self, args, said):
        self.write("list.txt", b"previous\n")
        self.assertEqual(run(args, self.tmp), (INPUT_FAILED, ["Kestrane error: " + said]))
        self.assertEqual(self.read("list.txt"), b"previous\n")
        self.assertEqual(self.strays(), [])

    def test_entries_against_the_tree(self):
        out, no_file = "leads out of the source tree", "is not a file in the source tree"
        # (entry, refusal natively, on Windows): Windows takes ".." before
        # links, letters in any case, and "aux.c" for the device AUX.
        cases = [("src/a", None, None), ("src/sdk/x", out, out), ("src/sdk/none", out, out),
                 ("hidden/x", out, out), ("src/none", no_file, no_file),
                 ("build/gen", "is in an excluded folder", "is in an excluded folder"),
                 ("src/sdk/../a", out, None), ("SRC/a", no_file, None), ("src/aux", None, no_file)]
        for entry, native, windows in cases:
            with self.subTest(entry):
                self.write("log.txt", compile_line("src/a.c") + compile_line(entry + ".c"))
                args = self.ARGS + ["--root=tree", "--exclude=tree/build"]
                why = windows if WINDOWS else native
                if why:
                    self.assertRefused(args, 'Input file line 2: "%s" %s' % (entry, why))
                else:
                    self.assertEqual(run(args, self.tmp), (OK, []))
                    self.assertList("list.txt", ["src/a", entry])

    def test_options(self):
        # The current folder is the root when none is named; "--extension="
        # adds nothing; an excluded folder that does not exist excludes
        # nothing; without the options nothing is checked.
        self.write("log.txt", compile_line("build/gen.c.c"))
        self.assertRefused(self.ARGS + ["--extension="],
                           'Input file line 1: "build/gen.c" is not a file in the source tree')
        self.write("tree/log.txt", compile_line("build/gen.c.c"))
        self.assertEqual(run(self.ARGS + ["--extension=", "--exclude=none"], self.path("tree")),
                         (OK, []))
        self.assertEqual(self.read("tree/list.txt"), list_bytes(["build/gen.c"]))
        self.assertEqual(run(self.ARGS, self.tmp), (OK, []))
        # A root that is no folder is refused before the log is read; a
        # missing log is told first.
        for root in ("none", "tree/src/a.c", ""):
            with self.subTest(root):
                self.assertRefused(self.ARGS + ["--root=" + root], "Could not open source tree")
        self.assertEqual(run(["--input=none", "--output=list.txt", "--root=none"], self.tmp),
                         (INPUT_FAILED, NO_INPUT))

    def test_names_are_taken_in_the_code_page(self):
        # A folder the code page cannot carry is refused, never taken for its
        # look-alike; an entry is bytes in the code page.
        for root in ("ł", "l"):
            os.makedirs(self.path(root + "/src"))
            self.write(root + "/src/ł.c", b"")
        self.write("log.txt", compile_line("src/ł.c"))
        if not carried("ł"):
            for option in ("--root=ł", "--exclude=ł"):
                self.assertRefused(self.ARGS + [option], "Could not open source tree")
        if CODE_PAGE:
            self.assertRefused(self.ARGS + ["--root=l"], 'Input file line 1: "src/\\xC5\\x82" '
                               'is not a file in the source tree')
        else:
            self.assertEqual(run(self.ARGS + ["--root=ł"], self.tmp), (OK, []))
            self.assertList("list.txt", ["src/ł"])

if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""One log, one list: the native executable and Kestrane.exe read the same logs
and must write the same lists, line ends aside (CR LF from Windows text mode).

Settings (environment variables):
  KESTRANE_COMMAND          required; starts the native executable.
  KESTRANE_WINDOWS_COMMAND  required; starts Kestrane.exe ("wine .../Kestrane.exe").
"""

import os
import shlex
import shutil
import subprocess
import tempfile
import unittest

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "examples")


def command(setting):
    """The start command in `setting`, relative paths made absolute: the runs
    happen in a test folder."""
    words = shlex.split(os.environ[setting])
    return [os.path.abspath(w) if os.path.exists(w) else w for w in words]


def compile_line(path, end=b"\r\n"):
    return b"Compiling ../../" + path + b" ..." + end


A, B = compile_line(b"a.c"), compile_line(b"b.c")

# (name, log, entries both must list)
LOGS = [
    ("CR LF and LF", A + compile_line(b"b.c", b"\n"), [b"a", b"b"]),
    ("CR CR LF keeps one CR", compile_line(b"a.c", b"\r\r\n") + B, [b"b"]),
    ("lone CR inside a line",
     b"Compiling\r../../a.c ...\r\n"     # white space: matches
     b"Compiling ../../b.c\r...\n"       # white space: matches
     b"Compiling ../../x\ry.c ...\r\n"   # in the path: no match
     b"Compiling ../../z.c ...\r!\r\n",  # before the end: no match
     [b"a", b"b"]),
    ("Ctrl-Z in the middle of a line",
     A + b"Compiling ../../b\x1a.c ...\r\n" + compile_line(b"c.c"), [b"a"]),
    ("Ctrl-Z at the end of a compile line", A + b"Compiling ../../b.c ...\x1a\r\n", [b"a"]),
    ("bytes from 0x80 up",
     compile_line(b"Qu\xe9lle\\\xff\x80.c") + b"Compiling\xa0../../n.c ...\r\n"
     + compile_line(b"\xe4.c") + b"Compiling ../../m.c\x85...\r\n",
     [b"Qu\xe9lle/\xff\x80", b"\xe4"]),
    ("last line without a line feed", A + compile_line(b"b.c", b""), [b"a"]),
    ("last line ended by CR alone", A + compile_line(b"b.c", b"\r"), [b"a"]),
    ("no compile line", b"Linking app.elf ...\r\n", []),
]


class CrossPlatformListTests(unittest.TestCase):
    def setUp(self):
        self.native = command("KESTRANE_COMMAND")
        self.windows = command("KESTRANE_WINDOWS_COMMAND")
        self.tmp = tempfile.mkdtemp(prefix="kestrane-lists-")
        self.addCleanup(shutil.rmtree, self.tmp, ignore_errors=True)

    def lists(self, log):
        """The lists that the native and the Windows executable make of `log`."""
        with open(os.path.join(self.tmp, "log.txt"), "wb") as f:
            f.write(log)
        lists = []
        for words, name in [(self.native, "native.txt"), (self.windows, "windows.txt")]:
            for attempt in range(3):  # a start Wine ended before it ran, as in cli_test.py
                proc = subprocess.run(words + ["--input=log.txt", "--output=" + name],
                                      cwd=self.tmp, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
                if proc.returncode != 1 or proc.stdout:
                    break
            self.assertEqual(proc.returncode, 0, (words, proc.stdout, proc.stderr))
            with open(os.path.join(self.tmp, name), "rb") as f:
                lists.append(f.read())
        return lists

    def assertSameList(self, log, entries):
        native, windows = self.lists(log)
        self.assertEqual(native, b"".join(e + b"\n" for e in entries))
        self.assertEqual(windows, native.replace(b"\n", b"\r\n"))

    def test_logs(self):
        for name, log, entries in LOGS:
            with self.subTest(name):
                self.assertSameList(log, entries)

    def test_utf16_logs_give_the_list_of_their_utf8_text(self):
        # CR LF, entries beyond ASCII, lines longer than a read (one that is
        # no compile line only at its end, one with the word twice), Ctrl-Z.
        text = ("1> Compiling ..\\..\\Quelle\\\u00dcbersicht.c ...\r\n"
                "Compiling ../../\u65e5\u672c/\u03b1\U0001F600.c ...\r\n"
                "Compiling ../../" + "p" * (3 << 20) + ".c ...\r\n"
                "Compiling ../../" + "q" * (1 << 20) + ".cpp ...\r\n"
                "Compiling ../../" + "r" * (1 << 20) + " Compiling ..\\..\\s.c ...\r\n"
                "Compiling ../../a.c ...\r\n\x1a"
                "Compiling ../../after.c ...\r\n")
        entries = [e.encode() for e in ["Quelle/\u00dcbersicht", "\u65e5\u672c/\u03b1\U0001F600",
                                         "p" * (3 << 20), "s", "a"]]
        self.assertSameList(text.encode(), entries)
        for mark, encoding in [(b"\xff\xfe", "utf-16-le"), (b"\xfe\xff", "utf-16-be")]:
            with self.subTest(encoding):
                self.assertSameList(mark + text.encode(encoding), entries)

    def test_supplier_build_log(self):
        with open(os.path.join(EXAMPLES, "supplier-build.log"), "rb") as f:
            log = f.read()
        with open(os.path.join(EXAMPLES, "supplier-build.expected"), "rb") as f:
            entries = f.read().splitlines()
        self.assertGreater(len(entries), 0)
        self.assertSameList(log, entries)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""The manual page, as the Debian tools read it: mandoc's checker, lexgrog
(which man-db's index uses) and man itself with groff's warnings on; and its
Makefile example, copied from what man shows, run with make."""

import os
import re
import shutil
import unittest

from shiptest import FIRMWARE_OUTPUT, LOG_ORDER, ScratchTestCase, copy_example, need, run, setting

PAGE = setting("KESTRANE_MANUAL_PAGE")
SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "FILES",
            "EXAMPLES", "NOTES"]


def rendered(page, width=80):
    """The page as man shows it on a terminal of `width` columns (UTF-8)."""
    env = dict(os.environ, MANWIDTH=str(width), LC_ALL="C.UTF-8")
    return run(["man", "--warnings", "-l", page], env=env)


def source_texts(path, pattern):
    """What `pattern`'s group catches in the source file `path` (under src/)."""
    with open(os.path.join(setting("KESTRANE_SOURCE_DIR"), "src", path)) as f:
        return re.findall(pattern, f.read())


class ManualPageTests(ScratchTestCase):
    def test_mandoc_finds_nothing_to_say(self):
        need("mandoc")
        proc = run(["mandoc", "-T", "lint", "-W", "style", PAGE], check=False)
        self.assertEqual((proc.returncode, proc.stdout + proc.stderr), (0, ""))

    def test_lexgrog_reads_the_name(self):
        need("lexgrog")
        self.assertRegex(run(["lexgrog", PAGE]).stdout.strip(),
                         r'^%s: "kestrane - [a-z][^"]+"$' % re.escape(PAGE))

    def test_man_renders_every_section_without_warnings(self):
        need("man")
        proc = rendered(PAGE)
        self.assertEqual(proc.stderr, "")
        headings = [line for line in proc.stdout.splitlines() if line[:1].isupper()]
        self.assertEqual(headings[1:-1], SECTIONS + ["SEE ALSO"])
        # The example's Makefile, as the page shows it.
        with open(os.path.join(setting("KESTRANE_SOURCE_DIR"), "examples", "firmware", "Makefile")) as f:
            makefile = [" ".join(line.split()) for line in f.read().splitlines()]
        shown = [" ".join(line.split()) for line in proc.stdout.splitlines()]
        start = shown.index(makefile[0])
        self.assertEqual(shown[start:start + len(makefile)], makefile)

    def test_every_option_and_message_of_the_program_is_told(self):
        """What the program's sources take and print is in the page: every
        option, every error message and every reason --explain gives."""
        need("man")
        page = " ".join(rendered(PAGE, width=1000).stdout.split())
        options = source_texts("cli/command_line.cc", r'"(--[a-z-]+=?)"')
        messages = source_texts("cli/main.cc", r'(?:Fail\("|"Kestrane error: |\{"|\n +")([A-Z][^"]+)"')
        reasons = (source_texts("scan/compile_line.cc", r'\n      "([^"]+)",') +
                   source_texts("cli/source_tree.cc", r'constexpr char k\w+\[\] = "([^"]+)"'))
        self.assertGreaterEqual((len(options), len(messages), len(reasons)), (9, 12, 22))
        for text in options + messages + reasons:
            with self.subTest(text):
                self.assertIn(text, page)

    def test_makefile_copied_from_man_builds_the_example(self):
        """The example's Makefile selected on the terminal, page indentation
        and all, and pasted into a file: make builds the firmware from the
        listed sources in log order, with kestrane and its include found
        through PATH as installed."""
        for program in ["man", "make", "cc"]:
            need(program)
        lines = rendered(PAGE).stdout.splitlines()
        start = next(i for i, line in enumerate(lines) if "# The firmware," in line)
        indent = lines[start][:len(lines[start]) - len(lines[start].lstrip())]
        end = next(i for i in range(start, len(lines))
                   if lines[i] and not lines[i].startswith(indent))
        source = self.path("firmware")
        copy_example(source)
        with open(os.path.join(source, "Makefile"), "w") as f:
            f.write("\n".join(lines[start:end]).rstrip() + "\n")
        prefix = self.path("prefix")
        os.makedirs(os.path.join(prefix, "bin"))
        os.makedirs(os.path.join(prefix, "share", "kestrane"))
        os.symlink(setting("KESTRANE_COMMAND"), os.path.join(prefix, "bin", "kestrane"))
        shutil.copy(os.path.join(setting("KESTRANE_SOURCE_DIR"), "make", "kestrane.mk"),
                    os.path.join(prefix, "share", "kestrane"))
        path = os.pathsep.join([os.path.join(prefix, "bin"), os.environ["PATH"]])
        made = run(["make", "-C", source], env=dict(os.environ, PATH=path)).stdout
        [link] = [line for line in made.splitlines() if " -o firmware " in line]
        self.assertEqual([o + ".c" for o in re.findall(r"(\S+)\.o\b", link)], LOG_ORDER)
        self.assertEqual(run([os.path.join(source, "firmware")]).stdout, FIRMWARE_OUTPUT)


if __name__ == "__main__":
    unittest.main()

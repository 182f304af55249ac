#!/usr/bin/env python3
"""The manual page, as the Debian tools read it: mandoc's checker, lexgrog
(which man-db's index uses) and man itself with groff's warnings on."""

import os
import re
import unittest

from shiptest import need, run, setting

PAGE = setting("KESTRANE_MANUAL_PAGE")
SECTIONS = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "FILES",
            "EXAMPLES", "NOTES"]


class ManualPageTests(unittest.TestCase):
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
        env = dict(os.environ, MANWIDTH="80")
        proc = run(["man", "--warnings", "-l", PAGE], env=env)
        self.assertEqual(proc.stderr, "")
        headings = [line for line in proc.stdout.splitlines() if line[:1].isupper()]
        self.assertEqual(headings[1:-1], SECTIONS + ["SEE ALSO"])
        # The example's Makefile, as the page shows it.
        with open(os.path.join(setting("KESTRANE_SOURCE_DIR"), "examples", "firmware", "Makefile")) as f:
            makefile = [" ".join(line.split()) for line in f.read().splitlines()]
        shown = [" ".join(line.split()) for line in proc.stdout.splitlines()]
        start = shown.index(makefile[0])
        self.assertEqual(shown[start:start + len(makefile)], makefile)


if __name__ == "__main__":
    unittest.main()

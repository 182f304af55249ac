#!/usr/bin/env python3
"""CHANGELOG.md against the history it tells: each heading but that of the
changes in progress is a day and a commit of that day, newest first, each
commit in the history of the one above it."""

import os
import re
import shutil
import subprocess
import unittest

SOURCE_DIR = os.environ.get("KESTRANE_SOURCE_DIR") or os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "..")
HEADING = re.compile(r"^## (\d{4}-\d\d-\d\d), ([0-9a-f]{7,40})$")


def git(*args):
    return subprocess.run(["git", "-C", SOURCE_DIR, *args], stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, text=True)


class ChangeLogTests(unittest.TestCase):
    def setUp(self):
        with open(os.path.join(SOURCE_DIR, "CHANGELOG.md")) as f:
            headings = [line for line in f.read().splitlines() if line.startswith("## ")]
        # A section of changes in progress, when there is one, comes first.
        self.landed = headings[1:] if headings[0].startswith("## In progress") else headings

    def test_every_landed_heading_is_a_day_and_a_commit(self):
        self.assertTrue(self.landed)
        for heading in self.landed:
            self.assertRegex(heading, HEADING)

    def test_headings_follow_the_history(self):
        if not shutil.which("git") or git("rev-parse", "--is-shallow-repository").stdout.strip() != "false":
            self.skipTest("not in a whole git clone")
        newer = None
        for heading in self.landed:
            day, commit = HEADING.match(heading).groups()
            with self.subTest(heading):
                self.assertEqual(git("log", "-1", "--format=%cd", "--date=short", commit + "^{commit}")
                                 .stdout.strip(), day, "the commit's day")
                if newer:
                    self.assertEqual(git("merge-base", "--is-ancestor", commit, newer).returncode, 0,
                                     "older than the heading above it")
            newer = commit


if __name__ == "__main__":
    unittest.main()

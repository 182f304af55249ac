#!/usr/bin/env python3
"""What a failing benchmark run leaves in its work folder, with and without
--keep: the contenders are replaced by one that writes a log and an output."""

import os
import sys
import tempfile
import unittest
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
import run_benchmarks  # noqa: E402

WRITTEN = ["dense-1mb.log", "dense.kestrane"]


def failing_benchmark(args, used):
    for name in WRITTEN:
        used.add(os.path.join(args.work, name))
        open(os.path.join(args.work, name), "w").close()
    raise RuntimeError("a contender failed")


class WorkFolderTests(unittest.TestCase):
    def test_left_as_asked(self):
        for before, options, after in [  # None: no folder
                (None, [], None),
                (None, ["--keep"], WRITTEN),
                (["dense-1mb.log", "notes.txt"], [], ["notes.txt"])]:  # the log it read goes too
            with self.subTest(before=before, options=options), tempfile.TemporaryDirectory() as d:
                work = os.path.join(d, "work")
                for name in before or []:
                    os.makedirs(work, exist_ok=True)
                    open(os.path.join(work, name), "w").close()
                with mock.patch.object(run_benchmarks, "benchmark", failing_benchmark), \
                        mock.patch.object(sys, "argv", ["run", "--build", d, "--work", work] + options), \
                        self.assertRaises(RuntimeError):
                    run_benchmarks.main()
                self.assertEqual(sorted(os.listdir(work)) if os.path.exists(work) else None, after)


if __name__ == "__main__":
    unittest.main()

#!/usr/bin/env python3
"""The build date stamp, cmake/build_date.cmake, run as the build runs it.

Settings: KESTRANE_CMAKE, the cmake executable (default: cmake on PATH).
"""

import os
import re
import subprocess
import tempfile
import time
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "cmake", "build_date.cmake")
CMAKE = os.environ.get("KESTRANE_CMAKE", "cmake")


def stamp(epoch):
    """The date the script writes with SOURCE_DATE_EPOCH=`epoch` (None: unset)."""
    env = dict(os.environ)
    env.pop("SOURCE_DATE_EPOCH", None)
    if epoch is not None:
        env["SOURCE_DATE_EPOCH"] = str(epoch)
    with tempfile.TemporaryDirectory() as d:
        header = os.path.join(d, "build_date.h")
        subprocess.run([CMAKE, "-D", "OUTPUT=" + header, "-P", SCRIPT], env=env, check=True)
        with open(header) as f:
            match = re.search(r'^#define KESTRANE_BUILD_DATE "(.*)"$', f.read(), re.M)
    if not match:
        raise AssertionError("no KESTRANE_BUILD_DATE in the header")
    return match.group(1)


class BuildDateTests(unittest.TestCase):
    def test_source_date_epoch_gives_the_date(self):
        cases = [
            (1589328000, "May 13 2020"),
            (1796688000, "Dec  8 2026"),  # a one-digit day is padded with a space
            (1796774399, "Dec  8 2026"),  # the last second of that day, UTC
            (951782400, "Feb 29 2000"),
            (1767225600, "Jan  1 2026"),
            (0, "Jan  1 1970"),
        ]
        for epoch, date in cases:
            with self.subTest(epoch=epoch):
                self.assertEqual(stamp(epoch), date)

    def test_without_source_date_epoch_today(self):
        before = time.localtime()
        date = stamp(None)
        after = time.localtime()
        self.assertIn(date, {time.strftime("%b %e %Y", before), time.strftime("%b %e %Y", after)})


if __name__ == "__main__":
    unittest.main()

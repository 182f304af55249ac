#!/usr/bin/env python3
"""Starts and stops the Wine that the Windows tests run under.

  wine_prefix.py start   creates the prefix WINEPREFIX names, if need be, and
                         leaves its wineserver running with Wine's services
  wine_prefix.py stop    ends that wineserver and everything it runs

Settings: KESTRANE_WINE (the loader) and KESTRANE_WINESERVER.

A program started under Wine when no wineserver is running starts one, and
Wine's services with it. Those inherit the program's standard output and hold
it open until the server quits, seconds after the program has ended, so every
test run would wait for them. With the server already up, a run takes a
fraction of a second. The server quits by itself a minute after the last
program, should stop never come.
"""

import os
import subprocess
import sys
import tempfile


def run(words, check=True):
    """Runs `words`. Its output goes to a file, not a pipe, which what it
    leaves running would hold open; the file is shown when it fails."""
    with tempfile.TemporaryFile() as output:
        status = subprocess.run(words, stdin=subprocess.DEVNULL, stdout=output,
                                stderr=subprocess.STDOUT, timeout=300).returncode
        if check and status != 0:
            output.seek(0)
            sys.stdout.write(output.read().decode(errors="replace"))
            sys.exit("%s failed with status %d" % (" ".join(words), status))


def main():
    wineserver = os.environ["KESTRANE_WINESERVER"]
    if sys.argv[1:] == ["start"]:
        # The server runs in the prefix, so that has to exist first; an empty
        # one is filled by wineboot.
        os.makedirs(os.environ["WINEPREFIX"], exist_ok=True)
        run([wineserver, "-p60"])
        run([os.environ["KESTRANE_WINE"], "wineboot", "--init"])
    elif sys.argv[1:] == ["stop"]:
        run([wineserver, "-k"], check=False)  # fails when none runs: nothing to stop
    else:
        sys.exit("usage: wine_prefix.py start|stop")


if __name__ == "__main__":
    main()

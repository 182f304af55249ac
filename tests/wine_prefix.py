#!/usr/bin/env python3
"""Starts and stops the Wine that the Windows tests run under.

  wine_prefix.py start   creates the prefix WINEPREFIX names, if need be, and
                         leaves its wineserver running with Wine's services
  wine_prefix.py stop    ends that wineserver and everything it runs

Settings: KESTRANE_WINE (the loader) and KESTRANE_WINESERVER. Run as root,
with KESTRANE_UNPRIVILEGED_COMMAND (words that start what follows as another
user) and KESTRANE_UNPRIVILEGED_WINEPREFIX, the same is done for that user's
own prefix: Wine run by root writes read-only files as root may, so the tests
of read-only files run Wine as that user.

A prefix takes about 700 MB (Wine 8 copies its DLLs into it). WINEPREFIX, in
the build tree, stays for the next run, which then starts in a second instead
of several. The other user's prefix lies outside the build tree, in /tmp: stop
removes it, with the folder its wineserver kept in /tmp, so that it never
outlives the run; start makes it anew.

A program started under Wine when no wineserver is running starts one, and
Wine's services with it. Those inherit the program's standard output and hold
it open until the server quits, seconds after the program has ended, so every
test run would wait for them. With the server already up, a run takes a
fraction of a second. The server quits by itself a minute after the last
program, should stop never come.
"""

import os
import re
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


def prefixes():
    """(words that start a command as the prefix's user, prefix) for each prefix."""
    yield [], os.environ["WINEPREFIX"]
    other = os.environ.get("KESTRANE_UNPRIVILEGED_WINEPREFIX")
    if other and os.geteuid() == 0:
        yield (os.environ["KESTRANE_UNPRIVILEGED_COMMAND"].split() +
               ["env", "HOME=" + other, "WINEPREFIX=" + other]), other


def server_folder(prefix):
    """The folder in /tmp that holds the socket of the prefix's wineserver, as
    a list of one (or none, when its name is not as expected). Debian's Wine
    makes it under a random name, which it keeps in the prefix's file
    "wineserver"; Wine as released names it after the prefix's device and
    inode, under /tmp/.wine-<uid>."""
    try:
        with open(os.path.join(prefix, "wineserver")) as f:
            name = f.read().strip()
    except FileNotFoundError:
        info = os.stat(prefix)
        return ["/tmp/.wine-%d/server-%x-%x" % (info.st_uid, info.st_dev, info.st_ino)]
    # Anything but the name mkdtemp gives is left alone: an empty one would
    # name /tmp itself.
    if not re.fullmatch(r"wine-[A-Za-z0-9]{6}", name):
        return []
    return [os.path.join(os.environ.get("TMPDIR") or "/tmp", name)]


def main():
    wineserver = os.environ["KESTRANE_WINESERVER"]
    if sys.argv[1:] not in (["start"], ["stop"]):
        sys.exit("usage: wine_prefix.py start|stop")
    for user, prefix in prefixes():
        if sys.argv[1] == "start":
            # The server runs in the prefix, so that has to exist first, made
            # by its user; an empty one is filled by wineboot.
            run(user + ["mkdir", "-p", prefix])
            run(user + [wineserver, "-p60"])
            run(user + [os.environ["KESTRANE_WINE"], "wineboot", "--init"])
        else:
            run(user + [wineserver, "-k"], check=False)  # fails when none runs: nothing to stop
            if user and os.path.isdir(prefix):
                # The server writes the registry as it quits: wait for it.
                run(user + [wineserver, "-w"], check=False)
                run(user + ["rm", "-rf", *server_folder(prefix), prefix])


if __name__ == "__main__":
    main()

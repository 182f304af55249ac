#!/usr/bin/env python3
"""Runs one libFuzzer target of the fuzz preset for a bounded time.

    python3 tests/fuzz/run_fuzzer.py build_log [--seconds 60] [-- <libFuzzer options>]

The target starts from its seeds (tests/fuzz/<target>) and the inputs it found
before, and adds what it finds to build/corpus/<target>. It ends by itself
after --seconds (libFuzzer's -max_total_time). Stopped earlier (Ctrl-C,
SIGTERM, SIGHUP), libFuzzer ends at once, without running the target's
clean-up; the scratch file the target keeps in the temporary folder is then
removed here. The exit status is the target's: 0, libFuzzer's 72 for an
interrupted run, another for a fault found, 128 + N for a target killed by
signal N.
"""

import argparse
import os
import signal
import subprocess
import sys

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
TARGETS = ["compile_line", "build_log"]


def scratch_files(pid):
    """What the target run as process `pid` may leave in the temporary folder."""
    return ["/tmp/kestrane_build_log_fuzz_%d.log" % pid]


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0],
                                     epilog="Options for libFuzzer follow a --.")
    parser.add_argument("target", choices=TARGETS)
    parser.add_argument("--seconds", type=int, default=60, help="how long to fuzz (default: 60)")
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "fuzz"),
                        help="the fuzz preset's build folder (default: build/fuzz)")
    parser.add_argument("--corpus", default=None,
                        help="where new inputs go (default: build/corpus/<target>)")
    argv = sys.argv[1:] if argv is None else argv
    split = argv.index("--") if "--" in argv else len(argv)
    args, options = parser.parse_args(argv[:split]), argv[split + 1:]
    if args.seconds <= 0:
        parser.error("--seconds must be positive: a run without a limit never ends")

    corpus = args.corpus or os.path.join(ROOT, "build", "corpus", args.target)
    os.makedirs(corpus, exist_ok=True)
    program = os.path.join(args.build, "tests", "fuzz", "kestrane_%s_fuzz" % args.target)
    # The options come later and so win over these.
    command = [program, "-max_total_time=%d" % args.seconds, "-max_len=2100", *options,
               corpus, os.path.join(ROOT, "tests", "fuzz", args.target)]
    fuzzer = subprocess.Popen(command)

    # Ctrl-C reaches the target too, as one process group; a signal sent to
    # this script alone (a CI job's timeout) is passed on.
    def pass_on(signum, _frame):
        if fuzzer.poll() is None:
            fuzzer.send_signal(signum)

    for signum in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(signum, pass_on)
    try:
        status = fuzzer.wait()
        return status if status >= 0 else 128 - status  # killed by a signal: as a shell tells it
    finally:
        for name in scratch_files(fuzzer.pid):
            try:
                os.remove(name)
            except FileNotFoundError:
                pass


if __name__ == "__main__":
    sys.exit(main())

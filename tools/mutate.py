#!/usr/bin/env python3
"""The mutation check: are the fast tests sharp enough to catch a slip?

Plants each fault of a catalogue (tools/mutants.md) alone in a copy of the
source tree, builds that copy incrementally in one build folder, runs the fast
tests (both unit test binaries, then the native end-to-end suite) and counts
the fault caught when its build fails or a test fails. Prints caught/total
per group of the catalogue and the faults that survived.

    python3 tools/mutate.py [--only B3,C1] [--work DIR] [--catalogue FILE]

Slow (a build and up to a few minutes of tests per fault): not part of CI.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time
from dataclasses import dataclass, field

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# A mutant that makes a test run this long is taken as caught: it hangs.
TEST_TIMEOUT = 900


@dataclass
class Fault:
    id: str
    title: str
    group: str
    path: str = ""
    before: str = ""
    after: str = ""
    equivalent: str = ""  # why it cannot be told apart, when it cannot


@dataclass
class Outcome:
    fault: Fault
    caught_by: str = ""  # empty: survived
    seconds: float = 0.0
    log: list = field(default_factory=list)


def read_catalogue(path):
    """The catalogue's faults, in its order.

    '# Heading' starts a group. Each fault is '## ID: what it does', then its
    file in backticks, then a fenced block of '- ' lines (the text before,
    unique in the file) and '+ ' lines (the text after; '+ (line removed)'
    for none). A line 'Equivalent: why' drops the fault from the score.
    """
    faults = []
    group = ""
    fault = None
    in_block = False
    before, after = [], []
    with open(path, encoding="utf-8") as catalogue:
        for line in catalogue.read().splitlines():
            if line.startswith("```"):
                if in_block:
                    fault.before = "\n".join(before)
                    fault.after = "\n".join(after)
                    before, after = [], []
                in_block = not in_block
                continue
            if in_block:
                if line.startswith("-"):
                    before.append(line[2:])
                elif line.startswith("+"):
                    text = line[2:]
                    if text != "(line removed)":
                        after.append(text)
                continue
            if line.startswith("# "):
                group = line[2:].strip()
            elif line.startswith("## "):
                match = re.match(r"## (\S+?):? (.*)", line)
                fault = Fault(match.group(1), match.group(2), group)
                faults.append(fault)
            elif fault and not fault.path and re.fullmatch(r"`[^`]+`", line.strip()):
                fault.path = line.strip().strip("`")
            elif fault and line.startswith("Equivalent:"):
                fault.equivalent = line[len("Equivalent:"):].strip()
    for fault in faults:
        if not fault.path or not fault.before:
            sys.exit(f"catalogue: {fault.id} lacks its file or its text")
    return faults


def run(command, cwd, log, timeout=None, env=None):
    """True when `command` succeeded; None when it ran out of time."""
    try:
        done = subprocess.run(command, cwd=cwd, env=env, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    except subprocess.TimeoutExpired:
        log.append(f"$ {' '.join(command)}: timed out")
        return None
    log.append(f"$ {' '.join(command)}: status {done.returncode}")
    if done.returncode != 0:
        log.append(done.stdout.decode(errors="replace")[-3000:])
    return done.returncode == 0


def copy_tree(work):
    """The sources as git knows them, uncommitted changes included."""
    source = os.path.join(work, "source")
    files = subprocess.run(["git", "ls-files", "-z", "--cached", "--others",
                            "--exclude-standard"], cwd=ROOT, check=True,
                           stdout=subprocess.PIPE).stdout.decode().split("\0")
    for name in filter(None, files):
        origin = os.path.join(ROOT, name)
        target = os.path.join(source, name)
        if not os.path.isfile(origin):
            continue
        with open(origin, "rb") as f:
            data = f.read()
        if os.path.exists(target):
            with open(target, "rb") as f:
                if f.read() == data:
                    continue  # unchanged: its build stays valid
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(origin, target)
    return source


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--catalogue", default=os.path.join(ROOT, "tools", "mutants.md"))
    parser.add_argument("--only", default="", help="comma-separated ids")
    parser.add_argument("--work", default=os.path.join(ROOT, "build", "mutate"),
                        help="the copy and its build folder (kept for the next run)")
    args = parser.parse_args()

    faults = read_catalogue(args.catalogue)
    if args.only:
        wanted = set(args.only.split(","))
        unknown = wanted - {f.id for f in faults}
        if unknown:
            sys.exit("unknown ids: " + ", ".join(sorted(unknown)))
        faults = [f for f in faults if f.id in wanted]

    source = copy_tree(args.work)
    build = os.path.join(args.work, "build")
    for fault in faults:
        with open(os.path.join(source, fault.path), encoding="utf-8") as f:
            count = f.read().count(fault.before)
        if count != 1:
            sys.exit(f"{fault.id}: its text stands {count} times in {fault.path}, not once")

    targets = ["kestrane", "kestrane_tests", "kestrane_plain_tests"]
    tests_dir = os.path.join(build, "tests")
    env = dict(os.environ,
               KESTRANE_COMMAND=os.path.join(build, "kestrane"),
               KESTRANE_BANNER_LINES="2")
    if os.geteuid() == 0 and shutil.which("setpriv"):
        env["KESTRANE_UNPRIVILEGED_COMMAND"] = \
            "setpriv --reuid=65534 --regid=65534 --clear-groups"
    tests = [
        ("kestrane_tests", [os.path.join(tests_dir, "kestrane_tests"), "--gtest_fail_fast"]),
        ("kestrane_plain_tests",
         [os.path.join(tests_dir, "kestrane_plain_tests"), "--gtest_fail_fast"]),
        ("e2e", [sys.executable, os.path.join(source, "tests", "e2e", "cli_test.py"),
                 "--failfast"]),
    ]

    def build_and_test(log):
        """'' when everything passed, else what failed."""
        built = run(["cmake", "--build", build, "--target", *targets], source, log)
        if not built:
            return "build"
        for name, command in tests:
            passed = run(command, source, log, timeout=TEST_TIMEOUT, env=env)
            if passed is None:
                return name + " (timed out)"
            if not passed:
                return name
        return ""

    log = []
    if not os.path.exists(os.path.join(build, "build.ninja")):
        if not run(["cmake", "-S", source, "-B", build, "-G", "Ninja",
                    "-DCMAKE_BUILD_TYPE=Release", "-DKESTRANE_WINDOWS_TESTS=OFF"],
                   source, log):
            sys.exit("\n".join(log))
    print("The tests on the tree as it stands ...", flush=True)
    failed = build_and_test(log)
    if failed:
        sys.exit(f"{failed} fails without a fault:\n" + "\n".join(log))

    outcomes = []
    for number, fault in enumerate(faults, 1):
        if fault.equivalent:
            continue
        path = os.path.join(source, fault.path)
        with open(path, encoding="utf-8") as f:
            pristine = f.read()
        outcome = Outcome(fault)
        start = time.monotonic()
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(pristine.replace(fault.before, fault.after, 1))
            outcome.caught_by = build_and_test(outcome.log)
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(pristine)
        outcome.seconds = time.monotonic() - start
        outcomes.append(outcome)
        verdict = f"caught by {outcome.caught_by}" if outcome.caught_by else "SURVIVED"
        print(f"[{number}/{len(faults)}] {fault.id}: {verdict} ({outcome.seconds:.0f} s)",
              flush=True)

    print()
    groups = []
    for fault in faults:
        if fault.group not in groups:
            groups.append(fault.group)
    for group in groups:
        mine = [o for o in outcomes if o.fault.group == group]
        dropped = [f for f in faults if f.group == group and f.equivalent]
        caught = [o for o in mine if o.caught_by]
        share = f" ({100 * len(caught) / len(mine):.0f} %)" if mine else ""
        print(f"{group}: {len(caught)}/{len(mine)} caught{share}")
        for o in mine:
            if not o.caught_by:
                print(f"  survived: {o.fault.id}: {o.fault.title}")
        for f in dropped:
            print(f"  equivalent, not run: {f.id}: {f.equivalent}")
    return 0


if __name__ == "__main__":
    sys.exit(main())

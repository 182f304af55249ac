#!/usr/bin/env python3
"""Times kestrane against what else a user could run, on generated logs.

  run_benchmarks.py --build DIR [--size-mb 200] [--runs 3] [--work DIR] [--keep]

DIR is a build tree configured with -DKESTRANE_BUILD_BENCHMARKS=ON (it holds
kestrane and bench/kestrane_regex_scan). For each log the contenders run
interleaved, round after round, after one warm-up round that does not count;
the median wall time of the counted rounds is taken. Every output file is
removed before its run, so no run pays for truncating the last one's list.

  kestrane   the tool, writing its list
  floor      grep -F -c Compiling: finding the keyword, nothing else
  pipeline   grep -P | sed, producing the same list (checked)
  regex      std::getline and std::regex with the compile-line expression, on
             a 20 MB slice of the dense log, as it cannot survive long lines
             (checked against kestrane on the same slice); compared with
             kestrane by throughput on the whole dense log

The logs and the outputs are written in a work folder (--work, default
/tmp/kestrane-bench), which needs about 4.5 times --size-mb plus 30 MB: 920 MB
for 200. They are removed at the end, even when the run fails: the folder
whole if the run made it, otherwise the files the run wrote or read there.
With --keep they stay, and a later run with the same --work and --size-mb uses
the logs instead of generating them again.

Peak memory is the maximum resident size that /usr/bin/time reports. The
script ends with the targets and whether this run met them; its exit status is
non-zero when one was missed.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MB = 1 << 20
MIB = 1024  # /usr/bin/time reports KiB

# grep -P with the same meaning as the compile-line expression on logs whose
# only carriage returns end lines; \K starts the printed text at the path.
PIPELINE = (r"LC_ALL=C grep -aoP '^[^\r\n]*Compiling\s+[[:punct:]]{2}[\\|/][[:punct:]]{2}"
            r"[\\|/]\K[^\r\n]*\.[cp|](?=\s+[[:punct:]]{3}\r?$)' '%s'"
            r" | LC_ALL=C sed -e 's/\.[^.]*$//' -e 's|\\|/|g' > '%s'")


def run_timed(argv, output, shell=False):
    """Runs a command that writes `output`; returns (seconds, peak KiB)."""
    if os.path.exists(output):
        os.remove(output)
    # time rewrites the file in place; it is removed on close, even after a failure.
    with tempfile.NamedTemporaryFile("r", prefix="kestrane-bench-time.") as report:
        command = ["/usr/bin/time", "-o", report.name, "-f", "%M"]
        command += ["sh", "-c", argv] if shell else argv
        start = time.perf_counter()
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
        seconds = time.perf_counter() - start
        peak = int(report.read().split()[-1])
    return seconds, peak


def make_logs(work, size_mb, used):
    """Generates the logs that `work` does not hold yet; adds every log's path to `used`."""
    logs = {}
    for profile in ("dense", "sparse", "longline"):
        path = os.path.join(work, "%s-%dmb.log" % (profile, size_mb))
        used.add(path)
        if not os.path.exists(path):
            print("generating %s" % path, flush=True)
            subprocess.run([sys.executable, os.path.join(HERE, "generate_log.py"),
                            profile, str(size_mb), path], check=True)
        logs[profile] = path
    # The slice for the regex scan ends at a line end.
    slice_path = os.path.join(work, "dense-20mb-slice.log")
    used.add(slice_path)
    if not os.path.exists(slice_path):
        with open(logs["dense"], "rb") as f:
            data = f.read(20 * MB)
        with open(slice_path, "wb") as f:
            f.write(data[:data.rindex(b"\n") + 1])
    logs["slice"] = slice_path
    return logs


def tidy(work, made, used):
    """Removes the work folder if the run `made` it, otherwise the files in
    `used` (the run's logs and outputs) that are there."""
    if made:
        shutil.rmtree(work)
        return
    for path in used:
        if os.path.lexists(path):
            os.remove(path)


def main():
    parser = argparse.ArgumentParser(
        description=__doc__.splitlines()[0],
        epilog="The work folder needs about 4.5 x SIZE_MB + 30 MB. Without --keep, the "
               "run's logs and outputs are removed at the end, and the folder if the run made it.")
    parser.add_argument("--build", required=True)
    parser.add_argument("--size-mb", type=int, default=200)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--work", default="/tmp/kestrane-bench",
                        help="folder for the logs and outputs (default: %(default)s)")
    parser.add_argument("--keep", action="store_true",
                        help="keep them there, for a later run to use the logs again")
    args = parser.parse_args()
    made = not os.path.isdir(args.work)
    os.makedirs(args.work, exist_ok=True)
    used = set()
    try:
        return benchmark(args, used)
    finally:
        if not args.keep:
            tidy(args.work, made, used)


def benchmark(args, used):
    """Runs the contenders; adds the path of every log and output to `used`."""
    kestrane = os.path.join(args.build, "kestrane")
    regex_scan = os.path.join(args.build, "bench", "kestrane_regex_scan")
    logs = make_logs(args.work, args.size_mb, used)

    def out(name):
        path = os.path.join(args.work, name)
        used.add(path)
        return path

    # (log, contender) -> command, as argv or shell text; each writes out(log.contender)
    contenders = {}
    for profile in ("dense", "sparse", "longline", "slice"):
        log = logs[profile]
        contenders[profile, "kestrane"] = [kestrane, "--input=" + log,
                                           "--output=" + out(profile + ".kestrane")]
    for profile in ("dense", "sparse", "longline"):
        contenders[profile, "floor"] = "grep -F -c Compiling '%s' > '%s'" % (
            logs[profile], out(profile + ".floor"))
    for profile in ("dense", "sparse"):
        contenders[profile, "pipeline"] = PIPELINE % (logs[profile], out(profile + ".pipeline"))
    contenders["slice", "regex"] = [regex_scan, logs["slice"], out("slice.regex")]

    times = {key: [] for key in contenders}
    peaks = {key: 0 for key in contenders}
    for round_number in range(args.runs + 1):
        for key, command in contenders.items():
            seconds, peak = run_timed(command, out("%s.%s" % key), shell=isinstance(command, str))
            peaks[key] = max(peaks[key], peak)
            if round_number > 0:
                times[key].append(seconds)

    def median(profile, contender):
        return statistics.median(times[profile, contender])

    def same(a, b):
        with open(out(a), "rb") as f, open(out(b), "rb") as g:
            return f.read() == g.read()

    print("\n%-9s %-9s %9s %10s" % ("log", "contender", "median s", "peak MiB"))
    for (profile, contender) in contenders:
        print("%-9s %-9s %9.3f %10.1f" % (profile, contender, median(profile, contender),
                                          peaks[profile, contender] / MIB))

    def list_mib(profile):
        return os.path.getsize(out(profile + ".kestrane")) / MB

    with open(out("longline.kestrane"), "rb") as f:
        entry = f.read()
    long_entry_ok = (entry.startswith(b"Source/Module_0/sub.dir/Source/Module_1/")
                     and entry.endswith(b"/sub.dir/file\n") and entry.count(b"\n") == 1
                     and b"\\" not in entry)

    dense = median("dense", "kestrane")
    checks = [
        ("dense: kestrane / floor <= 1.3", dense / median("dense", "floor"), 1.3, "<="),
        ("dense: pipeline / kestrane >= 2.5", median("dense", "pipeline") / dense, 2.5, ">="),
        ("dense: regex / kestrane, per byte >= 30",
         (median("slice", "regex") / os.path.getsize(logs["slice"]))
         / (dense / os.path.getsize(logs["dense"])), 30, ">="),
        ("sparse: kestrane / floor <= 1.5",
         median("sparse", "kestrane") / median("sparse", "floor"), 1.5, "<="),
        ("longline: kestrane / dense kestrane <= 1.5",
         median("longline", "kestrane") / dense, 1.5, "<="),
    ]
    # The list goes to its file as the log is read; only the longest line is
    # held whole.
    checks.append(("dense: peak MiB <= 16 + list / 10 (%.1f MiB)" % list_mib("dense"),
                   peaks["dense", "kestrane"] / MIB, 16 + list_mib("dense") / 10, "<="))
    checks.append(("longline: peak MiB <= 16 + 2 x list (%.1f MiB)" % list_mib("longline"),
                   peaks["longline", "kestrane"] / MIB, 16 + 2 * list_mib("longline"), "<="))
    checks.append(("sparse: peak MiB <= 16", peaks["sparse", "kestrane"] / MIB, 16, "<="))

    print("\nslice: regex / kestrane on the same 20 MB: %.1f" % (
        median("slice", "regex") / median("slice", "kestrane")))
    print("\n%-50s %9s  %s" % ("target", "measured", "met"))
    failed = 0
    for name, value, limit, relation in checks:
        met = value <= limit if relation == "<=" else value >= limit
        failed += not met
        print("%-50s %9.2f  %s" % (name, value, "yes" if met else "NO"))
    for name, ok in [("dense: pipeline list equals kestrane's", same("dense.pipeline", "dense.kestrane")),
                     ("sparse: pipeline list equals kestrane's",
                      same("sparse.pipeline", "sparse.kestrane")),
                     ("slice: regex list equals kestrane's", same("slice.regex", "slice.kestrane")),
                     ("longline: the one entry is right", long_entry_ok)]:
        failed += not ok
        print("%-50s %9s  %s" % (name, "", "yes" if ok else "NO"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

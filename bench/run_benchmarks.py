#!/usr/bin/env python3
"""Times kestrane against what else a user could run, on generated logs.

  run_benchmarks.py --build DIR [--before DIR] [--size-mb 200] [--runs 5]
                    [--work DIR] [--keep]

DIR is a build tree configured with -DKESTRANE_BUILD_BENCHMARKS=ON (it holds
kestrane and bench/kestrane_regex_scan); --before names the build tree of an
earlier version, timed beside it on the same logs. For each log the
contenders run interleaved, round after round, after one warm-up round that
does not count; the median wall time of the counted rounds is taken. Every
output file is removed before its run, so no run pays for replacing the last
one's list.

  kestrane   the tool, writing its list (and `before`, the earlier version)
  strict     the tool with --strict, as every build route runs it
  grep       grep -F -c Compiling: finding the keyword, nothing else
  wc         wc -l: reading the log and finding every line feed
  dd         dd bs=1M: copying the log, for the one long compile line
  true       /bin/true, against the bundled example's run: start-up
  pipeline   grep -P | sed, producing the same list (checked)
  regex      std::getline and std::regex with the compile-line expression, on
             a 20 MB slice of the dense log, as it cannot survive long lines
             (checked against kestrane on the same slice)

The logs: dense (a parallel build), sparse (linker lines of 10-60 KB), one
compile line of SIZE_MB, and one line of 1 GiB without the word Compiling (a
binary file passed by mistake), for memory only. They and the outputs are
written in a work folder (--work, default /tmp/kestrane-bench), which needs
about 4.5 times --size-mb plus 1.1 GB: 2 GB for 200. They are removed at the
end, even when the run fails: the folder whole if the run made it, otherwise
the files the run wrote or read there. With --keep they stay, and a later run
with the same --work and --size-mb uses the logs instead of generating them
again.

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
    for profile, size in (("dense", size_mb), ("sparse", size_mb), ("longline", size_mb),
                          ("binary", 1024)):
        path = os.path.join(work, "%s-%dmb.log" % (profile, size))
        used.add(path)
        if not os.path.exists(path):
            print("generating %s" % path, flush=True)
            subprocess.run([sys.executable, os.path.join(HERE, "generate_log.py"),
                            profile, str(size), path], check=True)
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
        epilog="The work folder needs about 4.5 x SIZE_MB + 1.1 GB. Without --keep, the "
               "run's logs and outputs are removed at the end, and the folder if the run made it.")
    parser.add_argument("--build", required=True)
    parser.add_argument("--before", help="build tree of an earlier version, timed beside it")
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

    example = os.path.join(HERE, "..", "examples", "supplier-build.log")
    # (log, contender) -> command, as argv or shell text; each writes out(log.contender)
    contenders = {}
    versions = [("kestrane", kestrane)]
    if args.before:
        versions.append(("before", os.path.join(args.before, "kestrane")))
    for name, program in versions:
        for profile in ("dense", "sparse", "longline", "binary", "slice"):
            contenders[profile, name] = [program, "--input=" + logs[profile],
                                         "--output=" + out(profile + "." + name)]
        contenders["example", name] = [program, "--input=" + example,
                                       "--output=" + out("example." + name)]
    contenders["dense", "strict"] = [kestrane, "--strict", "--input=" + logs["dense"],
                                     "--output=" + out("dense.strict")]
    for profile in ("dense", "sparse"):
        contenders[profile, "grep"] = "grep -F -c Compiling '%s' > '%s'" % (
            logs[profile], out(profile + ".grep"))
        contenders[profile, "wc"] = "wc -l '%s' > '%s'" % (logs[profile], out(profile + ".wc"))
        contenders[profile, "pipeline"] = PIPELINE % (logs[profile], out(profile + ".pipeline"))
    contenders["longline", "dd"] = ["dd", "if=" + logs["longline"], "of=" + out("longline.dd"),
                                    "bs=1M", "status=none"]
    contenders["example", "true"] = ["/bin/true", out("example.true")]
    contenders["slice", "regex"] = [regex_scan, logs["slice"], out("slice.regex")]

    times = {key: [] for key in contenders}
    peaks = {key: 0 for key in contenders}
    for round_number in range(args.runs + 1):
        for key, command in contenders.items():
            # The 1 GiB line is there for memory; once is enough.
            if key[0] == "binary" and round_number > 1:
                continue
            seconds, peak = run_timed(command, out("%s.%s" % key), shell=isinstance(command, str))
            peaks[key] = max(peaks[key], peak)
            if round_number > 0:
                times[key].append(seconds)

    def median(profile, contender):
        return statistics.median(times[profile, contender])

    def same(a, b):
        with open(out(a), "rb") as f, open(out(b), "rb") as g:
            return f.read() == g.read()

    for tool in (["grep", "--version"], ["wc", "--version"], ["dd", "--version"]):
        print(subprocess.run(tool, stdout=subprocess.PIPE, text=True).stdout.splitlines()[0])
    print("\n%-9s %-9s %9s %10s" % ("log", "contender", "median s", "peak MiB"))
    for (profile, contender) in contenders:
        print("%-9s %-9s %9.4f %10.1f" % (profile, contender, median(profile, contender),
                                          peaks[profile, contender] / MIB))

    def list_mib(profile):
        return os.path.getsize(out(profile + ".kestrane")) / MB

    with open(out("longline.kestrane"), "rb") as f:
        entry = f.read()
    long_entry_ok = (entry.startswith(b"Source/Module_0/sub.dir/Source/Module_1/")
                     and entry.endswith(b"/sub.dir/file\n") and entry.count(b"\n") == 1
                     and b"\\" not in entry)

    def ratio(profile, contender, floor):
        return median(profile, contender) / median(profile, floor)

    checks = [
        ("dense: kestrane / grep -F -c <= 1.0", ratio("dense", "kestrane", "grep"), 1.0, "<="),
        ("dense: kestrane / wc -l <= 5", ratio("dense", "kestrane", "wc"), 5, "<="),
        ("dense: --strict / kestrane <= 1.1", ratio("dense", "strict", "kestrane"), 1.1, "<="),
        ("sparse: kestrane / wc -l <= 1.0", ratio("sparse", "kestrane", "wc"), 1.0, "<="),
        ("longline: kestrane / dd <= 2", ratio("longline", "kestrane", "dd"), 2, "<="),
        ("example: kestrane / /bin/true <= 3", ratio("example", "kestrane", "true"), 3, "<="),
        ("dense: peak MiB <= 16 + list / 10 (%.1f MiB)" % list_mib("dense"),
         peaks["dense", "kestrane"] / MIB, 16 + list_mib("dense") / 10, "<="),
        ("1 GiB line without Compiling: peak MiB < 32", peaks["binary", "kestrane"] / MIB, 32, "<"),
    ]
    print("\ndense: pipeline / kestrane %.1f; regex / kestrane per byte %.1f" % (
        ratio("dense", "pipeline", "kestrane"),
        (median("slice", "regex") / os.path.getsize(logs["slice"]))
        / (median("dense", "kestrane") / os.path.getsize(logs["dense"]))))
    if args.before:
        print("before / kestrane: " + ", ".join(
            "%s %.2f" % (p, ratio(p, "before", "kestrane"))
            for p in ("dense", "sparse", "longline", "example")))
    print("\n%-50s %9s  %s" % ("target", "measured", "met"))
    failed = 0
    for name, value, limit, relation in checks:
        met = {"<=": value <= limit, "<": value < limit, ">=": value >= limit}[relation]
        failed += not met
        print("%-50s %9.2f  %s" % (name, value, "yes" if met else "NO"))
    for name, ok in [("dense: pipeline list equals kestrane's", same("dense.pipeline", "dense.kestrane")),
                     ("dense: --strict list equals kestrane's", same("dense.strict", "dense.kestrane")),
                     ("sparse: pipeline list equals kestrane's",
                      same("sparse.pipeline", "sparse.kestrane")),
                     ("slice: regex list equals kestrane's", same("slice.regex", "slice.kestrane")),
                     ("longline: the one entry is right", long_entry_ok),
                     ("1 GiB line: no entry", os.path.getsize(out("binary.kestrane")) == 0)]:
        failed += not ok
        print("%-50s %9s  %s" % (name, "", "yes" if ok else "NO"))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())

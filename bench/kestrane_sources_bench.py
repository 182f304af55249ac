#!/usr/bin/env python3
"""Times kestrane_sources() alone, on a project whose log names many files.

  kestrane_sources_bench.py --tool KESTRANE [--module Kestrane.cmake]
                            [--files 100000,400000] [--folders 1000] [--runs 3]
                            [--work DIR]

For each number of files it makes a tree of that many empty .c files in
--folders folders, a log that names them all, and a project that does nothing
but call kestrane_sources() on it (LANGUAGES NONE, Ninja). It then times the
first configure, in a new build folder, and a reconfigure of that folder,
each --runs times, and reports the median wall time and the largest peak
resident size of cmake and its children (/usr/bin/time). --module names the
Kestrane.cmake to take (this tree's by default), so that an earlier one can
be timed with its own kestrane beside this one. The work folder, removed at
the end, needs about 100 MB for 400,000 files.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def make_project(folder, files, folders, module):
    tree = os.path.join(folder, "tree")
    with open(os.path.join(folder, "build.log"), "w") as log:
        for i in range(files):
            sub = "Source/Module%04d" % (i % folders)
            os.makedirs(os.path.join(tree, sub), exist_ok=True)
            name = "%s/file_%06d" % (sub, i)
            open(os.path.join(tree, name + ".c"), "w").close()
            log.write("%d> Compiling ..\\..\\%s.c ...\r\n" % (i % 8 + 1, name.replace("/", "\\")))
    with open(os.path.join(folder, "CMakeLists.txt"), "w") as f:
        f.write("cmake_minimum_required(VERSION 3.25)\nproject(bench LANGUAGES NONE)\n"
                "include(%s)\n" % module +
                'kestrane_sources(sources LOG build.log ROOT "${CMAKE_CURRENT_SOURCE_DIR}/tree")\n'
                "list(LENGTH sources count)\nmessage(STATUS \"listed ${count}\")\n")


def timed(command):
    """Wall seconds and peak resident KiB of `command` and its children."""
    proc = subprocess.run(["/usr/bin/time", "-f", "%e %M", *command], stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, text=True, check=True)
    seconds, kib = proc.stderr.strip().splitlines()[-1].split()
    return float(seconds), int(kib)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tool", required=True)
    parser.add_argument("--module", default=os.path.join(HERE, "..", "cmake", "Kestrane.cmake"))
    parser.add_argument("--files", default="100000,400000")
    parser.add_argument("--folders", type=int, default=1000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--work")
    args = parser.parse_args()
    work = args.work or tempfile.mkdtemp(prefix="kestrane-sources-bench-")
    try:
        for files in (int(n) for n in args.files.split(",")):
            project = os.path.join(work, "p%d" % files)
            os.makedirs(project, exist_ok=True)
            make_project(project, files, args.folders, os.path.abspath(args.module))
            first, again, peak = [], [], 0
            for run in range(args.runs):
                build = os.path.join(project, "build")
                shutil.rmtree(build, ignore_errors=True)
                configure = ["cmake", "-S", project, "-B", build, "-G", "Ninja",
                             "-DKESTRANE_EXECUTABLE=" + os.path.abspath(args.tool)]
                for times in (first, again):
                    seconds, kib = timed(configure)
                    times.append(seconds)
                    peak = max(peak, kib)
            print("%d files in %d folders: first configure %.2f s, reconfigure %.2f s, "
                  "peak %.0f MiB" % (files, args.folders, statistics.median(first),
                                     statistics.median(again), peak / 1024))
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()

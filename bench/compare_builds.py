#!/usr/bin/env python3
"""Whole-run wall time of several okrelt builds side by side, for deciding
whether a change pays: the builds take turns, run after run, each in its own
scratch folder with a copy of the work unit. Prints each build's median and
its ratio to the first, and checks that all wrote the same sound file.

  compare_builds.py MEASURE_RUN WORK_UNIT NAME=OKRELT [NAME=OKRELT ...]"""

import os
import shutil
import statistics
import subprocess
import sys
import tempfile

RUNS = 31


def main():
    if len(sys.argv) < 4:
        raise SystemExit(__doc__)
    measure, unit = os.path.abspath(sys.argv[1]), sys.argv[2]
    builds = [(name, os.path.abspath(binary)) for name, binary in (a.split("=", 1) for a in sys.argv[3:])]
    scratch = tempfile.mkdtemp(prefix="okrelt-compare-")
    try:
        times = {name: [] for name, _ in builds}
        for name, _ in builds:
            os.mkdir(os.path.join(scratch, name))
            shutil.copy(unit, os.path.join(scratch, name, "work_unit.sah"))
        for turn in range(RUNS + 1):
            for name, binary in builds:
                out = subprocess.run([measure, os.path.join(scratch, name), binary], capture_output=True, text=True,
                                     check=True).stdout.split()
                if turn > 0:   # the first turn warms the page cache
                    times[name].append(float(out[0]))
        sounds = {open(os.path.join(scratch, name, "work_unit.wav"), "rb").read() for name, _ in builds}
        first = statistics.median(times[builds[0][0]])
        for name, _ in builds:
            median = statistics.median(times[name])
            print(f"{name:<24} median {median * 1000:7.2f} ms   {median / first:5.3f}")
        print("same sound file from every build:", "yes" if len(sounds) == 1 else "NO")
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Archive scale: okrelt -q -o FOLDER --files-from LIST over 20,000 and
100,000 tiny failing work units (each refused after its first line), so that
the time is planning, opening and reporting, not conversion. Prints the median
of several runs for each size and the time per unit, which stays the same
when planning grows in proportion to the number of units."""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile
import time


def run(okrelt, folder, units):
    started = time.perf_counter()
    result = subprocess.run([okrelt, "-q", "-o", "out", "--files-from", "list"], cwd=folder,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - started
    failed = result.stderr.count(b"\n")
    if result.returncode != 1 or failed != units:
        raise SystemExit(f"expected {units} failure lines and exit status 1, got {failed} and {result.returncode}")
    return elapsed


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--okrelt", required=True)
    parser.add_argument("--sizes", type=int, nargs="+", default=[20000, 100000])
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    okrelt = os.path.abspath(args.okrelt)
    scratch = tempfile.mkdtemp(prefix="okrelt-archive-")
    try:
        print(f"{'units':>8}{'median s':>10}{'us per unit':>13}")
        for size in args.sizes:
            folder = os.path.join(scratch, str(size))
            os.makedirs(os.path.join(folder, "units"))
            os.mkdir(os.path.join(folder, "out"))
            names = [f"units/{n:06d}.wu" for n in range(size)]
            for name in names:
                with open(os.path.join(folder, name), "w") as unit:
                    unit.write("type=wu\n")
            with open(os.path.join(folder, "list"), "w") as listing:
                listing.write("\n".join(names) + "\n")
            seconds = statistics.median(run(okrelt, folder, size) for _ in range(args.runs))
            print(f"{size:>8}{seconds:>10.2f}{seconds / size * 1e6:>13.1f}")
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()

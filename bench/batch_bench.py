#!/usr/bin/env python3
"""Batch throughput: okrelt -q on 64 units of 1048576 samples in one process
against 64 single runs of the same units, taken in turns. Prints the medians
per unit both ways, their ratio and each way's peak resident memory."""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile

from run_bench import run_once

UNITS = 64


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--measure", required=True, help="the measure-run helper")
    parser.add_argument("--okrelt", required=True)
    parser.add_argument("--make-wu", required=True)
    parser.add_argument("--turns", type=int, default=5)
    args = parser.parse_args()
    scratch = tempfile.mkdtemp(prefix="okrelt-batch-")
    try:
        units = [f"u{seed}.wu" for seed in range(1, UNITS + 1)]
        for seed, unit in enumerate(units, start=1):
            subprocess.run([args.make_wu, "--format", "later", "--seed", str(seed), "-o", os.path.join(scratch, unit)],
                           check=True, capture_output=True)
        os.mkdir(os.path.join(scratch, "out"))
        single, batch = [], []
        single_peak = batch_peak = 0
        for _ in range(args.turns + 1):   # the first turn warms the caches and is not counted
            total = 0.0
            for unit in units:
                seconds, peak = run_once(args.measure, [args.okrelt, "-q", "-o", "out", unit], scratch)
                total += seconds
                single_peak = max(single_peak, peak)
            seconds, peak = run_once(args.measure, [args.okrelt, "-q", "-o", "out"] + units, scratch)
            batch_peak = max(batch_peak, peak)
            single.append(total / UNITS)
            batch.append(seconds / UNITS)
        single, batch = single[1:], batch[1:]
        print(f"{UNITS} units of 1048576 samples, medians of {args.turns} turns")
        print(f"single runs: {statistics.median(single) * 1000:.1f} ms a unit, peak RSS {single_peak / 1024:.1f} MiB")
        print(f"one batch:   {statistics.median(batch) * 1000:.1f} ms a unit, peak RSS {batch_peak / 1024:.1f} MiB")
        print(f"batch / single runs: {statistics.median(batch) / statistics.median(single):.2f}")
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Whole-run wall time of okrelt beside the FFTW pipeline and the plain
transcription, measured side by side: the programs take turns, run after run,
each in its own scratch folder with a copy of the work unit, standard input
at its end. Prints medians, ratios to the FFTW pipeline and peak resident
memory, and checks that okrelt's sound file equals the plain one."""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile


def run_once(measure, binary, folder):
    result = subprocess.run([measure, folder, binary], capture_output=True, text=True)
    if result.returncode != 0:
        raise SystemExit(f"{binary} failed in {folder}")
    seconds, kibibytes = result.stdout.split()
    return float(seconds), int(kibibytes)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--measure", required=True, help="the measure-run helper")
    parser.add_argument("--okrelt", required=True)
    parser.add_argument("--fftw", required=True)
    parser.add_argument("--plain", required=True)
    parser.add_argument("--work-unit", required=True)
    parser.add_argument("--runs", type=int, default=21)
    parser.add_argument("--plain-runs", type=int, default=5)
    args = parser.parse_args()

    programs = [("okrelt", args.okrelt, args.runs), ("FFTW pipeline", args.fftw, args.runs),
                ("plain transcription", args.plain, args.plain_runs)]
    scratch = tempfile.mkdtemp(prefix="okrelt-bench-")
    try:
        folders = {}
        for name, binary, _ in programs:
            folder = os.path.join(scratch, name.split()[0])
            os.mkdir(folder)
            shutil.copy(args.work_unit, os.path.join(folder, "work_unit.sah"))
            folders[name] = folder
            run_once(args.measure, binary, folder)  # warm-up: page cache, twiddle pages
        times = {name: [] for name, _, _ in programs}
        memory = {name: 0 for name, _, _ in programs}
        for turn in range(args.runs):
            for name, binary, runs in programs:
                if turn < runs:
                    elapsed, rss = run_once(args.measure, binary, folders[name])
                    times[name].append(elapsed)
                    memory[name] = max(memory[name], rss)

        with open(os.path.join(folders["okrelt"], "work_unit.wav"), "rb") as fast, \
                open(os.path.join(folders["plain transcription"], "work_unit.wav"), "rb") as plain:
            identical = fast.read() == plain.read()

        fftw_median = statistics.median(times["FFTW pipeline"])
        print(f"work unit: {args.work_unit}")
        print(f"{'program':<22}{'runs':>6}{'median ms':>12}{'vs FFTW':>10}{'peak RSS MiB':>15}")
        for name, _, _ in programs:
            median = statistics.median(times[name])
            print(f"{name:<22}{len(times[name]):>6}{median * 1000:>12.1f}{median / fftw_median:>10.2f}"
                  f"{memory[name] / 1024:>15.1f}")
        print(f"okrelt's work_unit.wav equals the plain transcription's: {'yes' if identical else 'NO'}")
        if not identical:
            raise SystemExit(1)
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()

#!/usr/bin/env python3
"""Whole-run wall time of okrelt beside two FFTW pipelines and the plain
transcription, measured side by side: the programs take turns, run after run,
each in its own scratch folder with a copy of the work unit, standard input
at its end. Prints medians, ratios to the strongest FFTW pipeline (PATIENT
plans from wisdom, complex-to-real inverse) and peak resident memory, and
checks that okrelt's sound file equals the plain one. With --later-work-unit,
okrelt also converts a later-format unit in the same turns; with --waterfall,
okrelt-waterfall draws the work unit's picture in them too, and with --sox
sox draws its spectrogram of okrelt's sound file, the picture a user would
otherwise make. okrelt -q also
converts the later-format unit alone and with its SigMF and I/Q WAV exports,
for the exports' cost. With --search, okrelt-search -q searches the work unit
in the same turns as okrelt -q converts it, and their ratio is printed."""

import argparse
import os
import shutil
import statistics
import subprocess
import tempfile


def run_once(measure, command, folder):
    result = subprocess.run([measure, folder] + command, capture_output=True, text=True)
    if result.returncode != 0:
        raise SystemExit(f"{command[0]} failed in {folder}")
    seconds, kibibytes = result.stdout.split()
    return float(seconds), int(kibibytes)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--measure", required=True, help="the measure-run helper")
    parser.add_argument("--okrelt", required=True)
    parser.add_argument("--fftw", required=True, help="the FFTW_ESTIMATE pipeline")
    parser.add_argument("--fftw-c2r", required=True, help="the FFTW_PATIENT complex-to-real pipeline")
    parser.add_argument("--wisdom", required=True, help="the c2r pipeline's wisdom file, made beforehand")
    parser.add_argument("--plain", required=True)
    parser.add_argument("--work-unit", required=True)
    parser.add_argument("--later-work-unit", help="a later-format unit of the same count")
    parser.add_argument("--waterfall", help="okrelt-waterfall, timed beside okrelt")
    parser.add_argument("--sox", help="sox, whose spectrogram is timed beside okrelt-waterfall")
    parser.add_argument("--search", help="okrelt-search, timed beside okrelt -q's conversion of the work unit")
    parser.add_argument("--floor-probe", help="the arithmetic floor probe")
    parser.add_argument("--runs", type=int, default=21)
    parser.add_argument("--plain-runs", type=int, default=5)
    args = parser.parse_args()

    programs = [("okrelt", [args.okrelt], args.work_unit, args.runs),
                ("FFTW ESTIMATE", [args.fftw], args.work_unit, args.runs),
                ("FFTW PATIENT + c2r", [args.fftw_c2r, args.wisdom], args.work_unit, args.runs),
                ("plain transcription", [args.plain], args.work_unit, args.plain_runs)]
    if args.later_work_unit:
        programs.insert(1, ("okrelt, later format", [args.okrelt], args.later_work_unit, args.runs))
        programs.insert(2, ("okrelt -q", [args.okrelt, "-q", "work_unit.sah"], args.later_work_unit, args.runs))
        programs.insert(3, ("okrelt -q, exports", [args.okrelt, "-q", "--sigmf", "--iq-wav", "work_unit.sah"],
                            args.later_work_unit, args.runs))
    if args.search:
        programs.append(("okrelt -q, work unit", [args.okrelt, "-q", "work_unit.sah"], args.work_unit, args.runs))
        programs.append(("okrelt-search -q", [args.search, "-q", "work_unit.sah"], args.work_unit, args.runs))
    if args.waterfall:
        programs.append(("okrelt-waterfall", [args.waterfall], args.work_unit, args.runs))
    if args.waterfall and args.sox:
        programs.append(("sox spectrogram", [args.sox, "work_unit.wav", "-n", "spectrogram", "-x", "1000", "-y", "1025",
                                             "-o", "sox.png"], args.work_unit, args.runs))
    scratch = tempfile.mkdtemp(prefix="okrelt-bench-")
    try:
        folders = {}
        for number, (name, command, unit, _) in enumerate(programs):
            folder = os.path.join(scratch, str(number))
            os.mkdir(folder)
            shutil.copy(unit, os.path.join(folder, "work_unit.sah"))
            folders[name] = folder
            if name == "sox spectrogram":
                run_once(args.measure, [args.okrelt], folder)   # the sound file sox reads
            run_once(args.measure, command, folder)  # warm-up: page cache, twiddle pages
        times = {name: [] for name, _, _, _ in programs}
        memory = {name: 0 for name, _, _, _ in programs}
        for turn in range(args.runs):
            for name, command, _, runs in programs:
                if turn < runs:
                    elapsed, rss = run_once(args.measure, command, folders[name])
                    times[name].append(elapsed)
                    memory[name] = max(memory[name], rss)

        with open(os.path.join(folders["okrelt"], "work_unit.wav"), "rb") as fast, \
                open(os.path.join(folders["plain transcription"], "work_unit.wav"), "rb") as plain:
            identical = fast.read() == plain.read()

        strongest = statistics.median(times["FFTW PATIENT + c2r"])
        print(f"work unit: {args.work_unit}")
        print(f"{'program':<22}{'runs':>6}{'median ms':>12}{'vs strongest':>14}{'peak RSS MiB':>15}")
        for name, _, _, _ in programs:
            median = statistics.median(times[name])
            print(f"{name:<22}{len(times[name]):>6}{median * 1000:>12.1f}{median / strongest:>14.2f}"
                  f"{memory[name] / 1024:>15.1f}")
        if args.later_work_unit:
            ratio = statistics.median(times["okrelt -q, exports"]) / statistics.median(times["okrelt -q"])
            print(f"sound with SigMF and I/Q WAV / sound alone: {ratio:.2f}")
        if args.search:
            # Each turn's own ratio, so that a busy moment weighs on both sides alike.
            ratios = [s / c for s, c in zip(times["okrelt-search -q"], times["okrelt -q, work unit"])]
            print(f"okrelt-search -q / okrelt -q on the work unit: {statistics.median(ratios):.2f} "
                  f"(median of {len(ratios)} turns' ratios)")
        if args.waterfall:
            ratio = statistics.median(times["okrelt-waterfall"]) / statistics.median(times["okrelt"])
            print(f"okrelt-waterfall / okrelt: {ratio:.2f}")
        if args.waterfall and args.sox:
            ratio = statistics.median(times["okrelt-waterfall"]) / statistics.median(times["sox spectrogram"])
            print(f"okrelt-waterfall / sox spectrogram: {ratio:.2f}")
        if args.floor_probe:
            floor_ms, butterflies, path = subprocess.run([args.floor_probe, args.work_unit], capture_output=True,
                                                         text=True, check=True).stdout.split()[-3:]
            okrelt_ms = statistics.median(times["okrelt"]) * 1000
            print(f"arithmetic floor ({int(butterflies) / 1e6:.1f} million butterflies, {path}, in L1 cache): "
                  f"{float(floor_ms):.1f} ms; okrelt's whole run is {okrelt_ms / float(floor_ms):.1f} times it")
        print(f"okrelt's work_unit.wav equals the plain transcription's: {'yes' if identical else 'NO'}")
        if not identical:
            raise SystemExit(1)
    finally:
        shutil.rmtree(scratch)


if __name__ == "__main__":
    main()

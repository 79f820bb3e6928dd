#!/usr/bin/env python3
"""Detection of drifting tones by okrelt-search, measured against an observer
who knows each tone's exact path.

Makes later-format units (2-bit and 4-bit, in turns) with okrelt-make-wu,
each holding one tone of random start frequency (its whole path clear of the
blanked centre bins), random drift (uniform within +-MAX_DRIFT Hz/s) and an
amplitude drawn log-uniformly between --amp-low and --amp-high. The observer
decodes each unit itself (okrelt --sigmf gives the samples as complex64),
forms power spectrograms of the search's resolution (FFT points a row, whole
rows only) with a rectangular and with a Hann window, sums the power along
the tone's exact path (per row the bin its frequency at the row's middle
falls in) and normalises as the search does: (sum - median of the zero-drift
column sums) / deviation of those sums between their 5th and 95th
percentiles. The observer's SNR is the larger of the two windows'.

okrelt-search -q --csv then searches the same units; a tone is found when a
hit lies within 2 bins of its start frequency and 2 drift steps of its
drift. Noise-only units (amplitude 0) count the false hits.

Prints the detection rate among tones the observer measures at
SNR >= 1.25 x threshold, with a 95 % interval, the tones missed, the
window's and the grid's losses, and the false hits per unit. Optionally
writes every tone's figures as CSV."""

import argparse
import csv
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time

try:
    import numpy as np
except ImportError:
    sys.exit("search_detection.py needs numpy (Debian: python3-numpy, run by /usr/bin/python3)")

RATE = 9765.625          # the units' sample rate, Hz (okrelt-make-wu's default)
FFT = 8192               # the search's transform (its default)
THRESHOLD = 10.0         # the search's default SNR threshold
CRITERION = 1.25         # tones the observer measures at this times the threshold or more count
MAX_DRIFT = 8.0          # Hz/s, either sign
MATCH_BINS = 2
MATCH_STEPS = 2
CENTRE_CLEAR_HZ = 6.0    # a path keeps this far from 0 Hz, clear of the blanked bins
TRIM_LOW, TRIM_HIGH = 0.05, 0.95
CENTRE_BESIDE_BINS = 2
DRIFT_BANDS = ((0, 0.5), (0.5, 1), (1, 2), (2, 4), (4, 6), (6, 8.01))   # Hz/s, for the losses by drift
BATCH = 16               # units made, decoded and searched at a time


def spectrogram(samples, window):
    """rows x FFT power, columns in sky order (0 Hz at FFT/2), centre bins blanked as the search does."""
    rows = samples.size // FFT
    x = samples[: rows * FFT].astype(np.complex128).reshape(rows, FFT)
    if window == "hann":
        w = 0.5 - 0.5 * np.cos(2.0 * np.pi * np.arange(FFT) / FFT)
        x = x * w
    p = np.abs(np.fft.fftshift(np.fft.fft(x, axis=1), axes=1)) ** 2
    p = p.astype(np.float32)
    centre = FFT // 2
    reach = 1 if window == "hann" else 0
    beside_idx = [centre - reach - b for b in range(1, CENTRE_BESIDE_BINS + 1)] + \
                 [centre + reach + b for b in range(1, CENTRE_BESIDE_BINS + 1)]
    beside = p[:, beside_idx].astype(np.float64).mean(axis=1).astype(np.float32)
    for c in range(centre - reach, centre + reach + 1):
        p[:, c] = beside
    return p


def noise_statistics(p):
    sums = np.sort(p.astype(np.float64).sum(axis=0))
    n = sums.size
    median = sums[n // 2] if n % 2 == 1 else 0.5 * (sums[n // 2 - 1] + sums[n // 2])
    low = int(TRIM_LOW * n)
    high = int(math.ceil(TRIM_HIGH * n))
    trimmed = sums[low:high]
    return median, float(np.sqrt(np.mean((trimmed - trimmed.mean()) ** 2)))


def path_columns(f0, drift, rows):
    """Per row, the column the tone's frequency at the row's middle falls in."""
    bin_hz = RATE / FFT
    t = (np.arange(rows) * FFT + FFT / 2.0) / RATE
    f = f0 + drift * t
    return (np.rint(f / bin_hz).astype(np.int64) + FFT // 2) % FFT


def observer_snr(samples, f0, drift):
    rows = samples.size // FFT
    cols = path_columns(f0, drift, rows)
    out = {}
    for window in ("rect", "hann"):
        p = spectrogram(samples, window)
        median, deviation = noise_statistics(p)
        total = float(p[np.arange(rows), cols].astype(np.float64).sum())
        out[window] = (total - median) / deviation
    return out


def draw_tone(rng, samples):
    """A start frequency whose whole path stays in the band's interior, clear of 0 Hz."""
    duration = samples / RATE
    drift = rng.uniform(-MAX_DRIFT, MAX_DRIFT)
    while True:
        f0 = rng.uniform(-RATE / 2, RATE / 2)
        f1 = f0 + drift * duration
        lo, hi = min(f0, f1), max(f0, f1)
        if lo <= -CENTRE_CLEAR_HZ and hi >= CENTRE_CLEAR_HZ:
            continue   # crosses 0 Hz
        if min(abs(lo), abs(hi)) < CENTRE_CLEAR_HZ:
            continue
        if lo < -RATE / 2 + 2 or hi > RATE / 2 - 2:
            continue   # keep off the band's edge (the search wraps; the observer would too, but keep it plain)
        return f0, drift


def make_unit(args, path, bits, seed, tone_hz, drift, amplitude):
    subprocess.run([args.make_wu, "-o", path, "--format", "later", "--bits", str(bits), "--samples",
                    str(args.samples), "--seed", str(seed), "--tone", repr(tone_hz), "--drift", repr(drift),
                    "--amplitude", repr(amplitude)], check=True, capture_output=True)


def search(args, units, scratch):
    """Hits per unit name: (offset Hz, drift Hz/s, SNR) from okrelt-search's CSV."""
    table = os.path.join(scratch, "hits.csv")
    if os.path.exists(table):
        os.remove(table)
    run = subprocess.run([args.search, "-q", "-o", scratch, "--snr", str(THRESHOLD), "--csv", table, "--"] + units,
                         capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"okrelt-search failed: {run.stderr}")
    hits = {unit: [] for unit in units}
    with open(table, newline="") as f:
        for row in csv.DictReader(f):
            hits[row["unit"]].append((float(row["offset_hz"]), float(row["drift_hz_s"]), float(row["snr"])))
    return hits


def matched(hits, f0, drift, drift_step):
    bin_hz = RATE / FFT
    best = None
    for offset, rate, snr in hits:
        df = (offset - f0 + RATE / 2) % RATE - RATE / 2
        if abs(df) <= MATCH_BINS * bin_hz and abs(rate - drift) <= MATCH_STEPS * drift_step:
            if best is None or snr > best[2]:
                best = (offset, rate, snr)
    return best


def wilson(k, n, z=1.96):
    if n == 0:
        return (float("nan"), float("nan"))
    p = k / n
    d = 1 + z * z / n
    c = (p + z * z / (2 * n)) / d
    h = z * math.sqrt(p * (1 - p) / n + z * z / (4 * n * n)) / d
    return (c - h, c + h)


def poisson_upper(k, confidence=0.95):
    """One-sided upper bound on a Poisson mean after k events."""
    lo, hi = 0.0, 10.0 + 10.0 * k
    for _ in range(100):
        mid = (lo + hi) / 2
        cdf = sum(math.exp(-mid) * mid ** i / math.factorial(i) for i in range(k + 1))
        if cdf > 1 - confidence:
            lo = mid
        else:
            hi = mid
    return hi


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--make-wu", required=True, help="okrelt-make-wu")
    parser.add_argument("--okrelt", required=True, help="okrelt (decodes the units to SigMF)")
    parser.add_argument("--search", required=True, help="okrelt-search")
    parser.add_argument("--tones", type=int, default=20, help="units with a tone (default 20)")
    parser.add_argument("--noise-units", type=int, default=10, help="noise-only units (default 10)")
    parser.add_argument("--samples", type=int, default=1048576, help="samples a unit (default 1048576)")
    parser.add_argument("--amp-low", type=float, default=0.012, help="smallest tone amplitude (default 0.012)")
    parser.add_argument("--amp-high", type=float, default=0.04, help="largest tone amplitude (default 0.04)")
    parser.add_argument("--seed", type=int, default=20261209, help="draws the tones and the units' seeds")
    parser.add_argument("--csv", help="write every tone's figures here")
    args = parser.parse_args()

    rng = np.random.default_rng(args.seed)
    rows = args.samples // FFT
    padded = 1 << (rows - 1).bit_length()
    drift_step = (RATE / FFT) / ((padded - 1) * FFT / RATE)
    scratch = tempfile.mkdtemp(prefix="okrelt-detect-")
    started = time.monotonic()
    tones = []
    try:
        for first in range(0, args.tones, BATCH):
            batch = []
            for i in range(first, min(first + BATCH, args.tones)):
                bits = 2 if i % 2 == 0 else 4
                f0, drift = draw_tone(rng, args.samples)
                amplitude = math.exp(rng.uniform(math.log(args.amp_low), math.log(args.amp_high)))
                seed = int(rng.integers(1, 2 ** 62))
                unit = os.path.join(scratch, f"t{i}.wu")
                make_unit(args, unit, bits, seed, f0, drift, amplitude)
                batch.append(dict(unit=unit, bits=bits, f0=f0, drift=drift, amplitude=amplitude, seed=seed))
            units = [t["unit"] for t in batch]
            subprocess.run([args.okrelt, "-q", "--sigmf", "--no-sound", "-o", scratch, "--"] + units,
                           check=True, capture_output=True)
            hits = search(args, units, scratch)
            for t in batch:
                data = t["unit"][:-3] + ".sigmf-data"
                samples = np.fromfile(data, dtype=np.complex64)
                snr = observer_snr(samples, t["f0"], t["drift"])
                t["snr_rect"], t["snr_hann"] = snr["rect"], snr["hann"]
                t["observer"] = max(snr["rect"], snr["hann"])
                t["hit"] = matched(hits[t["unit"]], t["f0"], t["drift"], drift_step)
                t["hits"] = hits[t["unit"]]
                for name in (t["unit"], data, t["unit"][:-3] + ".sigmf-meta", t["unit"][:-3] + ".dat"):
                    if os.path.exists(name):
                        os.remove(name)
                tones.append(t)
        tone_seconds = time.monotonic() - started

        false_hits = 0
        noisy_units = []
        for first in range(0, args.noise_units, BATCH):
            units = []
            for i in range(first, min(first + BATCH, args.noise_units)):
                unit = os.path.join(scratch, f"n{i}.wu")
                make_unit(args, unit, 2 if i % 2 == 0 else 4, int(rng.integers(1, 2 ** 62)), 1000.0, 0.0, 0.0)
                units.append(unit)
            hits = search(args, units, scratch)
            for unit in units:
                if hits[unit]:
                    false_hits += len(hits[unit])
                    noisy_units.append((os.path.basename(unit), hits[unit]))
                for name in (unit, unit[:-3] + ".dat"):
                    if os.path.exists(name):
                        os.remove(name)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    seconds = time.monotonic() - started

    if args.csv:
        with open(args.csv, "w", newline="") as f:
            w = csv.writer(f)
            w.writerow(["bits", "f0_hz", "drift_hz_s", "amplitude", "observer_snr_rect", "observer_snr_hann",
                        "found", "hit_offset_hz", "hit_drift_hz_s", "hit_snr", "hits_in_unit", "seed"])
            for t in tones:
                h = t["hit"]
                w.writerow([t["bits"], f"{t['f0']:.4f}", f"{t['drift']:.5f}", f"{t['amplitude']:.5f}",
                            f"{t['snr_rect']:.3f}", f"{t['snr_hann']:.3f}", int(h is not None),
                            f"{h[0]:.4f}" if h else "", f"{h[1]:.5f}" if h else "", f"{h[2]:.3f}" if h else "",
                            len(t["hits"]), t["seed"]])

    print(f"{args.tones} tone units and {args.noise_units} noise-only units of {args.samples} samples "
          f"({rows} rows of {FFT} points, drift step {drift_step:.5f} Hz/s), seed {args.seed}; "
          f"{seconds:.0f} s ({tone_seconds:.0f} s for the tones)")
    level = CRITERION * THRESHOLD
    for bits in (None, 2, 4):
        chosen = [t for t in tones if t["observer"] >= level and (bits is None or t["bits"] == bits)]
        found = sum(1 for t in chosen if t["hit"] is not None)
        lo, hi = wilson(found, len(chosen))
        label = "all" if bits is None else f"{bits}-bit"
        rate = 100.0 * found / len(chosen) if chosen else float("nan")
        print(f"  observer SNR >= {level:g}, {label}: found {found} of {len(chosen)} = {rate:.1f} % "
              f"(95 % interval {100 * lo:.1f} to {100 * hi:.1f} %)")
    for low, high in ((0, 5), (5, 10), (10, 12.5), (12.5, 15), (15, 20), (20, 30), (30, 1e9)):
        band = [t for t in tones if low <= t["observer"] < high]
        if band:
            found = sum(1 for t in band if t["hit"] is not None)
            print(f"  observer SNR {low:g} to {high:g}: found {found} of {len(band)}")
    missed = [t for t in tones if t["observer"] >= level and t["hit"] is None]
    for t in sorted(missed, key=lambda t: -t["observer"]):
        print(f"  missed: {t['bits']}-bit, start {t['f0']:.2f} Hz, drift {t['drift']:+.4f} Hz/s, amplitude "
              f"{t['amplitude']:.4f}, seed {t['seed']}, observer SNR rect {t['snr_rect']:.2f} Hann {t['snr_hann']:.2f}; "
              f"hits elsewhere: " + ("; ".join(f"{o:.2f} Hz {d:+.4f} Hz/s SNR {s:.2f}" for o, d, s in t["hits"])
                                     or "none"))
    ratios_window = np.array([t["snr_hann"] / t["snr_rect"] for t in tones if t["snr_rect"] >= level])
    ratios_grid = np.array([t["hit"][2] / t["snr_hann"] for t in tones
                            if t["hit"] is not None and t["snr_hann"] >= level])
    if ratios_window.size:
        print(f"  window: observer's Hann SNR / rectangular SNR, median {np.median(ratios_window):.3f} "
              f"(quartiles {np.percentile(ratios_window, 25):.3f}, {np.percentile(ratios_window, 75):.3f}; "
              f"{ratios_window.size} tones); Hann the stronger for "
              f"{sum(1 for t in tones if t['observer'] >= level and t['snr_hann'] >= t['snr_rect'])} of "
              f"{sum(1 for t in tones if t['observer'] >= level)}")
    if ratios_grid.size:
        print(f"  grid and tree: search's SNR / observer's Hann SNR on the exact path, median "
              f"{np.median(ratios_grid):.3f} (quartiles {np.percentile(ratios_grid, 25):.3f}, "
              f"{np.percentile(ratios_grid, 75):.3f}; min {ratios_grid.min():.3f}; {ratios_grid.size} tones)")
    print("  by drift, tones at observer SNR >= %g: |drift| Hz/s, Hann/rect SNR (observer), search/observer's Hann SNR,"
          " search/observer SNR (medians), found" % level)
    for low, high in DRIFT_BANDS:
        band = [t for t in tones if low <= abs(t["drift"]) < high and t["observer"] >= level]
        if not band:
            continue
        window = [t["snr_hann"] / t["snr_rect"] for t in band if t["snr_rect"] >= level]
        grid = [t["hit"][2] / t["snr_hann"] for t in band if t["hit"] is not None and t["snr_hann"] >= level]
        whole = [t["hit"][2] / t["observer"] for t in band if t["hit"] is not None]
        found = sum(1 for t in band if t["hit"] is not None)
        print(f"    {low:g} to {high:g}: {np.median(window) if window else float('nan'):.3f}, "
              f"{np.median(grid) if grid else float('nan'):.3f}, {np.median(whole) if whole else float('nan'):.3f}, "
              f"{found} of {len(band)}")
    hann_over = [t for t in tones if t["snr_hann"] >= level]
    print(f"  observer's Hann SNR >= {level:g}: found {sum(1 for t in hann_over if t['hit'] is not None)} "
          f"of {len(hann_over)}")
    per_unit = false_hits / args.noise_units if args.noise_units else float("nan")
    print(f"  false hits: {false_hits} over {args.noise_units} noise-only units = {per_unit:.4f} a unit "
          f"(95 % upper bound {poisson_upper(false_hits) / max(args.noise_units, 1):.4f} a unit)")
    for name, hits in noisy_units:
        print(f"    {name}: " + "; ".join(f"{o:.2f} Hz {d:+.4f} Hz/s SNR {s:.2f}" for o, d, s in hits))
    return 0


if __name__ == "__main__":
    sys.exit(main())

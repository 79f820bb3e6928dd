#!/usr/bin/env bash
# Builds the fuzz target (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs it for the given number of seconds (default 60), starting from the
# seed corpus. New inputs collect in build/fuzz/corpus, crashes in
# build/fuzz/findings; the repository's seed corpus is left unchanged.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

cmake --preset fuzz > /dev/null
cmake --build --preset fuzz --target fuzz_work_unit > /dev/null

work="$PWD/build/fuzz"
mkdir -p "$work/corpus" "$work/findings" "$work/scratch"
target="$work/fuzz/fuzz_work_unit"

# The converter writes work_unit.wav into the current folder. A declared
# count of 2^31 - 1 makes the reader reserve 2 x 2 GiB of untouched
# zero-filled memory, which is what the program does too: allow it, but keep
# the resident limit.
cd "$work/scratch"
# The target of the soft-link seed.
cp "$OLDPWD/fuzz/corpus/later_2bit_small.sah" unit.wu
"$target" "$work/corpus" "$OLDPWD/fuzz/corpus" \
  -max_total_time="$seconds" -max_len=65536 -timeout=10 \
  -rss_limit_mb=3072 -malloc_limit_mb=4200 \
  -dict="$OLDPWD/fuzz/work_unit.dict" \
  -artifact_prefix="$work/findings/" -print_final_stats=1

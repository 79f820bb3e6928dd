#!/usr/bin/env bash
# Line and branch coverage of the program's sources by a fuzz corpus: builds
# the fuzz target with clang's source-based coverage (no sanitizers), runs
# every input of the given folders once (default: the seed corpus and the
# working corpus of run_fuzz.sh) and prints llvm-cov's report.
set -euo pipefail
cd "$(dirname "$0")/.."
top="$PWD"
work="$top/build/fuzz-coverage"
flags="-fprofile-instr-generate -fcoverage-mapping"

cmake -S . -B "$work" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DOKRELT_BUILD_TESTS=OFF -DOKRELT_BUILD_FUZZ=ON \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" > /dev/null
cmake --build "$work" --target fuzz_work_unit -j 2 > /dev/null

folders=("$@")
[ "${#folders[@]}" -gt 0 ] || folders=("$top/fuzz/corpus" "$top/build/fuzz/corpus")
mkdir -p "$work/scratch"
rm -f "$work"/*.profraw
(cd "$work/scratch" &&
  LLVM_PROFILE_FILE="$work/%p.profraw" "$work/fuzz/fuzz_work_unit" -runs=0 "${folders[@]}" > /dev/null 2>&1)
llvm-profdata merge -sparse "$work"/*.profraw -o "$work/corpus.profdata"
llvm-cov report "$work/fuzz/fuzz_work_unit" -instr-profile="$work/corpus.profdata" \
  "$top/workunit" "$top/audio" "$top/report" "$top/app/driver.cpp"

#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz and runs each for a bounded time, merging the inputs that reach new code into
# fuzz/corpus/<target>/.  A crash leaves its input in build-fuzz/artifacts/<target>/ and makes
# the script exit non-zero.
#   fuzz/run.sh [seconds per target (default 60)] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(startup emulator stringmatch ipaddress nodeloader spireply)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DNETLOC_FUZZ=ON -DNETLOC_SANITIZE=ON >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target $(printf 'fuzz_%s ' "${targets[@]}")

# Largest input worth trying per target (the rest of an input is never read).
declare -A max_len=([startup]=1700 [emulator]=600 [stringmatch]=140 [ipaddress]=32
                    [nodeloader]=4096 [spireply]=900)
failed=0
for t in "${targets[@]}"; do
  corpus=fuzz/corpus/$t
  found=build-fuzz/found/$t
  artifacts=build-fuzz/artifacts/$t
  mkdir -p "$corpus" "$found" "$artifacts"
  echo "== $t: ${seconds}s"
  if ! build-fuzz/bin/fuzz_"$t" -max_total_time="$seconds" -max_len="${max_len[$t]}" \
       -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$artifacts/" "$found" "$corpus" 2>"build-fuzz/$t.log"; then
    echo "!! $t: crash, see build-fuzz/$t.log and $artifacts/"
    tail -n 40 "build-fuzz/$t.log"
    failed=1
  fi
  grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::new_units_added)' \
    "build-fuzz/$t.log" || true
  before=$(ls "$corpus" | wc -l)
  build-fuzz/bin/fuzz_"$t" -merge=1 -max_len="${max_len[$t]}" "$corpus" "$found" \
    >/dev/null 2>&1 || true
  echo "   corpus $corpus: $before -> $(ls "$corpus" | wc -l) inputs"
done
exit $failed

#!/usr/bin/env bash
# Runs the benchmarks side by side and prints their figures (bench/README.md explains them).
#   bench/run.sh [report] [store] [listing] [growth]     (default: all four)
# Needs the Debian packages of scripts/setup.sh (hyperfine, lmdb-utils, libbenchmark-dev).
# Files go to build-bench/ (BENCH_DIR=build-bench/benchdata, on the disk of the work tree).
set -euo pipefail
cd "$(dirname "$0")/.."
parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(report store listing growth)

out=build-bench
data=$(pwd)/$out/benchdata
export BENCH_DIR=$data
mkdir -p "$data"

build() {
  cmake -S . -B $out -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build $out -j"$(nproc)" --target netloc platform >/dev/null
  local flags=(-std=c++20 -O2 -I. $(pkg-config --cflags lmdb tomlplusplus))
  local libs=($out/libplatform.a $(pkg-config --libs lmdb tomlplusplus))
  g++ "${flags[@]}" bench/store_bench.cpp "${libs[@]}" -lbenchmark -lpthread -o $out/store_bench
  g++ "${flags[@]}" bench/dbtool.cpp "${libs[@]}" -o $out/dbtool
  g++ -O2 bench/trivial.cpp -o $out/trivial
}

# A node whose process sits at a Telnet window of the system Telnet server; its volume is dir.
write_node() {
  cat >"$2" <<TOML
[node]
name = '\BENCH'
[[volume]]
name = "\$DATA"
dir = "$1"
[self]
cpu = 1
pin = 201
program = '\$DATA.NETLOC.NETLOC'
home_terminal = '\$ZTN0.#PTY1'
[[process]]
name = "\$ZTN0"
program = '\$SYSTEM.SYS01.TELSERV'
[[destination]]
name = "\$ZTN0"
device_type = 46
terminal = [ { name = "#PTY1", address = "192.0.2.17", port = 50123 } ]
[hosts]
"192.0.2.17" = "ws17.bench.example"
TOML
}

# Times of a hyperfine CSV export (mean, median, fastest), with the ratio of each command's
# median to the first command's: the median is the figure least moved by a busy machine.
ratios() {
  awk -F, 'NR == 1 { next }
           NR == 2 { base = $4 }
           { printf "  %-58s mean %8.2f ms  median %8.2f ms  min %8.2f ms  %5.2fx\n", $1, $2 * 1000, $4 * 1000, $7 * 1000, $4 / base }' "$1"
}

bench_report() {
  echo "== (a) report run in SPI mode against a trivial C++ program and who -m"
  write_node "$data/report" "$data/report.toml"
  NETLOC_NODE=$data/report.toml $out/bin/netloc SPI
  NETLOC_NODE=$data/report.toml hyperfine -N --warmup 20 --runs 300 --style basic \
    --export-csv $out/report.csv "$out/trivial" "$out/bin/netloc SPI" "who -m" >/dev/null
  ratios $out/report.csv
}

bench_store() {
  echo "== (b) PLAIN store: the platform's file work (Google Benchmark), durable commits"
  $out/store_bench --benchmark_counters_tabular=true 2>/dev/null
  echo "== (b) PLAIN store: the whole program (hyperfine), one store and 8 at once"
  write_node "$data/plain" "$data/plain.toml"
  export NETLOC_NODE=$data/plain.toml
  $out/bin/netloc PLAIN SPI  # first store: creates the pair (after its 5-second look again)
  hyperfine -N --warmup 5 --runs 100 --style basic --export-csv $out/plain.csv \
    "$out/trivial" "$out/bin/netloc PLAIN SPI" >/dev/null
  ratios $out/plain.csv
  local n=160
  hyperfine --warmup 1 --runs 5 --style basic --export-csv $out/plain8.csv \
    "seq $n | xargs -P 8 -I{} $out/bin/netloc PLAIN SPI" >/dev/null
  awk -F, -v n=$n 'NR == 2 { printf "  8 programs at once: %d stores in %.0f ms (median of 5): %.0f stores/s\n", n, $4 * 1000, n / $4 }' $out/plain8.csv
  unset NETLOC_NODE
}

bench_listing() {
  echo "== (c) listing 100,000 records of one prefix against mdb_dump of a copy of the file"
  rm -rf "$data/list"
  $out/dbtool fill "$data/list" 100000
  cp "$data/list/NETLOC/TERMIPA0" "$data/list-copy.mdb"
  write_node "$data/list" "$data/list.toml"
  local lines
  lines=$(NETLOC_NODE=$data/list.toml $out/bin/netloc 'IS $ZTN0.#P' | wc -l)
  echo "  the listing writes $lines lines"
  NETLOC_NODE=$data/list.toml hyperfine -N --warmup 2 --runs 10 --style basic \
    --export-csv $out/listing.csv "mdb_dump -n -s records $data/list-copy.mdb" \
    "$out/bin/netloc 'IS \$ZTN0.#P'" >/dev/null
  ratios $out/listing.csv
}

bench_growth() {
  echo "== (d) store time as the file grows from empty to full (durable stores on disk)"
  $out/dbtool growth "$data/growth" 10000
}

echo "machine: $(nproc) cpus, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), kernel $(uname -r)"
echo "disk of $data: $(df -T "$data" | awk 'NR == 2 { print $2 }')"
build
for p in "${parts[@]}"; do "bench_$p"; done

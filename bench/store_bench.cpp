// The PLAIN store's file work, measured with Google Benchmark: one store alone (each store
// timed; the median is the counter median_us), eight processes storing at once (stores per
// second), and the floor under both, one fdatasync of a 4 KiB page on the same file system.
// Every commit is durable.  BENCH_DIR (default ./build-bench/benchdata) holds the files.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <vector>

#include "bench/benchdb.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string bench_dir() {
  const char* dir = std::getenv("BENCH_DIR");
  return std::filesystem::absolute(dir != nullptr ? dir : "build-bench/benchdata").string();
}

// A fresh database file under a name of its own; returns that name.
std::string fresh_database(const char* file) {
  const std::string dir = bench_dir() + "/store";
  std::filesystem::create_directories(dir + "/NETLOC");
  bench::install_node(dir, "");
  const std::string name = std::string("$DATA.NETLOC.") + file;
  std::filesystem::remove(dir + "/NETLOC/" + file);
  if (const nsk::INT error = bench::create_database(name)) {
    std::fprintf(stderr, "create %s: %d\n", name.c_str(), error);
    std::exit(2);
  }
  return name;
}

double median_us(std::vector<double> samples) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

void BM_Fdatasync4KiB(benchmark::State& state) {
  const std::string path = bench_dir() + "/fdatasync.probe";
  std::filesystem::create_directories(bench_dir());
  const int fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  char page[4096];
  std::memset(page, 'x', sizeof page);
  std::vector<double> samples;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (::pwrite(fd, page, sizeof page, 0) != sizeof page || ::fdatasync(fd) != 0) {
      state.SkipWithError("pwrite/fdatasync failed");
    }
    samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  ::close(fd);
  std::filesystem::remove(path);
  state.counters["median_us"] = median_us(samples);
}

void BM_PlainStoreAlone(benchmark::State& state) {
  const std::string name = fresh_database("ALONE");
  char record[bench::RECORD];
  long n = 0;
  std::vector<double> samples;
  for (auto _ : state) {
    bench::make_record("\\BENCH.$ZTN0.#A", n++, record);
    const auto start = Clock::now();
    if (bench::store(name, record) != 0) state.SkipWithError("store failed");
    samples.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  state.counters["median_us"] = median_us(samples);
}

// Eight processes, each storing its own records for the same span; stores per second in all.
void BM_EightConcurrentStorers(benchmark::State& state) {
  constexpr int PROCESSES = 8;
  const int per_process = static_cast<int>(state.range(0));
  const std::string name = fresh_database("EIGHT");
  long total = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    std::vector<pid_t> children;
    for (int p = 0; p < PROCESSES; ++p) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        char record[bench::RECORD];
        int failures = 0;
        for (int i = 0; i < per_process; ++i) {
          bench::make_record("\\BENCH.$ZTN0.#C" + std::to_string(p) + "-",
                             total + i, record);
          if (bench::store(name, record) != 0) ++failures;
        }
        ::_exit(failures == 0 ? 0 : 1);
      }
      children.push_back(pid);
    }
    for (const pid_t pid : children) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) state.SkipWithError("a storer failed");
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    total += per_process;
  }
  state.counters["stores_per_s"] = benchmark::Counter(
      static_cast<double>(PROCESSES) * static_cast<double>(total), benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_Fdatasync4KiB)->Unit(benchmark::kMicrosecond)->MinTime(2.0);
BENCHMARK(BM_PlainStoreAlone)->Unit(benchmark::kMicrosecond)->MinTime(3.0);
BENCHMARK(BM_EightConcurrentStorers)->Arg(50)->UseManualTime()->Iterations(3)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();

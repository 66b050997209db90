// Database files for the benchmarks, made with the platform's key-sequenced file operations.
//   dbtool fill <dir> <count>   the pair <dir>/NETLOC/TERMIPA0 (count records of the terminal
//                               prefix \BENCH.$ZTN0.#P) and an empty TERMIPA1
//   dbtool growth <dir> [step]  store time against record count, from empty until the file is
//                               full: a table, one row per step records
// Filling happens on a memory volume (/dev/shm), so that reaching a level does not take one
// disk sync per record; each measurement copies the file to <dir> and times durable stores
// there, each a whole store (open, lock, position, read, insert, close).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <vector>

#include "bench/benchdb.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string memory_dir() { return "/dev/shm/netloc-bench-" + std::to_string(::getpid()); }

// Inserts records first..last-1 of prefix into name under one open and lock; the count
// inserted (fewer when full).  Scrambled, record n gets number n * 7919 mod 1000003 (a
// permutation), so that the keys land all over the file as terminals of many servers would,
// not each after the last.
long insert(const std::string& name, const std::string& prefix, long first, long last,
            bool scrambled, nsk::INT* error) {
  char record[bench::RECORD];
  nsk::INT f = -1;
  *error = nsk::FILE_OPEN_(name.data(), static_cast<nsk::INT>(name.size()), &f);
  if (*error != 0) return 0;
  nsk::LOCKFILE(f);
  long n = first;
  for (; n < last; ++n) {
    bench::make_record(prefix, scrambled ? n * 7919 % 1000003 : n, record);
    *error = nsk::WRITEX(f, record, bench::RECORD);
    if (*error != 0) break;
  }
  nsk::FILE_CLOSE_(f);
  return n - first;
}

int fill(const std::string& dir, long count) {
  const std::string mem = memory_dir();
  fs::create_directories(mem + "/NETLOC");
  fs::create_directories(dir + "/NETLOC");
  bench::install_node(dir, mem);
  nsk::INT error = bench::create_database("$SHM.NETLOC.TERMIPA0");
  if (error == 0) insert("$SHM.NETLOC.TERMIPA0", "\\BENCH.$ZTN0.#P", 0, count, false, &error);
  if (error != 0) {
    std::fprintf(stderr, "fill: error %d\n", error);
    return 1;
  }
  for (const char* file : {"TERMIPA0", "TERMIPA1"}) fs::remove(dir + "/NETLOC/" + file);
  fs::copy_file(mem + "/NETLOC/TERMIPA0", dir + "/NETLOC/TERMIPA0");
  fs::remove_all(mem);
  error = bench::create_database("$DATA.NETLOC.TERMIPA1");
  if (error != 0) std::fprintf(stderr, "fill: TERMIPA1: error %d\n", error);
  return error == 0 ? 0 : 1;
}

// Durable stores of fresh records into a disk copy of the memory file: the median and the
// slowest, in microseconds; *full when the copy is full.
void measure(const std::string& mem, const std::string& dir, long base, int samples,
             double* median, double* slowest, bool* full) {
  fs::remove(dir + "/NETLOC/GROWTH");
  fs::copy_file(mem + "/NETLOC/GROWTH", dir + "/NETLOC/GROWTH");
  // The copy reaches the disk first, so that no timed store's sync writes it out.
  const int fd = ::open((dir + "/NETLOC/GROWTH").c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  std::vector<double> us;
  char record[bench::RECORD];
  *full = false;
  for (int i = 0; i < samples; ++i) {
    bench::make_record("\\BENCH.$ZTN0.#M", base + i, record);
    const auto start = Clock::now();
    const nsk::INT error = bench::store("$DATA.NETLOC.GROWTH", record);
    const double t = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    if (error != 0) {
      *full = true;
      break;
    }
    us.push_back(t);
  }
  std::sort(us.begin(), us.end());
  *median = us.empty() ? 0 : us[us.size() / 2];
  *slowest = us.empty() ? 0 : us.back();
  fs::remove(dir + "/NETLOC/GROWTH");
}

int growth(const std::string& dir, long step) {
  constexpr int SAMPLES = 50;
  const std::string mem = memory_dir();
  fs::create_directories(mem + "/NETLOC");
  fs::create_directories(dir + "/NETLOC");
  bench::install_node(dir, mem);
  if (bench::create_database("$SHM.NETLOC.GROWTH") != 0) return 1;
  std::printf("| records in file | median store (us) | slowest of %d (us) | file size (MB) |\n",
              SAMPLES);
  std::printf("|---:|---:|---:|---:|\n");
  long count = 0;
  for (;;) {
    double median = 0, slowest = 0;
    bool full = false;
    measure(mem, dir, count, SAMPLES, &median, &slowest, &full);
    const double mb = static_cast<double>(fs::file_size(mem + "/NETLOC/GROWTH")) / 1e6;
    if (!full) std::printf("| %ld | %.0f | %.0f | %.1f |\n", count, median, slowest, mb);
    nsk::INT error = 0;
    count += insert("$SHM.NETLOC.GROWTH", "\\BENCH.$ZTN", count, count + step, true, &error);
    if (full || error != 0) {
      std::printf("\nfile full (error %d) at %ld records, %.1f MB\n", error, count, mb);
      break;
    }
  }
  fs::remove_all(mem);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 3 && args[0] == "fill") return fill(fs::absolute(args[1]), std::stol(args[2]));
  if ((args.size() == 2 || args.size() == 3) && args[0] == "growth") {
    return growth(fs::absolute(args[1]), args.size() == 3 ? std::stol(args[2]) : 10000);
  }
  std::fprintf(stderr, "usage: dbtool fill <dir> <count> | dbtool growth <dir> [step]\n");
  return 64;
}

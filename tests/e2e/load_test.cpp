// The address database under load: sixteen programs storing at once while the pair rotates,
// with every record accounted for afterwards, and stores killed with SIGKILL at random points,
// after which every committed record is there, the lock is free and the next store succeeds.
// Records are read back with netloc-dbdump.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <lmdb.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "dbfill.h"
#include "harness.h"

namespace {

namespace fs = std::filesystem;
using Names = std::set<std::string>;

constexpr int STORERS = 16;
constexpr int TERMINALS = 640;
const std::string FILL_PREFIX = "~FILL";

// Terminal #Tk of $ZTN0 is a window of the system Telnet server whose client is 10.2.x.y.
std::string node_text() {
  std::ostringstream t;
  t << "[node]\nname = '\\LOAD'\ntime_scale = 0.01\n"
       "[[volume]]\nname = \"$DATA\"\ndir = \"data\"\n"
       "[self]\ncpu = 1\npin = 201\nprogram = '$DATA.NETLOC.NETLOC'\n"
       "home_terminal = '$ZTN0.#T0'\n"
       "[[process]]\nname = \"$ZTN0\"\nprogram = '$SYSTEM.SYS01.TELSERV'\n"
       "[[destination]]\nname = \"$ZTN0\"\ndevice_type = 46\n";
  for (int k = 0; k < TERMINALS; ++k) {
    t << "[[destination.terminal]]\nname = \"#T" << k << "\"\naddress = \"10.2." << k / 256
      << "." << k % 256 << "\"\nport = 23\n";
  }
  t << "[hosts]\n";
  return t.str();
}

std::string terminal(int k) { return "$ZTN0.#T" + std::to_string(k); }

class Load : public ::testing::Test {
 protected:
  void SetUp() override {
    node_ = dir_.write("node.toml", node_text());
    fs::create_directories(dir_.path() + "/data/NETLOC");
  }

  std::string db(char generation) const {
    return dir_.path() + "/data/NETLOC/TERMIPA" + generation;
  }

  e2e::RunResult store(int k) const {
    return e2e::run("netloc", {"PLAIN", "SPI", terminal(k)}, node_);
  }

  // The terminals of the records of one file, fill records counted apart.
  Names dump(char generation, size_t* fill_records) const {
    const e2e::RunResult r = e2e::run("netloc-dbdump", {db(generation)});
    EXPECT_EQ(r.status, 0) << r.err;
    Names names;
    *fill_records = 0;
    for (const std::string& line : e2e::lines(r.out)) {
      if (line.rfind('#', 0) == 0) continue;  // the file's attributes, the count
      const std::string head = "terminal=\"";
      EXPECT_EQ(line.rfind(head, 0), 0u) << line;
      const std::string name = line.substr(head.size(), line.find('"', head.size()) - head.size());
      if (name.rfind(FILL_PREFIX, 0) == 0) {
        ++*fill_records;
      } else {
        EXPECT_TRUE(names.insert(name).second) << "twice in one file: " << name;
      }
    }
    return names;
  }

  // Fills the file to its maximum size with records whose names sort after every terminal's,
  // while no program runs; returns the count.
  size_t fill(char generation, int round) const {
    return e2e::fill_database(db(generation), FILL_PREFIX + std::to_string(round) + "-");
  }

  // STORERS programs at once, each storing its own terminals in turn (terminal first + s + k *
  // STORERS for storer s), per_storer stores each; the terminals whose store succeeded.
  Names load(int first, int per_storer) const {
    std::vector<Names> stored(STORERS);
    std::vector<std::string> failures(STORERS);
    std::vector<std::thread> threads;
    for (int s = 0; s < STORERS; ++s) {
      threads.emplace_back([&, s] {
        for (int k = 0; k < per_storer; ++k) {
          const int t = first + s + k * STORERS;
          const e2e::RunResult r = store(t);
          if (r.status == 0) {
            stored[s].insert("$ZTN0.#T" + std::to_string(t));
          } else {
            failures[s] += terminal(t) + ": " + std::to_string(r.status) + " " + r.err + "\n";
          }
        }
      });
    }
    for (std::thread& t : threads) t.join();
    Names all;
    for (int s = 0; s < STORERS; ++s) {
      EXPECT_EQ(failures[s], "");
      all.insert(stored[s].begin(), stored[s].end());
    }
    return all;
  }

  bool lock_is_free(char generation) const {
    const int fd = ::open(db(generation).c_str(), O_RDONLY | O_CLOEXEC);
    const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (fd >= 0) ::close(fd);
    return free;
  }

  e2e::TempDir dir_;
  std::string node_;
};

// Each round starts with a full current file, so its first store fails, rotates the pair
// under the load of the other fifteen and stores into the emptied previous file; the test
// then fills the new current file again.  A rotation purges the previous file, whose records
// the test knows from the round before.
TEST_F(Load, SixteenStorersWhileThePairRotates) {
  constexpr int ROUNDS = 3;
  constexpr int PER_STORER = 4;
  ASSERT_EQ(store(TERMINALS - 1).status, 0);  // creates the pair
  size_t fills[2] = {fill('1', 0), 0};
  Names previous_names;  // the previous file's terminals before the round
  Names current_names = {terminal(TERMINALS - 1)};
  fills[0] = fill('0', 0);
  for (int round = 1; round <= ROUNDS; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const Names stored = load((round - 1) * STORERS * PER_STORER, PER_STORER);
    EXPECT_EQ(stored.size(), static_cast<size_t>(STORERS * PER_STORER));

    // One rotation: the old current file, with its fill, is the previous file now; the
    // previous file's records (fills[1] fill records and previous_names) are purged.  A store
    // that found room in a page of the full file went in before the rotation, so this round's
    // stores are in either file, and nowhere twice.
    const size_t before = current_names.size() + fills[0] + previous_names.size() + fills[1];
    const size_t purged = previous_names.size() + fills[1];
    size_t current_fill = 0, previous_fill = 0;
    const Names now_current = dump('0', &current_fill);
    const Names now_previous = dump('1', &previous_fill);
    EXPECT_EQ(now_current.size() + current_fill + now_previous.size() + previous_fill,
              before - purged + stored.size());
    EXPECT_FALSE(now_current.empty());
    EXPECT_EQ(current_fill, 0u);
    EXPECT_EQ(previous_fill, fills[0]);
    for (const std::string& name : stored) {
      EXPECT_EQ(now_current.count(name) + now_previous.count(name), 1u) << name;
    }
    for (const std::string& name : now_current) EXPECT_EQ(stored.count(name), 1u) << name;
    for (const std::string& name : now_previous) {
      EXPECT_EQ(current_names.count(name) + stored.count(name), 1u) << name;
    }
    for (const std::string& name : previous_names) {
      EXPECT_EQ(now_current.count(name) + now_previous.count(name), 0u) << "not purged: " << name;
    }
    EXPECT_TRUE(lock_is_free('0'));
    EXPECT_TRUE(lock_is_free('1'));

    previous_names = now_previous;
    current_names = now_current;
    fills[1] = fills[0];
    if (round < ROUNDS) fills[0] = fill('0', round);
  }
}

// A program started with the given arguments and the test's environment; its process id.
pid_t spawn(const std::string& node, const std::vector<std::string>& args) {
  const std::string program = e2e::program_path("netloc");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::setenv("NETLOC_NODE", node.c_str(), 1);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, 0);
    ::dup2(null, 1);
    ::dup2(null, 2);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  return pid;
}

// Rounds of four programs storing at once, one or two of them killed with SIGKILL after a
// random time within a store's span.  Whatever a killed store left, every store that ended
// normally is in the file, the file reads, the lock is free and the next store succeeds.
TEST_F(Load, StoresKilledAtRandomPoints) {
  constexpr int ROUNDS = 20;
  constexpr int AT_ONCE = 4;
  ASSERT_EQ(store(TERMINALS - 1).status, 0);
  std::mt19937 random(20261211);
  Names committed = {terminal(TERMINALS - 1)};
  Names killed;
  int kills = 0;
  for (int round = 0; round < ROUNDS; ++round) {
    std::vector<std::pair<pid_t, int>> running;
    for (int i = 0; i < AT_ONCE; ++i) {
      const int t = round * AT_ONCE + i;
      running.emplace_back(spawn(node_, {"PLAIN", "SPI", terminal(t)}), t);
    }
    const int victims = 1 + static_cast<int>(random() % 2);
    for (int v = 0; v < victims; ++v) {
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
      ::kill(running[static_cast<size_t>(v)].first, SIGKILL);
    }
    for (const auto& [pid, t] : running) {
      int status = 0;
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      if (WIFEXITED(status)) {
        EXPECT_EQ(WEXITSTATUS(status), 0) << terminal(t);
        committed.insert(terminal(t));
      } else {
        EXPECT_EQ(WTERMSIG(status), SIGKILL);
        killed.insert(terminal(t));
        ++kills;
      }
    }
  }
  EXPECT_GE(kills, ROUNDS / 2);  // a victim may have ended before its signal
  EXPECT_TRUE(lock_is_free('0'));
  size_t fill_records = 0;
  const Names in_file = dump('0', &fill_records);
  for (const std::string& name : committed) EXPECT_EQ(in_file.count(name), 1u) << name;
  for (const std::string& name : in_file) {
    EXPECT_TRUE(committed.count(name) + killed.count(name) == 1) << "stored by nobody: " << name;
  }
  // The next store succeeds and finds everything in place.
  ASSERT_EQ(store(TERMINALS - 2).status, 0);
  const Names after = dump('0', &fill_records);
  EXPECT_EQ(after.count(terminal(TERMINALS - 2)), 1u);
  EXPECT_EQ(after.size(), in_file.size() + 1);
}

}  // namespace

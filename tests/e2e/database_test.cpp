// The address database as users meet it: PLAIN stores into the rotating pair TERMIPA0 /
// TERMIPA1, IS listings, the failure texts, many programs storing at once, and a store killed
// while it holds the lock.  Files are read back with netloc-dbdump.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <lmdb.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <set>
#include <sstream>
#include <thread>

#include "dbfill.h"
#include "harness.h"
#include "platform/keyseq.h"
#include "platform/openfile.h"

namespace fs = std::filesystem;
using e2e::lines;
using e2e::run;
using e2e::RunResult;

namespace {

constexpr int TERMINALS = 41;
const std::string CURRENT = "\\DBN.$DATA.NETLOC.TERMIPA0";
const std::string PREVIOUS = "\\DBN.$DATA.NETLOC.TERMIPA1";
const std::string HEADING1 = "      Terminal  Name           IP Address       Creation  Time";
const std::string HEADING2 = "--------------------------  ----------------  ------------------";

// Terminal #Pk of $ZTN0: its emulator answers with 10.0.0.k (host wsk.example), its Telnet
// window record says 10.1.0.k (no host name).
std::string node_text() {
  std::ostringstream t;
  t << "[node]\nname = '\\DBN'\nnumber = 5\ntime_scale = 0.01\n\n"
       "[[volume]]\nname = \"$DATA\"\ndir = \"data\"\n\n"
       "[[remote_node]]\nname = '\\FAR'\nnumber = 40\n\n"
       "[self]\ncpu = 1\npin = 201\nprogram = '$DATA.NETLOC.NETLOC'\n"
       "home_terminal = '$ZTN0.#P0'\nattribute82 = \"DB TEST 82\"\n\n"
       "[[process]]\nname = \"$ZTN0\"\nprogram = '$SYSTEM.SYS01.TELSERV'\n\n"
       "[[destination]]\nname = \"$ZTN0\"\ndevice_type = 46\n";
  for (int k = 0; k < TERMINALS; ++k) {
    t << "\n[[destination.terminal]]\nname = \"#P" << k << "\"\naddress = \"10.1.0." << k
      << "\"\nport = 23\nemulator = { reply = \"\\u0001&WS" << k << "\\u001210.0.0." << k
      << "\\u0012NETLOC\\r\" }\n";
  }
  t << "\n[hosts]\n";
  for (int k = 0; k < TERMINALS; ++k) t << "\"10.0.0." << k << "\" = \"ws" << k << ".example\"\n";
  return t.str();
}

struct Record {
  std::string terminal, address, host, created, process;
  long long timestamp = 0;
};

struct Dump {
  int status = -1;
  std::string err;
  std::vector<Record> records;
};

// One record line of netloc-dbdump: terminal="..." address="..." host="..." created="..."
// timestamp=N process=HEX (a quote inside a text field is escaped, so the markers are unique).
bool parse(const std::string& l, Record* rec) {
  static const char* const markers[] = {"terminal=\"", "\" address=\"", "\" host=\"",
                                        "\" created=\"", "\" timestamp=", " process="};
  std::string* fields[] = {nullptr, &rec->terminal, &rec->address, &rec->host, &rec->created, nullptr};
  std::string stamp;
  fields[5] = &stamp;
  size_t at = 0;
  for (int i = 0; i < 6; ++i) {
    const size_t found = l.find(markers[i], at);
    if (found == std::string::npos || (i == 0 && found != 0)) return false;
    if (i > 0) fields[i]->assign(l, at, found - at);
    at = found + std::strlen(markers[i]);
  }
  rec->process = l.substr(at);
  rec->timestamp = std::stoll(stamp);
  return rec->process.size() == 64;
}

class Database : public ::testing::Test {
 protected:
  void SetUp() override { node_ = dir_.write("node.toml", node_text()); }

  std::string db(char generation) const {
    return dir_.path() + "/data/NETLOC/TERMIPA" + std::string(1, generation);
  }

  RunResult netloc(const std::vector<std::string>& args, const std::string& program = "netloc") {
    return run(program, args, node_, {{"TZ", "UTC"}});
  }
  RunResult store(int terminal, const std::string& program = "netloc") {
    return netloc({"PLAIN", "TERMINAL", "\\DBN.$ZTN0.#P" + std::to_string(terminal)}, program);
  }

  Dump dump(char generation) const {
    RunResult r = run("netloc-dbdump", {db(generation)});
    Dump d{r.status, r.err, {}};
    for (const std::string& l : lines(r.out)) {
      Record rec;
      if (parse(l, &rec)) d.records.push_back(rec);
    }
    return d;
  }

  // Fills the file to its maximum size with records whose names sort after every terminal's.
  size_t fill(char generation) const { return e2e::fill_database(db(generation), "~FILL"); }

  // Number of records, straight from LMDB (a dump of a full file takes seconds).
  size_t count(char generation) const {
    MDB_env* env = nullptr;
    mdb_env_create(&env);
    mdb_env_set_maxdbs(env, 2);
    size_t entries = 0;
    MDB_txn* txn = nullptr;
    MDB_dbi dbi = 0;
    MDB_stat stat{};
    if (mdb_env_open(env, db(generation).c_str(), MDB_NOSUBDIR | MDB_NOLOCK | MDB_RDONLY, 0600) == 0 &&
        mdb_txn_begin(env, nullptr, MDB_RDONLY, &txn) == 0 && mdb_dbi_open(txn, "records", 0, &dbi) == 0 &&
        mdb_stat(txn, dbi, &stat) == 0)
      entries = stat.ms_entries;
    if (txn != nullptr) mdb_txn_abort(txn);
    mdb_env_close(env);
    return entries;
  }

  // Puts one raw 150-byte record into a database file, as another writer could have.
  void put_raw(char generation, const std::string& terminal, const std::string& address) const {
    std::unique_ptr<nsk::OpenFile> f;
    ASSERT_EQ(nsk::keyseq::open(db(generation), "raw", 0, &f), 0);
    std::string rec = terminal;
    rec.resize(26, ' ');
    rec += address;
    rec.resize(92, ' ');
    rec += "01Jan2020 00:00:00";
    rec.resize(150, ' ');
    ASSERT_EQ(f->write(rec.data(), 150, nullptr), 0);
  }

  static std::string line(const std::string& name, const std::string& address, const std::string& created) {
    std::string l = name;
    l.resize(28, ' ');
    l += address;
    l.resize(46, ' ');
    return l + created;
  }

  e2e::TempDir dir_;
  std::string node_;
};

TEST_F(Database, FirstStoreCreatesThePairAndStoresOneRecord) {
  const RunResult r = store(3);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  std::set<std::string> files;
  for (const auto& e : fs::directory_iterator(dir_.path() + "/data/NETLOC")) {
    files.insert(e.path().filename());
    EXPECT_EQ(e.status().permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  }
  EXPECT_EQ(files, (std::set<std::string>{"TERMIPA0", "TERMIPA1"}));
  const Dump current = dump('0');
  ASSERT_EQ(current.status, 0) << current.err;
  ASSERT_EQ(current.records.size(), 1u);
  const Record& rec = current.records[0];
  EXPECT_EQ(rec.terminal, "\\DBN.$ZTN0.#P3");
  EXPECT_EQ(rec.address, "10.0.0.3");
  EXPECT_EQ(rec.host, "ws3.example");
  std::string info;
  for (char c : std::string("DB TEST 82") + std::string(22, ' ')) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned char>(c));
    info += hex;
  }
  EXPECT_EQ(rec.process, info);
  EXPECT_EQ(rec.created.size(), 18u);
  EXPECT_TRUE(dump('1').records.empty());

  // The C builds store without being asked.
  ASSERT_EQ(netloc({"TERMINAL", "$ZTN0.#P4"}, "netloc_c").status, 0);
  EXPECT_EQ(dump('0').records.size(), 2u);
}

TEST_F(Database, EqualStoreRewritesAndADifferentAddressInserts) {
  ASSERT_EQ(store(1).status, 0);
  const Record first = dump('0').records.at(0);
  ASSERT_EQ(store(1).status, 0);
  std::vector<Record> now = dump('0').records;
  ASSERT_EQ(now.size(), 1u);
  EXPECT_GT(now[0].timestamp, first.timestamp);
  // The window record's address, with no host name for it: a second record, ordered by address.
  ASSERT_EQ(netloc({"PLAIN", "SPI", "TERMINAL", "\\DBN.$ZTN0.#P1"}).status, 0);
  now = dump('0').records;
  ASSERT_EQ(now.size(), 2u);
  EXPECT_EQ(now[0].address, "10.0.0.1");
  EXPECT_EQ(now[1].address, "10.1.0.1");
  EXPECT_EQ(now[1].host, "");
}

TEST_F(Database, RotationAfterAFailedInsert) {
  ASSERT_EQ(store(1).status, 0);
  const Record first = dump('0').records.at(0);
  const size_t filled = fill('0');
  ASSERT_GT(filled, 10000u);
  const RunResult r = store(2);
  ASSERT_EQ(r.status, 0) << r.err;
  const Dump current = dump('0');
  ASSERT_EQ(current.records.size(), 1u);
  EXPECT_EQ(current.records[0].terminal, "\\DBN.$ZTN0.#P2");
  EXPECT_EQ(count('1'), filled + 1);
  EXPECT_FALSE(fs::exists(db('3')));

  // Listing: one heading, the previous file's records, then the current file's.
  const RunResult listing = netloc({"IS", "$ZTN0.#P"});
  ASSERT_EQ(listing.status, 0) << listing.err;
  EXPECT_EQ(lines(listing.out),
            (std::vector<std::string>{HEADING1, HEADING2, line("$ZTN0.#P1", "10.0.0.1", first.created),
                                      line("$ZTN0.#P2", "10.0.0.2", current.records[0].created)}));
}

TEST_F(Database, FailureTextsAndCompletionCodeTwo) {
  ASSERT_EQ(store(1).status, 0);
  fill('0');
  fs::remove(db('1'));
  RunResult r = store(2);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "Can't open " + PREVIOUS + "; I/O error: 11\n");
  EXPECT_EQ(r.out, "");

  fs::remove(db('0'));
  ASSERT_EQ(store(1).status, 0);  // a new pair
  fs::remove(db('0'));
  r = store(3);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "Can't create " + PREVIOUS + "; I/O error: 10\n");
  EXPECT_TRUE(fs::exists(db('0')));
}

// Another program's file under the current file's name is refused and never written.
TEST_F(Database, ForeignFileIsRefusedAndLeftAlone) {
  fs::create_directories(dir_.path() + "/data/NETLOC");
  const std::string text = "not a database\n";
  std::ofstream(db('0')) << text;
  const RunResult r = store(1);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "Can't open " + CURRENT + "; I/O error: 59\n");
  std::ifstream in(db('0'));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
  const Dump d = dump('0');
  EXPECT_EQ(d.status, 1);
  EXPECT_EQ(d.err, "netloc-dbdump: " + db('0') + ": not a key-sequenced file of NETLOC (error 59)\n");
  // The listing does not read it either.
  std::ofstream(db('1')) << text;
  EXPECT_EQ(lines(netloc({"IS", "$ZTN0"}).out),
            (std::vector<std::string>{"Can't open " + PREVIOUS, "Open error: 59"}));
  const RunResult missing = run("netloc-dbdump", {db('7')});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err, "netloc-dbdump: " + db('7') + ": no such file\n");
}

// A listing longer than the block in which standard output is gathered when it is a pipe: every
// line arrives, whole and in key order, and nothing after the end.
TEST_F(Database, LongListingToAPipeArrivesWholeAndInOrder) {
  ASSERT_EQ(store(1).status, 0);
  constexpr int RECORDS = 600;  // 600 lines of 65 bytes: more than twice the block
  std::vector<std::string> expected = {HEADING1, HEADING2};
  for (int k = 0; k < RECORDS; ++k) {
    char name[32];
    std::snprintf(name, sizeof name, "$ZTN0.#Q%03d", k);
    put_raw('0', std::string("\\DBN.") + name, "10.7." + std::to_string(k / 256) + "." +
                                                     std::to_string(k % 256));
    expected.push_back(line(name, "10.7." + std::to_string(k / 256) + "." + std::to_string(k % 256),
                            "01Jan2020 00:00:00"));
  }
  const RunResult r = netloc({"IS", "$ZTN0.#Q"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(lines(r.out), expected);
}

TEST_F(Database, ListingCases) {
  RunResult r = netloc({"IS", "$ZTN0.#P1"});
  EXPECT_EQ(lines(r.out), (std::vector<std::string>{"Can't open " + PREVIOUS, "Open error: 11"}));
  ASSERT_EQ(store(1).status, 0);
  ASSERT_EQ(store(12).status, 0);
  ASSERT_EQ(store(2).status, 0);
  put_raw('0', "\\FAR.$ZTN0.#P1", "10.9.9.9");         // another node's name stays as it is
  put_raw('0', "\\DBN.$ZTN0.#Q\x07" "BAD", "10.8.8.8\n");  // a name STRIPMYNODENAME_ rejects
  const std::vector<Record> stored = dump('0').records;
  auto created = [&](const std::string& terminal) {
    for (const Record& rec : stored) if (rec.terminal == terminal) return rec.created;
    return std::string("?");
  };
  struct Case {
    std::string name;
    std::vector<std::string> out;
  };
  const Case cases[] = {
      {"$ZTN0.#P1",
       {HEADING1, HEADING2, line("$ZTN0.#P1", "10.0.0.1", created("\\DBN.$ZTN0.#P1")),
        line("$ZTN0.#P12", "10.0.0.12", created("\\DBN.$ZTN0.#P12"))}},
      {"$ZTN0.#P2", {HEADING1, HEADING2, line("$ZTN0.#P2", "10.0.0.2", created("\\DBN.$ZTN0.#P2"))}},
      {"$ZTN0.#P7", {"Terminal unknown"}},
      {"\\FAR.$ZTN0", {HEADING1, HEADING2, line("\\FAR.$ZTN0.#P1", "10.9.9.9", "01Jan2020 00:00:00")}},
      {"$ZTN0.#PABCDEFG.ABCDEFGH", {"Terminal unknown"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    r = netloc({"IS", c.name});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines(r.out), c.out);
  }
  // The rejected name: columns 1 to 26 blank, the unprintable address byte shown as "?".
  r = netloc({"IS", "$ZTN0"});
  std::vector<std::string> shown = lines(r.out);
  ASSERT_EQ(shown.size(), 2u + 4u);
  EXPECT_EQ(shown.back(), line("", "10.8.8.8?", "01Jan2020 00:00:00"));
  for (size_t i = 1; i < shown.size(); ++i) EXPECT_EQ(shown[i].size(), 64u);
}

// Two stores that both find no pair: one creates it, the other either finds it or fails on the
// existing current file; no store is lost without a message.
TEST_F(Database, RacingCreatorsOfThePair) {
  RunResult results[2];
  std::thread a([&] { results[0] = store(1); });
  std::thread b([&] { results[1] = store(2); });
  a.join();
  b.join();
  size_t stored = 0;
  for (const RunResult& r : results) {
    if (r.status == 0) {
      ++stored;
    } else {
      EXPECT_EQ(r.status, 2);
      EXPECT_EQ(r.err, "Can't create " + CURRENT + "; I/O error: 10\n");
    }
  }
  EXPECT_GE(stored, 1u);
  EXPECT_EQ(dump('0').records.size(), stored);
}

// Many programs of all four builds store at once into a full current file: one rotates, the
// others wait for the lock, notice the rotation and store into the new current file.
TEST_F(Database, ManyProgramsStoringAtOnce) {
  ASSERT_EQ(store(0).status, 0);
  const size_t filled = fill('0');
  const int programs = TERMINALS - 1;
  std::vector<RunResult> results(programs);
  std::vector<std::thread> threads;
  for (int k = 1; k <= programs; ++k) {
    const std::string& program = e2e::all_programs()[static_cast<size_t>(k) % 4];
    threads.emplace_back([&, k, program] { results[static_cast<size_t>(k - 1)] = store(k, program); });
  }
  for (std::thread& t : threads) t.join();
  for (const RunResult& r : results) {
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
  }
  std::set<std::string> terminals;
  for (const Record& rec : dump('0').records) terminals.insert(rec.terminal);
  EXPECT_EQ(terminals.size(), static_cast<size_t>(programs));
  EXPECT_EQ(terminals.count("\\DBN.$ZTN0.#P0"), 0u);
  const Dump previous = dump('1');
  EXPECT_EQ(previous.records.size(), filled + 1);
  EXPECT_EQ(previous.records.at(0).terminal, "\\DBN.$ZTN0.#P0");
}

// The pid holding an flock write lock on the inode, from /proc/locks (0: none).
pid_t lock_holder(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return 0;
  std::ifstream locks("/proc/locks");
  std::string l;
  const std::string inode = ":" + std::to_string(st.st_ino) + " ";
  while (std::getline(locks, l)) {
    if (l.find("->") != std::string::npos || l.find("FLOCK") == std::string::npos ||
        l.find("WRITE") == std::string::npos || l.find(inode) == std::string::npos)
      continue;
    std::istringstream fields(l.substr(l.find("WRITE") + 5));
    pid_t pid = 0;
    fields >> pid;
    if (pid != getpid()) return pid;
  }
  return 0;
}

// A store killed while it holds the lock on the current file (it waits in the rotation for the
// previous file, which the test holds): the lock goes with the process, the files stay intact,
// and the next store succeeds.
TEST_F(Database, KilledStoreLeavesTheLockFree) {
  ASSERT_EQ(store(1).status, 0);
  const size_t filled = fill('0');
  std::unique_ptr<nsk::OpenFile> previous;
  ASSERT_EQ(nsk::keyseq::open(db('1'), "held", 0, &previous), 0);
  ASSERT_EQ(previous->lock(), 0);
  RunResult killed;
  std::thread t([&] { killed = store(2); });
  pid_t holder = 0;
  for (int i = 0; i < 6000 && holder == 0; ++i) {
    usleep(10000);
    holder = lock_holder(db('0'));
  }
  ASSERT_NE(holder, 0);
  kill(holder, SIGKILL);
  t.join();
  EXPECT_EQ(killed.status, 128 + SIGKILL);
  previous.reset();

  const RunResult r = store(3);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(dump('0').records.size(), 1u);
  EXPECT_EQ(count('1'), filled + 1);
  for (char g : {'0', '1'}) {
    const int fd = open(db(g).c_str(), O_RDONLY | O_CLOEXEC);
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
    close(fd);
  }
}

}  // namespace

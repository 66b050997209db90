// Key-sequenced files on LMDB.  One data file each, opened with MDB_NOSUBDIR | MDB_NOLOCK so
// that nothing but that file exists on disk.  The file holds two named databases: "attributes"
// (one record, the attributes as text) and "records" (key = the record's key bytes, value = the
// whole record).  All concurrency is ours: flock on a descriptor of the file, shared around
// every read transaction and exclusive around every write transaction; LOCKFILE is that
// exclusive flock kept until the file is closed.  docs/database.md describes the layout.
#include "platform/keyseq.h"

#include <fcntl.h>
#include <lmdb.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "platform/errno_map.h"
#include "platform/filesystem.h"
#include "platform/node.h"
#include "platform/volumes.h"

namespace nsk::keyseq {
namespace {

constexpr size_t EXTENT_PAGE = 2048;
constexpr INT INVALID_KEY = 46;  // key specifier unknown, or an update that changes the key
constexpr char ATTRIBUTES_DB[] = "attributes";
constexpr char RECORDS_DB[] = "records";
constexpr char FORMAT_KEY[] = "format";
constexpr char FORMAT_TAG[] = "netloc-keyseq 1";
// Page 0 of a file whose purge was interrupted: this tag, then the attributes text.  LMDB
// refuses such a file (no meta page), we recognise it as ours and finish the purge.
constexpr char PURGE_TAG[] = "NLXPURGE";
constexpr size_t MIN_FILE_BYTES = 32 * 1024;  // room for the two databases and a few records

size_t lmdb_page() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }

std::string fd_path(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

INT from_errno(int e) { return error_from_errno(e); }

INT from_mdb(int rc) {
  switch (rc) {
    case MDB_SUCCESS: return err::OK;
    case MDB_NOTFOUND: return err::END_OF_FILE;
    case MDB_KEYEXIST: return err::DUPLICATE_KEY;
    case MDB_MAP_FULL: return err::FILE_FULL;
    default: return rc > 0 ? from_errno(rc) : err::DATA_ERROR;
  }
}

// ---- attributes --------------------------------------------------------------------------

std::string format_attributes(const Attributes& a) {
  char text[256];
  std::snprintf(text, sizeof text,
                "%s type 3 code %d record %d block %d keyoffset %d keylength %d primary %d "
                "secondary %d maxextents %d",
                FORMAT_TAG, a.file_code, a.record_length, a.block_length, a.key_offset,
                a.key_length, a.primary_extent, a.secondary_extent, a.max_extents);
  return text;
}

bool valid(const Attributes& a) {
  if (a.record_length < 1 || a.record_length > 4000) return false;
  if (a.key_length < 1 || a.key_length > 255) return false;
  if (a.key_offset < 0 || a.key_offset + a.key_length > a.record_length) return false;
  if (a.block_length < 1 || a.primary_extent < 1 || a.secondary_extent < 0 || a.max_extents < 1)
    return false;
  return a.file_code >= 0 && a.file_code <= 65535;
}

size_t max_bytes(const Attributes& a) {
  size_t pages = static_cast<size_t>(a.primary_extent) +
                 static_cast<size_t>(a.secondary_extent) * static_cast<size_t>(a.max_extents - 1);
  size_t bytes = pages * EXTENT_PAGE;
  return bytes - bytes % lmdb_page();  // LMDB maps whole pages; never exceed the maximum
}

bool parse_attributes(const std::string& text, Attributes* a) {
  char expected[192];
  std::snprintf(expected, sizeof expected, "%s type 3 code %%d record %%d block %%d keyoffset "
                "%%d keylength %%d primary %%d secondary %%d maxextents %%d%%n", FORMAT_TAG);
  Attributes r;
  int used = -1;
  if (std::sscanf(text.c_str(), expected, &r.file_code, &r.record_length, &r.block_length,
                  &r.key_offset, &r.key_length, &r.primary_extent, &r.secondary_extent,
                  &r.max_extents, &used) != 8 ||
      used != static_cast<int>(text.size()) || !valid(r) || max_bytes(r) < MIN_FILE_BYTES)
    return false;
  *a = r;
  return true;
}

// ---- the per-process lock table ------------------------------------------------------------
// flock locks belong to an open file description, so two descriptors of one file in one process
// would wait for each other.  Every open of an inode in this process locks through one shared
// descriptor, and a LOCKFILE held by any of them covers the transactions of all.

class KeySeqFile;
void end_held_read(KeySeqFile* reader);

struct LockState {
  int fd = -1;
  int opens = 0;
  int lockfile_holders = 0;
  // Set while one open keeps a read transaction and the shared lock across the READX of a
  // positioned range (KeySeqFile::next_record); ends it before anything else locks the inode.
  KeySeqFile* reader = nullptr;
};

using InodeKey = std::pair<dev_t, ino_t>;
// Never destroyed: opens still in the open table at exit close after static destructors ran.
std::map<InodeKey, LockState>& lock_table() {
  static auto* table = new std::map<InodeKey, LockState>;
  return *table;
}

INT flock_wait(int fd, int operation) {
  while (flock(fd, operation) != 0) {
    if (errno != EINTR) return from_errno(errno);
  }
  return err::OK;
}

// Ends one open of the inode: its LOCKFILE, and the shared descriptor with the last open.
void unregister_inode(const InodeKey& inode, bool held_lockfile) {
  auto it = lock_table().find(inode);
  if (it == lock_table().end()) return;
  LockState& state = it->second;
  if (held_lockfile && --state.lockfile_holders == 0) flock(state.fd, LOCK_UN);
  if (--state.opens == 0) {
    close(state.fd);
    lock_table().erase(it);
  }
}

// A transaction's lock: nothing to do while this process holds LOCKFILE on the inode.
class TxnLock {
 public:
  // For a descriptor that may or may not belong to an open of this process.
  TxnLock(int fd, bool exclusive) {
    struct stat st {};
    if (fstat(fd, &st) != 0) {
      error_ = from_errno(errno);
      return;
    }
    take(lock_table().find({st.st_dev, st.st_ino}), fd, exclusive);
  }
  // For an open, whose inode is in the table.
  TxnLock(const InodeKey& inode, bool exclusive) {
    take(lock_table().find(inode), -1, exclusive);
  }
  ~TxnLock() {
    if (fd_ >= 0) flock(fd_, LOCK_UN);
  }
  TxnLock(const TxnLock&) = delete;
  TxnLock& operator=(const TxnLock&) = delete;
  INT error() const { return error_; }
  // Hands the flock taken by this guard over to the caller; false when it took none.
  bool release() {
    if (fd_ < 0) return false;
    fd_ = -1;
    return true;
  }

 private:
  void take(std::map<InodeKey, LockState>::iterator it, int fd, bool exclusive) {
    if (it != lock_table().end()) {
      if (it->second.lockfile_holders > 0) return;
      if (it->second.reader != nullptr) {
        if (!exclusive) return;  // the held shared lock covers this read
        end_held_read(it->second.reader);
      }
      fd = it->second.fd;
    }
    error_ = flock_wait(fd, exclusive ? LOCK_EX : LOCK_SH);
    if (error_ == err::OK) fd_ = fd;
  }

  int fd_ = -1;
  INT error_ = err::OK;
};

// ---- LMDB environments ---------------------------------------------------------------------
// An environment is opened on /proc/self/fd/N of the locked descriptor, never on the name, so it
// is the open file's inode even after a rename.  Without LMDB's lock table every transaction
// reads the newest meta page from the map, so an environment stays valid across transactions
// taken under our locks; an open file still opens it anew when the file's size or modification
// time changed since its last transaction (another process wrote, grew or purged it), so that no
// LMDB state outlives a change made by someone else.

class Env {
 public:
  ~Env() {
    end();
    if (env_ != nullptr) mdb_env_close(env_);
  }
  INT open(int fd, bool write, size_t mapsize) {
    int rc = mdb_env_create(&env_);
    if (rc == MDB_SUCCESS) rc = mdb_env_set_maxdbs(env_, 2);
    if (rc == MDB_SUCCESS && mapsize > 0) rc = mdb_env_set_mapsize(env_, mapsize);
    if (rc != MDB_SUCCESS) return from_mdb(rc);
    unsigned flags = MDB_NOSUBDIR | MDB_NOLOCK | MDB_NORDAHEAD | (write ? 0 : MDB_RDONLY);
    rc = mdb_env_open(env_, fd_path(fd).c_str(), flags, 0600);
    if (rc == EACCES) return err::SECURITY;
    if (rc != MDB_SUCCESS) return err::DATA_ERROR;  // not an LMDB file, or a damaged one
    return err::OK;
  }
  INT begin(bool write) {
    end();
    return from_mdb(mdb_txn_begin(env_, nullptr, write ? 0 : MDB_RDONLY, &txn_));
  }
  void end() {
    if (txn_ != nullptr) mdb_txn_abort(txn_);
    txn_ = nullptr;
  }
  // Opens a named database; create only in a new file.
  INT dbi(const char* name, bool create, MDB_dbi* out) {
    int rc = mdb_dbi_open(txn_, name, create ? MDB_CREATE : 0, out);
    return rc == MDB_NOTFOUND ? err::DATA_ERROR : from_mdb(rc);
  }
  INT commit() {
    int rc = mdb_txn_commit(txn_);
    txn_ = nullptr;
    return from_mdb(rc);
  }
  MDB_txn* txn() { return txn_; }

 private:
  MDB_env* env_ = nullptr;
  MDB_txn* txn_ = nullptr;
};

MDB_val val(const void* data, size_t size) {
  return MDB_val{size, const_cast<void*>(data)};
}

// Reads page 0 of the file: true when it carries the interrupted-purge tag (*attributes then
// from it).
bool purge_marker(int fd, Attributes* attributes) {
  std::vector<char> page(lmdb_page());
  ssize_t n = pread(fd, page.data(), page.size(), 0);
  size_t tag = sizeof PURGE_TAG - 1;
  if (n < static_cast<ssize_t>(tag) || std::memcmp(page.data(), PURGE_TAG, tag) != 0) return false;
  std::string text(page.data() + tag, strnlen(page.data() + tag, page.size() - tag));
  return parse_attributes(text, attributes);
}

// The attributes of an open file; the caller holds at least the shared lock.  An empty file,
// a file LMDB does not accept or one without our attributes record is not ours: 59.
INT read_attributes(int fd, Attributes* attributes) {
  if (purge_marker(fd, attributes)) return err::OK;
  struct stat st {};
  if (fstat(fd, &st) != 0) return from_errno(errno);
  if (!S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) < 2 * lmdb_page())
    return err::DATA_ERROR;
  Env env;
  INT error = env.open(fd, false, 0);
  if (error == err::OK) error = env.begin(false);
  MDB_dbi dbi = 0;
  if (error == err::OK) error = env.dbi(ATTRIBUTES_DB, false, &dbi);
  if (error != err::OK) return error;
  MDB_val key = val(FORMAT_KEY, sizeof FORMAT_KEY - 1);
  MDB_val data;
  if (mdb_get(env.txn(), dbi, &key, &data) != MDB_SUCCESS) return err::DATA_ERROR;
  std::string text(static_cast<const char*>(data.mv_data), data.mv_size);
  return parse_attributes(text, attributes) ? err::OK : err::DATA_ERROR;
}

// The bytes of a new, empty file with these attributes, made by LMDB in memory.
INT build_image(const Attributes& attributes, std::vector<char>* image) {
  int mfd = memfd_create("netloc-keyseq", MFD_CLOEXEC);
  if (mfd < 0) return from_errno(errno);
  INT error;
  {
    Env env;
    error = env.open(mfd, true, max_bytes(attributes));
    if (error == err::OK) error = env.begin(true);
    MDB_dbi attr_dbi = 0, rec_dbi = 0;
    if (error == err::OK) error = env.dbi(ATTRIBUTES_DB, true, &attr_dbi);
    if (error == err::OK) error = env.dbi(RECORDS_DB, true, &rec_dbi);
    std::string text = format_attributes(attributes);
    MDB_val key = val(FORMAT_KEY, sizeof FORMAT_KEY - 1);
    MDB_val data = val(text.data(), text.size());
    if (error == err::OK) error = from_mdb(mdb_put(env.txn(), attr_dbi, &key, &data, 0));
    if (error == err::OK) error = env.commit();
  }
  struct stat st {};
  if (error == err::OK && fstat(mfd, &st) != 0) error = from_errno(errno);
  if (error == err::OK) {
    image->resize(static_cast<size_t>(st.st_size));
    if (pread(mfd, image->data(), image->size(), 0) != static_cast<ssize_t>(image->size()))
      error = from_errno(errno);
  }
  close(mfd);
  return error;
}

INT write_all(int fd, const char* data, size_t size, off_t offset) {
  while (size > 0) {
    ssize_t n = pwrite(fd, data, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return from_errno(errno);
    }
    data += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return err::OK;
}

INT sync(int fd) { return fdatasync(fd) == 0 ? err::OK : from_errno(errno); }

// Empties the file in place, under the exclusive lock, so that a kill at any point leaves
// either the old file or a recognisable unfinished purge (page 0 tagged), never a file that is
// neither: tag page 0, cut the file to the new size, write the new data pages, then the two
// meta pages (page 0 last, replacing the tag).
INT reinitialise(int fd, const Attributes& attributes) {
  std::vector<char> image;
  INT error = build_image(attributes, &image);
  size_t page = lmdb_page();
  if (error != err::OK) return error;
  std::vector<char> marker(page, 0);
  std::string text = PURGE_TAG + format_attributes(attributes);
  std::memcpy(marker.data(), text.data(), text.size());
  if ((error = write_all(fd, marker.data(), page, 0)) != err::OK) return error;
  if ((error = sync(fd)) != err::OK) return error;
  if (ftruncate(fd, static_cast<off_t>(image.size())) != 0) return from_errno(errno);
  if ((error = write_all(fd, image.data() + 2 * page, image.size() - 2 * page,
                         static_cast<off_t>(2 * page))) != err::OK)
    return error;
  if ((error = sync(fd)) != err::OK) return error;
  if ((error = write_all(fd, image.data() + page, page, static_cast<off_t>(page))) != err::OK)
    return error;
  if ((error = sync(fd)) != err::OK) return error;
  if ((error = write_all(fd, image.data(), page, 0)) != err::OK) return error;
  return sync(fd);
}

// ---- names ---------------------------------------------------------------------------------

std::string canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

// The external name of a host path under one of the node's volumes, or "" when none holds it.
std::string guardian_name(const std::string& path) {
  const node::Node& n = node::current();
  for (const node::Volume& v : n.volumes) {
    std::string dir = canonical(v.dir) + "/";
    if (path.compare(0, dir.size(), dir) != 0) continue;
    std::string rest = path.substr(dir.size());
    size_t slash = rest.find('/');
    if (slash == std::string::npos || rest.find('/', slash + 1) != std::string::npos) return "";
    rest[slash] = '.';
    return n.name + "." + v.name + "." + rest;
  }
  return "";
}

// Guardian security word to a Linux mode: of its fields read, write, execute, purge, the read
// and write fields give the r and w bits (a data file is never executable); each of A/N
// (anyone), G/C (group) or O/U (owner) gives the bit to those, "-" to no one.
mode_t mode_of_security(INT security) {
  auto who = [](int field) -> mode_t {
    switch (field) {
      case 0: case 4: return 0111;   // any local or network user
      case 1: case 5: return 0110;   // group, community
      case 2: case 6: return 0100;   // owner, user
      default: return 0;
    }
  };
  int s = static_cast<uint16_t>(security);
  return (who((s >> 9) & 7) << 2) | (who((s >> 6) & 7) << 1);
}

// ---- the open file -------------------------------------------------------------------------

class KeySeqFile : public OpenFile {
 public:
  KeySeqFile(int fd, InodeKey inode, const Attributes& attributes)
      : fd_(fd), inode_(inode), attributes_(attributes), mapsize_(max_bytes(attributes)) {}

  friend void end_held_read(KeySeqFile* reader);

  ~KeySeqFile() override {
    end_held_read();
    env_.reset();
    unregister_inode(inode_, holds_lockfile_);
    close(fd_);
  }

  std::string current_name() override {
    char target[PATH_MAX];
    ssize_t n = readlink(fd_path(fd_).c_str(), target, sizeof target - 1);
    if (n <= 0) return name;
    std::string mapped = guardian_name(std::string(target, static_cast<size_t>(n)));
    if (!mapped.empty()) name = mapped;
    return name;
  }

  void typeinfo(INT* words) override {
    words[0] = 3;
    words[1] = 0;
    words[2] = 3;
    words[3] = 3;
    words[4] = static_cast<INT>(attributes_.file_code);
  }

  INT keyposition(const char* key, INT key_specifier, INT key_length, INT compare_length,
                  INT mode) override {
    if (key_specifier != 0) return INVALID_KEY;
    if (mode < POSITION_APPROXIMATE || mode > POSITION_EXACT || key_length < 0 ||
        key_length > attributes_.key_length || (key_length > 0 && key == nullptr))
      return err::BAD_PARAM;
    if (mode == POSITION_GENERIC && (compare_length < 0 || compare_length > key_length))
      return err::BAD_PARAM;
    end_held_read();
    mode_ = mode;
    start_.assign(key == nullptr ? "" : key, static_cast<size_t>(key_length));
    prefix_ = start_.substr(0, mode == POSITION_GENERIC ? static_cast<size_t>(compare_length) : 0);
    start_inclusive_ = true;
    exact_done_ = false;
    return err::OK;
  }

  INT read(char* buffer, INT read_count, INT* count) override {
    if (access == 2) return err::NOT_OPEN_ACCESS;
    if (read_count < 0) return err::NOT_OPEN_ACCESS;
    std::string& key = read_key_;
    std::string& record = read_record_;
    INT error = next_record(&key, &record);
    if (error != err::OK) return error;
    size_t n = std::min(record.size(), static_cast<size_t>(read_count));
    std::memcpy(buffer, record.data(), n);
    if (count != nullptr) *count = static_cast<INT>(n);
    start_ = key;
    start_inclusive_ = false;
    current_key_ = key;
    return err::OK;
  }

  INT write(const char* buffer, INT write_count, INT* count) override {
    end_held_read();
    INT error = check_record(write_count);
    if (error != err::OK) return error;
    error = in_write_txn([&](Env& env, MDB_dbi dbi) {
      MDB_val k = val(buffer + attributes_.key_offset, static_cast<size_t>(attributes_.key_length));
      MDB_val d = val(buffer, static_cast<size_t>(write_count));
      return from_mdb(mdb_put(env.txn(), dbi, &k, &d, MDB_NOOVERWRITE));
    });
    if (error == err::OK && count != nullptr) *count = write_count;
    return error;
  }

  // Replaces the record last read; a count of 0 deletes it.
  INT writeupdate(const char* buffer, INT write_count, INT* count) override {
    end_held_read();
    if (!current_key_) return err::NO_SUCH_FILE;
    if (write_count != 0) {
      INT error = check_record(write_count);
      if (error != err::OK) return error;
      if (std::memcmp(buffer + attributes_.key_offset, current_key_->data(),
                      current_key_->size()) != 0)
        return INVALID_KEY;
    }
    INT error = in_write_txn([&](Env& env, MDB_dbi dbi) {
      MDB_val k = val(current_key_->data(), current_key_->size());
      MDB_val existing;
      int rc = mdb_get(env.txn(), dbi, &k, &existing);
      if (rc == MDB_NOTFOUND) return err::NO_SUCH_FILE;
      if (rc != MDB_SUCCESS) return from_mdb(rc);
      if (write_count == 0) return from_mdb(mdb_del(env.txn(), dbi, &k, nullptr));
      MDB_val d = val(buffer, static_cast<size_t>(write_count));
      return from_mdb(mdb_put(env.txn(), dbi, &k, &d, 0));
    });
    if (error == err::OK && count != nullptr) *count = write_count;
    return error;
  }

  INT lock() override {
    if (holds_lockfile_) return err::OK;
    LockState& state = lock_table().at(inode_);
    if (state.reader != nullptr) keyseq::end_held_read(state.reader);
    if (state.lockfile_holders == 0) {
      INT error = flock_wait(state.fd, LOCK_EX);
      if (error != err::OK) return error;
    }
    ++state.lockfile_holders;
    holds_lockfile_ = true;
    return err::OK;
  }

  // Purge data.  LMDB cannot delete from a full file (a delete needs free pages to commit), so
  // the file is emptied by rewriting it as a new one under the exclusive lock.
  INT control(INT operation, INT /*param*/) override {
    end_held_read();
    if (operation != CONTROL_PURGE_DATA) return err::OPERATION_INVALID;
    if (access == 1) return err::NOT_OPEN_ACCESS;
    TxnLock guard(inode_, true);
    if (guard.error() != err::OK) return guard.error();
    env_.reset();
    INT error = reinitialise(fd_, attributes_);
    current_key_.reset();
    return error;
  }

  INT setmode(INT function, INT param1, INT /*param2*/) override {
    end_held_read();
    if (function != 1) return err::OPERATION_INVALID;
    return fchmod(fd_, mode_of_security(param1)) == 0 ? err::OK : from_errno(errno);
  }

  INT rename(const std::string& new_name) override {
    end_held_read();
    std::string target;
    INT error = volumes::host_path(new_name.data(), static_cast<INT>(new_name.size()), &target);
    if (error != err::OK) return error;
    char source[PATH_MAX];
    ssize_t n = readlink(fd_path(fd_).c_str(), source, sizeof source - 1);
    if (n <= 0) return from_errno(errno);
    source[n] = '\0';
    if (renameat2(AT_FDCWD, source, AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0)
      return errno == EEXIST ? err::EXISTS : from_errno(errno);
    current_name();
    return err::OK;
  }

 private:
  INT check_record(INT write_count) const {
    if (access == 1) return err::NOT_OPEN_ACCESS;
    if (write_count < attributes_.key_offset + attributes_.key_length ||
        write_count > attributes_.record_length)
      return err::NOT_OPEN_ACCESS;
    return err::OK;
  }

  // Runs body in a write transaction under the exclusive lock and commits it.  A file whose
  // purge was interrupted (by a kill) is finished first.
  template <typename Body>
  INT in_write_txn(Body body) {
    TxnLock guard(inode_, true);
    if (guard.error() != err::OK) return guard.error();
    MDB_dbi dbi = 0;
    INT error = begin(true, &dbi);
    if (error == err::OK) error = body(*env_, dbi);
    if (error == err::OK) error = env_->commit();
    if (env_) env_->end();
    if (error == err::OK) remember_stamp();
    return error;
  }

  struct Stamp {
    off_t size = -1;
    timespec modified{};
    bool operator==(const Stamp& o) const {
      return size == o.size && modified.tv_sec == o.modified.tv_sec &&
             modified.tv_nsec == o.modified.tv_nsec;
    }
  };

  INT stamp(Stamp* out) const {
    struct stat st {};
    if (fstat(fd_, &st) != 0) return from_errno(errno);
    *out = {st.st_size, st.st_mtim};
    return err::OK;
  }
  void remember_stamp() {
    if (stamp(&stamp_) != err::OK) env_.reset();
  }

  // Begins a transaction in the file's environment, opened anew when the file changed since
  // this open's last transaction.  A read-write open has one writable environment for both.
  // A file whose purge was interrupted (by a kill) has no records for a reader, and a writer
  // finishes the purge first.
  INT begin(bool write, MDB_dbi* dbi) {
    Stamp now;
    INT error = stamp(&now);
    if (error != err::OK) return error;
    if (!env_ || !(now == stamp_)) {
      env_.reset();
      Attributes marked;
      if (purge_marker(fd_, &marked)) {
        if (!write) return err::END_OF_FILE;
        if ((error = reinitialise(fd_, attributes_)) != err::OK) return error;
        if ((error = stamp(&now)) != err::OK) return error;
      }
      env_ = std::make_unique<Env>();
      error = env_->open(fd_, access != 1, mapsize_);
      if (error != err::OK) {
        env_.reset();
        return error;
      }
      stamp_ = now;
    }
    error = env_->begin(write);
    if (error == err::OK) error = env_->dbi(RECORDS_DB, false, dbi);
    if (error != err::OK) env_->end();
    return error;
  }

  // The next record of the positioned range, in a read transaction under the shared lock.
  //
  // A read-only open keeps that transaction, its cursor and the shared lock from one READX of a
  // range to the next, instead of locking, checking the file and seeking again per record: the
  // range is read from one snapshot, as a reader under one lock.  The hold ends at the end of the
  // range, at an error, at any other operation on this open, when another open of the inode in
  // this process locks it (LockState::reader) and at close, so a writer waits at most for
  // the rest of one listing, and no write of this process can reuse pages of the snapshot.
  INT next_record(std::string* key, std::string* record) {
    if (mode_ == POSITION_EXACT && exact_done_) return err::END_OF_FILE;
    if (held_cursor_ != nullptr) return held_next(key, record);
    TxnLock guard(inode_, false);
    if (guard.error() != err::OK) return guard.error();
    MDB_dbi dbi = 0;
    INT error = begin(false, &dbi);
    if (error != err::OK) return error;
    Env& env = *env_;
    MDB_val k = val(start_.data(), start_.size());
    MDB_val d;
    int rc;
    MDB_cursor* cursor = nullptr;
    if (mode_ == POSITION_EXACT) {
      exact_done_ = true;
      if (start_.size() != static_cast<size_t>(attributes_.key_length)) {
        env.end();
        return err::END_OF_FILE;
      }
      rc = mdb_get(env.txn(), dbi, &k, &d);
    } else {
      rc = mdb_cursor_open(env.txn(), dbi, &cursor);
      if (rc == MDB_SUCCESS) rc = seek(cursor, &k, &d);
    }
    error = take_record(rc, k, d, key, record);
    if (error == err::OK && cursor != nullptr && may_hold() && guard.release()) {
      held_cursor_ = cursor;
      lock_table().at(inode_).reader = this;
      return err::OK;
    }
    if (cursor != nullptr) mdb_cursor_close(cursor);
    env.end();
    return error;
  }

  // A hold needs the shared lock taken by this read (not one covered by LOCKFILE or by another
  // open's hold) on a read-only open.
  bool may_hold() const {
    const LockState& state = lock_table().at(inode_);
    return access == 1 && state.lockfile_holders == 0 && state.reader == nullptr;
  }

  INT held_next(std::string* key, std::string* record) {
    MDB_val k, d;
    int rc = mdb_cursor_get(held_cursor_, &k, &d, MDB_NEXT);
    INT error = take_record(rc, k, d, key, record);
    if (error != err::OK) end_held_read();
    return error;
  }

  INT take_record(int rc, const MDB_val& k, const MDB_val& d, std::string* key,
                  std::string* record) const {
    if (rc != MDB_SUCCESS) return from_mdb(rc);
    key->assign(static_cast<const char*>(k.mv_data), k.mv_size);
    record->assign(static_cast<const char*>(d.mv_data), d.mv_size);
    return key->compare(0, prefix_.size(), prefix_) == 0 ? err::OK : err::END_OF_FILE;
  }

  void end_held_read() {
    if (held_cursor_ == nullptr) return;
    mdb_cursor_close(held_cursor_);
    held_cursor_ = nullptr;
    env_->end();
    LockState& state = lock_table().at(inode_);
    state.reader = nullptr;
    flock(state.fd, LOCK_UN);
  }

  int seek(MDB_cursor* cursor, MDB_val* k, MDB_val* d) {
    if (start_.empty()) return mdb_cursor_get(cursor, k, d, MDB_FIRST);
    int rc = mdb_cursor_get(cursor, k, d, MDB_SET_RANGE);
    if (rc == MDB_SUCCESS && !start_inclusive_ && k->mv_size == start_.size() &&
        std::memcmp(k->mv_data, start_.data(), start_.size()) == 0)
      rc = mdb_cursor_get(cursor, k, d, MDB_NEXT);
    return rc;
  }

  int fd_;
  InodeKey inode_;
  Attributes attributes_;
  size_t mapsize_;
  bool holds_lockfile_ = false;
  INT mode_ = POSITION_APPROXIMATE;
  std::string start_;
  bool start_inclusive_ = true;
  std::string prefix_;
  bool exact_done_ = false;
  std::optional<std::string> current_key_;
  std::unique_ptr<Env> env_;
  Stamp stamp_;
  MDB_cursor* held_cursor_ = nullptr;  // set while a read transaction is held (next_record)
  std::string read_key_, read_record_;  // the last record read, kept to reuse their storage
};

void end_held_read(KeySeqFile* reader) { reader->end_held_read(); }

// Registers an open of fd's inode in the lock table.
INT register_inode(int fd, InodeKey* inode) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return from_errno(errno);
  *inode = {st.st_dev, st.st_ino};
  LockState& state = lock_table()[*inode];
  if (state.opens == 0) {
    state.fd = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (state.fd < 0) {
      lock_table().erase(*inode);
      return from_errno(errno);
    }
  }
  ++state.opens;
  return err::OK;
}

INT open_error(int e) {
  if (e == ENOENT) return err::NO_SUCH_FILE;
  if (e == EACCES || e == EPERM) return err::SECURITY;
  return from_errno(e);
}

// Makes the new file complete and unnamed, then gives it its name in one step, so that no
// process ever sees a half-made file.  Without O_TMPFILE support, an exclusive create.
INT place_new_file(const std::string& path, const std::vector<char>& image) {
  std::string dir = path.substr(0, path.rfind('/'));
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  bool unnamed = fd >= 0;
  if (!unnamed) {
    fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
    if (fd < 0) return errno == EEXIST ? err::EXISTS : open_error(errno);
  }
  INT error = write_all(fd, image.data(), image.size(), 0);
  if (error == err::OK && fsync(fd) != 0) error = from_errno(errno);
  if (error == err::OK && unnamed &&
      linkat(AT_FDCWD, fd_path(fd).c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0)
    error = errno == EEXIST ? err::EXISTS : from_errno(errno);
  if (error != err::OK && !unnamed) unlink(path.c_str());
  close(fd);
  return error;
}

// The attributes the last probe found, with the file's identity and stamp then.  FILE_OPEN_
// probes a file and opens it at once; the open takes them from here when the file is the same
// inode, unchanged (size and modification time), instead of opening LMDB a second time to read
// them.  The attributes of a file never change after its creation, and any write changes the
// stamp.
struct Probed {
  struct stat st {};
  Attributes attributes;
};
Probed& last_probe() {
  static Probed probed;
  return probed;
}

bool probed_attributes(int fd, Attributes* attributes) {
  struct stat st {};
  const struct stat& was = last_probe().st;
  if (fstat(fd, &st) != 0 || st.st_ino == 0 || st.st_dev != was.st_dev || st.st_ino != was.st_ino ||
      st.st_size != was.st_size || st.st_mtim.tv_sec != was.st_mtim.tv_sec ||
      st.st_mtim.tv_nsec != was.st_mtim.tv_nsec)
    return false;
  *attributes = last_probe().attributes;
  return true;
}

}  // namespace

INT create(const std::string& path, const Attributes& attributes) {
  if (!valid(attributes) || max_bytes(attributes) < MIN_FILE_BYTES) return err::BAD_PARAM;
  if (access(path.c_str(), F_OK) == 0) return err::EXISTS;
  std::vector<char> image;
  INT error = build_image(attributes, &image);
  return error != err::OK ? error : place_new_file(path, image);
}

bool probe(const std::string& path, Attributes* attributes) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  Attributes found;
  INT error;
  {
    TxnLock guard(fd, false);
    error = guard.error() != err::OK ? guard.error() : read_attributes(fd, &found);
  }
  struct stat st {};
  if (error == err::OK && fstat(fd, &st) == 0) last_probe() = {st, found};
  close(fd);
  if (error != err::OK) return false;
  if (attributes != nullptr) *attributes = found;
  return true;
}

INT open(const std::string& path, const std::string& name, INT access,
         std::unique_ptr<OpenFile>* file) {
  if (access < 0 || access > 2) return err::BAD_PARAM;
  int fd = ::open(path.c_str(), (access == 1 ? O_RDONLY : O_RDWR) | O_CLOEXEC);
  if (fd < 0) return open_error(errno);
  InodeKey inode;
  INT error = register_inode(fd, &inode);
  if (error != err::OK) {
    close(fd);
    return error;
  }
  Attributes attributes;
  if (probed_attributes(fd, &attributes)) {
    error = err::OK;
  } else {
    TxnLock guard(fd, false);
    error = guard.error() != err::OK ? guard.error() : read_attributes(fd, &attributes);
  }
  if (error != err::OK) {
    unregister_inode(inode, false);
    close(fd);
    return error;
  }
  auto opened = std::make_unique<KeySeqFile>(fd, inode, attributes);
  opened->name = name;
  opened->access = access;
  *file = std::move(opened);
  return err::OK;
}

}  // namespace nsk::keyseq

// Fills an address database file (see dbfill.h).
#include "dbfill.h"

#include <gtest/gtest.h>
#include <lmdb.h>

#include <cstdio>

namespace e2e {

std::size_t fill_database(const std::string& path, const std::string& name_prefix) {
  MDB_env* env = nullptr;
  mdb_env_create(&env);
  mdb_env_set_maxdbs(env, 2);
  mdb_env_set_mapsize(env, DATABASE_BYTES);
  EXPECT_EQ(mdb_env_open(env, path.c_str(), MDB_NOSUBDIR | MDB_NOLOCK | MDB_NOSYNC, 0600), 0);
  std::size_t stored = 0;
  // Large transactions until one no longer fits, then halves, down to single records.
  for (std::size_t chunk = 8192; chunk > 0;) {
    MDB_txn* txn = nullptr;
    MDB_dbi dbi = 0;
    mdb_txn_begin(env, nullptr, 0, &txn);
    EXPECT_EQ(mdb_dbi_open(txn, "records", 0, &dbi), 0);
    int rc = 0;
    for (std::size_t i = 0; i < chunk && rc == 0; ++i) {
      char number[16];
      std::snprintf(number, sizeof number, "%010zu", stored + i);
      std::string rec = name_prefix + number;
      rec.resize(150, ' ');
      MDB_val key{92, rec.data()}, value{150, rec.data()};
      rc = mdb_put(txn, dbi, &key, &value, MDB_APPEND);
    }
    if (rc == 0) rc = mdb_txn_commit(txn);
    else mdb_txn_abort(txn);
    if (rc == 0) {
      stored += chunk;
    } else {
      EXPECT_EQ(rc, MDB_MAP_FULL);
      chunk /= 2;
    }
  }
  mdb_env_sync(env, 1);
  mdb_env_close(env);
  return stored;
}

}  // namespace e2e

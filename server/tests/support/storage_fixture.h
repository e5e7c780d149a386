// One fixture for the storage tests, parametrised over the backends: each test gets a fresh,
// empty database of its backend and can open a second storage on it (another server process).
// PostgreSQL runs in one private cluster for the whole test program; without the server
// binaries its cases are skipped.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "storage/storage.h"
#include "testing/private_postgres.h"
#include "testing/temp_folder.h"

namespace tolvane::server::test {

enum class Backend { sqlite, postgres };

/// "SQLite" or "PostgreSQL": the parametrised tests' names, in gtest's and ctest's listings.
void PrintTo(Backend backend, std::ostream* out);
/// Runs `sql` on the SQLite file at `path`, adding the first column of each row it yields to
/// `column` when given: false when it fails.
bool sqliteRun(const std::string& path, const std::string& sql,
               std::vector<std::string>* column = nullptr);

class StorageTest : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override;

  /// Another storage on the same database, as a second server process would open it.
  std::unique_ptr<Storage> openAnother();
  /// A new account with a unique e-mail; fails the test when it cannot be made.
  std::int64_t newAccount();
  /// Runs `sql` on this test's database behind the storage's back: false when it fails.
  bool execute(const std::string& sql);
  /// The private cluster, started at its first use.
  static testing::PrivatePostgres& cluster();

  testing::TempFolder folder_;
  // The SQLite file, or the libpq URL of this test's own PostgreSQL database.
  std::string location_;
  // This test's PostgreSQL database.
  std::string database_;
  std::unique_ptr<Storage> storage_;

 private:
  int accounts_ = 0;
};

}  // namespace tolvane::server::test

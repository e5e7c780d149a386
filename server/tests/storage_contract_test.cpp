// What every storage backend promises: unique accounts, single-use expiring codes and sign-ins,
// revocable tokens, sync versions that only ever move one writer at a time, and a database of
// an older schema upgraded in place.
#include <latch>
#include <thread>
#include <tuple>
#include <vector>

#include "support/storage_fixture.h"

namespace tolvane::server::test {
namespace {

TEST_P(StorageTest, AccountsKeepOddTextExactlyAndRefuseATakenEmail) {
  const std::vector<std::string> emails = {
      // Quotes and SQL fragments reach the database only as parameters.
      "o'brien@example.com",
      "x'); DROP TABLE accounts; --@example.com",
      "\"quoted\"@example.com",
      // LIKE wildcards and backslashes match nothing but themselves.
      "%_\\@example.com",
      // Composed and decomposed forms stay distinct: the server normalises, not the store.
      "zo\u00eb@\u4f8b\u3048.jp",
      "zoe\u0301@\u4f8b\u3048.jp",
      "fox\U0001F98A\u200f\u202e@example.com",
      "Upper@Example.com",
      "upper@example.com",
  };
  for (const std::string& email : emails) {
    const StoreResult<Account> created =
        storage_->createAccount(email, "$argon2id$" + email, email);
    ASSERT_TRUE(created.ok()) << email << ": " << created.detail;
    EXPECT_EQ(storage_->createAccount(email, "other", "free").status, StoreStatus::exists) << email;
  }
  for (const std::string& email : emails) {
    const StoreResult<Account> found = storage_->accountByEmail(email);
    ASSERT_TRUE(found.ok()) << email << ": " << found.detail;
    EXPECT_EQ(found.value.email, email);
    EXPECT_EQ(found.value.passwordHash, "$argon2id$" + email);
    EXPECT_EQ(found.value.tier, email);
  }
  EXPECT_EQ(storage_->accountByEmail("nobody@example.com").status, StoreStatus::notFound);
  EXPECT_EQ(storage_->accountByEmail("%").status, StoreStatus::notFound);
}

TEST_P(StorageTest, CodesAndPendingSignInsAreSingleUseUntilTheyExpire) {
  const std::int64_t account = newAccount();
  // When a code and a sign-in expire, when they are first taken, and what that answers.
  const std::tuple<std::int64_t, std::int64_t, StoreStatus> cases[] = {
      {1000, 999, StoreStatus::ok},
      // Expired at the very second named, and gone for good once looked at.
      {1000, 1000, StoreStatus::notFound},
      {1000, 5000, StoreStatus::notFound},
  };
  int n = 0;
  for (const auto& [expiresAt, takenAt, first] : cases) {
    const std::string hash = "hash-" + std::to_string(++n);
    SCOPED_TRACE(hash);
    ASSERT_EQ(storage_->addCode(hash, account, "challenge-" + hash, expiresAt), StoreStatus::ok);
    const StoreResult<CodeGrant> grant = storage_->takeCode(hash, takenAt);
    EXPECT_EQ(grant.status, first);
    if (grant.ok()) {
      EXPECT_EQ(grant.value.accountId, account);
      EXPECT_EQ(grant.value.challenge, "challenge-" + hash);
    }
    EXPECT_EQ(storage_->takeCode(hash, 0).status, StoreStatus::notFound);

    const PendingSignIn pending{
        .challenge = "c'" + hash, .state = "s;--" + hash, .expiresAt = expiresAt};
    ASSERT_EQ(storage_->addPendingSignIn(hash, pending, 0, 10), StoreStatus::ok);
    EXPECT_EQ(storage_->addPendingSignIn(hash, pending, 0, 10), StoreStatus::exists);
    const StoreResult<PendingSignIn> taken = storage_->takePendingSignIn(hash, takenAt);
    EXPECT_EQ(taken.status, first);
    if (taken.ok()) {
      EXPECT_EQ(taken.value.challenge, pending.challenge);
      EXPECT_EQ(taken.value.state, pending.state);
      EXPECT_EQ(taken.value.expiresAt, pending.expiresAt);
    }
    EXPECT_EQ(storage_->takePendingSignIn(hash, 0).status, StoreStatus::notFound);
  }
  EXPECT_EQ(storage_->addCode("orphan", account + 1000, "c", 1000), StoreStatus::notFound);
}

TEST_P(StorageTest, PurgeDropsOnlyWhatHasExpired) {
  const std::int64_t account = newAccount();
  ASSERT_EQ(storage_->addCode("old", account, "c", 100), StoreStatus::ok);
  ASSERT_EQ(storage_->addCode("fresh", account, "c", 300), StoreStatus::ok);
  ASSERT_EQ(storage_->addPendingSignIn("old", {.expiresAt = 100}, 0, 2), StoreStatus::ok);
  ASSERT_EQ(storage_->addPendingSignIn("fresh", {.expiresAt = 300}, 0, 2), StoreStatus::ok);
  // The bound counts the sign-ins still live at the time named.
  EXPECT_EQ(storage_->addPendingSignIn("third", {.expiresAt = 300}, 50, 2), StoreStatus::full);
  ASSERT_EQ(storage_->addPendingSignIn("third", {.expiresAt = 300}, 100, 2), StoreStatus::ok);
  for (const auto& [table, receivedAt] :
       {std::pair{UploadTable::usage, 99}, {UploadTable::usage, 100}, {UploadTable::testlog, 10}}) {
    ASSERT_EQ(storage_->addUpload({.table = table, .body = "{}", .receivedAt = receivedAt}),
              StoreStatus::ok);
  }
  ASSERT_EQ(storage_->purgeExpired(200), StoreStatus::ok);
  ASSERT_EQ(storage_->purgeUploads(100), StoreStatus::ok);
  // Asked at a time when the purged rows were still valid: only a removed row answers notFound.
  EXPECT_EQ(storage_->takeCode("old", 50).status, StoreStatus::notFound);
  EXPECT_EQ(storage_->takePendingSignIn("old", 50).status, StoreStatus::notFound);
  EXPECT_TRUE(storage_->takeCode("fresh", 250).ok());
  EXPECT_TRUE(storage_->takePendingSignIn("fresh", 250).ok());
  EXPECT_EQ(storage_->countUploads(UploadTable::usage).value, 1);
  EXPECT_EQ(storage_->countUploads(UploadTable::testlog).value, 0);
}

TEST_P(StorageTest, TokensResolveToTheirAccountUntilRevokedOrIdle) {
  const std::int64_t account = newAccount();
  const std::int64_t other = newAccount();
  ASSERT_EQ(storage_->addToken("token", account, "device-1", "code-1", 10), StoreStatus::ok);
  EXPECT_EQ(storage_->addToken("token", account, "device-2", "code-9", 11), StoreStatus::exists);
  ASSERT_EQ(storage_->addToken("second", account, "device-2", "code-2", 10), StoreStatus::ok);
  ASSERT_EQ(storage_->addToken("others", other, "device-3", "code-3", 10), StoreStatus::ok);
  const StoreResult<Account> owner = storage_->accountForToken("token", 20, 0);
  ASSERT_TRUE(owner.ok()) << owner.detail;
  EXPECT_EQ(owner.value.id, account);
  EXPECT_EQ(owner.value.email, "user1@example.com");
  // Idle since its last use; a use renews it.
  EXPECT_EQ(storage_->accountForToken("token", 20, 10).status, StoreStatus::notFound);
  EXPECT_TRUE(storage_->accountForToken("token", 90000, 9).ok());
  EXPECT_TRUE(storage_->accountForToken("token", 90001, 89999).ok());

  EXPECT_EQ(storage_->revokeTokenOfCode("code-2", 30), StoreStatus::ok);
  EXPECT_EQ(storage_->accountForToken("second", 30, 0).status, StoreStatus::notFound);
  EXPECT_TRUE(storage_->accountForToken("token", 30, 0).ok());
  EXPECT_EQ(storage_->revokeAllTokens(account, 40), StoreStatus::ok);
  EXPECT_EQ(storage_->accountForToken("token", 40, 0).status, StoreStatus::notFound);
  EXPECT_TRUE(storage_->accountForToken("others", 40, 0).ok()) << "another account's stays";

  EXPECT_EQ(storage_->revokeToken("others", 50), StoreStatus::ok);
  EXPECT_EQ(storage_->accountForToken("others", 50, 0).status, StoreStatus::notFound);
  EXPECT_EQ(storage_->revokeToken("others", 60), StoreStatus::ok);
  EXPECT_EQ(storage_->revokeToken("never-issued", 60), StoreStatus::ok);
  EXPECT_EQ(storage_->accountForToken("never-issued", 60, 0).status, StoreStatus::notFound);
}

TEST_P(StorageTest, SyncVersionsAdvanceByOneFromTheStoredBase) {
  const std::int64_t account = newAccount();
  const StoreResult<SyncRecord> empty = storage_->syncRecord(account);
  ASSERT_TRUE(empty.ok()) << empty.detail;
  EXPECT_EQ(empty.value.version, 0);
  EXPECT_EQ(empty.value.blob, "");

  // The base a commit names, its outcome, and the version stored afterwards.
  const std::tuple<std::int64_t, StoreStatus, std::int64_t> steps[] = {
      // Nothing stored: any base writes version 1.
      {7, StoreStatus::ok, 1},       {0, StoreStatus::conflict, 1}, {1, StoreStatus::ok, 2},
      {1, StoreStatus::conflict, 2}, {3, StoreStatus::conflict, 2}, {2, StoreStatus::ok, 3},
  };
  std::string lastBlob;
  for (const auto& [base, status, storedAfter] : steps) {
    // Bytes of any value, a NUL among them, come back exactly.
    const std::string blob =
        std::string("{\"base\":", 8) + std::to_string(base) + std::string("\0\xff'}", 4);
    const StoreResult<std::int64_t> committed =
        storage_->commitSync(account, base, blob, "device", 100);
    EXPECT_EQ(committed.status, status) << "base " << base << ": " << committed.detail;
    if (committed.ok()) {
      EXPECT_EQ(committed.value, storedAfter);
      lastBlob = blob;
    }
    const StoreResult<SyncRecord> stored = storage_->syncRecord(account);
    EXPECT_EQ(stored.value.version, storedAfter);
    EXPECT_EQ(stored.value.blob, lastBlob);
  }
  EXPECT_EQ(storage_->syncRecord(newAccount()).value.version, 0);
}

TEST_P(StorageTest, OfWritersRacingOnOneBaseExactlyOneWinsAndAnotherStorageSeesIt) {
  constexpr int kWriters = 8;
  const std::int64_t account = newAccount();
  ASSERT_TRUE(storage_->commitSync(account, 0, "first", "device", 1).ok());
  ASSERT_EQ(storage_->addCode("code", account, "challenge", 1000), StoreStatus::ok);

  std::latch start(kWriters);
  std::vector<StoreStatus> commits(kWriters);
  std::vector<StoreStatus> exchanges(kWriters);
  std::vector<std::thread> writers;
  for (int i = 0; i < kWriters; ++i) {
    writers.emplace_back([&, i] {
      start.arrive_and_wait();
      commits[i] = storage_->commitSync(account, 1, "writer " + std::to_string(i), "d", 2).status;
      exchanges[i] = storage_->takeCode("code", 10).status;
    });
  }
  for (std::thread& writer : writers) writer.join();

  for (const auto& outcomes : {commits, exchanges}) {
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), StoreStatus::ok), 1);
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), StoreStatus::ok) +
                  std::count(outcomes.begin(), outcomes.end(), StoreStatus::conflict) +
                  std::count(outcomes.begin(), outcomes.end(), StoreStatus::notFound),
              kWriters);
  }
  const auto winner = std::find(commits.begin(), commits.end(), StoreStatus::ok) - commits.begin();
  const StoreResult<SyncRecord> stored = storage_->syncRecord(account);
  EXPECT_EQ(stored.value.version, 2);
  EXPECT_EQ(stored.value.blob, "writer " + std::to_string(winner));

  // A second storage on the database, as another server process opens it, sees these writes.
  std::unique_ptr<Storage> other = openAnother();
  ASSERT_TRUE(other);
  EXPECT_EQ(other->commitSync(account, 1, "stale", "d", 3).status, StoreStatus::conflict);
  EXPECT_TRUE(other->commitSync(account, 2, "from two", "d", 3).ok());
  EXPECT_EQ(storage_->syncRecord(account).value.blob, "from two");
  EXPECT_EQ(other->createAccount("user1@example.com", "h", "free").status, StoreStatus::exists);
}

TEST_P(StorageTest, ADatabaseOfTheFirstSchemaIsUpgradedWithItsUploadsUnlinked) {
  const std::string account = std::to_string(newAccount());
  storage_.reset();
  // Made back into the first schema: tokens without their use and code, uploads with the
  // account that sent them.
  std::string sql =
      "DROP INDEX tokens_by_code; DROP INDEX tokens_by_account;"
      "ALTER TABLE tokens DROP COLUMN code_hash; ALTER TABLE tokens DROP COLUMN last_used_at;"
      "INSERT INTO tokens(token_hash, account_id, device_id, created_at) VALUES ('t', " +
      account + ", 'd', 5);";
  if (GetParam() == Backend::sqlite) sql += "PRAGMA user_version = 1;";
  for (const std::string table : {"usage_uploads", "crash_uploads", "testlog_uploads"}) {
    sql += "DROP INDEX " + table + "_by_time; ALTER TABLE " + table +
           " ADD COLUMN account_id BIGINT; INSERT INTO " + table +
           "(install_id, app_version, body, received_at, account_id) VALUES ('i', '1', '{}', 5, " +
           account + ");";
  }
  ASSERT_TRUE(execute(sql));
  storage_ = openAnother();
  ASSERT_TRUE(storage_);
  EXPECT_TRUE(storage_->accountForToken("t", 10, 6).ok()) << "the upgrade signs nobody out";
  EXPECT_EQ(storage_->countUploads(UploadTable::crash).value, 1);
  EXPECT_FALSE(execute("SELECT account_id FROM usage_uploads"));
  EXPECT_TRUE(execute("SELECT code_hash FROM tokens"));
}

INSTANTIATE_TEST_SUITE_P(Backends, StorageTest,
                         ::testing::Values(Backend::sqlite, Backend::postgres),
                         ::testing::PrintToStringParamName());

}  // namespace
}  // namespace tolvane::server::test

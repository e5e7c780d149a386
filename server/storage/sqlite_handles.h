// Owning handles for SQLite connections and prepared statements (cached per connection), and
// the small set of calls the SQLite storage makes through them: bind in order, step, read.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tolvane::server::sqlite {

struct ConnectionCloser {
  // close_v2 defers the close until every statement is finalized, so the order in which
  // handles die never leaks a connection.
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

/// A connection and the statements prepared on it, kept for the next operation: preparing
/// costs several times more than running most of ours.
class Connection {
 public:
  Connection() = default;
  explicit Connection(sqlite3* db) : db_(db) {}

  sqlite3* get() const { return db_.get(); }
  explicit operator bool() const { return db_ != nullptr; }

  /// The statement for `sql`, prepared on its first use; null, with `rc` set, when it cannot
  /// be prepared.
  sqlite3_stmt* cached(std::string_view sql, int& rc) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) return found->second.get();
    sqlite3_stmt* raw = nullptr;
    rc = sqlite3_prepare_v3(db_.get(), sql.data(), static_cast<int>(sql.size()),
                            SQLITE_PREPARE_PERSISTENT, &raw, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(raw);
      return nullptr;
    }
    return statements_.emplace(std::string(sql), raw).first->second.get();
  }

 private:
  // Declared first, destroyed last: the statements are finalized before the connection closes.
  std::unique_ptr<sqlite3, ConnectionCloser> db_;
  std::map<std::string, std::unique_ptr<sqlite3_stmt, StatementFinalizer>, std::less<>> statements_;
};

/// A statement whose parameters are bound in the order of the calls to `bind`. Preparing or
/// binding failures are kept and reported by the first `step`.
class Statement {
 public:
  /// Prepared for this one use.
  Statement(sqlite3* db, std::string_view sql) : db_(db) {
    sqlite3_stmt* raw = nullptr;
    rc_ = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
    owned_.reset(raw);
    stmt_ = raw;
  }
  /// Taken from the connection's cache and reset for the next use when this one ends.
  Statement(Connection& connection, std::string_view sql) : db_(connection.get()) {
    stmt_ = connection.cached(sql, rc_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() {
    // A statement left unreset would hold its read transaction, and the connection would see
    // an old snapshot of the database in its next operation.
    if (!owned_ && stmt_) {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }

  Statement& bind(std::int64_t value) {
    if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_int64(stmt_, next_++, value);
    return *this;
  }
  Statement& bind(std::string_view text) {
    if (rc_ == SQLITE_OK) {
      rc_ = sqlite3_bind_text64(stmt_, next_++, text.data(), text.size(), SQLITE_TRANSIENT,
                                SQLITE_UTF8);
    }
    return *this;
  }
  Statement& bind(const std::string& text) { return bind(std::string_view(text)); }
  Statement& bind(const char* text) { return bind(std::string_view(text)); }
  Statement& bind(const std::optional<std::int64_t>& value) {
    if (value) return bind(*value);
    if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_null(stmt_, next_++);
    return *this;
  }
  /// Bytes kept exactly as given, whatever they hold.
  Statement& bindBlob(std::string_view bytes) {
    if (rc_ == SQLITE_OK) {
      rc_ = sqlite3_bind_blob64(stmt_, next_++, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    }
    return *this;
  }

  /// SQLITE_ROW, SQLITE_DONE, or the (extended) error code of preparing, binding or stepping.
  int step() {
    if (rc_ == SQLITE_OK || rc_ == SQLITE_ROW) rc_ = sqlite3_step(stmt_);
    return rc_;
  }
  /// Steps to the end, so that an autocommit statement has committed (or reported why not)
  /// before the caller looks at its rows as final. SQLITE_DONE or the error code.
  int finish() {
    while (rc_ == SQLITE_ROW || rc_ == SQLITE_OK) step();
    return rc_;
  }

  std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
  std::string text(int column) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    const int size = sqlite3_column_bytes(stmt_, column);
    return bytes ? std::string(bytes, static_cast<std::size_t>(size)) : std::string();
  }

  /// SQLite's own words for the last failure on this connection.
  std::string errorText() const { return sqlite3_errmsg(db_); }

 private:
  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, StatementFinalizer> owned_;
  sqlite3_stmt* stmt_ = nullptr;
  int next_ = 1;
  int rc_ = SQLITE_OK;
};

/// Runs SQL that returns no rows (pragmas that set, schema statements); SQLITE_OK or the error.
inline int execute(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

}  // namespace tolvane::server::sqlite

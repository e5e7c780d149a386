// Owning handles for SQLite connections and prepared statements, and the small set of calls the
// SQLite storage makes through them: bind in order, step, read columns.
#pragma once

#include <sqlite3.h>

#include <cstdint>
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
using Connection = std::unique_ptr<sqlite3, ConnectionCloser>;

/// A prepared statement whose parameters are bound in the order of the calls to `bind`.
/// Binding or preparing failures are kept and reported by the first `step`.
class Statement {
 public:
  Statement(sqlite3* db, std::string_view sql) : db_(db) {
    sqlite3_stmt* raw = nullptr;
    rc_ = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &raw, nullptr);
    stmt_.reset(raw);
  }

  Statement& bind(std::int64_t value) {
    if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_int64(stmt_.get(), next_++, value);
    return *this;
  }
  Statement& bind(std::string_view text) {
    if (rc_ == SQLITE_OK) {
      rc_ = sqlite3_bind_text64(stmt_.get(), next_++, text.data(), text.size(), SQLITE_TRANSIENT,
                                SQLITE_UTF8);
    }
    return *this;
  }
  Statement& bind(const std::string& text) { return bind(std::string_view(text)); }
  Statement& bind(const char* text) { return bind(std::string_view(text)); }
  Statement& bind(const std::optional<std::int64_t>& value) {
    if (value) return bind(*value);
    if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_null(stmt_.get(), next_++);
    return *this;
  }
  /// Bytes kept exactly as given, whatever they hold.
  Statement& bindBlob(std::string_view bytes) {
    if (rc_ == SQLITE_OK) {
      rc_ = sqlite3_bind_blob64(stmt_.get(), next_++, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
    }
    return *this;
  }

  /// SQLITE_ROW, SQLITE_DONE, or the (extended) error code of preparing, binding or stepping.
  int step() {
    if (rc_ == SQLITE_OK || rc_ == SQLITE_ROW) rc_ = sqlite3_step(stmt_.get());
    return rc_;
  }
  /// Steps to the end, so that an autocommit statement has committed (or reported why not)
  /// before the caller looks at its rows as final. SQLITE_DONE or the error code.
  int finish() {
    while (rc_ == SQLITE_ROW || rc_ == SQLITE_OK) step();
    return rc_;
  }

  std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_.get(), column); }
  std::string text(int column) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(stmt_.get(), column));
    const int size = sqlite3_column_bytes(stmt_.get(), column);
    return bytes ? std::string(bytes, static_cast<std::size_t>(size)) : std::string();
  }

  /// SQLite's own words for the last failure on this connection.
  std::string errorText() const { return sqlite3_errmsg(db_); }

 private:
  struct Finalizer {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
  };
  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, Finalizer> stmt_;
  int next_ = 1;
  int rc_ = SQLITE_OK;
};

/// Runs SQL that returns no rows (pragmas that set, schema statements); SQLITE_OK or the error.
inline int execute(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

}  // namespace tolvane::server::sqlite

// Owning handles for libpq connections and results, and statement parameters that are always
// sent apart from the SQL text.
#pragma once

#include <libpq-fe.h>

#include <charconv>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::server::postgres {

struct ConnectionCloser {
  void operator()(PGconn* connection) const { PQfinish(connection); }
};
using Connection = std::unique_ptr<PGconn, ConnectionCloser>;

struct ResultClearer {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClearer>;

/// The parameters of one statement, in order ($1, $2, …).
class Params {
 public:
  Params& add(std::int64_t value) { return push(std::to_string(value), kTextFormat); }
  /// Text goes in binary format, i.e. as its exact bytes with their length: nothing is cut at
  /// a NUL, and the server still checks that it is valid UTF-8.
  Params& add(std::string_view text) { return push(std::string(text), kBinaryFormat); }
  Params& add(const std::string& text) { return add(std::string_view(text)); }
  Params& add(const char* text) { return add(std::string_view(text)); }
  Params& add(const std::optional<std::int64_t>& value) {
    if (value) return add(*value);
    values_.emplace_back();
    formats_.push_back(kTextFormat);
    return *this;
  }
  /// Bytes for a bytea column.
  Params& addBytes(std::string_view bytes) { return push(std::string(bytes), kBinaryFormat); }

  /// Runs `sql` with these parameters; the result is never null (libpq reports out of memory
  /// as a null result, turned here into a fatal one).
  Result run(PGconn* connection, const char* sql) const {
    std::vector<const char*> values;
    std::vector<int> lengths;
    for (const auto& value : values_) {
      values.push_back(value ? value->data() : nullptr);
      lengths.push_back(value ? static_cast<int>(value->size()) : 0);
    }
    Result result(PQexecParams(connection, sql, static_cast<int>(values.size()), nullptr,
                               values.data(), lengths.data(), formats_.data(), kTextFormat));
    if (!result) result.reset(PQmakeEmptyPGresult(connection, PGRES_FATAL_ERROR));
    return result;
  }

 private:
  static constexpr int kTextFormat = 0;
  static constexpr int kBinaryFormat = 1;

  Params& push(std::string value, int format) {
    values_.emplace_back(std::move(value));
    formats_.push_back(format);
    return *this;
  }

  std::vector<std::optional<std::string>> values_;
  std::vector<int> formats_;
};

/// The text of a cell of a text-format result.
inline std::string text(const PGresult* result, int row, int column) {
  return std::string(PQgetvalue(result, row, column),
                     static_cast<std::size_t>(PQgetlength(result, row, column)));
}

/// An integer cell of a text-format result; 0 for anything that is not one.
inline std::int64_t integer(const PGresult* result, int row, int column) {
  const char* begin = PQgetvalue(result, row, column);
  std::int64_t value = 0;
  std::from_chars(begin, begin + PQgetlength(result, row, column), value);
  return value;
}

/// A bytea cell of a text-format result, unescaped to its bytes.
inline std::optional<std::string> bytes(const PGresult* result, int row, int column) {
  struct Freer {
    void operator()(unsigned char* memory) const { PQfreemem(memory); }
  };
  std::size_t size = 0;
  std::unique_ptr<unsigned char, Freer> raw(PQunescapeBytea(
      reinterpret_cast<const unsigned char*>(PQgetvalue(result, row, column)), &size));
  if (!raw) return std::nullopt;
  return std::string(reinterpret_cast<const char*>(raw.get()), size);
}

}  // namespace tolvane::server::postgres

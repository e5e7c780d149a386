// The string tables' JSON text as compiled into the binary (generated at build time).
#pragma once

#include <cstddef>
#include <string_view>

namespace tolvane {

struct EmbeddedTable {
  /// The language code, from the file name ("zh-Hans").
  std::string_view code;
  /// The file's JSON text: one object of key → text, in the English table's key order.
  std::string_view json;
};

extern const EmbeddedTable kEmbeddedTables[];
extern const std::size_t kEmbeddedTableCount;

}  // namespace tolvane

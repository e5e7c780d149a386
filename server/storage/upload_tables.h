// The names of the upload tables, shared by both storage implementations. Table names cannot be
// bound as parameters, so they come only from this fixed list, never from a request.
#pragma once

#include <array>

#include "storage/storage.h"

namespace tolvane::server {

/// The table that keeps uploads of kind `table`.
inline const char* uploadTableName(UploadTable table) {
  switch (table) {
    case UploadTable::usage:
      return "usage_uploads";
    case UploadTable::crash:
      return "crash_uploads";
    case UploadTable::testlog:
      return "testlog_uploads";
  }
  return "usage_uploads";
}

/// Every upload kind, for creating their tables.
inline constexpr std::array kAllUploadTables{UploadTable::usage, UploadTable::crash,
                                             UploadTable::testlog};

}  // namespace tolvane::server

// `tolvane filter`: lines of text ranked for a query exactly as the palette ranks windows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

/// The longest line the filter keeps; a longer one is cut on a character boundary.
inline constexpr std::size_t kFilterLineBytes = 64 * 1024;

/// One line as read: cut to kFilterLineBytes, invalid UTF-8 repaired.
std::string filterLine(std::string_view raw);

/// The lines that match `query`, best first; equal scores keep the input order, and an empty
/// query keeps every line in order.
std::vector<std::string> filterLines(std::string_view query, std::vector<std::string> lines);

}  // namespace tolvane

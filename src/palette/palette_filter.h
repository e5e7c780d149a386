// `tolvane filter`: lines of text ranked for a query exactly as the palette ranks windows.
#pragma once

#include <cstddef>
#include <cstdio>
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

/// filterLines over the lines read from descriptor `input` (each as filterLine makes it),
/// written to `output` one per line. The input is read in blocks and scored as it arrives, on
/// several threads once it is large; a line that does not match is not kept, and no line is
/// ever held longer than kFilterLineBytes and one byte. False when reading or writing failed.
bool filterStream(std::string_view query, int input, std::FILE* output);

}  // namespace tolvane

// Fuzz target for the preference file parser: any bytes must parse or be refused without a
// crash (members that fail alone are dropped), and whatever parses must survive a save and a
// load with every readable value intact.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "backends/system/json_preference_store.h"

namespace {

std::string keysOf(const tolvane::system::PreferenceDocument& document) {
  std::string keys;
  for (const auto& [key, member] : document.kept) keys += key + '\n';
  return keys;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tolvane::system;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto parsed = parsePreferenceDocument(text);
  if (!parsed) return 0;

  const std::string saved = serializePreferenceDocument(*parsed);
  const auto reloaded = parsePreferenceDocument(saved);
  if (!reloaded) std::abort();
  // Dropped members are not written back, so what was written parses whole.
  if (!reloaded->dropped.empty()) std::abort();
  if (reloaded->values != parsed->values) std::abort();
  // Unreadable members must stay present; their JSON may be normalised (an overflowing number
  // is written as null), so only the keys are compared.
  if (keysOf(*reloaded) != keysOf(*parsed)) std::abort();
  // A second save must not drift: the file reaches a fixed point after one rewrite.
  if (serializePreferenceDocument(*reloaded) != saved) std::abort();
  return 0;
}

// Fuzz target for the preference file parser: any bytes must parse or be refused without a
// crash (members that fail alone are dropped), and whatever parses must survive a save and a
// load with every readable value intact.
#include <string>

#include "backends/system/json_preference_store.h"
#include "fuzz/fuzz_target.h"

using tolvane::fuzz::require;

namespace {

std::string keysOf(const tolvane::system::PreferenceDocument& document) {
  std::string keys;
  for (const auto& [key, member] : document.kept) keys += key + '\n';
  return keys;
}

}  // namespace

TOLVANE_FUZZ_TARGET(text) {
  using namespace tolvane::system;
  const auto parsed = parsePreferenceDocument(text);
  if (!parsed) return;

  const std::string saved = serializePreferenceDocument(*parsed);
  const auto reloaded = parsePreferenceDocument(saved);
  // Dropped members are not written back, so what was written parses whole.
  require(reloaded && reloaded->dropped.empty() && reloaded->values == parsed->values);
  // Unreadable members must stay present; their JSON may be normalised (an overflowing number
  // is written as null), so only the keys are compared.
  require(keysOf(*reloaded) == keysOf(*parsed));
  // A second save must not drift: the file reaches a fixed point after one rewrite.
  require(serializePreferenceDocument(*reloaded) == saved);
}

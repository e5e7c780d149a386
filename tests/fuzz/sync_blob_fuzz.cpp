// Fuzz target for another machine's settings blob: any bytes must decode or be refused without a
// crash, a refusal may only name a carried key and a reason, and whatever applies must leave
// settings that this machine would itself send and take back unchanged.
#include <regex>
#include <string>

#include "cloud/sync_payload.h"
#include "fuzz/fuzz_target.h"
#include "settings/setting_table.h"
#include "support/sim_services.h"

using tolvane::fuzz::require;

namespace {

// "sync: rejected key=<carried key> reason=<word>" and nothing else: a line that carried bytes
// of the blob would let a remote machine write into the log.
bool isRefusalLine(const std::string& line) {
  static const std::regex kRefusal(
      "sync: rejected key=([^ ]*) reason=(wrong-type|out-of-range|unsupported)");
  std::smatch match;
  return std::regex_match(line, match, kRefusal) && tolvane::prefkey::carriedBySync(match[1].str());
}

}  // namespace

TOLVANE_FUZZ_TARGET(blob) {
  using namespace tolvane;
  test::SimServices world;
  const auto payload = SyncPayload::decode(blob, world.log);
  for (const auto& line : world.logLines) require(isRefusalLine(line));
  if (!payload) return;
  require(payload->rejectedKeys.size() == world.logLines.size());
  payload->apply(world.settings);

  // What was applied passed every check, so this machine's own blob of it is taken whole.
  const std::string mine = SyncPayload::from(world.settings).blob();
  test::SimServices other;
  const auto again = SyncPayload::decode(mine, other.log);
  require(again && again->rejectedKeys.empty() && other.logLines.empty());
  again->apply(other.settings);
  require(SyncPayload::from(other.settings).blob() == mine);
}

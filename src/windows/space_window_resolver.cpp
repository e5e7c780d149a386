// The all-Spaces map and the element-id search behind other-Space windows.
#include "windows/space_window_resolver.h"

#include <limits>

namespace tolvane {

namespace {

std::optional<std::uint32_t> windowNumberOf(const std::optional<std::int64_t>& number) {
  if (!number || *number < 0 || *number > std::numeric_limits<std::uint32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(*number);
}

std::string bracketed(const std::set<std::uint32_t>& numbers) {
  std::string text = "[";
  for (auto n : numbers) {
    if (text.size() > 1) text += ", ";
    text += std::to_string(n);
  }
  return text + "]";
}

}  // namespace

std::optional<SpaceMap> SpaceWindowResolver::windowIDsAcrossSpaces() {
  const auto connection = windowServer_.mainConnectionID();
  if (!connection) return std::nullopt;
  const auto spaces = windowServer_.copySpaces(*connection, 7);
  if (!spaces || spaces->empty()) return std::nullopt;
  const auto numbers = windowServer_.copyWindowsOnSpaces(*connection, *spaces);
  if (!numbers) return std::nullopt;

  // Only layer-0 windows have owners here: menus, panels and the like live on other layers and
  // must not be taken for windows someone could switch to.
  std::unordered_map<std::uint32_t, Pid> owner;
  for (const auto& info : windowServer_.allWindows().value_or(std::vector<WindowInfo>{})) {
    const auto number = windowNumberOf(info.number);
    if (!number || !info.layer || *info.layer != 0 || !info.ownerPid) continue;
    owner[*number] = static_cast<Pid>(*info.ownerPid);
  }
  SpaceMap map;
  for (auto number : *numbers) {
    if (auto it = owner.find(number); it != owner.end()) map[it->second].insert(number);
  }
  prune(map);
  return map;
}

void SpaceWindowResolver::prune(const SpaceMap& map) {
  std::unordered_set<std::uint32_t> live;
  for (const auto& [pid, numbers] : map) live.insert(numbers.begin(), numbers.end());

  std::erase_if(unresolvable_, [&](std::uint32_t n) { return !live.count(n); });
  for (auto it = registry_.begin(); it != registry_.end();) {
    std::erase_if(it->second, [&](const auto& entry) { return !live.count(entry.first); });
    it = it->second.empty() ? registry_.erase(it) : std::next(it);
  }
  std::erase_if(scanCursor_, [&](const auto& entry) { return !map.count(entry.first); });
  for (auto it = rejected_.begin(); it != rejected_.end();) {
    const auto own = map.find(it->first);
    std::erase_if(it->second,
                  [&](std::uint32_t n) { return own == map.end() || !own->second.count(n); });
    it = it->second.empty() ? rejected_.erase(it) : std::next(it);
  }
}

std::set<std::uint32_t> SpaceWindowResolver::knownIDs(Pid pid) const {
  std::set<std::uint32_t> ids;
  if (auto it = registry_.find(pid); it != registry_.end()) {
    for (const auto& [number, element] : it->second) ids.insert(number);
  }
  return ids;
}

void SpaceWindowResolver::noteSeen(Pid pid, std::uint32_t number, AXElement element) {
  registry_[pid][number] = std::move(element);
  unresolvable_.erase(number);
}

void SpaceWindowResolver::noteRejected(Pid pid, std::uint32_t number) {
  rejected_[pid].insert(number);
}

void SpaceWindowResolver::clearRejected(Pid pid, std::uint32_t number) {
  if (auto it = rejected_.find(pid); it != rejected_.end()) {
    it->second.erase(number);
    if (it->second.empty()) rejected_.erase(it);
  }
}

void SpaceWindowResolver::forgetDead(Pid pid, std::uint32_t number) {
  if (auto it = registry_.find(pid); it != registry_.end()) {
    it->second.erase(number);
    if (it->second.empty()) registry_.erase(it);
  }
  unresolvable_.insert(number);
  clearRejected(pid, number);
}

std::set<std::uint32_t> SpaceWindowResolver::rejected(Pid pid) const {
  auto it = rejected_.find(pid);
  return it == rejected_.end() ? std::set<std::uint32_t>{} : it->second;
}

std::optional<std::int64_t> SpaceWindowResolver::scanCursor(Pid pid) const {
  auto it = scanCursor_.find(pid);
  if (it == scanCursor_.end()) return std::nullopt;
  return it->second;
}

std::map<std::uint32_t, AXElement> SpaceWindowResolver::resolve(Pid pid,
                                                                const std::set<std::uint32_t>& ids,
                                                                double deadline) {
  std::map<std::uint32_t, AXElement> result;
  std::set<std::uint32_t> wanted;
  const auto known = registry_.find(pid);
  for (auto number : ids) {
    if (known != registry_.end()) {
      if (auto it = known->second.find(number); it != known->second.end()) {
        result.emplace(number, it->second);
        continue;
      }
    }
    if (!unresolvable_.count(number)) wanted.insert(number);
  }
  if (wanted.empty() || !windowServer_.hasRemoteTokens()) {
    scanCursor_.erase(pid);
    return result;
  }

  const auto cursor = scanCursor_.find(pid);
  const std::int64_t start = cursor == scanCursor_.end() ? 0 : cursor->second;
  std::int64_t reached = std::max(start, kBruteForceLimit);
  bool outOfBudget = false;
  for (std::int64_t id = start; id < kBruteForceLimit; ++id) {
    if (wanted.empty()) {
      reached = id;
      break;
    }
    if (clock_.now() > deadline) {
      // `id` has not been tried: the next search starts with it.
      scanCursor_[pid] = id;
      reached = id;
      outOfBudget = true;
      break;
    }
    auto element = windowServer_.elementFromRemoteToken(makeRemoteToken(pid, id));
    std::uint32_t number = 0;
    if (element && accessibility_.windowNumber(element, number) == ax::kSuccess &&
        wanted.erase(number)) {
      registry_[pid][number] = element;
      result.emplace(number, std::move(element));
    }
  }
  if (!outOfBudget) {
    // The whole range was tried (or everything found): what is still wanted does not exist as an
    // element, and searching again would cost another full range for nothing.
    unresolvable_.insert(wanted.begin(), wanted.end());
    scanCursor_.erase(pid);
  }

  std::string line = "resolve pid=" + std::to_string(pid) +
                     " wanted=" + std::to_string(ids.size()) +
                     " resolved=" + std::to_string(result.size()) + " gaveUp=" + bracketed(wanted) +
                     " scanned=" + std::to_string(start) + ".." + std::to_string(reached);
  if (outOfBudget) line += " (budget)";
  log_.log(line);
  return result;
}

}  // namespace tolvane

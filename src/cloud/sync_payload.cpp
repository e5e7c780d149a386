// The blob's fields, their checks, and the way into and out of the settings store.
#include "cloud/sync_payload.h"

#include <algorithm>
#include <array>
#include <limits>
#include <tuple>
#include <type_traits>
#include <utility>

#include <nlohmann/json.hpp>

#include "localization/app_language.h"
#include "model/key_combo.h"
#include "settings/preference_keys.h"
#include "settings/setting_table.h"

namespace tolvane {

namespace {

using Json = nlohmann::json;

/// One field of the payload: its key, where it lives in the payload, the store's getter and
/// setter, and what this machine must know of a remote value beyond the table's range.
template <typename T, typename Getter, typename Setter>
struct Field {
  using Value = T;
  std::string_view key;
  std::optional<T> SyncPayload::*member;
  Getter get;
  Setter set;
  bool (*known)(const T&) = nullptr;
};
template <typename T, typename Getter, typename Setter>
Field(std::string_view, std::optional<T> SyncPayload::*, Getter, Setter)
    -> Field<T, Getter, Setter>;
template <typename T, typename Getter, typename Setter>
Field(std::string_view, std::optional<T> SyncPayload::*, Getter, Setter, bool (*)(const T&))
    -> Field<T, Getter, Setter>;

constexpr std::int64_t kCarbonBits =
    hotkeymask::kCommand | hotkeymask::kShift | hotkeymask::kOption | hotkeymask::kControl;

bool isSupportedLanguage(const std::string& code) {
  return languageFromRawValue(code).has_value();
}
// The table's range keeps the code within 16 bits, so the conversion loses nothing.
bool isNamedKey(const std::int64_t& keyCode) {
  return keycombo::keyName(static_cast<std::uint32_t>(keyCode)).has_value();
}
// The hotkey recorder never produces a bare key, and the table refuses one wherever a mask is
// read (a global grab of a bare key would swallow it in every other program); its bits must be
// the modifiers a hot key knows.
static_assert(settingEntry(prefkey::kPaletteModifiers).maskBits == kCarbonBits);

using S = AppSettings;
using P = SyncPayload;
// In the order of kSettingTable.
constexpr auto kFields = std::tuple{
    Field{prefkey::kLanguageCode, &P::languageCode, &S::languageCode, &S::setLanguageCode,
          &isSupportedLanguage},
    Field{prefkey::kInterceptCmdTab, &P::interceptCmdTab, &S::interceptCmdTab,
          &S::setInterceptCmdTab},
    Field{prefkey::kInterceptAppCycle, &P::interceptAppCycle, &S::interceptAppCycle,
          &S::setInterceptAppCycle},
    Field{prefkey::kShowMinimizedWindows, &P::showMinimizedWindows, &S::showMinimizedWindows,
          &S::setShowMinimizedWindows},
    Field{prefkey::kShowHiddenAppWindows, &P::showHiddenAppWindows, &S::showHiddenAppWindows,
          &S::setShowHiddenAppWindows},
    Field{prefkey::kSwitcherUsesOption, &P::switcherUsesOption, &S::switcherUsesOption,
          &S::setSwitcherUsesOption},
    Field{prefkey::kPaletteKeyCode, &P::paletteKeyCode, &S::paletteKeyCode, &S::setPaletteKeyCode,
          &isNamedKey},
    Field{prefkey::kPaletteModifiers, &P::paletteModifiers, &S::paletteModifiers,
          &S::setPaletteModifiers},
    Field{prefkey::kExcludedBundleIDs, &P::excludedBundleIDs, &S::excludedBundleIDs,
          &S::setExcludedBundleIDs},
    Field{prefkey::kImproveDataSharing, &P::improveDataSharing, &S::improveDataSharing,
          &S::setImproveDataSharing},
};

// A setting the table carries but the payload lacks would silently never sync.
constexpr bool fieldsAreTheCarriedSettings() {
  return std::apply(
      [](const auto&... field) {
        const std::array keys{field.key...};
        return std::ranges::equal(keys, prefkey::kSyncedSettingKeys);
      },
      kFields);
}
static_assert(fieldsAreTheCarriedSettings());

// Each identifier costs its bytes, two quotes and a comma; the other fields fit in the slack.
constexpr const SettingEntry& kListEntry = settingEntry(prefkey::kExcludedBundleIDs);
static_assert(kListEntry.maxItems * (kListEntry.maxLength + 3) + 1024 <=
              SyncPayload::kMaxBlobBytes);

enum class Refusal { none, wrongType, outOfRange, unknown };

std::string_view reasonOf(Refusal refusal) {
  switch (refusal) {
    case Refusal::wrongType:
      return "wrong-type";
    case Refusal::outOfRange:
      return "out-of-range";
    case Refusal::unknown:
      return "unsupported";
    case Refusal::none:
      break;
  }
  return "none";
}

Refusal read(const Json& json, bool& out) {
  if (!json.is_boolean()) return Refusal::wrongType;
  out = json.get<bool>();
  return Refusal::none;
}

Refusal read(const Json& json, std::int64_t& out) {
  // 49.0 is a number but not an integer: refused rather than truncated.
  if (!json.is_number_integer()) return Refusal::wrongType;
  if (json.is_number_unsigned() &&
      json.get<std::uint64_t>() > std::uint64_t(std::numeric_limits<std::int64_t>::max())) {
    return Refusal::outOfRange;
  }
  out = json.get<std::int64_t>();
  return Refusal::none;
}

// The parser refuses a document with any byte sequence that is not UTF-8, so every string that
// reaches here is valid UTF-8.
Refusal read(const Json& json, std::string& out) {
  if (!json.is_string()) return Refusal::wrongType;
  out = json.get<std::string>();
  return Refusal::none;
}

Refusal read(const Json& json, std::vector<std::string>& out) {
  if (!json.is_array()) return Refusal::wrongType;
  const bool allStrings =
      std::ranges::all_of(json, [](const Json& item) { return item.is_string(); });
  if (!allStrings) return Refusal::wrongType;
  // The table's bound on the items is checked after this copy; the blob's bound caps it.
  out = json.get<std::vector<std::string>>();
  return Refusal::none;
}

template <typename F>
void decodeField(const F& field, const Json& object, SyncPayload& payload, DebugLog& log) {
  const auto found = object.find(std::string(field.key));
  if (found == object.end() || found->is_null()) return;
  typename F::Value value{};
  Refusal refusal = read(*found, value);
  if (refusal == Refusal::none && !findSetting(field.key)->accepts(PrefValue(value))) {
    refusal = Refusal::outOfRange;
  }
  if (refusal == Refusal::none && field.known && !field.known(value)) refusal = Refusal::unknown;
  if (refusal != Refusal::none) {
    payload.rejectedKeys.push_back(field.key);
    log.log("sync: rejected key=" + std::string(field.key) +
            " reason=" + std::string(reasonOf(refusal)));
    return;
  }
  payload.*field.member = std::move(value);
}

template <typename F>
void applyField(const F& field, const SyncPayload& payload, AppSettings& settings) {
  if (std::ranges::find(payload.rejectedKeys, field.key) != payload.rejectedKeys.end()) return;
  const auto& value = payload.*field.member;
  if (value) {
    (settings.*field.set)(*value);
  } else if constexpr (std::is_invocable_v<decltype(field.set), AppSettings&, std::nullopt_t>) {
    // A setting that may be nil (the language) is written even when absent: absence is its
    // value, "follow the system".
    (settings.*field.set)(std::nullopt);
  }
}

}  // namespace

SyncPayload SyncPayload::from(const AppSettings& settings) {
  SyncPayload payload;
  std::apply(
      [&](const auto&... field) { ((payload.*field.member = (settings.*field.get)()), ...); },
      kFields);
  return payload;
}

std::string SyncPayload::blob() const {
  Json object = Json::object();
  std::apply(
      [&](const auto&... field) {
        ((this->*field.member ? void(object[std::string(field.key)] = *(this->*field.member))
                              : void()),
         ...);
      },
      kFields);
  // Objects keep their members sorted by key, which makes equal settings equal blobs.
  try {
    return object.dump();
  } catch (const Json::type_error&) {
    return "{}";  // a string that is not UTF-8
  }
}

std::optional<SyncPayload> SyncPayload::decode(std::string_view blob, DebugLog& log) {
  if (blob.size() > kMaxBlobBytes) return std::nullopt;
  const Json object = Json::parse(blob.begin(), blob.end(), nullptr, false);
  if (object.is_discarded() || !object.is_object()) return std::nullopt;
  SyncPayload payload;
  std::apply([&](const auto&... field) { (decodeField(field, object, payload, log), ...); },
             kFields);
  return payload;
}

void SyncPayload::apply(AppSettings& settings) const {
  std::apply([&](const auto&... field) { (applyField(field, *this, settings), ...); }, kFields);
}

}  // namespace tolvane

// Reading a scenario: strict about types and names, so a typo is refused with the field it is in
// instead of silently simulating something else.
#include "scenario.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <stdexcept>

#include "model/key_codes.h"
#include "platform/event_tap.h"

namespace tolvane::simtool {

namespace {

using Json = nlohmann::json;

/// The longest single step of virtual time; longer runs are refused so a scenario always ends
/// in reasonable real time.
constexpr double kMaxStepSeconds = 86400;

/// A refusal, carrying the message that names the field.
struct Refusal : std::runtime_error {
  using std::runtime_error::runtime_error;
};

[[noreturn]] void refuse(const std::string& where, const std::string& why) {
  throw Refusal(where + ": " + why);
}

/// One JSON object being read, with its path, checking that every field it has is one the
/// reader asked for.
class Fields {
 public:
  Fields(const Json& json, std::string where) : json_(json), where_(std::move(where)) {
    if (!json_.is_object()) refuse(where_, "expected an object");
  }

  const std::string& where() const { return where_; }
  std::string at(const std::string& key) const { return where_ + "." + key; }

  const Json* find(const std::string& key) {
    known_.insert(key);
    auto it = json_.find(key);
    return it == json_.end() ? nullptr : &*it;
  }
  const Json& require(const std::string& key) {
    const Json* value = find(key);
    if (!value) refuse(at(key), "missing");
    return *value;
  }

  std::optional<bool> boolean(const std::string& key) {
    const Json* v = find(key);
    if (!v) return std::nullopt;
    if (!v->is_boolean()) refuse(at(key), "expected true or false");
    return v->get<bool>();
  }
  std::optional<std::int64_t> integer(const std::string& key) {
    const Json* v = find(key);
    if (!v) return std::nullopt;
    if (!v->is_number_integer()) refuse(at(key), "expected an integer");
    return v->get<std::int64_t>();
  }
  std::optional<double> number(const std::string& key) {
    const Json* v = find(key);
    if (!v) return std::nullopt;
    if (!v->is_number()) refuse(at(key), "expected a number");
    return v->get<double>();
  }
  std::optional<std::string> string(const std::string& key) {
    const Json* v = find(key);
    if (!v) return std::nullopt;
    if (!v->is_string()) refuse(at(key), "expected a string");
    return v->get<std::string>();
  }

  Pid pid(const std::string& key) {
    const auto v = integer(key);
    if (!v) refuse(at(key), "missing");
    if (*v <= 0 || *v > 4194304) refuse(at(key), "expected a process id from 1 to 4194304");
    return static_cast<Pid>(*v);
  }
  std::uint32_t windowNumber(const std::string& key) {
    const auto v = integer(key);
    if (!v) refuse(at(key), "missing");
    if (*v <= 0 || *v > 0xffffffffLL) refuse(at(key), "expected a window number above 0");
    return static_cast<std::uint32_t>(*v);
  }
  double seconds(const std::string& key, bool required) {
    const auto v = number(key);
    if (!v) {
      if (required) refuse(at(key), "missing");
      return 0;
    }
    if (!std::isfinite(*v) || *v < 0 || *v > kMaxStepSeconds) {
      refuse(at(key), "expected seconds from 0 to 86400");
    }
    return *v;
  }

  /// Refuses the first field nobody asked for.
  void done() const {
    for (const auto& [key, value] : json_.items()) {
      if (!known_.count(key)) refuse(at(key), "unknown field");
    }
  }

 private:
  const Json& json_;
  std::string where_;
  std::set<std::string> known_;
};

std::string indexed(const std::string& where, std::size_t i) {
  return where + "[" + std::to_string(i) + "]";
}

const Json& array(Fields& fields, const std::string& key, const Json& empty) {
  const Json* v = fields.find(key);
  if (!v) return empty;
  if (!v->is_array()) refuse(fields.at(key), "expected an array");
  return *v;
}

ActivationPolicy policyNamed(const std::string& name, const std::string& where) {
  if (name == "regular") return ActivationPolicy::regular;
  if (name == "accessory") return ActivationPolicy::accessory;
  if (name == "prohibited") return ActivationPolicy::prohibited;
  refuse(where, "expected \"regular\", \"accessory\" or \"prohibited\"");
}

AXValue attributeValue(const Json& v, const std::string& where) {
  if (v.is_string()) return AXValue(v.get<std::string>());
  if (v.is_boolean()) return AXValue(v.get<bool>());
  if (v.is_number_integer()) return AXValue(v.get<std::int64_t>());
  if (v.is_number()) return AXValue(v.get<double>());
  refuse(where, "expected a string, a number or true/false");
}

sim::SimWindow parseWindow(const Json& json, const std::string& where, Pid pid,
                           std::vector<RemoteTokenPlacement>& tokens) {
  Fields f(json, where);
  sim::SimWindow w;
  w.pid = pid;
  w.number = f.windowNumber("number");
  if (const Json* title = f.find("title")) {
    if (title->is_null()) {
      w.title.reset();
    } else if (title->is_string()) {
      w.title = title->get<std::string>();
    } else {
      refuse(f.at("title"), "expected a string or null");
    }
  }
  if (const Json* subrole = f.find("subrole")) {
    w.subrole = subrole->is_null() ? std::nullopt
                                   : std::optional(attributeValue(*subrole, f.at("subrole")));
  }
  if (const Json* size = f.find("size")) {
    if (size->is_null()) {
      w.size.reset();
    } else {
      Fields s(*size, f.at("size"));
      w.size = Size{s.number("width").value_or(800), s.number("height").value_or(600)};
      s.done();
    }
  }
  w.minimized = f.boolean("minimized").value_or(false);
  w.space = static_cast<int>(f.integer("space").value_or(1));
  w.layer = f.integer("layer").value_or(0);
  w.windowNumberReadable = f.boolean("numberReadable").value_or(true);
  if (auto reported = f.integer("reportedNumber")) {
    w.reportedNumber = static_cast<std::uint32_t>(*reported);
  }
  if (auto element = f.integer("remoteTokenElement")) {
    tokens.push_back({*element, w.number});
  }
  f.done();
  return w;
}

/// Which windows and applications exist as the timeline runs, for refusing references to ones
/// that do not.
struct Census {
  std::map<std::uint32_t, Pid> windows;
  std::set<Pid> apps;

  void add(const ScenarioApp& app, const std::string& where) {
    if (!apps.insert(app.app.pid).second) {
      refuse(where + ".pid", "application " + std::to_string(app.app.pid) + " runs already");
    }
    for (const auto& w : app.windows) addWindow(w, where);
  }
  void addWindow(const sim::SimWindow& w, const std::string& where) {
    if (!windows.emplace(w.number, w.pid).second) {
      refuse(where, "window " + std::to_string(w.number) + " exists already");
    }
  }
  Pid window(std::uint32_t number, const std::string& where) const {
    auto it = windows.find(number);
    if (it == windows.end()) {
      refuse(where, "no window " + std::to_string(number) + " exists at this point");
    }
    return it->second;
  }
  void app(Pid pid, const std::string& where) const {
    if (!apps.count(pid)) {
      refuse(where, "no application " + std::to_string(pid) + " runs at this point");
    }
  }
  void removeApp(Pid pid) {
    apps.erase(pid);
    std::erase_if(windows, [pid](const auto& entry) { return entry.second == pid; });
  }
};

ScenarioApp parseApp(const Json& json, const std::string& where) {
  Fields f(json, where);
  ScenarioApp a;
  a.app.pid = f.pid("pid");
  a.app.localizedName = f.string("name");
  a.app.bundleID = f.string("bundleID");
  a.app.bundleLocation = f.string("bundleLocation");
  a.app.hidden = f.boolean("hidden").value_or(false);
  if (auto policy = f.string("policy"))
    a.app.activationPolicy = policyNamed(*policy, f.at("policy"));
  a.app.callCostSeconds = f.seconds("slow", false);
  a.app.hung = f.boolean("hung").value_or(false);
  a.app.acceptsActivation = f.boolean("acceptsActivation").value_or(true);
  a.app.observersFail = f.boolean("observersFail").value_or(false);
  a.app.notificationsFail = f.boolean("notificationsFail").value_or(false);
  a.app.reportedTerminated = f.boolean("reportedTerminated").value_or(false);
  a.frontmost = f.boolean("frontmost").value_or(false);
  const Json empty = Json::array();
  const Json& windows = array(f, "windows", empty);
  for (std::size_t i = 0; i < windows.size(); ++i) {
    a.windows.push_back(
        parseWindow(windows[i], indexed(f.at("windows"), i), a.app.pid, a.remoteTokens));
  }
  if (f.find("focusedWindow")) {
    a.focusedWindow = f.windowNumber("focusedWindow");
    const bool own = std::any_of(a.windows.begin(), a.windows.end(),
                                 [&](const auto& w) { return w.number == *a.focusedWindow; });
    if (!own) refuse(f.at("focusedWindow"), "not one of this application's windows");
  }
  f.done();
  return a;
}

PrefValue preferenceValue(const Json& v, const std::string& where) {
  if (v.is_boolean()) return v.get<bool>();
  if (v.is_number_integer()) return v.get<std::int64_t>();
  if (v.is_string()) return v.get<std::string>();
  if (v.is_array() &&
      std::all_of(v.begin(), v.end(), [](const Json& e) { return e.is_string(); })) {
    return v.get<std::vector<std::string>>();
  }
  refuse(where, "expected true/false, an integer, a string or a list of strings");
}

std::uint64_t parseFlags(const Json& v, const std::string& where) {
  if (!v.is_array()) refuse(where, "expected a list such as [\"command\", \"shift\"]");
  std::uint64_t flags = 0;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const std::string name = v[i].is_string() ? v[i].get<std::string>() : "";
    if (name == "command") {
      flags |= eventflags::kCommand;
    } else if (name == "option") {
      flags |= eventflags::kOption;
    } else if (name == "shift") {
      flags |= eventflags::kShift;
    } else if (name == "control") {
      flags |= eventflags::kControl;
    } else {
      refuse(indexed(where, i), "expected \"command\", \"option\", \"shift\" or \"control\"");
    }
  }
  return flags;
}

const std::map<std::string, ActionKind, std::less<>>& actionNames() {
  static const std::map<std::string, ActionKind, std::less<>> names = {
      {"advance", ActionKind::advance},
      {"keyDown", ActionKind::keyDown},
      {"keyUp", ActionKind::keyUp},
      {"press", ActionKind::press},
      {"loseKeyUp", ActionKind::loseKeyUp},
      {"focus", ActionKind::focus},
      {"launchApp", ActionKind::launchApp},
      {"quitApp", ActionKind::quitApp},
      {"hang", ActionKind::hang},
      {"openWindow", ActionKind::openWindow},
      {"closeWindow", ActionKind::closeWindow},
      {"minimize", ActionKind::minimize},
      {"switchSpace", ActionKind::switchSpace},
      {"secureInput", ActionKind::secureInput},
      {"stall", ActionKind::stall},
      {"url", ActionKind::url},
      {"click", ActionKind::click},
      {"paletteHotKey", ActionKind::paletteHotKey},
      {"type", ActionKind::type},
      {"paletteKey", ActionKind::paletteKey},
      {"trayMenu", ActionKind::trayMenu},
      {"signIn", ActionKind::signIn},
      {"signOut", ActionKind::signOut},
      {"serverReply", ActionKind::serverReply},
      {"quit", ActionKind::quit},
  };
  return names;
}

void parseKey(Fields& f, Action& a) {
  const Json& key = f.require("key");
  std::optional<std::uint16_t> code;
  if (key.is_string()) code = keyCodeNamed(key.get<std::string>());
  if (key.is_number_integer() && key.get<std::int64_t>() >= 0 && key.get<std::int64_t>() < 128) {
    code = static_cast<std::uint16_t>(key.get<std::int64_t>());
  }
  if (!code) refuse(f.at("key"), "unknown key " + key.dump());
  a.keyCode = *code;
  a.keyName = key.is_string() ? key.get<std::string>() : std::to_string(*code);
  if (const Json* flags = f.find("flags")) a.flags = parseFlags(*flags, f.at("flags"));
}

void parseReply(Fields& f, Action& a) {
  if (const Json* status = f.find("status"); status && !status->is_null()) {
    const auto code = f.integer("status").value_or(0);
    if (code < 100 || code > 599) refuse(f.at("status"), "expected an HTTP status, or null");
    a.status = static_cast<int>(code);
  }
  if (const Json* body = f.find("body")) {
    // An object or array stands for its JSON text; a string is sent as it is.
    a.text = body->is_string() ? body->get<std::string>() : body->dump();
  }
}

/// The fields of the steps that change applications, windows and Spaces, checked against what
/// exists at that point of the timeline.
void parseDesktopChange(Fields& f, Action& a, Census& census, int spaces) {
  switch (a.kind) {
    case ActionKind::focus:
    case ActionKind::closeWindow:
    case ActionKind::minimize:
      a.window = f.windowNumber("window");
      a.pid = census.window(a.window, f.at("window"));
      if (a.kind == ActionKind::minimize) a.enabled = f.boolean("minimized").value_or(true);
      if (a.kind == ActionKind::closeWindow) census.windows.erase(a.window);
      break;
    case ActionKind::launchApp:
      a.app = parseApp(f.require("app"), f.at("app"));
      census.add(*a.app, f.at("app"));
      break;
    case ActionKind::quitApp:
    case ActionKind::hang:
      a.pid = f.pid("pid");
      census.app(a.pid, f.at("pid"));
      a.enabled = f.boolean("hung").value_or(true);
      if (a.kind == ActionKind::quitApp) census.removeApp(a.pid);
      break;
    case ActionKind::openWindow: {
      a.pid = f.pid("pid");
      census.app(a.pid, f.at("pid"));
      std::vector<RemoteTokenPlacement> ignored;
      a.newWindow = parseWindow(f.require("window"), f.at("window"), a.pid, ignored);
      census.addWindow(*a.newWindow, f.at("window"));
      break;
    }
    case ActionKind::switchSpace:
      a.space = static_cast<int>(f.integer("space").value_or(0));
      if (a.space < 1 || a.space > spaces) {
        refuse(f.at("space"), "expected a Space from 1 to " + std::to_string(spaces));
      }
      break;
    case ActionKind::secureInput:
      a.enabled = f.boolean("enabled").value_or(true);
      if (f.find("holder")) a.holder = f.pid("holder");
      break;
    default:
      break;
  }
}

Action parseAction(const Json& json, const std::string& where, Census& census, int spaces) {
  Fields f(json, where);
  Action a;
  a.where = where;
  const auto name = f.string("action");
  if (!name) refuse(f.at("action"), "missing");
  const auto kind = actionNames().find(*name);
  if (kind == actionNames().end()) refuse(f.at("action"), "unknown action \"" + *name + "\"");
  a.kind = kind->second;
  switch (a.kind) {
    case ActionKind::advance:
    case ActionKind::stall:
      a.seconds = f.seconds("seconds", true);
      break;
    case ActionKind::keyDown:
    case ActionKind::keyUp:
    case ActionKind::press:
    case ActionKind::loseKeyUp:
    case ActionKind::paletteKey:
      parseKey(f, a);
      break;
    case ActionKind::url:
      a.url = f.string("url").value_or("");
      if (a.url.empty()) refuse(f.at("url"), "missing");
      break;
    case ActionKind::click:
      a.slot = static_cast<int>(f.integer("slot").value_or(-1));
      if (a.slot < 0) refuse(f.at("slot"), "expected a slot index from 0");
      break;
    case ActionKind::type:
      a.text = f.string("text").value_or("");
      if (!f.find("text")) refuse(f.at("text"), "missing");
      break;
    case ActionKind::trayMenu:
      a.text = f.string("choose").value_or("");
      break;
    case ActionKind::signIn:
      a.text = f.string("code").value_or("code-1");
      break;
    case ActionKind::serverReply:
      parseReply(f, a);
      break;
    case ActionKind::paletteHotKey:
    case ActionKind::signOut:
    case ActionKind::quit:
      break;
    default:
      parseDesktopChange(f, a, census, spaces);
  }
  f.done();
  return a;
}

Scenario parseTop(const Json& root) {
  Fields f(root, "scenario");
  Scenario s;
  const Json emptyObject = Json::object();
  const Json* desktopJson = f.find("desktop");
  Fields d(desktopJson ? *desktopJson : emptyObject, "desktop");
  s.trusted = d.boolean("trusted").value_or(true);
  const int spaces = static_cast<int>(d.integer("spaces").value_or(2));
  if (spaces < 1 || spaces > 16) refuse(d.at("spaces"), "expected 1 to 16");
  s.currentSpace = static_cast<int>(d.integer("currentSpace").value_or(1));
  if (s.currentSpace < 1 || s.currentSpace > spaces) refuse(d.at("currentSpace"), "out of range");
  const Json emptyArray = Json::array();
  const Json& missing = array(d, "missingPrivateFunctions", emptyArray);
  for (std::size_t i = 0; i < missing.size(); ++i) {
    const std::string name = missing[i].is_string() ? missing[i].get<std::string>() : "";
    bool* flag = name == "mainConnectionID"      ? &s.available.mainConnectionID
                 : name == "copySpaces"          ? &s.available.copySpaces
                 : name == "copyWindowsOnSpaces" ? &s.available.copyWindowsOnSpaces
                 : name == "remoteTokens"        ? &s.available.remoteTokens
                 : name == "hotKeySetter"        ? &s.available.hotKeySetter
                 : name == "hotKeyQuery"         ? &s.available.hotKeyQuery
                                                 : nullptr;
    if (!flag) refuse(indexed(d.at("missingPrivateFunctions"), i), "unknown private function");
    *flag = false;
  }
  if (const Json* screen = d.find("screen")) {
    if (screen->is_null()) {
      s.screen.reset();
    } else {
      Fields r(*screen, d.at("screen"));
      s.screen = Rect{r.number("x").value_or(0), r.number("y").value_or(0),
                      r.number("width").value_or(1512), r.number("height").value_or(875)};
      r.done();
    }
  }
  s.screenCount = static_cast<int>(d.integer("screens").value_or(1));
  d.done();

  if (const Json* prefs = f.find("preferences")) {
    if (!prefs->is_object()) refuse("preferences", "expected an object");
    for (const auto& [key, value] : prefs->items()) {
      s.preferences.emplace_back(key, preferenceValue(value, "preferences." + key));
    }
  }

  Census census;
  const Json& apps = array(f, "apps", emptyArray);
  for (std::size_t i = 0; i < apps.size(); ++i) {
    s.apps.push_back(parseApp(apps[i], indexed("apps", i)));
    census.add(s.apps.back(), indexed("apps", i));
  }
  const Json& timeline = array(f, "timeline", emptyArray);
  for (std::size_t i = 0; i < timeline.size(); ++i) {
    s.timeline.push_back(parseAction(timeline[i], indexed("timeline", i), census, spaces));
    if (s.timeline.back().kind == ActionKind::quit && i + 1 != timeline.size()) {
      refuse(indexed("timeline", i + 1), "nothing can follow \"quit\"");
    }
  }
  f.done();
  return s;
}

std::string lineAndColumn(const std::string& text, std::size_t byte) {
  std::size_t line = 1;
  std::size_t column = 1;
  for (std::size_t i = 0; i < byte && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

/// Reads JSON without building it, to find where and why it is not valid. Json::parse throws a
/// number past a double's range ("1e400") as an out_of_range error that carries no position;
/// here every fault comes with one.
class JsonFault final : public nlohmann::json_sax<Json> {
 public:
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t byte, const std::string&, const Json::exception& error) override {
    byte_ = byte;
    why_ = error.what();
    return false;
  }

  /// "line 3, column 15: not valid JSON: <why>".
  std::string refusal(const std::string& text) const {
    // nlohmann's message starts with "[json.exception.<kind>.<id>] ", and a parse error's
    // repeats the position in bytes up to its last ": "; ours gives it as a line instead.
    std::string why = why_;
    if (const auto colon = why.rfind(": "); colon != std::string::npos) {
      why.erase(0, colon + 2);
    } else if (const auto bracket = why.find("] "); bracket != std::string::npos) {
      why.erase(0, bracket + 2);
    }
    return lineAndColumn(text, byte_ == 0 ? 0 : byte_ - 1) + ": not valid JSON: " + why;
  }

 private:
  std::size_t byte_ = 0;
  std::string why_;
};

}  // namespace

ParseResult parseScenario(const std::string& text) {
  JsonFault fault;
  if (!Json::sax_parse(text, &fault)) return fault.refusal(text);
  try {
    // Cannot fail once the same parser has read the text to its end: a discarded value would
    // be refused as "expected an object".
    return parseTop(Json::parse(text, nullptr, /*allow_exceptions=*/false));
  } catch (const Refusal& refusal) {
    return std::string(refusal.what());
  }
}

std::optional<std::uint16_t> keyCodeNamed(const std::string& name) {
  static const std::map<std::string, std::uint16_t, std::less<>> names = {
      {"tab", keycode::kTab},
      {"keyAboveTab", keycode::kKeyAboveTab},
      {"grave", keycode::kKeyAboveTab},
      {"return", keycode::kReturn},
      {"enter", keycode::kKeypadEnter},
      {"escape", keycode::kEscape},
      {"left", keycode::kLeft},
      {"right", keycode::kRight},
      {"down", keycode::kDown},
      {"up", keycode::kUp},
      {"space", keycode::kSpace},
      {"command", keycode::kLeftCommand},
      {"rightCommand", keycode::kRightCommand},
      {"option", keycode::kLeftOption},
      {"rightOption", keycode::kRightOption},
      {"shift", 56},
      {"control", 59},
  };
  if (auto it = names.find(name); it != names.end()) return it->second;
  if (name.size() == 1 && name[0] >= '1' && name[0] <= '9') {
    return keycode::kDigits[static_cast<std::size_t>(name[0] - '1')];
  }
  return std::nullopt;
}

std::optional<std::uint64_t> modifierFlag(std::uint16_t keyCode) {
  switch (keyCode) {
    case keycode::kLeftCommand:
    case keycode::kRightCommand:
      return eventflags::kCommand;
    case keycode::kLeftOption:
    case keycode::kRightOption:
      return eventflags::kOption;
    case 56:
    case 60:
      return eventflags::kShift;
    case 59:
    case 62:
      return eventflags::kControl;
    default:
      return std::nullopt;
  }
}

std::string flagNames(std::uint64_t flags) {
  std::string out;
  const std::pair<std::uint64_t, const char*> names[] = {{eventflags::kCommand, "command"},
                                                         {eventflags::kOption, "option"},
                                                         {eventflags::kControl, "control"},
                                                         {eventflags::kShift, "shift"}};
  for (const auto& [flag, name] : names) {
    if (flags & flag) out += (out.empty() ? "" : "+") + std::string(name);
  }
  return out.empty() ? "none" : out;
}

}  // namespace tolvane::simtool

// Property reads, window facts, text repair and root messages.
#include "backends/x11/x11_ewmh.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace tolvane::x11 {

namespace {

/// Longest property read, in 32-bit units: titles and client lists are far shorter, and a
/// hostile client cannot make one read allocate more than this.
constexpr std::uint32_t kMaxPropertyUnits = 1 << 16;

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

/// The first element of a text list (ICCCM text properties separate elements with NUL).
std::string_view firstElement(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

ReadStatus worst(ReadStatus a, ReadStatus b) {
  // A dead window explains everything after it; a lost connection trumps even that.
  if (a == ReadStatus::noReply || b == ReadStatus::noReply) return ReadStatus::noReply;
  if (a == ReadStatus::deadWindow || b == ReadStatus::deadWindow) return ReadStatus::deadWindow;
  return ReadStatus::ok;
}

std::string textOf(const Property& property, const Atoms& atoms) {
  const std::string_view raw = firstElement(property.data);
  if (property.type == XCB_ATOM_STRING || property.type == atoms.compoundText) {
    return latin1ToUtf8(raw);
  }
  return repairUtf8(raw);
}

/// How a UTF-8 sequence that starts with a given byte is built.
struct Sequence {
  std::size_t length;
  std::uint32_t leadBits;
  /// The smallest code point the length may encode: anything below is an overlong form.
  std::uint32_t smallest;
};

std::optional<Sequence> sequenceOf(unsigned char lead) {
  if ((lead & 0xE0) == 0xC0) return Sequence{2, 0x1F, 0x80};
  if ((lead & 0xF0) == 0xE0) return Sequence{3, 0x0F, 0x800};
  if ((lead & 0xF8) == 0xF0) return Sequence{4, 0x07, 0x10000};
  return std::nullopt;
}

}  // namespace

// --- Properties -----------------------------------------------------------------------------

std::vector<std::uint32_t> Property::values() const {
  if (format != 32 || data.size() < 4) return {};  // memcpy must not see an empty vector's null
  std::vector<std::uint32_t> result(data.size() / 4);
  std::memcpy(result.data(), data.data(), result.size() * 4);
  return result;
}

std::optional<std::uint32_t> Property::first() const {
  const auto list = values();
  if (list.empty()) return std::nullopt;
  return list.front();
}

PendingProperty::PendingProperty(xcb_connection_t* connection, xcb_window_t window,
                                 xcb_atom_t property)
    : connection_(connection),
      cookie_(
          xcb_get_property(connection, 0, window, property, XCB_ATOM_ANY, 0, kMaxPropertyUnits)) {}

PendingProperty::~PendingProperty() {
  if (!taken_) xcb_discard_reply(connection_, cookie_.sequence);
}

Property PendingProperty::take() {
  Property property;
  if (std::exchange(taken_, true)) return property;
  xcb_generic_error_t* rawError = nullptr;
  Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie_, &rawError));
  Reply<xcb_generic_error_t> error(rawError);
  if (error) {
    // BadWindow is the only error a live connection gives for a well-formed read; anything
    // else (a bad atom) means the property cannot exist.
    property.status =
        error->error_code == XCB_WINDOW ? ReadStatus::deadWindow : ReadStatus::missing;
    return property;
  }
  if (!reply) return property;  // noReply
  if (reply->type == XCB_ATOM_NONE) {
    property.status = ReadStatus::missing;
    return property;
  }
  property.status = ReadStatus::ok;
  property.type = reply->type;
  property.format = reply->format;
  const int length = xcb_get_property_value_length(reply.get());
  if (length > 0) {
    property.data.assign(static_cast<const char*>(xcb_get_property_value(reply.get())),
                         static_cast<std::size_t>(length));
  }
  return property;
}

Property readProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
  return PendingProperty(connection, window, property).take();
}

namespace {

/// Which member holds which atom.
constexpr std::pair<std::string_view, xcb_atom_t Atoms::*> kAtomNames[] = {
    {"_NET_SUPPORTED", &Atoms::supported},
    {"_NET_SUPPORTING_WM_CHECK", &Atoms::supportingWmCheck},
    {"_NET_CLIENT_LIST", &Atoms::clientList},
    {"_NET_CLIENT_LIST_STACKING", &Atoms::clientListStacking},
    {"_NET_ACTIVE_WINDOW", &Atoms::activeWindow},
    {"_NET_CURRENT_DESKTOP", &Atoms::currentDesktop},
    {"_NET_NUMBER_OF_DESKTOPS", &Atoms::numberOfDesktops},
    {"_NET_WM_DESKTOP", &Atoms::wmDesktop},
    {"_NET_WM_PID", &Atoms::wmPid},
    {"_NET_WM_NAME", &Atoms::wmName},
    {"UTF8_STRING", &Atoms::utf8String},
    {"COMPOUND_TEXT", &Atoms::compoundText},
    {"_NET_WM_WINDOW_TYPE", &Atoms::wmWindowType},
    {"_NET_WM_WINDOW_TYPE_NORMAL", &Atoms::typeNormal},
    {"_NET_WM_WINDOW_TYPE_DIALOG", &Atoms::typeDialog},
    {"_NET_WM_WINDOW_TYPE_DESKTOP", &Atoms::typeDesktop},
    {"_NET_WM_WINDOW_TYPE_DOCK", &Atoms::typeDock},
    {"_NET_WM_STATE", &Atoms::wmState},
    {"_NET_WM_STATE_HIDDEN", &Atoms::stateHidden},
    {"_NET_WM_STATE_SKIP_TASKBAR", &Atoms::stateSkipTaskbar},
    {"_NET_WM_STATE_STICKY", &Atoms::stateSticky},
    {"_GTK_APPLICATION_ID", &Atoms::gtkApplicationID},
    {"WM_CHANGE_STATE", &Atoms::wmChangeState},
    {"_NET_WM_ICON", &Atoms::wmIcon},
};

}  // namespace

Atoms::Atoms(Connection& c) {
  std::vector<std::string_view> names;
  for (const auto& [name, member] : kAtomNames) names.push_back(name);
  const auto atoms = c.atoms(names);
  for (std::size_t i = 0; i < atoms.size(); ++i) this->*kAtomNames[i].second = atoms[i];
}

// --- Window facts ---------------------------------------------------------------------------

bool ClientFacts::hasState(xcb_atom_t state) const {
  return state != XCB_ATOM_NONE && std::find(states.begin(), states.end(), state) != states.end();
}

xcb_atom_t ClientFacts::effectiveType(const Atoms& atoms) const {
  if (!types.empty()) return types.front();
  return transient ? atoms.typeDialog : atoms.typeNormal;
}

PendingClientFacts::PendingClientFacts(xcb_connection_t* connection, const Atoms& atoms,
                                       xcb_window_t window)
    : pid_(connection, window, atoms.wmPid),
      machine_(connection, window, XCB_ATOM_WM_CLIENT_MACHINE),
      wmClass_(connection, window, XCB_ATOM_WM_CLASS),
      gtkID_(connection, window, atoms.gtkApplicationID),
      types_(connection, window, atoms.wmWindowType),
      states_(connection, window, atoms.wmState),
      transient_(connection, window, XCB_ATOM_WM_TRANSIENT_FOR),
      desktop_(connection, window, atoms.wmDesktop) {}

std::optional<ClientFacts> readClientFacts(xcb_connection_t* connection, const Atoms& atoms,
                                           xcb_window_t window, ReadStatus* status) {
  return PendingClientFacts(connection, atoms, window).take(status);
}

std::optional<ClientFacts> PendingClientFacts::take(ReadStatus* status) {
  const Property read[] = {pid_.take(),   machine_.take(), wmClass_.take(),   gtkID_.take(),
                           types_.take(), states_.take(),  transient_.take(), desktop_.take()};

  ReadStatus overall = ReadStatus::ok;
  for (const auto& property : read) overall = worst(overall, property.status);
  if (status) *status = overall;
  if (overall != ReadStatus::ok) return std::nullopt;

  ClientFacts facts;
  if (read[0].ok()) facts.claimedPid = read[0].first();
  if (read[1].ok()) facts.machine = std::string(firstElement(read[1].data));
  if (read[2].ok()) {
    const std::string_view both = read[2].data;
    const auto split = both.find('\0');
    facts.instance = latin1ToUtf8(both.substr(0, split));
    if (split != std::string_view::npos)
      facts.windowClass = latin1ToUtf8(firstElement(both.substr(split + 1)));
  }
  if (read[3].ok()) facts.gtkApplicationID = repairUtf8(firstElement(read[3].data));
  for (auto value : read[4].values()) facts.types.push_back(value);
  for (auto value : read[5].values()) facts.states.push_back(value);
  facts.transient = read[6].ok() && read[6].first().value_or(XCB_WINDOW_NONE) != XCB_WINDOW_NONE;
  if (read[7].ok()) facts.desktop = read[7].first();
  return facts;
}

PendingTitle::PendingTitle(xcb_connection_t* connection, const Atoms& atoms, xcb_window_t window)
    : atoms_(atoms),
      netName_(connection, window, atoms.wmName),
      legacyName_(connection, window, XCB_ATOM_WM_NAME) {}

std::optional<std::string> PendingTitle::take(ReadStatus& status) {
  const Property utf8 = netName_.take();
  const Property legacy = legacyName_.take();
  status = worst(utf8.status, legacy.status);
  if (status != ReadStatus::ok) return std::nullopt;
  if (utf8.ok() && utf8.format == 8) return textOf(utf8, atoms_);
  if (legacy.ok() && legacy.format == 8) return textOf(legacy, atoms_);
  return std::nullopt;
}

std::optional<std::string> readTitle(xcb_connection_t* connection, const Atoms& atoms,
                                     xcb_window_t window, ReadStatus& status) {
  return PendingTitle(connection, atoms, window).take(status);
}

PendingSize::PendingSize(xcb_connection_t* connection, xcb_window_t window)
    : connection_(connection), cookie_(xcb_get_geometry(connection, window)) {}

PendingSize::~PendingSize() {
  if (!taken_) xcb_discard_reply(connection_, cookie_.sequence);
}

std::optional<PixelSize> PendingSize::take(ReadStatus& status) {
  status = ReadStatus::noReply;
  if (std::exchange(taken_, true)) return std::nullopt;
  xcb_generic_error_t* rawError = nullptr;
  Reply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(connection_, cookie_, &rawError));
  Reply<xcb_generic_error_t> error(rawError);
  if (!geometry) {
    status = error ? ReadStatus::deadWindow : ReadStatus::noReply;
    return std::nullopt;
  }
  status = ReadStatus::ok;
  return PixelSize{geometry->width, geometry->height};
}

std::optional<xcb_atom_t> readWindowType(xcb_connection_t* connection, const Atoms& atoms,
                                         xcb_window_t window, ReadStatus& status) {
  PendingProperty types(connection, window, atoms.wmWindowType);
  PendingProperty transient(connection, window, XCB_ATOM_WM_TRANSIENT_FOR);
  ClientFacts facts;
  const Property typeList = types.take();
  const Property owner = transient.take();
  status = worst(typeList.status, owner.status);
  if (status != ReadStatus::ok) return std::nullopt;
  for (auto value : typeList.values()) facts.types.push_back(value);
  facts.transient = owner.ok() && owner.first().value_or(XCB_WINDOW_NONE) != XCB_WINDOW_NONE;
  return facts.effectiveType(atoms);
}

std::string atomName(xcb_connection_t* connection, xcb_atom_t atom) {
  Reply<xcb_get_atom_name_reply_t> reply(
      xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr));
  if (!reply) return {};
  return std::string(xcb_get_atom_name_name(reply.get()),
                     static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
}

ReadStatus probeWindow(xcb_connection_t* connection, xcb_window_t window) {
  xcb_generic_error_t* rawError = nullptr;
  Reply<xcb_get_window_attributes_reply_t> reply(xcb_get_window_attributes_reply(
      connection, xcb_get_window_attributes(connection, window), &rawError));
  Reply<xcb_generic_error_t> error(rawError);
  if (reply) return ReadStatus::ok;
  return error ? ReadStatus::deadWindow : ReadStatus::noReply;
}

// --- Text -----------------------------------------------------------------------------------

std::string repairUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    const auto shape = sequenceOf(lead);
    if (!shape) {
      out += kReplacement;  // a stray continuation byte or an impossible lead byte
      ++i;
      continue;
    }
    std::uint32_t code = lead & shape->leadBits;
    std::size_t taken = 1;
    for (; taken < shape->length && i + taken < text.size(); ++taken) {
      const auto next = static_cast<unsigned char>(text[i + taken]);
      if ((next & 0xC0) != 0x80) break;
      code = (code << 6) | (next & 0x3F);
    }
    const bool valid = taken == shape->length && code >= shape->smallest && code <= 0x10FFFF &&
                       !(code >= 0xD800 && code <= 0xDFFF);
    if (valid) {
      out.append(text.substr(i, taken));
    } else {
      // One replacement for the bytes that looked like one character; the byte that broke
      // the sequence starts the next one.
      out += kReplacement;
    }
    i += taken;
  }
  return out;
}

std::string latin1ToUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (byte >> 6));
      out += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return out;
}

// --- Messages -------------------------------------------------------------------------------

void sendRootMessage(Connection& connection, xcb_window_t window, xcb_atom_t type, std::uint32_t d0,
                     std::uint32_t d1, std::uint32_t d2, std::uint32_t d3, std::uint32_t d4) {
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = type;
  message.data.data32[0] = d0;
  message.data.data32[1] = d1;
  message.data.data32[2] = d2;
  message.data.data32[3] = d3;
  message.data.data32[4] = d4;
  xcb_send_event(connection.xcb(), 0, connection.root(),
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  connection.flush();
}

}  // namespace tolvane::x11

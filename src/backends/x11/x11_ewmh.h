// A small EWMH/ICCCM reader on raw xcb: property reads that turn every X error into a value,
// the facts a desktop needs about one managed window, text decoding that never trusts the
// client, and the client messages a pager sends to the window manager.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backends/x11/x11_connection.h"

namespace tolvane::x11 {

/// `_NET_WM_DESKTOP` of a window shown on every desktop.
inline constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;

/// ICCCM IconicState, asked for with WM_CHANGE_STATE to minimize a window.
inline constexpr std::uint32_t kIconicState = 3;

/// Why a read gave nothing useful.
enum class ReadStatus {
  ok,
  /// The property does not exist on the window.
  missing,
  /// The window does not exist (any more): BadWindow.
  deadWindow,
  /// No reply at all: the connection is gone.
  noReply,
};

/// A property as the server holds it.
struct Property {
  ReadStatus status = ReadStatus::noReply;
  xcb_atom_t type = XCB_ATOM_NONE;
  std::uint8_t format = 0;
  /// The raw bytes, whatever the format.
  std::string data;

  bool ok() const { return status == ReadStatus::ok; }
  /// The 32-bit values of a format-32 property; empty for any other format.
  std::vector<std::uint32_t> values() const;
  /// The first 32-bit value, if there is one.
  std::optional<std::uint32_t> first() const;
};

/// A property read that is on its way: requests go out at once and replies are collected
/// later, so that reading several properties costs one round trip.
class PendingProperty {
 public:
  PendingProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property);
  /// Discards a reply nobody took, so that xcb does not keep it.
  ~PendingProperty();
  PendingProperty(const PendingProperty&) = delete;
  PendingProperty& operator=(const PendingProperty&) = delete;
  /// Waits for the reply; only the first call gets it.
  Property take();

 private:
  xcb_connection_t* connection_;
  xcb_get_property_cookie_t cookie_;
  bool taken_ = false;
};

/// Reads one property (one round trip).
Property readProperty(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property);

/// The atoms the desktop services use, interned once.
struct Atoms {
  explicit Atoms(Connection& connection);

  xcb_atom_t supported, supportingWmCheck, clientList, clientListStacking, activeWindow,
      currentDesktop, numberOfDesktops, wmDesktop, wmPid, wmName, utf8String, compoundText,
      wmWindowType, typeNormal, typeDialog, typeDesktop, typeDock, wmState, stateHidden,
      stateSkipTaskbar, stateSticky, gtkApplicationID, wmChangeState, wmIcon;
};

/// What a desktop needs to know about a managed window, read in one round trip. Title, size
/// and minimized state are not here: they are read when asked, so they are never stale.
struct ClientFacts {
  /// `_NET_WM_PID` as the client claims it; not to be trusted.
  std::optional<std::uint32_t> claimedPid;
  /// `WM_CLIENT_MACHINE`: where the process runs, when the client says.
  std::optional<std::string> machine;
  /// `WM_CLASS`: instance and class names.
  std::string instance;
  std::string windowClass;
  /// `_GTK_APPLICATION_ID`: a desktop-file id when the application set one.
  std::string gtkApplicationID;
  std::vector<xcb_atom_t> types;
  std::vector<xcb_atom_t> states;
  bool transient = false;
  /// `_NET_WM_DESKTOP`; nothing when the window manager did not set it.
  std::optional<std::uint32_t> desktop;

  bool hasState(xcb_atom_t state) const;
  /// The window's kind: the first type the client listed; unset types of transient windows
  /// count as dialogs, others as normal windows.
  xcb_atom_t effectiveType(const Atoms& atoms) const;
};

/// A read of a window's facts on its way (see PendingProperty): the facts of many windows,
/// asked for one after the other, cost one round trip.
class PendingClientFacts {
 public:
  PendingClientFacts(xcb_connection_t* connection, const Atoms& atoms, xcb_window_t window);
  /// The facts; nothing when the window is gone or the connection broke (then `status` says
  /// which). Only the first call gets them.
  std::optional<ClientFacts> take(ReadStatus* status = nullptr);

 private:
  PendingProperty pid_, machine_, wmClass_, gtkID_, types_, states_, transient_, desktop_;
};

/// Reads a window's facts; nothing when the window is gone or the connection broke (then
/// `status` says which).
std::optional<ClientFacts> readClientFacts(xcb_connection_t* connection, const Atoms& atoms,
                                           xcb_window_t window, ReadStatus* status = nullptr);

/// A read of a window's title on its way: `_NET_WM_NAME` (UTF-8), else `WM_NAME` (Latin-1 or
/// compound text).
class PendingTitle {
 public:
  PendingTitle(xcb_connection_t* connection, const Atoms& atoms, xcb_window_t window);
  /// `status` is ok (with the title, or nothing when the window has none) or says what failed.
  std::optional<std::string> take(ReadStatus& status);

 private:
  const Atoms& atoms_;
  PendingProperty netName_, legacyName_;
};

/// A window's title, read now (see PendingTitle).
std::optional<std::string> readTitle(xcb_connection_t* connection, const Atoms& atoms,
                                     xcb_window_t window, ReadStatus& status);

/// A window's width and height in pixels.
struct PixelSize {
  std::uint16_t width = 0;
  std::uint16_t height = 0;
};

/// A read of a window's size on its way.
class PendingSize {
 public:
  PendingSize(xcb_connection_t* connection, xcb_window_t window);
  /// Discards a reply nobody took.
  ~PendingSize();
  PendingSize(const PendingSize&) = delete;
  PendingSize& operator=(const PendingSize&) = delete;
  /// The size; nothing when the window is gone (deadWindow) or the connection broke (noReply).
  std::optional<PixelSize> take(ReadStatus& status);

 private:
  xcb_connection_t* connection_;
  xcb_get_geometry_cookie_t cookie_;
  bool taken_ = false;
};

/// The window's kind as ClientFacts::effectiveType tells it, read from the server now.
std::optional<xcb_atom_t> readWindowType(xcb_connection_t* connection, const Atoms& atoms,
                                         xcb_window_t window, ReadStatus& status);

/// The atom's name; empty when the server does not know it.
std::string atomName(xcb_connection_t* connection, xcb_atom_t atom);

/// Whether the window still exists: ok, deadWindow or noReply.
ReadStatus probeWindow(xcb_connection_t* connection, xcb_window_t window);

/// Replaces every malformed UTF-8 sequence (truncated, overlong, surrogate, beyond U+10FFFF)
/// with U+FFFD, so that titles from any client are valid text.
std::string repairUtf8(std::string_view text);
/// Converts ISO 8859-1 (the encoding of STRING properties) to UTF-8.
std::string latin1ToUtf8(std::string_view text);

/// Sends a client message to the root window as pagers do (EWMH "root window messages").
void sendRootMessage(Connection& connection, xcb_window_t window, xcb_atom_t type, std::uint32_t d0,
                     std::uint32_t d1 = 0, std::uint32_t d2 = 0, std::uint32_t d3 = 0,
                     std::uint32_t d4 = 0);

}  // namespace tolvane::x11

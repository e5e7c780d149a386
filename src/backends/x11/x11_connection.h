// One X connection as the desktop services share it: the xcb handle, the root window, interned
// atoms, and the fan-out of X events to the services that asked for them.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::x11 {

/// Frees an xcb reply or error (malloc'd by xcb) when it goes out of scope; every reply the
/// services read is held by one of these.
struct ReplyDeleter {
  void operator()(void* block) const { std::free(block); }
};
template <class T>
using Reply = std::unique_ptr<T, ReplyDeleter>;

/// A service that wants X events. Called on the thread that reads the connection (the main
/// thread); it returns true when it consumed the event, which stops the fan-out.
class EventSink {
 public:
  virtual ~EventSink() = default;
  virtual bool handleEvent(const xcb_generic_event_t& event) = 0;
};

/// Owns the xcb connection when it opened it, or borrows one (Qt's) that outlives it. Not
/// thread-safe: main thread only.
class Connection {
 public:
  /// Opens `display` (nothing: $DISPLAY); nothing when the server cannot be reached.
  static std::unique_ptr<Connection> open(const char* display = nullptr);
  /// Borrows a connection somebody else owns and keeps reading (Qt's, through its native
  /// event filter).
  static std::unique_ptr<Connection> borrow(xcb_connection_t* connection, int screenNumber);
  /// The same on the screen $DISPLAY names (":1.0" is screen 0 of display 1).
  static std::unique_ptr<Connection> borrow(xcb_connection_t* connection);

  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  xcb_connection_t* xcb() const { return connection_; }
  xcb_window_t root() const { return root_; }
  const xcb_screen_t& screen() const { return *screen_; }
  /// True once the server has gone away or the connection broke; nothing recovers it.
  bool hasFailed() const;

  /// The atom with this name, interned on first use and cached; XCB_ATOM_NONE on failure.
  xcb_atom_t atom(std::string_view name);
  /// The atoms with these names, in their order, the same way; the names not cached yet are
  /// interned in one round trip, not one each.
  std::vector<xcb_atom_t> atoms(std::span<const std::string_view> names);

  /// Adds `mask` to the events this client selects on the root window, keeping the bits
  /// already selected (another part of the process, Qt for one, selects its own).
  void selectRootEvents(std::uint32_t mask);

  /// Sinks see events in the order they were added; remove before destroying a sink.
  void addSink(EventSink* sink);
  void removeSink(EventSink* sink);
  /// Hands one event to the sinks; true when one consumed it.
  bool dispatch(const xcb_generic_event_t& event);
  /// The same for an event handed over untyped (an xcb_generic_event_t, as Qt's native event
  /// filter passes it); false for none.
  bool dispatchUntyped(const void* event) {
    return event && dispatch(*static_cast<const xcb_generic_event_t*>(event));
  }
  /// Reads and dispatches every queued event without blocking (only for an owned connection,
  /// the borrowed one is read by its owner). Returns how many were dispatched.
  int dispatchPending();

  /// Flushes requests to the server.
  void flush() const;

  /// The server time of the latest user input the process saw (the key event that commits a
  /// switch, above all). Window managers with focus-stealing prevention ignore or demote an
  /// activation stamped with 0 (CurrentTime) or an older time, so activations carry this one.
  void noteUserTime(xcb_timestamp_t time) {
    if (time != XCB_CURRENT_TIME) userTime_ = time;
  }
  xcb_timestamp_t userTime() const { return userTime_; }

 private:
  Connection(xcb_connection_t* connection, int screenNumber, bool owned);

  xcb_connection_t* connection_;
  bool owned_;
  const xcb_screen_t* screen_ = nullptr;
  xcb_window_t root_ = XCB_WINDOW_NONE;
  std::map<std::string, xcb_atom_t, std::less<>> atoms_;
  std::vector<EventSink*> sinks_;
  xcb_timestamp_t userTime_ = XCB_CURRENT_TIME;
};

/// The response type of an event without the bit that marks events sent by other clients.
inline std::uint8_t eventType(const xcb_generic_event_t& event) {
  return event.response_type & 0x7f;
}

}  // namespace tolvane::x11

// Opening, borrowing and sharing the X connection.
#include "backends/x11/x11_connection.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

namespace tolvane::x11 {

namespace {

const xcb_screen_t* screenOf(xcb_connection_t* connection, int number) {
  auto it = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; it.rem > 0; ++i, xcb_screen_next(&it)) {
    if (i == number) return it.data;
  }
  return nullptr;
}

}  // namespace

std::unique_ptr<Connection> Connection::open(const char* display) {
  int screen = 0;
  xcb_connection_t* connection = xcb_connect(display, &screen);
  if (!connection || xcb_connection_has_error(connection) || !screenOf(connection, screen)) {
    if (connection) xcb_disconnect(connection);
    return nullptr;
  }
  return std::unique_ptr<Connection>(new Connection(connection, screen, true));
}

std::unique_ptr<Connection> Connection::borrow(xcb_connection_t* connection, int screenNumber) {
  if (!connection || xcb_connection_has_error(connection) || !screenOf(connection, screenNumber)) {
    return nullptr;
  }
  return std::unique_ptr<Connection>(new Connection(connection, screenNumber, false));
}

std::unique_ptr<Connection> Connection::borrow(xcb_connection_t* connection) {
  int screen = 0;
  char* host = nullptr;
  int display = 0;
  if (!xcb_parse_display(nullptr, &host, &display, &screen)) screen = 0;
  std::free(host);
  return borrow(connection, screen);
}

Connection::Connection(xcb_connection_t* connection, int screenNumber, bool owned)
    : connection_(connection), owned_(owned), screen_(screenOf(connection, screenNumber)) {
  root_ = screen_->root;
}

Connection::~Connection() {
  if (owned_) xcb_disconnect(connection_);
}

bool Connection::hasFailed() const {
  return xcb_connection_has_error(connection_) != 0;
}

xcb_atom_t Connection::atom(std::string_view name) {
  return atoms(std::span(&name, 1)).front();
}

std::vector<xcb_atom_t> Connection::atoms(std::span<const std::string_view> names) {
  // Every request goes out before the first reply is awaited: the desktop names two dozen
  // atoms at start, and a round trip each stood between the start and the first snapshot.
  std::vector<std::optional<xcb_intern_atom_cookie_t>> cookies;
  cookies.reserve(names.size());
  for (auto name : names) {
    if (atoms_.count(name)) {
      cookies.emplace_back();
      continue;
    }
    cookies.emplace_back(
        xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.data()));
  }
  std::vector<xcb_atom_t> found;
  found.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!cookies[i]) {
      found.push_back(atoms_.find(names[i])->second);
      continue;
    }
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, *cookies[i], nullptr));
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    // A failed lookup is not cached: the connection is probably gone, and nothing is gained.
    if (atom != XCB_ATOM_NONE) atoms_.emplace(std::string(names[i]), atom);
    found.push_back(atom);
  }
  return found;
}

void Connection::selectRootEvents(std::uint32_t mask) {
  auto cookie = xcb_get_window_attributes(connection_, root_);
  Reply<xcb_get_window_attributes_reply_t> reply(
      xcb_get_window_attributes_reply(connection_, cookie, nullptr));
  const std::uint32_t current = reply ? reply->your_event_mask : 0;
  const std::uint32_t wanted = current | mask;
  if (wanted == current) return;
  xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &wanted);
  flush();
}

void Connection::addSink(EventSink* sink) {
  if (std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end()) sinks_.push_back(sink);
}

void Connection::removeSink(EventSink* sink) {
  sinks_.erase(std::remove(sinks_.begin(), sinks_.end(), sink), sinks_.end());
}

bool Connection::dispatch(const xcb_generic_event_t& event) {
  // A sink may remove itself while handling; walk a copy.
  const auto sinks = sinks_;
  for (EventSink* sink : sinks) {
    if (std::find(sinks_.begin(), sinks_.end(), sink) == sinks_.end()) continue;
    if (sink->handleEvent(event)) return true;
  }
  return false;
}

int Connection::dispatchPending() {
  if (!owned_) return 0;
  int count = 0;
  while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
    dispatch(*event);
    std::free(event);
    ++count;
  }
  return count;
}

void Connection::flush() const {
  xcb_flush(connection_);
}

}  // namespace tolvane::x11

// Taking and giving back the palette's grabs, and hearing when somebody else ended them.
//
//   InputGrab                        | on X11
//   ---------------------------------+-------------------------------------------------------------
//   take(window)                     | active asynchronous owner_events grabs of the keyboard,
//                                    | then the pointer (buttons), on that window of ours
//   taken / busy / failed            | GrabSuccess / any other status / no reply; a keyboard
//                                    | taken without the pointer is given back
//   release                          | UngrabPointer and UngrabKeyboard
//   lost                             | FocusOut with mode NotifyUngrab on the grab window (the
//                                    | watchdog's release through the shared connection included)
#include "backends/x11/x11_input_grab.h"

namespace tolvane::x11 {

namespace {

InputGrab::Outcome outcomeOf(const xcb_grab_keyboard_reply_t* reply) {
  if (!reply) return InputGrab::Outcome::failed;
  // Every refusal but a broken connection may pass: another program lets go, the map of an
  // override-redirect window completes.
  return reply->status == XCB_GRAB_STATUS_SUCCESS ? InputGrab::Outcome::taken
                                                  : InputGrab::Outcome::busy;
}

}  // namespace

X11InputGrab::X11InputGrab(Connection& connection) : connection_(connection) {
  connection_.addSink(this);
}

X11InputGrab::~X11InputGrab() {
  release();
  connection_.removeSink(this);
}

InputGrab::Outcome X11InputGrab::take(std::uint32_t window) {
  release();
  xcb_connection_t* c = connection_.xcb();
  // Announced before it is asked for: a stop while the request is on its way keeps the
  // keyboard as surely as a granted grab.
  if (holdObserver_) holdObserver_(true);
  const auto keyboardCookie =
      xcb_grab_keyboard(c, 1, window, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
  Reply<xcb_grab_keyboard_reply_t> keyboard(xcb_grab_keyboard_reply(c, keyboardCookie, nullptr));
  const Outcome keyboardOutcome = outcomeOf(keyboard.get());
  if (keyboardOutcome != Outcome::taken) {
    setHeld(XCB_WINDOW_NONE);
    return keyboardOutcome;
  }

  constexpr std::uint16_t kButtons = XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE;
  Reply<xcb_grab_pointer_reply_t> pointer(xcb_grab_pointer_reply(
      c,
      xcb_grab_pointer(c, 1, window, kButtons, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC,
                       XCB_WINDOW_NONE, XCB_CURSOR_NONE, XCB_CURRENT_TIME),
      nullptr));
  if (!pointer || pointer->status != XCB_GRAB_STATUS_SUCCESS) {
    // A menu of another program holds the pointer: without it a click outside would go
    // unseen, so the keyboard goes back too and the caller may try again.
    xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
    connection_.flush();
    setHeld(XCB_WINDOW_NONE);
    return pointer ? Outcome::busy : Outcome::failed;
  }
  grabSequence_ = keyboardCookie.sequence;
  setHeld(window);
  return Outcome::taken;
}

void X11InputGrab::release() {
  if (!isHeld()) return;
  xcb_connection_t* c = connection_.xcb();
  xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
  xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
  connection_.flush();
  // Withdrawn only once the ungrab is on its way, as the tap does for a session's grab.
  setHeld(XCB_WINDOW_NONE);
}

void X11InputGrab::setHeld(xcb_window_t window) {
  window_ = window;
  if (holdObserver_) holdObserver_(window != XCB_WINDOW_NONE);
}

bool X11InputGrab::handleEvent(const xcb_generic_event_t& event) {
  if (eventType(event) != XCB_FOCUS_OUT || !isHeld()) return false;
  const auto& focus = reinterpret_cast<const xcb_focus_out_event_t&>(event);
  if (focus.event != window_ || focus.mode != XCB_NOTIFY_MODE_UNGRAB) return false;
  // Events carry the low 16 bits of the last request the server had handled.
  const auto since = static_cast<std::uint16_t>(focus.sequence - grabSequence_);
  if (since >= 0x8000) return false;
  // Somebody else's ungrab: the pointer grab went with it (the watchdog releases both), or the
  // window stopped being viewable, which ends both as well.
  setHeld(XCB_WINDOW_NONE);
  if (auto lost = lost_) lost();
  return false;  // Qt follows focus changes of its windows too
}

}  // namespace tolvane::x11

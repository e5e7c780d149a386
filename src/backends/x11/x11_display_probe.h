// Short-lived connections to an X display, for questions asked outside the desktop services:
// whether the display answers at all, and ending a client that holds the keyboard.
#pragma once

#include <cstdint>
#include <string>

namespace tolvane::x11 {

/// Whether an X server answers on `display`. Qt aborts when it cannot connect, and a user
/// deserves a sentence instead, so this is asked first.
bool displayAnswers(const std::string& display);

/// Closes, over a connection of its own opened only now, the client that owns `window`, and
/// with it every grab that client holds. True when the server accepted the request.
bool closeClientOwning(const std::string& display, std::uint32_t window);

}  // namespace tolvane::x11

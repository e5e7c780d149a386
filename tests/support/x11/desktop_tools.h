// Small helpers the desktop tests share: typing through xdotool, short-lived programs, grab
// probes, screenshots, and openbox configured without Alt-Space.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/x11/x_session.h"

namespace tolvane::test {

/// Runs xdotool and waits until it has exited. Tests still wait for what it typed to arrive.
bool xdotool(XSession& session, std::vector<std::string> args);

/// Whether another client could grab the key combination now (passively, on the root): no
/// program holds it. The probe's grab is given back at once.
bool comboIsFree(XSession& session, xcb_keycode_t keycode, std::uint16_t modifiers);
/// The X error the session's client gets for a passive grab of the combination on the root
/// (0: it got the grab, and keeps it).
std::uint8_t grabKeyError(XSession& session, xcb_keycode_t keycode, std::uint16_t modifiers);
/// What the session's client is told when it grabs the keyboard now (an XCB_GRAB_STATUS_*); a
/// grab it gets is given back unless `keep`.
std::uint8_t grabKeyboardStatus(XSession& session, bool keep = false);
/// Saves the whole screen as `name` in $TOLVANE_TEST_ARTIFACTS (else the working folder) and
/// says where.
void saveScreenshot(XSession& session, const std::string& name);
/// Turns the screenshots saved so far into the pictures they were named as.
void convertScreenshots();

/// The managed windows of process `pid` titled exactly `title`.
std::vector<xcb_window_t> windowsTitled(XSession& session, pid_t pid, const std::string& title);

/// Has the session's openbox (call before start()) read its stock configuration without the
/// Alt-Space binding (the window menu), written to `folder`/rc.xml, so that Alt-Space is free
/// for Tolvane's palette. False when the stock configuration binds no Alt-Space.
bool freeAltSpaceFromOpenbox(XSession& session, const std::string& folder);

}  // namespace tolvane::test

// A desktop notification through the notification service on the session bus, for what a user
// must learn although no Tolvane window or terminal is there to say it.
#pragma once

#include <string>

namespace tolvane::system {

/// How long a notification may take, the bus connection included: the caller may be a
/// compositor's key binding, which must never be held up by a slow or missing service.
inline constexpr double kNotificationSeconds = 0.5;

/// Asks org.freedesktop.Notifications on the session bus to show `summary` and `body` as
/// Tolvane's. False when there is no session bus, no service takes the call, or it does not
/// answer within `timeoutSeconds`.
bool showDesktopNotification(const std::string& summary, const std::string& body,
                             double timeoutSeconds = kNotificationSeconds);

}  // namespace tolvane::system

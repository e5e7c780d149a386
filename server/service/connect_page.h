// The browser sign-in page: a plain form (sign in or create an account), and the pages shown
// when it cannot go on. Every text from outside is HTML-escaped.
#pragma once

#include <string>
#include <string_view>

namespace tolvane::server {

/// `text` with & < > " ' replaced by entities.
std::string htmlEscape(std::string_view text);

/// The form, carrying `ticket` in a hidden field; `email` is filled in again and `message`
/// (plain text) shown above it after a failed attempt. Without `signUp` it only signs in.
std::string connectFormPage(std::string_view ticket, std::string_view email,
                            std::string_view message, bool signUp);

/// A page that says `message` and nothing else (an invalid or expired link).
std::string messagePage(std::string_view message);

/// Shown while the browser follows the redirect to Tolvane; its link does the same by hand.
std::string returnPage(std::string_view callbackURL);

}  // namespace tolvane::server

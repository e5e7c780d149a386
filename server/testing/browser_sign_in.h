// Plays the browser (and, when asked, the application) in a sign-in against a running
// tolvane-server: what tests, the benchmark and the desktop tests share.
#pragma once

#include <optional>
#include <string>

namespace tolvane::server::testing {

/// The hidden ticket of a sign-in page; "" when the page has none.
std::string ticketOf(const std::string& page);
/// The query item `name` of a URL ("tolvane://auth?code=…&state=…"); "" when absent.
std::string callbackItem(const std::string& url, const std::string& name);

/// Loads the sign-in page at `pageURL` ("http://127.0.0.1:PORT/app/connect?…"), posts its form
/// with `action` "signup" or "signin", and returns the redirect's location (the
/// "tolvane://auth?code=…&state=…" callback). Nothing, with `whyNot`, otherwise.
std::optional<std::string> submitSignInPage(const std::string& pageURL, const std::string& email,
                                            const std::string& password, const std::string& action,
                                            std::string& whyNot);

/// The application's side as well: a PKCE pair, the page, the form ("signup", then "signin"
/// when the account exists) and the code exchange. The bearer token, or nothing with `whyNot`.
std::optional<std::string> signInAsApplication(const std::string& baseURL, const std::string& email,
                                               const std::string& password, std::string& whyNot);

}  // namespace tolvane::server::testing

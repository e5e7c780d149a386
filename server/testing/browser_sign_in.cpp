#include "testing/browser_sign_in.h"

#include <httplib.h>

#include <nlohmann/json.hpp>
#include <regex>

#include "auth/secrets.h"
#include "service/form_text.h"

namespace tolvane::server::testing {

std::string ticketOf(const std::string& page) {
  static const std::regex hidden(R"re(name=ticket value="([A-Za-z0-9_-]+)")re");
  std::smatch match;
  return std::regex_search(page, match, hidden) ? match[1].str() : "";
}

std::string callbackItem(const std::string& url, const std::string& name) {
  const std::size_t query = url.find('?');
  const auto items = parseForm(query == std::string::npos ? "" : url.substr(query + 1));
  return items && items->contains(name) ? items->at(name) : "";
}

std::optional<std::string> submitSignInPage(const std::string& pageURL, const std::string& email,
                                            const std::string& password, const std::string& action,
                                            std::string& whyNot) {
  // "http://host:port/path?query": the origin and the rest.
  const std::size_t path = pageURL.find('/', pageURL.find("://") + 3);
  httplib::Client client(pageURL.substr(0, path));
  client.set_read_timeout(30, 0);
  const auto page = client.Get(path == std::string::npos ? "/" : pageURL.substr(path));
  if (!page || page->status != 200) {
    whyNot = "the page did not load: " + (page ? page->body : httplib::to_string(page.error()));
    return std::nullopt;
  }
  const std::string ticket = ticketOf(page->body);
  if (ticket.empty()) {
    whyNot = "the page has no form";
    return std::nullopt;
  }
  const std::string form = "ticket=" + ticket + "&email=" + percentEncode(email) +
                           "&password=" + percentEncode(password) + "&action=" + action;
  const auto posted = client.Post("/app/connect", form, "application/x-www-form-urlencoded");
  if (!posted || posted->status != 303 || !posted->has_header("Location")) {
    whyNot = "the form was refused: " +
             (posted ? std::to_string(posted->status) : httplib::to_string(posted.error()));
    return std::nullopt;
  }
  return posted->get_header_value("Location");
}

std::optional<std::string> signInAsApplication(const std::string& baseURL, const std::string& email,
                                               const std::string& password, std::string& whyNot) {
  const std::string verifier = newSecret().value_or("");
  const std::string state = newSecret().value_or("").substr(0, 22);
  const std::string page =
      baseURL + "/app/connect?app=tolvane&challenge=" + s256Challenge(verifier) + "&state=" + state;
  auto location = submitSignInPage(page, email, password, "signup", whyNot);
  if (!location) location = submitSignInPage(page, email, password, "signin", whyNot);
  if (!location) return std::nullopt;
  if (callbackItem(*location, "state") != state) {
    whyNot = "the callback carries another state: " + *location;
    return std::nullopt;
  }
  httplib::Client client(baseURL);
  const nlohmann::json body = {
      {"code", callbackItem(*location, "code")}, {"verifier", verifier}, {"deviceId", "test"}};
  const auto reply = client.Post("/api/app/token", body.dump(), "application/json");
  const auto json = reply ? nlohmann::json::parse(reply->body, nullptr, false) : nlohmann::json();
  if (!reply || reply->status != 200 || !json.is_object() || !json.contains("token")) {
    whyNot = "the exchange failed: " + (reply ? reply->body : httplib::to_string(reply.error()));
    return std::nullopt;
  }
  return json["token"].get<std::string>();
}

}  // namespace tolvane::server::testing

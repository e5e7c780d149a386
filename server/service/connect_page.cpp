#include "service/connect_page.h"

namespace tolvane::server {

namespace {

constexpr std::string_view kHead =
    "<!doctype html><html lang=en><head><meta charset=utf-8>"
    "<meta name=viewport content=\"width=device-width, initial-scale=1\">"
    "<title>Sign in to Tolvane</title><style>"
    "body{font-family:system-ui,sans-serif;background:#f4f4f6;color:#1d1d1f;margin:0}"
    "main{max-width:22rem;margin:4rem auto;background:#fff;padding:2rem;border-radius:12px;"
    "box-shadow:0 2px 12px rgba(0,0,0,.08)}"
    "h1{font-size:1.3rem;margin:0 0 1rem}label{display:block;margin:.8rem 0 .3rem}"
    "input{width:100%;box-sizing:border-box;padding:.55rem;font-size:1rem;border:1px solid #bbb;"
    "border-radius:6px}.buttons{display:flex;gap:.5rem;margin-top:1.4rem}"
    "button{flex:1;padding:.6rem;font-size:1rem;border-radius:6px;border:1px solid #2a62d9;"
    "background:#2a62d9;color:#fff}button.secondary{background:#fff;color:#2a62d9}"
    ".message{background:#fdecea;border-radius:6px;padding:.6rem;margin-bottom:1rem}"
    "</style></head><body><main>";
constexpr std::string_view kFoot = "</main></body></html>";

}  // namespace

std::string htmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string connectFormPage(std::string_view ticket, std::string_view email,
                            std::string_view message, bool signUp) {
  std::string page(kHead);
  page += "<h1>Sign in to Tolvane</h1>";
  if (!message.empty()) page += "<p class=message role=alert>" + htmlEscape(message) + "</p>";
  page += "<form method=post action=\"/app/connect\">";
  page += "<input type=hidden name=ticket value=\"" + htmlEscape(ticket) + "\">";
  page +=
      "<label for=email>E-mail</label><input id=email name=email type=email required "
      "autocomplete=username maxlength=254 value=\"" +
      htmlEscape(email) + "\">";
  page +=
      "<label for=password>Password</label><input id=password name=password type=password "
      "required minlength=8 maxlength=1024 autocomplete=current-password>";
  page += "<div class=buttons><button name=action value=signin>Sign in</button>";
  if (signUp) page += "<button class=secondary name=action value=signup>Create account</button>";
  page += "</div>";
  page += "</form>";
  page += kFoot;
  return page;
}

std::string messagePage(std::string_view message) {
  return std::string(kHead) + "<h1>Tolvane</h1><p>" + htmlEscape(message) + "</p>" +
         std::string(kFoot);
}

std::string returnPage(std::string_view callbackURL) {
  return std::string(kHead) + "<h1>Signed in</h1><p>You can return to Tolvane now.</p>" +
         "<p><a href=\"" + htmlEscape(callbackURL) + "\">Open Tolvane</a></p>" + std::string(kFoot);
}

}  // namespace tolvane::server

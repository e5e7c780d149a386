// The browser sign-in (the page and its form) and the application's code exchange.
#include "auth/passwords.h"
#include "auth/secrets.h"
#include "service/client_address.h"
#include "service/connect_page.h"
#include "service/form_text.h"
#include "service/service_impl.h"

namespace tolvane::server {

namespace {

constexpr std::size_t kMaxDeviceIdBytes = 128;
constexpr std::size_t kMaxStateChars = 256;

Reply htmlReply(int status, std::string page, std::string error = {}) {
  Reply reply;
  reply.status = status;
  reply.contentType = "text/html; charset=utf-8";
  reply.body = std::move(page);
  reply.error = std::move(error);
  // The page holds a single-use ticket: never cached, never framed, no scripts at all.
  reply.headers["Cache-Control"] = "no-store";
  reply.headers["X-Frame-Options"] = "DENY";
  reply.headers["Content-Security-Policy"] =
      "default-src 'none'; style-src 'unsafe-inline'; frame-ancestors 'none'";
  reply.headers["Referrer-Policy"] = "no-referrer";
  return reply;
}

std::string queryItem(const Request& request, const char* name) {
  const auto found = request.query.find(name);
  return found == request.query.end() ? std::string() : found->second;
}

std::string formField(const Form& form, const char* name) {
  const auto found = form.find(name);
  return found == form.end() ? std::string() : found->second;
}

bool isDeviceId(const std::string& id) {
  if (id.empty() || id.size() > kMaxDeviceIdBytes) return false;
  for (const char c : id) {
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
      return false;
  }
  return true;
}

}  // namespace

Reply Service::Impl::connectPage(const Request& request) {
  const std::string challenge = queryItem(request, "challenge");
  const std::string state = queryItem(request, "state");
  if (queryItem(request, "app") != wire::kAppName || !isBase64Url(challenge, 43, 43) ||
      !isBase64Url(state, 1, kMaxStateChars)) {
    return htmlReply(400,
                     messagePage("This sign-in link is not valid. Start signing in again "
                                 "from Tolvane's settings."),
                     "invalid sign-in link");
  }
  // Each page stores a pending sign-in: limited per client, and bounded in all.
  const double at = now();
  const std::string client = addressKey(request.address);
  if (!pagesByAddress.allow(client, at))
    return limitedReply(429, pagesByAddress.retryAfter(client, at), true);
  const auto ticket = newSecret();
  if (!ticket) return unavailableReply("random source");
  const auto stored = storePending(*ticket, {challenge, state, seconds() + config.pageLifetime});
  if (stored == StoreStatus::full) return limitedReply(503, config.pageLifetime, true);
  if (stored != StoreStatus::ok) return unavailableReply("pending sign-in not stored");
  return htmlReply(200, connectFormPage(*ticket, "", "", config.signUpOpen));
}

StoreStatus Service::Impl::storePending(const std::string& ticket, const PendingSignIn& pending) {
  return storage.addPendingSignIn(secretHash(ticket), pending, seconds(), config.maxPendingSignIns);
}

Reply Service::Impl::connectSubmit(const Request& request) {
  const double at = now();
  const std::string client = addressKey(request.address);
  if (!signInByAddress.allow(client, at))
    return limitedReply(429, signInByAddress.retryAfter(client, at), true);
  if (request.body.size() > BodyLimits::kForm)
    return htmlReply(413, messagePage("That was more than a sign-in form holds."), "form size");
  const auto form = parseForm(request.body);
  if (!form) return htmlReply(400, messagePage("The form arrived garbled."), "form encoding");
  const std::string ticket = formField(*form, "ticket");
  if (!isBase64Url(ticket, 43, 43))
    return htmlReply(400, messagePage("This sign-in page is not valid."), "no ticket");
  const auto pending = storage.takePendingSignIn(secretHash(ticket), seconds());
  if (pending.status == StoreStatus::notFound) {
    return htmlReply(400,
                     messagePage("This sign-in page has expired or was used already. Start "
                                 "signing in again from Tolvane's settings."),
                     "unknown ticket");
  }
  if (!pending.ok()) return unavailableReply(pending.detail);
  return submitCredentials(*form, pending.value, client, at);
}

Reply Service::Impl::submitCredentials(const Form& form, const PendingSignIn& pending,
                                       const std::string& client, double at) {
  const std::string action = formField(form, "action");
  const std::string password = formField(form, "password");
  const auto email = normalisedEmail(formField(form, "email"));
  if (!email) return formAgain(pending, 400, "", "Enter a valid e-mail address.", "invalid e-mail");
  if (password.empty() || password.size() > kMaxPasswordBytes)
    return formAgain(pending, 400, *email, "Enter your password.", "invalid password");
  // Keyed by the e-mail and the client together: a stranger's failures for this e-mail
  // slow the stranger down, never the owner at their own address.
  if (!signInByAccount.allow(*email + " " + client, at)) {
    return formAgain(pending, 429, *email, "Too many attempts for this account. Try again later.",
                     "rate limited (account)");
  }
  if (action == "signup") return signUp(*email, password, pending);
  if (action == "signin") return signIn(*email, password, pending);
  return formAgain(pending, 400, *email, "Choose Sign in or Create account.", "no action");
}

Reply Service::Impl::signUp(const std::string& email, const std::string& password,
                            const PendingSignIn& pending) {
  if (!config.signUpOpen) {
    return formAgain(pending, 403, email,
                     "This server does not take new accounts. Ask its operator.", "sign-up closed");
  }
  if (password.size() < kMinNewPasswordBytes) {
    return formAgain(pending, 400, email, "Choose a password of at least 8 characters.",
                     "short password");
  }
  const auto hash = hashPassword(password, config.passwordCost);
  if (!hash) return unavailableReply("password hashing");
  const auto account = storage.createAccount(email, *hash, "free");
  if (account.status == StoreStatus::exists) {
    return formAgain(pending, 409, email,
                     "An account with this e-mail exists already. Sign in instead.",
                     "account exists");
  }
  if (!account.ok()) return unavailableReply(account.detail);
  return codeRedirect(account.value, pending);
}

Reply Service::Impl::signIn(const std::string& email, const std::string& password,
                            const PendingSignIn& pending) {
  const auto account = accountWithPassword(email, password);
  if (account.status == StoreStatus::notFound)
    return formAgain(pending, 401, email, "The e-mail or the password is wrong.",
                     "wrong credentials");
  if (!account.ok()) return unavailableReply(account.detail);
  return codeRedirect(account.value, pending);
}

Reply Service::Impl::formAgain(const PendingSignIn& pending, int status, const std::string& email,
                               const std::string& message, std::string error) {
  // Every way back to the form carries a fresh ticket for the same sign-in.
  const auto next = newSecret();
  if (!next || storePending(*next, pending) != StoreStatus::ok)
    return unavailableReply("pending sign-in not stored");
  return htmlReply(status, connectFormPage(*next, email, message, config.signUpOpen),
                   std::move(error));
}

StoreResult<Account> Service::Impl::accountWithPassword(const std::string& email,
                                                        const std::string& password) {
  StoreResult<Account> account = storage.accountByEmail(email);
  const bool known = account.ok();
  // An unknown address costs as much time as a wrong password.
  const bool matches =
      verifyPassword(known ? account.value.passwordHash : decoyHash(config.passwordCost), password);
  if (known && !matches) return {StoreStatus::notFound, {}, "wrong password"};
  return account;
}

Reply Service::Impl::codeRedirect(const Account& account, const PendingSignIn& pending) {
  const auto code = newSecret();
  if (!code) return unavailableReply("random source");
  const auto stored = storage.addCode(secretHash(*code), account.id, pending.challenge,
                                      seconds() + config.codeLifetime);
  if (stored != StoreStatus::ok) return unavailableReply("code not stored");
  const std::string callback =
      "tolvane://auth?code=" + *code + "&state=" + percentEncode(pending.state);
  Reply reply = htmlReply(303, returnPage(callback));
  reply.headers["Location"] = callback;
  reply.accountId = account.id;
  return reply;
}

Reply Service::Impl::token(const Request& request) {
  const double at = now();
  const std::string client = addressKey(request.address);
  if (!signInByAddress.allow(client, at))
    return limitedReply(429, signInByAddress.retryAfter(client, at), false);
  Reply failure;
  const auto body = jsonObjectBody(request, BodyLimits::kToken, failure);
  if (!body) return failure;
  const auto exchange = wire::readTokenRequest(*body);
  if (!exchange) return errorReply(400, "invalid_request", "token request shape");
  if (!isBase64Url(exchange->code, 43, 43) || !isPkceVerifier(exchange->verifier))
    return errorReply(400, "invalid_grant", "code or verifier shape");
  if (!isDeviceId(exchange->deviceId)) return errorReply(400, "invalid_request", "device id");
  // Taking the code burns it, whatever follows: a code is tried once, by whoever holds it first.
  // A code used before may have leaked: the token issued for it is revoked (RFC 6749 4.1.2).
  const std::string codeHash = secretHash(exchange->code);
  const auto grant = storage.takeCode(codeHash, seconds());
  if (grant.status == StoreStatus::notFound) {
    if (storage.revokeTokenOfCode(codeHash, seconds()) != StoreStatus::ok)
      return unavailableReply("token of a replayed code not revoked");
    return errorReply(400, "invalid_grant", "unknown, used or expired code");
  }
  if (!grant.ok()) return unavailableReply(grant.detail);
  if (!constantTimeEquals(s256Challenge(exchange->verifier), grant.value.challenge))
    return errorReply(400, "invalid_grant", "verifier does not match");

  const auto token = newSecret();
  if (!token) return unavailableReply("random source");
  // One reading of the clock: a second that ends between storing the token and reading it back
  // would otherwise make the new token look idle since before it was issued.
  const std::int64_t issuedAt = seconds();
  if (storage.addToken(secretHash(*token), grant.value.accountId, exchange->deviceId, codeHash,
                       issuedAt) != StoreStatus::ok)
    return unavailableReply("token not stored");
  auto account = storage.accountForToken(secretHash(*token), issuedAt, issuedAt - 1);
  if (!account.ok()) return unavailableReply(account.detail);
  Reply reply = jsonReply(
      200, wire::toJson(wire::AccountReply{account.value.email, account.value.tier, *token}));
  reply.headers["Cache-Control"] = "no-store";
  reply.accountId = account.value.id;
  return reply;
}

}  // namespace tolvane::server

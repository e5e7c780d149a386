#include "cli/command_line.h"

#include <charconv>

namespace tolvane::server {

const char* const kUsage =
    "usage: tolvane-server (--db PATH | --postgres URL) [--listen ADDR:PORT] [options]\n"
    "       tolvane-server (--db PATH | --postgres URL) add-account EMAIL < password\n"
    "\n"
    "  --db PATH             SQLite database file, created when missing (one machine)\n"
    "  --postgres URL        PostgreSQL connection URI, e.g. postgresql://tolvane@db/tolvane\n"
    "                        (several servers may share one database)\n"
    "  --listen ADDR:PORT    where to serve (default 127.0.0.1:8080; [::]:8443 for IPv6)\n"
    "  --tls-cert FILE       serve HTTPS with this PEM certificate chain\n"
    "  --tls-key FILE        and this PEM private key (both or neither)\n"
    "  --behind-proxy        take the client address from X-Forwarded-For (use only behind\n"
    "                        a reverse proxy that sets it)\n"
    "  --threads N           requests handled at once (default 64)\n"
    "  --pool N              PostgreSQL connections (default 8)\n"
    "  --read-timeout S      a request's headers and body must arrive within S seconds\n"
    "                        (default 10)\n"
    "  --connections-per-address N\n"
    "                        open connections per client address (default 32; not applied\n"
    "                        with --behind-proxy, where every connection is the proxy's)\n"
    "  --argon2-memory KIB   password hashing memory (default 19456)\n"
    "  --argon2-passes N     password hashing passes (default 2)\n"
    "  --sign-in-limit N     sign-in pages, and attempts, per client address in 10 minutes\n"
    "                        (default 30)\n"
    "  --upload-limit N      uploads per client address per minute (default 120); one account\n"
    "                        or installation may send a quarter of them, and the address's\n"
    "                        bytes (32 MiB, then 256 MiB a day) grow in proportion\n"
    "  --keep-days N         keep uploads N days (default 90)\n"
    "  --token-idle-days N   a sign-in unused for N days ends (default 90)\n"
    "  --sign-up open|closed closed: the sign-in page makes no accounts; add them with\n"
    "                        add-account (default open)\n"
    "  --version, --help\n";

namespace {

bool parseInt(const std::string& text, int minimum, int maximum, int& out) {
  int value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return false;
  if (value < minimum || value > maximum) return false;
  out = value;
  return true;
}

// A hundred years: any longer is "forever" and still fits the seconds' arithmetic.
constexpr int kMaxDays = 36500;
// Rate limits beyond this are "no limit" for any deployment, and still fit an int.
constexpr int kMaxLimit = 1000000000;

// The defaults' proportions kept: an account or installation gets a quarter of what a whole
// address (perhaps a household or an office behind one router) may send, and the address's
// bytes grow with its count, or a raised count would still stop at the default's bytes.
void setUploadLimit(int perMinute, ServiceConfig& config) {
  const double scale = perMinute / ServiceConfig().uploadsPerAddress.burst;
  const RateLimit bytes = ServiceConfig().uploadBytesPerAddress;
  config.uploadsPerAddress = {.burst = double(perMinute), .perSecond = perMinute / 60.0};
  config.uploadsPerAccount = {.burst = perMinute / 4.0, .perSecond = perMinute / 240.0};
  config.uploadBytesPerAddress = {.burst = bytes.burst * scale,
                                  .perSecond = bytes.perSecond * scale};
}

}  // namespace

bool parseListenAddress(const std::string& text, std::string& host, int& port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  std::string address = text.substr(0, colon);
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']')
    address = address.substr(1, address.size() - 2);
  if (address.empty()) address = "0.0.0.0";
  if (!parseInt(text.substr(colon + 1), 0, 65535, port)) return false;
  host = address;
  return true;
}

std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& arguments,
                                            std::string& whyNot) {
  CommandLine line;
  auto fail = [&](std::string reason) -> std::optional<CommandLine> {
    whyNot = std::move(reason);
    return std::nullopt;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& option = arguments[i];
    if (option == "--help" || option == "-h") {
      line.showHelp = true;
      return line;
    }
    if (option == "--version") {
      line.showVersion = true;
      return line;
    }
    if (option == "--behind-proxy") {
      line.http.behindProxy = true;
      continue;
    }
    if (option == "add-account" && i + 1 < arguments.size()) {
      line.addAccountEmail = arguments[++i];
      continue;
    }
    if (i + 1 == arguments.size()) return fail(option + " needs a value");
    const std::string& value = arguments[++i];
    int number = 0;
    if (option == "--db") {
      line.sqlitePath = value;
    } else if (option == "--postgres") {
      line.postgresURL = value;
    } else if (option == "--listen") {
      if (!parseListenAddress(value, line.http.host, line.http.port))
        return fail("--listen wants ADDR:PORT, not \"" + value + "\"");
    } else if (option == "--tls-cert") {
      line.http.certificateFile = value;
    } else if (option == "--tls-key") {
      line.http.privateKeyFile = value;
    } else if (option == "--threads" && parseInt(value, 1, 1024, number)) {
      line.http.threads = number;
    } else if (option == "--read-timeout" && parseInt(value, 1, 300, number)) {
      line.http.readTimeoutSeconds = number;
    } else if (option == "--connections-per-address" && parseInt(value, 1, 100000, number)) {
      line.http.connectionsPerAddress = number;
    } else if (option == "--pool" && parseInt(value, 1, 256, number)) {
      line.postgresConnections = number;
    } else if (option == "--argon2-memory" && parseInt(value, 64, 4 * 1024 * 1024, number)) {
      line.service.passwordCost.memoryKiB = static_cast<std::uint32_t>(number);
    } else if (option == "--argon2-passes" && parseInt(value, 1, 100, number)) {
      line.service.passwordCost.passes = static_cast<std::uint32_t>(number);
    } else if (option == "--sign-in-limit" && parseInt(value, 1, kMaxLimit, number)) {
      // Each sign-in opens a page before its attempts: one bound would hold back the other.
      line.service.signInPerAddress = {.burst = double(number), .perSecond = number / 600.0};
      line.service.pagesPerAddress = line.service.signInPerAddress;
    } else if (option == "--upload-limit" && parseInt(value, 4, kMaxLimit, number)) {
      setUploadLimit(number, line.service);
    } else if (option == "--keep-days" && parseInt(value, 1, kMaxDays, number)) {
      line.service.keepUploadsSeconds = std::int64_t{number} * 86400;
    } else if (option == "--token-idle-days" && parseInt(value, 1, kMaxDays, number)) {
      line.service.tokenIdleSeconds = std::int64_t{number} * 86400;
    } else if (option == "--sign-up" && (value == "open" || value == "closed")) {
      line.service.signUpOpen = value == "open";
    } else if (option == "--sign-up") {
      return fail("--sign-up wants open or closed, not \"" + value + "\"");
    } else if (option == "--threads" || option == "--pool" || option == "--read-timeout" ||
               option == "--connections-per-address" || option == "--argon2-memory" ||
               option == "--argon2-passes" || option == "--sign-in-limit" ||
               option == "--upload-limit" || option == "--keep-days" ||
               option == "--token-idle-days") {
      return fail(option + " wants a number in range, not \"" + value + "\"");
    } else {
      return fail("unknown option " + option);
    }
  }
  if (line.sqlitePath.empty() == line.postgresURL.empty())
    return fail("name one database: --db PATH or --postgres URL");
  if (line.http.certificateFile.empty() != line.http.privateKeyFile.empty())
    return fail("--tls-cert and --tls-key go together");
  return line;
}

}  // namespace tolvane::server

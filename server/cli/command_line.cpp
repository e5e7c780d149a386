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

namespace {

// The options that take a number, with the range each accepts.
struct NumberOption {
  const char* name;
  int minimum;
  int maximum;
  void (*apply)(int number, CommandLine& line);
};

constexpr NumberOption kNumberOptions[] = {
    {"--threads", 1, 1024, [](int n, CommandLine& l) { l.http.threads = n; }},
    {"--read-timeout", 1, 300, [](int n, CommandLine& l) { l.http.readTimeoutSeconds = n; }},
    {"--connections-per-address", 1, 100000,
     [](int n, CommandLine& l) { l.http.connectionsPerAddress = n; }},
    {"--pool", 1, 256, [](int n, CommandLine& l) { l.postgresConnections = n; }},
    {"--argon2-memory", 64, 4 * 1024 * 1024,
     [](int n, CommandLine& l) {
       l.service.passwordCost.memoryKiB = static_cast<std::uint32_t>(n);
     }},
    {"--argon2-passes", 1, 100,
     [](int n, CommandLine& l) { l.service.passwordCost.passes = static_cast<std::uint32_t>(n); }},
    // Each sign-in opens a page before its attempts: one bound would hold back the other.
    {"--sign-in-limit", 1, kMaxLimit,
     [](int n, CommandLine& l) {
       l.service.signInPerAddress = {.burst = double(n), .perSecond = n / 600.0};
       l.service.pagesPerAddress = l.service.signInPerAddress;
     }},
    {"--upload-limit", 4, kMaxLimit, [](int n, CommandLine& l) { setUploadLimit(n, l.service); }},
    {"--keep-days", 1, kMaxDays,
     [](int n, CommandLine& l) { l.service.keepUploadsSeconds = std::int64_t{n} * 86400; }},
    {"--token-idle-days", 1, kMaxDays,
     [](int n, CommandLine& l) { l.service.tokenIdleSeconds = std::int64_t{n} * 86400; }},
};

// An option that takes a text value, or that names no option at all.
bool applyTextOption(const std::string& option, const std::string& value, CommandLine& line,
                     std::string& whyNot) {
  if (option == "--db") {
    line.sqlitePath = value;
  } else if (option == "--postgres") {
    line.postgresURL = value;
  } else if (option == "--listen") {
    if (parseListenAddress(value, line.http.host, line.http.port)) return true;
    whyNot = "--listen wants ADDR:PORT, not \"" + value + "\"";
    return false;
  } else if (option == "--tls-cert") {
    line.http.certificateFile = value;
  } else if (option == "--tls-key") {
    line.http.privateKeyFile = value;
  } else if (option == "--sign-up" && (value == "open" || value == "closed")) {
    line.service.signUpOpen = value == "open";
  } else if (option == "--sign-up") {
    whyNot = "--sign-up wants open or closed, not \"" + value + "\"";
    return false;
  } else {
    whyNot = "unknown option " + option;
    return false;
  }
  return true;
}

// `option` with its `value` applied to `line`; false, with `whyNot` said, when either is wrong.
bool applyOption(const std::string& option, const std::string& value, CommandLine& line,
                 std::string& whyNot) {
  for (const NumberOption& known : kNumberOptions) {
    if (option != known.name) continue;
    int number = 0;
    if (parseInt(value, known.minimum, known.maximum, number)) {
      known.apply(number, line);
      return true;
    }
    whyNot = option + " wants a number in range, not \"" + value + "\"";
    return false;
  }
  return applyTextOption(option, value, line, whyNot);
}

// What no single option can tell: exactly one database, and TLS's two files together.
bool checkCombination(const CommandLine& line, std::string& whyNot) {
  if (line.sqlitePath.empty() == line.postgresURL.empty()) {
    whyNot = "name one database: --db PATH or --postgres URL";
    return false;
  }
  if (line.http.certificateFile.empty() != line.http.privateKeyFile.empty()) {
    whyNot = "--tls-cert and --tls-key go together";
    return false;
  }
  return true;
}

}  // namespace

std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& arguments,
                                            std::string& whyNot) {
  CommandLine line;
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
    } else if (option == "add-account" && i + 1 < arguments.size()) {
      line.addAccountEmail = arguments[++i];
    } else if (i + 1 == arguments.size()) {
      whyNot = option + " needs a value";
      return std::nullopt;
    } else if (!applyOption(option, arguments[++i], line, whyNot)) {
      return std::nullopt;
    }
  }
  if (!checkCombination(line, whyNot)) return std::nullopt;
  return line;
}

}  // namespace tolvane::server

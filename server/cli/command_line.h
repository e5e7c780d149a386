// tolvane-server's command line.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "http/http_server.h"
#include "service/service.h"

namespace tolvane::server {

struct CommandLine {
  /// Exactly one of the two.
  std::string sqlitePath;
  std::string postgresURL;
  int postgresConnections = 8;
  HttpOptions http;
  /// Password hashing cost and rate limits.
  ServiceConfig service;
  /// "add-account EMAIL": make that account (password on stdin) instead of serving.
  std::string addAccountEmail;
  bool showHelp = false;
  bool showVersion = false;
};

extern const char* const kUsage;

/// Nothing, with `whyNot` set, for an unknown option, a missing or malformed value, or neither
/// or both of --db and --postgres.
std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& arguments,
                                            std::string& whyNot);

/// "ADDR:PORT", "[v6]:PORT" or ":PORT" (all IPv4 addresses); false when malformed.
bool parseListenAddress(const std::string& text, std::string& host, int& port);

}  // namespace tolvane::server

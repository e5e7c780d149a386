#include "backends/system/bus_connection.h"

#include <cstring>

namespace tolvane::system {

namespace {

/// A peer that floods the connection cannot keep the main thread longer than this many
/// messages a round.
constexpr int kMessagesPerRound = 256;

}  // namespace

std::unique_ptr<BusConnection> BusConnection::open(double callTimeoutSeconds, std::string& error) {
  std::unique_ptr<BusConnection> connection(new BusConnection());
  if (const int result = sd_bus_open_user(&connection->bus_); result < 0) {
    error = std::string("no session bus: ") + std::strerror(-result);
    return nullptr;
  }
  sd_bus_set_method_call_timeout(connection->bus_,
                                 static_cast<std::uint64_t>(callTimeoutSeconds * 1e6));
  const char* unique = nullptr;
  if (const int result = sd_bus_get_unique_name(connection->bus_, &unique); result < 0) {
    error = std::string("the session bus did not answer: ") + std::strerror(-result);
    return nullptr;
  }
  connection->uniqueName_ = unique;
  return connection;
}

BusConnection::~BusConnection() {
  sd_bus_flush_close_unref(bus_);
}

bool BusConnection::process() {
  int result = 0;
  for (int round = 0; round < kMessagesPerRound; ++round) {
    result = sd_bus_process(bus_, nullptr);
    if (result <= 0) break;
  }
  return result >= 0 && sd_bus_is_open(bus_) > 0;
}

std::string BusCall::what(int result) const {
  if (error.message) return error.message;
  return std::strerror(-result);
}

}  // namespace tolvane::system

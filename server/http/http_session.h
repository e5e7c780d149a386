// One client connection of the HTTP server: requests read under their deadline and bounds on
// the event loop, handed to the workers whole, replies written back; plain or TLS.
#pragma once

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/thread_pool.hpp>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "http/connection_limits.h"
#include "http/http_server.h"

namespace tolvane::server {

namespace asio = boost::asio;

class Service;

/// A session's side that the server can reach from another thread.
class Stoppable {
 public:
  virtual ~Stoppable() = default;
  /// Closes the connection unless a request is being handled (that one is answered first).
  virtual void stopSoon() = 0;
};

/// The open sessions, so that stopping can close the idle ones.
class SessionRegistry {
 public:
  void add(const Stoppable* key, std::weak_ptr<Stoppable> session);
  void remove(const Stoppable* key);
  /// Every session told to stop; sessions added later stop at once.
  void stopAll();
  bool stopping() const;

 private:
  mutable std::mutex lock_;
  std::map<const Stoppable*, std::weak_ptr<Stoppable>> open_;
  bool stopping_ = false;
};

/// What every session of one server uses.
struct SessionShared {
  Service& service;
  HttpOptions options;
  std::function<void(const std::string&)> log;
  /// Runs the service; set while the server runs.
  asio::thread_pool* workers = nullptr;
  SessionRegistry sessions;
};

void startPlainSession(SessionShared& shared, ConnectionLimits::Slot slot, std::string peer,
                       asio::ip::tcp::socket socket);
void startTlsSession(SessionShared& shared, ConnectionLimits::Slot slot, std::string peer,
                     asio::ip::tcp::socket socket, asio::ssl::context& tls);

}  // namespace tolvane::server

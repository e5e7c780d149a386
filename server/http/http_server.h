// tolvane-server's HTTP side: one event loop reads and writes every connection (TLS when a
// certificate is given) and hands complete requests to a pool of workers that run the service.
// A client costs a socket and a small buffer until its request is whole, never a worker; each
// request has a deadline for its headers and body, and bounded headers and body.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace tolvane::server {

class Service;

struct HttpOptions {
  /// Address to listen on ("127.0.0.1", "::", "0.0.0.0") and port (0: any free one).
  std::string host = "127.0.0.1";
  int port = 8080;
  /// TLS directly when both are set (PEM files); plain HTTP otherwise.
  std::string certificateFile;
  std::string privateKeyFile;
  /// Behind a reverse proxy on this machine: the client address is the last one the proxy
  /// put into "X-Forwarded-For" (rate limits and logs need the real client).
  bool behindProxy = false;
  /// Workers running the service: requests handled at once (hashing passwords, the database).
  int threads = 64;
  /// A request's headers and body must have arrived this many seconds after its first byte,
  /// however slowly they trickle in; a reply must be taken as fast.
  int readTimeoutSeconds = 10;
  /// A kept-alive connection idle for this long is closed.
  int keepAliveSeconds = 5;
  /// Open connections per client address (0: any number; behind a proxy every connection
  /// comes from the proxy, so this bound is not applied there).
  int connectionsPerAddress = 32;
};

class HttpServer {
 public:
  /// `log` receives one JSON line per request (and lines about the server itself).
  HttpServer(Service& service, HttpOptions options, std::function<void(const std::string&)> log);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  /// Binds the address; false with `whyNot` when it cannot (in use, no permission, TLS files
  /// unreadable).
  bool bind(std::string& whyNot);
  /// The bound port (useful after binding port 0).
  int port() const;
  /// Serves until `stop()`; returns false when serving failed.
  bool run();
  /// Safe from another thread; `run` returns once in-flight requests are done.
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace tolvane::server

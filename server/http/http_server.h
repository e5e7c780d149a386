// tolvane-server's HTTP side: cpp-httplib serving the service on a thread pool, with TLS when a
// certificate is given, bounded bodies and reads, and one structured log line per request.
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
  /// Connections served at once; more wait in the queue. A kept-alive connection holds its
  /// worker between requests, so this bounds the clients served without queueing.
  int threads = 64;
  /// A client silent for this long in the middle of a request is dropped (slow clients hold a
  /// worker only this long per read).
  int readTimeoutSeconds = 10;
  int keepAliveSeconds = 5;
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

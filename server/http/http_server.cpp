#include "http/http_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>

#include "http/request_log.h"
#include "service/service.h"

namespace tolvane::server {

namespace {

// What an address from a proxy's header may look like (IPv4, IPv6): anything else is not
// trusted into the logs and limits.
bool isAddressText(std::string_view text) {
  if (text.empty() || text.size() > 45) return false;
  for (const char c : text) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') ||
                    c == '.' || c == ':';
    if (!ok) return false;
  }
  return true;
}

std::string clientAddress(const httplib::Request& request, bool behindProxy) {
  if (behindProxy) {
    std::string forwarded = request.get_header_value("X-Forwarded-For");
    const std::size_t comma = forwarded.rfind(',');
    std::string last = comma == std::string::npos ? forwarded : forwarded.substr(comma + 1);
    while (!last.empty() && last.front() == ' ') last.erase(0, 1);
    while (!last.empty() && last.back() == ' ') last.pop_back();
    if (isAddressText(last)) return last;
  }
  return request.remote_addr;
}

Request toServiceRequest(const httplib::Request& in, bool behindProxy) {
  Request out;
  out.method = in.method;
  out.path = in.path;
  for (const auto& [name, value] : in.params) out.query.emplace(name, value);
  out.authorization = in.get_header_value("Authorization");
  out.contentType = in.get_header_value("Content-Type");
  out.body = in.body;
  out.address = clientAddress(in, behindProxy);
  return out;
}

}  // namespace

struct HttpServer::Impl {
  Service& service;
  HttpOptions options;
  std::function<void(const std::string&)> log;
  std::unique_ptr<httplib::Server> server;
  int port = 0;
  int listener = -1;

  void serve(const httplib::Request& in, httplib::Response& out);
};

void HttpServer::Impl::serve(const httplib::Request& in, httplib::Response& out) {
  const auto started = std::chrono::steady_clock::now();
  const Request request = toServiceRequest(in, options.behindProxy);
  const Reply reply = service.handle(request);
  out.status = reply.status;
  for (const auto& [name, value] : reply.headers) out.set_header(name, value);
  out.set_content(reply.body, reply.contentType);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  log(requestLogLine({.address = request.address,
                      .method = request.method,
                      .path = request.path,
                      .status = reply.status,
                      .milliseconds = ms,
                      .bytesIn = request.body.size(),
                      .bytesOut = reply.body.size(),
                      .accountId = reply.accountId,
                      .error = reply.error}));
}

HttpServer::HttpServer(Service& service, HttpOptions options,
                       std::function<void(const std::string&)> log)
    : impl_(std::make_unique<Impl>(Impl{service, std::move(options), std::move(log), nullptr})) {}

HttpServer::~HttpServer() = default;

bool HttpServer::bind(std::string& whyNot) {
  Impl& s = *impl_;
  if (!s.options.certificateFile.empty() || !s.options.privateKeyFile.empty()) {
    auto tls = std::make_unique<httplib::SSLServer>(s.options.certificateFile.c_str(),
                                                    s.options.privateKeyFile.c_str());
    if (!tls->is_valid()) {
      whyNot = "cannot use the TLS certificate " + s.options.certificateFile + " and key " +
               s.options.privateKeyFile;
      return false;
    }
    s.server = std::move(tls);
  } else {
    s.server = std::make_unique<httplib::Server>();
  }
  httplib::Server& server = *s.server;
  // The library's default also sets SO_REUSEPORT, which lets a second server bind a port that
  // is in use and silently share it: a port taken by another program must be an error.
  server.set_socket_options([&s](int socket) {
    const int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    // Only the listening socket comes here; it stays open as long as the server.
    s.listener = socket;
  });
  // A reply goes out as headers, then body: with Nagle's algorithm the body would wait for
  // the client's delayed ACK, some 40 ms on every request of a kept-alive connection.
  server.set_tcp_nodelay(true);
  const int threads = s.options.threads;
  server.new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  // Bodies over the largest any endpoint takes are refused (413) before they are read in full.
  server.set_payload_max_length(BodyLimits::kLargest);
  server.set_read_timeout(s.options.readTimeoutSeconds, 0);
  server.set_write_timeout(s.options.readTimeoutSeconds, 0);
  server.set_keep_alive_timeout(s.options.keepAliveSeconds);
  server.set_keep_alive_max_count(100);
  auto handler = [&s](const httplib::Request& in, httplib::Response& out) { s.serve(in, out); };
  server.Get(".*", handler);
  server.Post(".*", handler);
  server.Put(".*", handler);
  server.Delete(".*", handler);
  server.Patch(".*", handler);
  // Requests the library refused before they reached the service (too large, malformed).
  server.set_error_handler(httplib::Server::HandlerWithResponse([&s](const httplib::Request& in,
                                                                     httplib::Response& out) {
    if (!out.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    out.set_content(out.status == 413 ? R"({"error":"too_large"})" : R"({"error":"bad_request"})",
                    "application/json");
    s.log(requestLogLine({.address = clientAddress(in, s.options.behindProxy),
                          .method = in.method,
                          .path = in.path,
                          .status = out.status,
                          .bytesIn = in.body.size(),
                          .error = "refused by the HTTP layer"}));
    return httplib::Server::HandlerResponse::Handled;
  }));
  if (s.options.port == 0) {
    s.port = server.bind_to_any_port(s.options.host);
  } else {
    s.port = server.bind_to_port(s.options.host, s.options.port) ? s.options.port : -1;
  }
  if (s.port <= 0) {
    whyNot = "cannot listen on " + s.options.host + ":" + std::to_string(s.options.port) + ": " +
             std::strerror(errno);
    return false;
  }
  // The library listens with a backlog of 5: a burst of new connections (clients waking up
  // together, a proxy opening its pool) overflows it, and each connection dropped there waits
  // a second or more for its SYN to be sent again. Listening again only raises the bound.
  if (s.listener >= 0) ::listen(s.listener, SOMAXCONN);
  return true;
}

int HttpServer::port() const {
  return impl_->port;
}

bool HttpServer::run() {
  return impl_->server && impl_->server->listen_after_bind();
}

void HttpServer::stop() {
  if (impl_->server) impl_->server->stop();
}

}  // namespace tolvane::server

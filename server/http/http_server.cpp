#include "http/http_server.h"

#include <sys/resource.h>

#include <algorithm>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core.hpp>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "http/connection_limits.h"
#include "http/http_session.h"
#include "service/service.h"

namespace tolvane::server {

namespace beast = boost::beast;

namespace {

// Connections beyond the descriptors this process may open would fail at accept anyway; the
// rest of the process (the database, the log) keeps a margin.
std::size_t connectionsInAll() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur < 256) return 128;
  return std::min<std::size_t>(limit.rlim_cur - 128, 100000);
}

std::string peerText(const asio::ip::tcp::endpoint& peer) {
  asio::ip::address address = peer.address();
  if (address.is_v6() && address.to_v6().is_v4_mapped())
    address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  return address.to_string();
}

}  // namespace

struct HttpServer::Impl {
  Impl(Service& service, HttpOptions options, std::function<void(const std::string&)> log)
      : shared{service, std::move(options), std::move(log), nullptr, {}},
        limits(shared.options.behindProxy ? 0 : std::size_t(shared.options.connectionsPerAddress),
               connectionsInAll()) {}

  void accept();
  void startSession(asio::ip::tcp::socket socket);

  asio::io_context io;
  /// Made by run(), so a server that only binds (tests of its queue) starts no threads.
  std::unique_ptr<asio::thread_pool> workers;
  SessionShared shared;
  ConnectionLimits limits;
  std::optional<asio::ssl::context> tls;
  asio::ip::tcp::acceptor acceptor{asio::make_strand(io)};
  asio::steady_timer acceptRetry{acceptor.get_executor()};
  int port = 0;
};

void HttpServer::Impl::accept() {
  acceptor.async_accept(asio::make_strand(io),
                        [this](beast::error_code ec, asio::ip::tcp::socket socket) {
                          if (!acceptor.is_open()) return;
                          if (ec) {
                            // Out of descriptors or memory: the listening socket stays readable, so
                            // accepting again at once would spin. Pending clients wait in the queue
                            // meanwhile.
                            acceptRetry.expires_after(std::chrono::milliseconds(100));
                            acceptRetry.async_wait([this](beast::error_code) { accept(); });
                            return;
                          }
                          startSession(std::move(socket));
                          accept();
                        });
}

void HttpServer::Impl::startSession(asio::ip::tcp::socket socket) {
  beast::error_code ec;
  const auto peer = socket.remote_endpoint(ec);
  if (ec) return;
  std::string address = peerText(peer);
  // Over its share the connection is closed unread: a reply would invite it to try again.
  auto slot = limits.take(address);
  if (!slot) return;
  // A reply goes out as headers, then body: with Nagle's algorithm the body would wait for
  // the client's delayed ACK, some 40 ms on every request of a kept-alive connection.
  socket.set_option(asio::ip::tcp::no_delay(true), ec);
  if (tls) {
    startTlsSession(shared, std::move(*slot), std::move(address), std::move(socket), *tls);
  } else {
    startPlainSession(shared, std::move(*slot), std::move(address), std::move(socket));
  }
}

HttpServer::HttpServer(Service& service, HttpOptions options,
                       std::function<void(const std::string&)> log)
    : impl_(std::make_unique<Impl>(service, std::move(options), std::move(log))) {}

HttpServer::~HttpServer() = default;

namespace {

bool loadTls(asio::ssl::context& context, const HttpOptions& options) {
  beast::error_code ec;
  context.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                          asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                          asio::ssl::context::no_tlsv1_1,
                      ec);
  if (!ec) context.use_certificate_chain_file(options.certificateFile, ec);
  if (!ec) context.use_private_key_file(options.privateKeyFile, asio::ssl::context::pem, ec);
  return !ec;
}

}  // namespace

bool HttpServer::bind(std::string& whyNot) {
  Impl& s = *impl_;
  const HttpOptions& options = s.shared.options;
  if (!options.certificateFile.empty() || !options.privateKeyFile.empty()) {
    s.tls.emplace(asio::ssl::context::tls_server);
    if (!loadTls(*s.tls, options)) {
      whyNot = "cannot use the TLS certificate " + options.certificateFile + " and key " +
               options.privateKeyFile;
      return false;
    }
  }
  beast::error_code ec;
  const auto address = asio::ip::make_address(options.host, ec);
  const asio::ip::tcp::endpoint endpoint(address, static_cast<std::uint16_t>(options.port));
  // SO_REUSEADDR only: SO_REUSEPORT would let a second server bind a port in use and silently
  // share it, and a port taken by another program must be an error. The queue is as long as
  // the system allows, so a burst of new connections waits there instead of being dropped
  // (each dropped SYN waits a second or more to be sent again).
  if (!ec) s.acceptor.open(endpoint.protocol(), ec);
  if (!ec) s.acceptor.set_option(asio::socket_base::reuse_address(true), ec);
  if (!ec) s.acceptor.bind(endpoint, ec);
  if (!ec) s.acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    whyNot = "cannot listen on " + options.host + ":" + std::to_string(options.port) + ": " +
             ec.message();
    s.acceptor.close(ec);
    return false;
  }
  s.port = s.acceptor.local_endpoint(ec).port();
  return true;
}

int HttpServer::port() const {
  return impl_->port;
}

bool HttpServer::run() {
  Impl& s = *impl_;
  if (!s.acceptor.is_open()) return false;
  s.workers = std::make_unique<asio::thread_pool>(std::size_t(s.shared.options.threads));
  s.shared.workers = s.workers.get();
  asio::post(s.acceptor.get_executor(), [&s] { s.accept(); });
  // TLS handshakes and parsing take some CPU: a few loop threads, never more than cores.
  const unsigned loops = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
  std::vector<std::thread> others;
  for (unsigned i = 1; i < loops; ++i) others.emplace_back([&s] { s.io.run(); });
  s.io.run();
  for (auto& other : others) other.join();
  s.workers->join();
  return true;
}

void HttpServer::stop() {
  Impl& s = *impl_;
  asio::post(s.acceptor.get_executor(), [&s] {
    beast::error_code ec;
    s.acceptor.close(ec);
    s.acceptRetry.cancel();
    s.shared.sessions.stopAll();
  });
}

}  // namespace tolvane::server

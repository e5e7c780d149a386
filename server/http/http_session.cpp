#include "http/http_session.h"

#include <boost/asio/post.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <chrono>
#include <iterator>
#include <limits>
#include <optional>
#include <type_traits>

#include "http/body_limits.h"
#include "http/request_log.h"
#include "http/request_target.h"
#include "service/service.h"

namespace tolvane::server {

namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// A token goes into a header line (up to 8 KiB); nothing else sent to this service is large.
constexpr std::size_t kMaxHeaderBytes = 16 * 1024;
constexpr std::size_t kMaxHeaderFields = 64;
constexpr unsigned kMaxRequestsPerConnection = 100;
// After refusing a request whose body is still coming, the rest is read and dropped for a
// moment: closing with unread bytes resets the connection, and the client may lose the reply.
constexpr auto kDrainTime = std::chrono::seconds(1);
constexpr auto kRecancelTime = std::chrono::milliseconds(50);
constexpr std::size_t kMaxDrainBytes = 16 * 1024 * 1024;

std::string text(boost::beast::string_view view) {
  return std::string(view.data(), view.size());
}

double millisecondsSince(std::chrono::steady_clock::time_point began) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - began)
      .count();
}

}  // namespace

void SessionRegistry::add(const Stoppable* key, std::weak_ptr<Stoppable> session) {
  std::lock_guard guard(lock_);
  open_.emplace(key, std::move(session));
}

void SessionRegistry::remove(const Stoppable* key) {
  std::lock_guard guard(lock_);
  open_.erase(key);
}

void SessionRegistry::stopAll() {
  std::vector<std::shared_ptr<Stoppable>> open;
  {
    std::lock_guard guard(lock_);
    stopping_ = true;
    for (auto& [key, session] : open_) {
      if (auto alive = session.lock()) open.push_back(std::move(alive));
    }
  }
  for (auto& session : open) session->stopSoon();
}

bool SessionRegistry::stopping() const {
  std::lock_guard guard(lock_);
  return stopping_;
}

namespace {

using Parser = http::request_parser<http::string_body>;

template <class Stream>
class Session : public Stoppable, public std::enable_shared_from_this<Session<Stream>> {
 public:
  Session(SessionShared& shared, ConnectionLimits::Slot slot, std::string peer, Stream stream)
      : shared_(shared),
        slot_(std::move(slot)),
        peer_(std::move(peer)),
        stream_(std::move(stream)) {}
  ~Session() override { shared_.sessions.remove(this); }

  void start() {
    shared_.sessions.add(this, this->weak_from_this());
    if (shared_.sessions.stopping()) return close();
    if constexpr (kTls) {
      lowest().expires_after(deadline());
      stream_.async_handshake(asio::ssl::stream_base::server,
                              [self = this->shared_from_this()](beast::error_code ec) {
                                if (ec) return self->close();
                                self->awaitRequest();
                              });
    } else {
      awaitRequest();
    }
  }

  void stopSoon() override {
    asio::post(stream_.get_executor(), [self = this->shared_from_this()] {
      if (!self->busy_) self->close();
    });
  }

 private:
  static constexpr bool kTls = !std::is_same_v<Stream, beast::tcp_stream>;

  beast::tcp_stream& lowest() { return beast::get_lowest_layer(stream_); }
  std::chrono::seconds deadline() const {
    return std::chrono::seconds(shared_.options.readTimeoutSeconds);
  }

  // Between requests the connection may idle for the keep-alive time; the request's own
  // deadline starts with its first byte.
  void awaitRequest() {
    if (buffer_.size() > 0) return readHeader();
    lowest().expires_after(served_ == 0 ? deadline()
                                        : std::chrono::seconds(shared_.options.keepAliveSeconds));
    stream_.async_read_some(buffer_.prepare(4096), [self = this->shared_from_this()](
                                                       beast::error_code ec, std::size_t got) {
      if (ec) return self->close();
      self->buffer_.commit(got);
      self->readHeader();
    });
  }

  void readHeader() {
    began_ = std::chrono::steady_clock::now();
    parser_.emplace();
    parser_->header_limit(kMaxHeaderBytes);
    // The body's bound depends on the endpoint, known once the header is read.
    parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    startDeadline();
    http::async_read_header(stream_, buffer_, *parser_,
                            [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                              self->onHeader(ec);
                            });
  }

  void onHeader(beast::error_code ec) {
    if (ec) return refuseRead(ec);
    const auto& request = parser_->get();
    if (std::size_t(std::distance(request.begin(), request.end())) > kMaxHeaderFields)
      return refuse(431, "too_many_headers");
    // Unpacking is not offered: a small compressed body could stand for gigabytes.
    const auto encoding = request[http::field::content_encoding];
    if (!encoding.empty() && !beast::iequals(encoding, "identity"))
      return refuse(415, "unsupported_content_encoding");
    const std::string path = splitTarget(text(request.target())).path;
    const std::size_t limit = bodyLimitFor(text(request.method_string()), path);
    if (parser_->content_length() && *parser_->content_length() > limit)
      return refuse(413, "too_large");
    // A chunked body stops being read the moment it passes the bound.
    parser_->body_limit(limit);
    if (parser_->is_done()) return handle();
    if (beast::iequals(request[http::field::expect], "100-continue")) {
      auto proceed = std::make_shared<http::response<http::empty_body>>(http::status::continue_,
                                                                        request.version());
      return http::async_write(
          stream_, *proceed,
          [self = this->shared_from_this(), proceed](beast::error_code ec, std::size_t) {
            if (ec) return self->close();
            self->readBody();
          });
    }
    readBody();
  }

  void readBody() {
    http::async_read(stream_, buffer_, *parser_,
                     [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                       if (ec) return self->refuseRead(ec);
                       self->handle();
                     });
  }

  // The request's own timer rather than the stream's: the stream closes the socket when its
  // time is up, and a client cut for being slow is told so (408).
  void startDeadline() {
    lowest().expires_never();
    late_ = false;
    reading_ = true;
    deadline_.expires_after(deadline());
    awaitDeadline();
  }

  // A cancel finds nothing to cancel when the composed read is between two of its reads (a
  // completion already queued); the read would then go on past the deadline for as long as the
  // client drips. So a late request is cancelled again until its read has ended.
  void awaitDeadline() {
    deadline_.async_wait([self = this->shared_from_this()](beast::error_code ec) {
      if (ec || !self->reading_) return;
      self->late_ = true;
      self->lowest().cancel();
      self->deadline_.expires_after(kRecancelTime);
      self->awaitDeadline();
    });
  }

  // Why reading failed decides the answer; a client gone gets none.
  void refuseRead(beast::error_code ec) {
    reading_ = false;
    deadline_.cancel();
    if (late_) return refuse(408, "too_slow");
    if (ec == http::error::header_limit) return refuse(431, "headers_too_large");
    if (ec == http::error::body_limit) return refuse(413, "too_large");
    if (ec.category() == http::make_error_code(http::error::bad_target).category() &&
        ec != http::error::end_of_stream && ec != http::error::partial_message)
      return refuse(400, "bad_request");
    close();
  }

  Request serviceRequest() {
    auto& in = parser_->get();
    RequestTarget target = splitTarget(text(in.target()));
    Request out;
    out.method = text(in.method_string());
    out.path = std::move(target.path);
    out.query = std::move(target.query);
    out.authorization = text(in[http::field::authorization]);
    out.contentType = text(in[http::field::content_type]);
    out.body = std::move(in.body());
    out.address = clientAddress(peer_, text(in["X-Forwarded-For"]), shared_.options.behindProxy);
    return out;
  }

  void handle() {
    busy_ = true;
    reading_ = false;
    deadline_.cancel();
    version_ = parser_->get().version();
    keepAlive_ = parser_->get().keep_alive();
    auto request = std::make_shared<Request>(serviceRequest());
    parser_->release();
    // The loop waits on this reply: a guard keeps it running while the worker has the request.
    auto work = asio::make_work_guard(stream_.get_executor());
    asio::post(*shared_.workers,
               [self = this->shared_from_this(), request, work = std::move(work)]() mutable {
                 const auto started = std::chrono::steady_clock::now();
                 auto reply = std::make_shared<Reply>(self->shared_.service.handle(*request));
                 const double ms = millisecondsSince(started);
                 asio::post(work.get_executor(),
                            [self, request, reply, ms] { self->answer(*request, *reply, ms); });
                 work.reset();
               });
  }

  void answer(const Request& request, const Reply& reply, double ms) {
    shared_.log(requestLogLine({.address = request.address,
                                .method = request.method,
                                .path = request.path,
                                .status = reply.status,
                                .milliseconds = ms,
                                .bytesIn = request.body.size(),
                                .bytesOut = reply.body.size(),
                                .accountId = reply.accountId,
                                .error = reply.error}));
    auto response = std::make_shared<http::response<http::string_body>>();
    response->version(version_);
    response->result(static_cast<unsigned>(reply.status));
    for (const auto& [name, value] : reply.headers) response->set(name, value);
    response->set(http::field::content_type, reply.contentType);
    response->body() = reply.body;
    ++served_;
    response->keep_alive(keepAlive_ && served_ < kMaxRequestsPerConnection &&
                         !shared_.sessions.stopping());
    response->prepare_payload();
    write(std::move(response), false);
  }

  // Refused before the service saw it: answered, logged, and the connection ended, since the
  // rest of the request is not read.
  void refuse(int status, const char* error) {
    busy_ = true;
    deadline_.cancel();
    std::string method, path;
    std::string forwarded;
    if (parser_ && parser_->is_header_done()) {
      const auto& in = parser_->get();
      method = text(in.method_string());
      path = splitTarget(text(in.target())).path;
      forwarded = text(in["X-Forwarded-For"]);
    }
    shared_.log(
        requestLogLine({.address = clientAddress(peer_, forwarded, shared_.options.behindProxy),
                        .method = method,
                        .path = path,
                        .status = status,
                        .milliseconds = millisecondsSince(began_),
                        .error = "refused by the HTTP layer: " + std::string(error)}));
    auto response = std::make_shared<http::response<http::string_body>>();
    response->version(11);
    response->result(static_cast<unsigned>(status));
    response->set(http::field::content_type, "application/json");
    response->body() = std::string(R"({"error":")") + error + "\"}";
    response->keep_alive(false);
    response->prepare_payload();
    write(std::move(response), true);
  }

  void write(std::shared_ptr<http::response<http::string_body>> response, bool drain) {
    lowest().expires_after(deadline());
    http::async_write(
        stream_, *response,
        [self = this->shared_from_this(), response, drain](beast::error_code ec, std::size_t) {
          self->busy_ = false;
          if (ec) return self->close();
          if (drain) return self->drainAndClose();
          if (!response->keep_alive()) return self->close();
          self->awaitRequest();
        });
  }

  void drainAndClose() {
    beast::error_code ec;
    lowest().socket().shutdown(asio::ip::tcp::socket::shutdown_send, ec);
    lowest().expires_after(kDrainTime);
    buffer_.consume(buffer_.size());
    drainSome();
  }

  void drainSome() {
    stream_.async_read_some(buffer_.prepare(64 * 1024), [self = this->shared_from_this()](
                                                            beast::error_code ec, std::size_t got) {
      self->drained_ += got;
      if (ec || self->drained_ > kMaxDrainBytes) return self->close();
      self->drainSome();
    });
  }

  void close() {
    deadline_.cancel();
    beast::error_code ec;
    lowest().socket().shutdown(asio::ip::tcp::socket::shutdown_both, ec);
    lowest().close();
  }

  SessionShared& shared_;
  ConnectionLimits::Slot slot_;
  const std::string peer_;
  Stream stream_;
  asio::steady_timer deadline_{stream_.get_executor()};
  bool late_ = false;
  // A request is being read: only then may the deadline cancel what the stream does.
  bool reading_ = false;
  beast::flat_buffer buffer_;
  std::optional<Parser> parser_;
  std::chrono::steady_clock::time_point began_ = std::chrono::steady_clock::now();
  unsigned served_ = 0;
  unsigned version_ = 11;
  bool keepAlive_ = true;
  bool busy_ = false;
  std::size_t drained_ = 0;
};

}  // namespace

void startPlainSession(SessionShared& shared, ConnectionLimits::Slot slot, std::string peer,
                       asio::ip::tcp::socket socket) {
  std::make_shared<Session<beast::tcp_stream>>(shared, std::move(slot), std::move(peer),
                                               beast::tcp_stream(std::move(socket)))
      ->start();
}

void startTlsSession(SessionShared& shared, ConnectionLimits::Slot slot, std::string peer,
                     asio::ip::tcp::socket socket, asio::ssl::context& tls) {
  using TlsStream = beast::ssl_stream<beast::tcp_stream>;
  std::make_shared<Session<TlsStream>>(shared, std::move(slot), std::move(peer),
                                       TlsStream(beast::tcp_stream(std::move(socket)), tls))
      ->start();
}

}  // namespace tolvane::server

// HTTP on libcurl: one worker thread drives a curl multi handle. Redirects are followed here
// rather than by curl, so that no request ever leaves the origin it was sent to.
#include "backends/system/curl_http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tolvane::system {
namespace {

constexpr int kMaxRedirects = 5;
// curl shortens this wait for its own timers and curl_multi_wakeup interrupts it, so it only
// bounds how long an idle worker sleeps.
constexpr int kIdlePollMillis = 60 * 1000;
// Longer timeouts are cut to about 24 days so the value fits curl's `long` everywhere.
constexpr double kMaxTimeoutMillis = 2147483647.0;

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCleanup {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlCleanup {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlFree {
  void operator()(char* text) const { curl_free(text); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;
using MultiHandle = std::unique_ptr<CURLM, MultiCleanup>;
using HeaderList = std::unique_ptr<curl_slist, SlistCleanup>;
using UrlHandle = std::unique_ptr<CURLU, UrlCleanup>;
using CurlText = std::unique_ptr<char, CurlFree>;

// curl_global_init is not thread-safe and must come before any other curl call. It is never
// undone: other code in the process may still be using curl when a client goes away.
CURLcode initCurlOnce() {
  static std::once_flag once;
  static CURLcode result = CURLE_OK;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  return result;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// What a method or a header name may consist of (the token characters of HTTP).
bool isToken(std::string_view text) {
  static constexpr std::string_view kSymbols = "!#$%&'*+-.^_`|~";
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || kSymbols.find(c) != kSymbols.npos;
  });
}

// A line break inside a value would smuggle further headers into the request.
bool isHeaderValue(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

bool hasHeader(const HttpRequest& request, std::string_view name) {
  return std::any_of(request.headers.begin(), request.headers.end(),
                     [&](const auto& header) { return equalsIgnoringCase(header.first, name); });
}

bool carriesBody(const std::string& method) {
  return method != "GET" && method != "HEAD";
}

// curl reads a timeout of 0 as "no limit": a timeout that is zero, negative or not a number
// must still end the transfer, so it becomes the shortest one.
long long timeoutMillis(double seconds) {
  if (!(seconds > 0)) return 1;
  return std::max(1LL, std::llround(std::min(seconds * 1000, kMaxTimeoutMillis)));
}

HttpResponse noReply(std::string why) {
  return HttpResponse{.transportError = std::move(why)};
}

struct Origin {
  std::string scheme;
  std::string host;
  std::string port;
};

std::optional<Origin> originOf(const std::string& url) {
  UrlHandle handle(curl_url());
  if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
    return std::nullopt;
  }
  auto part = [&](CURLUPart which, unsigned flags) -> std::optional<std::string> {
    char* text = nullptr;
    if (curl_url_get(handle.get(), which, &text, flags) != CURLUE_OK) return std::nullopt;
    CurlText owned(text);
    return std::string(owned.get());
  };
  // Without CURLU_DEFAULT_PORT, "https://h" and "https://h:443" would look like two origins.
  auto scheme = part(CURLUPART_SCHEME, 0);
  auto host = part(CURLUPART_HOST, 0);
  auto port = part(CURLUPART_PORT, CURLU_DEFAULT_PORT);
  if (!scheme || !host || !port) return std::nullopt;
  return Origin{*scheme, *host, *port};
}

bool sameOrigin(const std::string& from, const std::string& to) {
  const auto a = originOf(from);
  const auto b = originOf(to);
  return a && b && equalsIgnoringCase(a->scheme, b->scheme) &&
         equalsIgnoringCase(a->host, b->host) && a->port == b->port;
}

bool isFollowedRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// 301, 302 and 303 turn a request with a body into a GET; headers that described the body
// would describe nothing, so they go with it.
void becomeGet(HttpRequest& request) {
  request.method = "GET";
  request.body.clear();
  std::erase_if(request.headers, [](const auto& header) {
    for (std::string_view name :
         {"Content-Type", "Content-Encoding", "Content-Language", "Content-Location"}) {
      if (equalsIgnoringCase(header.first, name)) return true;
    }
    return false;
  });
}

// One request, from its first hop to its completion.
struct Transfer {
  /// The current hop: URL, method and body change on redirects.
  HttpRequest request;
  HttpClient::Completion completion;
  /// What is left of the request's timeout for the current and later hops.
  long long remainingMillis = 0;
  int redirects = 0;
  EasyHandle easy;
  HeaderList headers;
  std::string body;
  /// The reply grew past the request's limit and the transfer was aborted.
  bool tooLarge = false;
  std::array<char, CURL_ERROR_SIZE> error{};
};

size_t appendBody(char* data, size_t size, size_t count, void* userData) {
  auto& transfer = *static_cast<Transfer*>(userData);
  const size_t bytes = size * count;
  // A short count makes curl abort the transfer: a server cannot make us hold more than the
  // caller is prepared to read. An exception must not unwind through curl.
  if (bytes > transfer.request.maxReplyBytes -
                  std::min(transfer.request.maxReplyBytes, transfer.body.size())) {
    transfer.tooLarge = true;
    return 0;
  }
  try {
    transfer.body.append(data, bytes);
    return bytes;
  } catch (...) {
    return 0;
  }
}

// Nothing on success, else why the list cannot be built.
std::optional<std::string> buildHeaderList(const HttpRequest& request, HeaderList& list) {
  std::vector<std::string> lines;
  for (const auto& [name, value] : request.headers) {
    if (!isToken(name) || !isHeaderValue(value)) return "invalid header \"" + name + "\"";
    // "Name;" is how curl spells an empty value; "Name:" would delete the header instead.
    lines.push_back(value.empty() ? name + ";" : name + ": " + value);
  }
  // Left alone, curl sends "Expect: 100-continue" before large bodies and waits for a go-ahead
  // some servers never send, and labels a body without a type as a form.
  if (!hasHeader(request, "Expect")) lines.push_back("Expect:");
  if (carriesBody(request.method) && !hasHeader(request, "Content-Type")) {
    lines.push_back("Content-Type:");
  }
  list.reset();
  for (const auto& line : lines) {
    curl_slist* head = curl_slist_append(list.get(), line.c_str());
    if (!head) return "out of memory";
    (void)list.release();
    list.reset(head);
  }
  return std::nullopt;
}

HttpResponse responseOf(Transfer& transfer, CURLcode result) {
  if (transfer.tooLarge) {
    return noReply("reply larger than " + std::to_string(transfer.request.maxReplyBytes) +
                   " bytes");
  }
  if (result != CURLE_OK) {
    return noReply(transfer.error[0] != '\0' ? transfer.error.data() : curl_easy_strerror(result));
  }
  long status = 0;
  curl_easy_getinfo(transfer.easy.get(), CURLINFO_RESPONSE_CODE, &status);
  if (status < 100 || status > 999) return noReply("no HTTP status in the reply");
  return HttpResponse{.status = static_cast<int>(status), .body = std::move(transfer.body)};
}

// Turns `transfer` into its next hop when its reply is a redirect we follow.
bool prepareRedirect(Transfer& transfer) {
  CURL* easy = transfer.easy.get();
  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  if (!isFollowedRedirect(status) || transfer.redirects >= kMaxRedirects) return false;
  // Resolved against the request's URL, so a relative Location works too.
  char* location = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location) != CURLE_OK || !location) {
    return false;
  }
  if (!sameOrigin(transfer.request.url, location)) return false;
  // The timeout covers every hop: the next one gets what this one left, at least 1 ms so the
  // limit never turns into curl's "no limit".
  curl_off_t spentMicros = 0;
  curl_easy_getinfo(easy, CURLINFO_TOTAL_TIME_T, &spentMicros);
  transfer.remainingMillis = std::max(1LL, transfer.remainingMillis - spentMicros / 1000);
  transfer.request.url = location;
  ++transfer.redirects;
  if (status != 307 && status != 308 && carriesBody(transfer.request.method)) {
    becomeGet(transfer.request);
  }
  return true;
}

void complete(Transfer& transfer, HttpResponse response) {
  if (transfer.completion) transfer.completion(std::move(response));
}

}  // namespace

class CurlHttpClient::Worker {
 public:
  explicit Worker(std::string userAgent);
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void send(HttpRequest request, Completion completion);

 private:
  void run();
  bool startPending();
  void start(std::unique_ptr<Transfer> transfer);
  std::optional<std::string> configure(Transfer& transfer);
  bool finishDone();
  bool finish(CURL* easy, CURLcode result);
  void cancelAll();

  const std::string userAgent_;
  std::string startError_;
  MultiHandle multi_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Transfer>> pending_;  // guarded by mutex_
  bool stopping_ = false;                           // guarded by mutex_
  // Only the worker thread touches the transfers under way.
  std::unordered_map<CURL*, std::unique_ptr<Transfer>> active_;
  // Last, so the thread starts after everything it uses exists.
  std::thread thread_;
};

CurlHttpClient::Worker::Worker(std::string userAgent) : userAgent_(std::move(userAgent)) {
  if (const CURLcode init = initCurlOnce(); init != CURLE_OK) {
    startError_ = std::string("curl_global_init failed: ") + curl_easy_strerror(init);
    return;
  }
  multi_.reset(curl_multi_init());
  if (!multi_) {
    startError_ = "cannot create a curl multi handle";
    return;
  }
  thread_ = std::thread([this] { run(); });
}

CurlHttpClient::Worker::~Worker() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  curl_multi_wakeup(multi_.get());
  thread_.join();
}

void CurlHttpClient::Worker::send(HttpRequest request, Completion completion) {
  auto transfer = std::make_unique<Transfer>();
  transfer->remainingMillis = timeoutMillis(request.timeoutSeconds);
  transfer->request = std::move(request);
  transfer->completion = std::move(completion);
  // Without a worker there is nobody to hand the failure to but the caller's own thread.
  if (!thread_.joinable()) return complete(*transfer, noReply(startError_));
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(transfer));
  }
  curl_multi_wakeup(multi_.get());
}

void CurlHttpClient::Worker::run() {
  while (startPending()) {
    int running = 0;
    curl_multi_perform(multi_.get(), &running);
    // A redirect's next hop was just added: get it going before sleeping.
    if (finishDone()) continue;
    curl_multi_poll(multi_.get(), nullptr, 0, kIdlePollMillis, nullptr);
  }
  cancelAll();
}

// False once the client is stopping.
bool CurlHttpClient::Worker::startPending() {
  std::vector<std::unique_ptr<Transfer>> incoming;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return false;
    incoming.swap(pending_);
  }
  for (auto& transfer : incoming) start(std::move(transfer));
  return true;
}

void CurlHttpClient::Worker::start(std::unique_ptr<Transfer> transfer) {
  if (transfer->easy) {
    curl_easy_reset(transfer->easy.get());
  } else {
    transfer->easy.reset(curl_easy_init());
  }
  std::optional<std::string> error =
      transfer->easy ? configure(*transfer) : "cannot create a curl handle";
  if (!error) {
    const CURLMcode added = curl_multi_add_handle(multi_.get(), transfer->easy.get());
    if (added != CURLM_OK) error = curl_multi_strerror(added);
  }
  if (error) return complete(*transfer, noReply(*error));
  CURL* easy = transfer->easy.get();
  active_.emplace(easy, std::move(transfer));
}

// Nothing on success, else why the transfer cannot start.
std::optional<std::string> CurlHttpClient::Worker::configure(Transfer& transfer) {
  const HttpRequest& request = transfer.request;
  if (!isToken(request.method)) return "invalid method \"" + request.method + "\"";
  if (auto error = buildHeaderList(request, transfer.headers)) return error;
  transfer.body.clear();
  transfer.tooLarge = false;
  transfer.error.fill('\0');

  CURL* easy = transfer.easy.get();
  CURLcode code = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (code == CURLE_OK) code = curl_easy_setopt(easy, option, value);
  };
  const long timeout = static_cast<long>(transfer.remainingMillis);
  set(CURLOPT_URL, request.url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  set(CURLOPT_FOLLOWLOCATION, 0L);
  set(CURLOPT_ERRORBUFFER, transfer.error.data());
  set(CURLOPT_WRITEFUNCTION, &appendBody);
  set(CURLOPT_WRITEDATA, &transfer);
  set(CURLOPT_TIMEOUT_MS, timeout);
  set(CURLOPT_CONNECTTIMEOUT_MS, timeout);
  set(CURLOPT_USERAGENT, userAgent_.c_str());
  set(CURLOPT_HTTPHEADER, transfer.headers.get());
  if (request.method == "GET") {
    set(CURLOPT_HTTPGET, 1L);
  } else if (request.method == "HEAD") {
    set(CURLOPT_NOBODY, 1L);
  } else {
    // An explicit size keeps bodies with zero bytes intact; curl does not copy the body, which
    // lives in the transfer until it ends.
    set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    set(CURLOPT_POSTFIELDS, request.body.data());
    if (request.method != "POST") set(CURLOPT_CUSTOMREQUEST, request.method.c_str());
  }
  if (code != CURLE_OK) return curl_easy_strerror(code);
  return std::nullopt;
}

// True when a redirect's next hop was started.
bool CurlHttpClient::Worker::finishDone() {
  // A message dies with its handle's removal, so all of them are read before any is handled.
  std::vector<std::pair<CURL*, CURLcode>> done;
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
    if (message->msg == CURLMSG_DONE) done.emplace_back(message->easy_handle, message->data.result);
  }
  bool restarted = false;
  for (const auto& [easy, result] : done) restarted = finish(easy, result) || restarted;
  return restarted;
}

bool CurlHttpClient::Worker::finish(CURL* easy, CURLcode result) {
  const auto found = active_.find(easy);
  if (found == active_.end()) return false;
  std::unique_ptr<Transfer> transfer = std::move(found->second);
  active_.erase(found);
  curl_multi_remove_handle(multi_.get(), easy);
  if (result == CURLE_OK && prepareRedirect(*transfer)) {
    start(std::move(transfer));
    return true;
  }
  complete(*transfer, responseOf(*transfer, result));
  return false;
}

void CurlHttpClient::Worker::cancelAll() {
  std::vector<std::unique_ptr<Transfer>> cancelled;
  for (auto& [easy, transfer] : active_) {
    curl_multi_remove_handle(multi_.get(), easy);
    cancelled.push_back(std::move(transfer));
  }
  active_.clear();
  // A completion may send again; those requests are cancelled too, until none is left.
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      for (auto& transfer : pending_) cancelled.push_back(std::move(transfer));
      pending_.clear();
    }
    if (cancelled.empty()) return;
    for (auto& transfer : cancelled) complete(*transfer, noReply("cancelled"));
    cancelled.clear();
  }
}

CurlHttpClient::CurlHttpClient(std::string userAgent)
    : worker_(std::make_unique<Worker>(std::move(userAgent))) {}

CurlHttpClient::~CurlHttpClient() = default;

void CurlHttpClient::send(HttpRequest request, Completion completion) {
  worker_->send(std::move(request), std::move(completion));
}

}  // namespace tolvane::system

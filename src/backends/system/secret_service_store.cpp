// Keyring items through libsecret's synchronous calls, all made on one worker thread that owns
// its own GLib main context, with one cancellable that bounds every wait of the main thread.
#include "backends/system/secret_service_store.h"

#include <libsecret/secret.h>

#include <atomic>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "backends/system/secret_values.h"
#include "base/serial_queue.h"

namespace tolvane::system {

namespace {

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
struct HashTableUnref {
  void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
struct SchemaUnref {
  void operator()(SecretSchema* schema) const { secret_schema_unref(schema); }
};
struct ValueUnref {
  void operator()(SecretValue* value) const { secret_value_unref(value); }
};
struct ContextUnref {
  void operator()(GMainContext* context) const { g_main_context_unref(context); }
};

using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using AttributesPtr = std::unique_ptr<GHashTable, HashTableUnref>;

// An error text from the bus, bounded for one log line.
std::string describe(const ErrorPtr& error) {
  constexpr std::size_t kMaxMessageBytes = 200;
  if (!error) return "unknown";
  std::string message = error->message ? error->message : "unknown";
  if (message.size() > kMaxMessageBytes) message = message.substr(0, kMaxMessageBytes) + "...";
  return message;
}

}  // namespace

struct SecretServiceStore::Worker {
  explicit Worker(Options options)
      : options(std::move(options)),
        schema(secret_schema_new(this->options.schemaName.c_str(), SECRET_SCHEMA_NONE, "account",
                                 SECRET_SCHEMA_ATTRIBUTE_STRING, nullptr)),
        cancellable(g_cancellable_new()),
        context(g_main_context_new()) {
    // Signals of the service's proxy are dispatched in the context that was the thread's
    // default when it was made; ours keeps them on this worker instead of the application's
    // main context, where they would run beside the worker's calls.
    queue.async([this] { g_main_context_push_thread_default(context.get()); });
  }

  // The service's answer to opening: nothing when it can store items, else why not.
  std::optional<std::string> connect() {
    ErrorPtr error;
    GError* raw = nullptr;
    service.reset(secret_service_open_sync(SECRET_TYPE_SERVICE, nullptr,
                                           SECRET_SERVICE_OPEN_SESSION, cancellable.get(), &raw));
    error.reset(raw);
    if (!service) return "no Secret Service answered: " + describe(error);
    raw = nullptr;
    std::unique_ptr<SecretCollection, GObjectUnref> collection(secret_collection_for_alias_sync(
        service.get(), SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, cancellable.get(), &raw));
    error.reset(raw);
    // Storing into a missing default collection would ask the user to create a keyring, a
    // prompt that a session without one (a bare X session, a test) cannot even show.
    if (!collection) {
      return "the Secret Service has no default collection" + (error ? ": " + describe(error) : "");
    }
    return std::nullopt;
  }

  AttributesPtr attributes(const std::string& account) const {
    return AttributesPtr(
        secret_attributes_build(schema.get(), "account", account.c_str(), nullptr));
  }

  void load() {
    for (const auto& account : options.accounts) {
      auto value = lookup(account);
      std::lock_guard guard(lock);
      // A change made while the read was on its way is newer than what the keyring held.
      if (touched.contains(account)) continue;
      if (value) cache.insert_or_assign(account, std::move(*value));
    }
  }

  std::optional<std::string> lookup(const std::string& account) {
    GError* raw = nullptr;
    std::unique_ptr<SecretValue, ValueUnref> value(secret_service_lookup_sync(
        service.get(), schema.get(), attributes(account).get(), cancellable.get(), &raw));
    ErrorPtr error(raw);
    if (error)
      diagnose("secret service read failed account=" + printableAccount(account) +
               " error=" + describe(error));
    if (!value) return std::nullopt;
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    std::string text(bytes, length);
    if (const auto problem = valueProblem(text)) {
      diagnose("secret service item ignored account=" + printableAccount(account) +
               " reason=" + *problem);
      return std::nullopt;
    }
    return text;
  }

  void store(const std::string& account, const std::string& value) {
    if (abandoned) return;
    const std::string label = "Tolvane " + account;
    std::unique_ptr<SecretValue, ValueUnref> secret(
        secret_value_new(value.data(), static_cast<gssize>(value.size()), "text/plain"));
    GError* raw = nullptr;
    // Storing replaces the collection's item with the same attributes: one item per account.
    secret_service_store_sync(service.get(), schema.get(), attributes(account).get(),
                              SECRET_COLLECTION_DEFAULT, label.c_str(), secret.get(),
                              cancellable.get(), &raw);
    ErrorPtr error(raw);
    if (error)
      diagnose("secret service write failed account=" + printableAccount(account) +
               " error=" + describe(error));
    drainSignals();
  }

  void clear(const std::string& account) {
    if (abandoned) return;
    GError* raw = nullptr;
    // False without an error means there was no item: nothing to report.
    secret_service_clear_sync(service.get(), schema.get(), attributes(account).get(),
                              cancellable.get(), &raw);
    ErrorPtr error(raw);
    if (error)
      diagnose("secret service remove failed account=" + printableAccount(account) +
               " error=" + describe(error));
    drainSignals();
  }

  // Makes every queued and running call end at once; from any thread.
  void abandon() {
    abandoned = true;
    g_cancellable_cancel(cancellable.get());
  }

  // Runs what the bus queued for the proxy, so that signals do not pile up between calls.
  void drainSignals() {
    while (g_main_context_iteration(context.get(), FALSE)) {
    }
  }

  void diagnose(const std::string& line) const {
    if (options.diagnostic) options.diagnostic(line);
  }

  const Options options;
  const std::unique_ptr<SecretSchema, SchemaUnref> schema;
  const std::unique_ptr<GCancellable, GObjectUnref> cancellable;
  const std::unique_ptr<GMainContext, ContextUnref> context;
  // Made and used on the worker only.
  std::unique_ptr<SecretService, GObjectUnref> service;
  // Set when the destructor gives up waiting: queued writes then end at once.
  std::atomic<bool> abandoned{false};

  std::mutex lock;
  std::map<std::string, std::string> cache;
  std::set<std::string> touched;

  // Last, so that it is built after everything its work uses.
  SerialQueue queue;
};

SecretServiceStore::SecretServiceStore(Options options)
    : worker_(std::make_unique<Worker>(std::move(options))) {}

std::unique_ptr<SecretServiceStore> SecretServiceStore::open(Options options, std::string& whyNot) {
  const auto deadline = std::chrono::steady_clock::now() + options.answerWait;
  std::unique_ptr<SecretServiceStore> store(new SecretServiceStore(std::move(options)));
  Worker& worker = *store->worker_;
  auto answered = std::make_shared<std::promise<std::optional<std::string>>>();
  auto loaded = std::make_shared<std::promise<void>>();
  auto answer = answered->get_future();
  auto load = loaded->get_future();
  worker.queue.async([&worker, answered, loaded] {
    auto problem = worker.connect();
    const bool usable = !problem;
    answered->set_value(std::move(problem));
    if (usable) worker.load();
    loaded->set_value();
    worker.drainSignals();
  });
  if (answer.wait_until(deadline) != std::future_status::ready) {
    whyNot = "no Secret Service answered within " +
             std::to_string(worker.options.answerWait.count()) + " ms";
    worker.abandon();
    return nullptr;
  }
  if (auto problem = answer.get()) {
    whyNot = std::move(*problem);
    return nullptr;
  }
  if (load.wait_until(deadline) != std::future_status::ready) {
    worker.diagnose("secret service slow to read, accounts appear once read");
  }
  return store;
}

SecretServiceStore::~SecretServiceStore() {
  Worker& worker = *worker_;
  auto done = std::make_shared<std::promise<void>>();
  auto finished = done->get_future();
  worker.queue.async([done] { done->set_value(); });
  if (finished.wait_for(worker.options.quitWait) != std::future_status::ready) {
    worker.abandon();
    worker.diagnose("secret service writes cancelled at quit after " +
                    std::to_string(worker.options.quitWait.count()) + " ms");
  }
  worker.queue.async([&worker] {
    worker.service.reset();
    worker.drainSignals();
    g_main_context_pop_thread_default(worker.context.get());
  });
  worker.queue.stop();
}

std::optional<std::string> SecretServiceStore::get(const std::string& account) {
  std::lock_guard guard(worker_->lock);
  const auto it = worker_->cache.find(account);
  if (it == worker_->cache.end()) return std::nullopt;
  return it->second;
}

void SecretServiceStore::set(const std::string& account, const std::string& value) {
  Worker& worker = *worker_;
  if (const auto problem = entryProblem(account, value)) {
    worker.diagnose("secret refused account=" + printableAccount(account) + " reason=" + *problem);
    return;
  }
  {
    std::lock_guard guard(worker.lock);
    worker.cache.insert_or_assign(account, value);
    worker.touched.insert(account);
  }
  worker.queue.async([&worker, account, value] { worker.store(account, value); });
}

void SecretServiceStore::remove(const std::string& account) {
  Worker& worker = *worker_;
  if (accountProblem(account)) return;
  {
    std::lock_guard guard(worker.lock);
    worker.cache.erase(account);
    worker.touched.insert(account);
  }
  worker.queue.async([&worker, account] { worker.clear(account); });
}

void SecretServiceStore::flush() {
  worker_->queue.drain();
}

}  // namespace tolvane::system

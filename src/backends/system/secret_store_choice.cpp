// Choosing the keyring or the private file, once, at start-up and off the main thread.
#include "backends/system/secret_store_choice.h"

#include <condition_variable>
#include <mutex>
#include <utility>

#include "backends/system/file_secret_store.h"
#include "backends/system/secret_service_store.h"

namespace tolvane::system {

std::string secretFilePath(const UserPaths& paths, const BundleInfo& bundle) {
  return paths.dataHome + "/" + bundle.identifier + "/secrets.json";
}

std::unique_ptr<SecretStore> makeSecretStore(const BundleInfo& bundle, const UserPaths& paths,
                                             std::vector<std::string> accounts, FileSystem& files,
                                             std::uint32_t uid, DebugLog& log) {
  const auto diagnostic = [&log](const std::string& line) { log.log(line); };
  std::string whyNot;
  auto keyring = SecretServiceStore::open(
      {.schemaName = bundle.identifier, .accounts = std::move(accounts), .diagnostic = diagnostic},
      whyNot);
  if (keyring) {
    log.log("secret store keyring schema=" + bundle.identifier);
    return keyring;
  }
  const std::string path = secretFilePath(paths, bundle);
  log.notice("secrets not in a keyring reason=" + whyNot + "; kept in " + path +
             ", readable by this user only");
  return std::make_unique<FileSecretStore>(files, path, uid, diagnostic);
}

// The opened store is handed from the opening thread to every other under `lock`; the
// callbacks and `announced` belong to the main thread alone.
struct OpeningSecretStore::State {
  std::mutex lock;
  std::condition_variable opened;
  std::unique_ptr<SecretStore> store;

  bool announced = false;
  std::vector<std::function<void()>> waiting;

  SecretStore& awaitStore() {
    std::unique_lock guard(lock);
    opened.wait(guard, [this] { return store != nullptr; });
    return *store;
  }

  void announce() {
    announced = true;
    // A callback may ask for more callbacks; they run at once, as the store is open now.
    for (auto& callback : std::exchange(waiting, {})) callback();
  }
};

OpeningSecretStore::OpeningSecretStore(RunLoop& runLoop, Opener opener)
    : state_(std::make_shared<State>()) {
  opening_ = std::thread([state = state_, &runLoop, opener = std::move(opener)] {
    auto store = opener();
    {
      // Posted under the lock: whoever sees the store open has the announcement queued
      // already, so a main thread that waited in get() and then drains its loop hears it.
      std::lock_guard guard(state->lock);
      state->store = std::move(store);
      runLoop.postFromAnyThread([state] { state->announce(); });
    }
    state->opened.notify_all();
  });
}

OpeningSecretStore::~OpeningSecretStore() {
  opening_.join();
}

std::optional<std::string> OpeningSecretStore::get(const std::string& account) {
  return state_->awaitStore().get(account);
}

void OpeningSecretStore::set(const std::string& account, const std::string& value) {
  state_->awaitStore().set(account, value);
}

void OpeningSecretStore::remove(const std::string& account) {
  state_->awaitStore().remove(account);
}

void OpeningSecretStore::whenOpen(std::function<void()> opened) {
  if (state_->announced) {
    opened();
  } else {
    state_->waiting.push_back(std::move(opened));
  }
}

}  // namespace tolvane::system

// A change notification with any number of subscribers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace tolvane {

/// Tells every subscriber that something changed. Main thread only. A subscriber may subscribe
/// or unsubscribe others (or itself) while being notified; those changes apply from the next
/// notification on.
class Notifier {
  struct Registry {
    std::uint64_t nextId = 1;
    std::map<std::uint64_t, std::shared_ptr<std::function<void()>>> handlers;
  };

 public:
  /// Keeps a subscription alive; destroying it unsubscribes. Outliving the notifier is safe.
  class Subscription {
   public:
    Subscription() = default;
    Subscription(std::weak_ptr<Registry> registry, std::uint64_t id)
        : registry_(std::move(registry)), id_(id) {}
    Subscription(Subscription&& other) noexcept { *this = std::move(other); }
    Subscription& operator=(Subscription&& other) noexcept {
      if (this != &other) {
        cancel();
        registry_ = std::move(other.registry_);
        id_ = std::exchange(other.id_, 0);
      }
      return *this;
    }
    ~Subscription() { cancel(); }
    void cancel() {
      if (auto r = registry_.lock()) r->handlers.erase(id_);
      registry_.reset();
    }

   private:
    std::weak_ptr<Registry> registry_;
    std::uint64_t id_ = 0;
  };

  [[nodiscard]] Subscription subscribe(std::function<void()> handler) {
    auto id = registry_->nextId++;
    registry_->handlers.emplace(id, std::make_shared<std::function<void()>>(std::move(handler)));
    return Subscription(registry_, id);
  }

  void notify() const {
    auto snapshot = registry_->handlers;
    for (auto& [id, handler] : snapshot) {
      if (registry_->handlers.count(id)) (*handler)();
    }
  }

 private:
  std::shared_ptr<Registry> registry_ = std::make_shared<Registry>();
};

}  // namespace tolvane

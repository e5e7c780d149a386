#include "http/connection_limits.h"

#include "service/client_address.h"

namespace tolvane::server {

ConnectionLimits::ConnectionLimits(std::size_t perAddress, std::size_t inAll)
    : perAddress_(perAddress), inAll_(inAll) {}

ConnectionLimits::Slot::Slot(ConnectionLimits* owner, std::string address)
    : owner_(owner), address_(std::move(address)) {}

ConnectionLimits::Slot::Slot(Slot&& other) noexcept
    : owner_(other.owner_), address_(std::move(other.address_)) {
  other.owner_ = nullptr;
}

ConnectionLimits::Slot::~Slot() {
  if (owner_) owner_->give(address_);
}

std::optional<ConnectionLimits::Slot> ConnectionLimits::take(const std::string& address) {
  // Counted as the rate limits count: otherwise one IPv6 client, with a /64 to draw addresses
  // from, would get a share per address until it held every connection the server has.
  std::string client = addressKey(address);
  std::lock_guard guard(lock_);
  if (total_ >= inAll_) return std::nullopt;
  std::size_t& open = open_[client];
  if (perAddress_ && open >= perAddress_) return std::nullopt;
  ++open;
  ++total_;
  return Slot(this, std::move(client));
}

void ConnectionLimits::give(const std::string& address) {
  std::lock_guard guard(lock_);
  --total_;
  const auto found = open_.find(address);
  if (found != open_.end() && --found->second == 0) open_.erase(found);
}

}  // namespace tolvane::server

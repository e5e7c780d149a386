// Client addresses as the rate limits count them: one key per client, whatever the spelling.
#pragma once

#include <string>

namespace tolvane::server {

/// The key a client address is limited under: an IPv4 address in dotted form (also when it
/// arrives IPv4-mapped, "::ffff:192.0.2.1"), an IPv6 address as its /64 ("2001:db8:0:1::/64":
/// one subscriber's network usually hands out a whole /64, every address of it to one client),
/// and anything else as given (a proxy's word that is no address is still one client's).
std::string addressKey(const std::string& address);

}  // namespace tolvane::server

#include "service/client_address.h"

#include <arpa/inet.h>

#include <cstring>

namespace tolvane::server {

std::string addressKey(const std::string& address) {
  char text[INET6_ADDRSTRLEN] = {};
  in_addr v4{};
  if (inet_pton(AF_INET, address.c_str(), &v4) == 1)
    return inet_ntop(AF_INET, &v4, text, sizeof text) ? text : address;
  in6_addr v6{};
  if (inet_pton(AF_INET6, address.c_str(), &v6) != 1) return address;
  if (IN6_IS_ADDR_V4MAPPED(&v6)) {
    std::memcpy(&v4, v6.s6_addr + 12, sizeof v4);
    return inet_ntop(AF_INET, &v4, text, sizeof text) ? text : address;
  }
  std::memset(v6.s6_addr + 8, 0, 8);
  if (!inet_ntop(AF_INET6, &v6, text, sizeof text)) return address;
  return std::string(text) + "/64";
}

}  // namespace tolvane::server

// The remote-token layout, shared by whoever makes tokens and whoever reads them.
#include "platform/window_server.h"

namespace tolvane {

namespace {

constexpr std::uint32_t kTokenMagic = 0x636f636f;

void write(RemoteToken& token, std::size_t at, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) {
    token[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

std::uint64_t read(const RemoteToken& token, std::size_t at, std::size_t bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < bytes; ++i) value |= std::uint64_t{token[at + i]} << (8 * i);
  return value;
}

}  // namespace

RemoteToken makeRemoteToken(Pid pid, std::int64_t elementID) {
  RemoteToken token{};
  write(token, 0, static_cast<std::uint32_t>(pid), 4);
  write(token, 8, kTokenMagic, 4);
  write(token, 12, static_cast<std::uint64_t>(elementID), 8);
  return token;
}

std::optional<RemoteTokenTarget> parseRemoteToken(const RemoteToken& token) {
  if (read(token, 4, 4) != 0 || read(token, 8, 4) != kTokenMagic) return std::nullopt;
  return RemoteTokenTarget{.pid = static_cast<Pid>(static_cast<std::uint32_t>(read(token, 0, 4))),
                           .elementID = static_cast<std::int64_t>(read(token, 12, 8))};
}

}  // namespace tolvane

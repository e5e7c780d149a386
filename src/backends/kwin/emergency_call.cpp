// The D-Bus wire format, for the one call a crash or a stall sends: a header of fixed fields,
// the header fields as an array of (code, variant), padding to 8, then the body.
#include "backends/kwin/emergency_call.h"

#include <sys/socket.h>
#include <systemd/sd-bus.h>

#include <cstring>

namespace tolvane::kwin {

namespace {

enum HeaderField : std::uint8_t {
  kPath = 1,
  kInterface = 2,
  kMember = 3,
  kDestination = 6,
  kSignature = 8,
};
constexpr std::uint8_t kMethodCall = 1, kNoReplyExpected = 1, kProtocolVersion = 1;

class Writer {
 public:
  std::string bytes;

  void pad(std::size_t alignment) {
    while (bytes.size() % alignment != 0) bytes.push_back('\0');
  }
  void byte(std::uint8_t value) { bytes.push_back(static_cast<char>(value)); }
  void u32(std::uint32_t value) {
    pad(4);
    for (int shift = 0; shift < 32; shift += 8) byte(static_cast<std::uint8_t>(value >> shift));
  }
  void putU32At(std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
  }
  void string(std::string_view text) {
    u32(static_cast<std::uint32_t>(text.size()));
    bytes.append(text);
    byte(0);
  }
  void signature(std::string_view text) {
    byte(static_cast<std::uint8_t>(text.size()));
    bytes.append(text);
    byte(0);
  }
  void field(HeaderField code, std::string_view type, std::string_view value) {
    pad(8);
    byte(code);
    signature(type);
    if (type == "g") {
      signature(value);
    } else {
      string(value);
    }
  }
};

}  // namespace

std::string composeMethodCall(std::string_view destination, std::string_view path,
                              std::string_view interface, std::string_view member,
                              std::string_view argument, std::uint32_t serial) {
  Writer body;
  body.string(argument);

  Writer out;
  out.byte('l');
  out.byte(kMethodCall);
  out.byte(kNoReplyExpected);
  out.byte(kProtocolVersion);
  out.u32(static_cast<std::uint32_t>(body.bytes.size()));
  out.u32(serial);
  const std::size_t arrayLength = out.bytes.size();
  out.u32(0);
  const std::size_t arrayStart = out.bytes.size();  // 16: already aligned to 8
  out.field(kPath, "o", path);
  out.field(kInterface, "s", interface);
  out.field(kMember, "s", member);
  out.field(kDestination, "s", destination);
  out.field(kSignature, "g", "s");
  out.putU32At(arrayLength, static_cast<std::uint32_t>(out.bytes.size() - arrayStart));
  out.pad(8);
  return out.bytes + body.bytes;
}

EmergencyCall::~EmergencyCall() {
  disarm();
  sd_bus_flush_close_unref(static_cast<sd_bus*>(bus_));
}

bool EmergencyCall::prepare(const std::string& message) {
  length_ = 0;
  if (message.size() > sizeof message_) return false;
  if (!bus_) {
    sd_bus* bus = nullptr;
    const char* unique = nullptr;
    // The unique name is answered only after the bus's Hello: from then on a raw message on
    // the socket is one the daemon routes.
    if (sd_bus_open_user(&bus) < 0 || sd_bus_get_unique_name(bus, &unique) < 0) {
      sd_bus_flush_close_unref(bus);
      return false;
    }
    bus_ = bus;
    fd_ = sd_bus_get_fd(bus);
  }
  std::memcpy(message_, message.data(), message.size());
  length_ = message.size();
  return fd_ >= 0;
}

bool EmergencyCall::send() {
  const std::size_t length = length_.load();
  if (length == 0 || fd_ < 0) return false;
  return ::send(fd_, message_, length, MSG_NOSIGNAL | MSG_DONTWAIT) == static_cast<ssize_t>(length);
}

}  // namespace tolvane::kwin

// The accessibility service: elements of other applications' windows, their attributes, and
// observers of focus changes. Error codes and attribute names are part of the contract, so the
// core reads like the product's own algorithms and each backend translates.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/geometry.h"
#include "platform/workspace.h"

namespace tolvane {

namespace ax {
inline constexpr int kSuccess = 0;
inline constexpr int kFailure = -25200;
inline constexpr int kInvalidUIElement = -25202;
inline constexpr int kCannotComplete = -25204;
inline constexpr int kAttributeUnsupported = -25205;
inline constexpr int kNoValue = -25212;

inline constexpr std::string_view kWindows = "AXWindows";
inline constexpr std::string_view kFocusedWindow = "AXFocusedWindow";
inline constexpr std::string_view kTitle = "AXTitle";
inline constexpr std::string_view kSubrole = "AXSubrole";
inline constexpr std::string_view kRole = "AXRole";
inline constexpr std::string_view kSize = "AXSize";
inline constexpr std::string_view kMinimized = "AXMinimized";
inline constexpr std::string_view kMain = "AXMain";
inline constexpr std::string_view kRaise = "AXRaise";
inline constexpr std::string_view kFocusedWindowChanged = "AXFocusedWindowChanged";
inline constexpr std::string_view kStandardWindow = "AXStandardWindow";
inline constexpr std::string_view kDialog = "AXDialog";
}  // namespace ax

/// A backend's element; the core only shares and compares handles to it.
class AXElementRef {
 public:
  virtual ~AXElementRef() = default;
};

/// Shared, reference-counted element handle: the element lives while any copy does.
using AXElement = std::shared_ptr<const AXElementRef>;

/// What an attribute can hold. A size is the only structured value.
using AXValue =
    std::variant<bool, std::int64_t, double, std::string, Size, AXElement, std::vector<AXElement>>;

/// Outcome of reading an attribute: an error code (ax::kSuccess on success) and, on success,
/// the value when there is one.
struct AXResult {
  int error = ax::kFailure;
  std::optional<AXValue> value;
};

/// A focus observer for one process; dropping it unregisters everything it registered.
class AXObserver {
 public:
  virtual ~AXObserver() = default;
  /// Registers `notification` on `element`; ax::kSuccess or an error code.
  virtual int addNotification(const AXElement& element, std::string_view notification) = 0;
};

class Accessibility {
 public:
  /// Called on the main thread with the element the notification concerns.
  using ObserverCallback = std::function<void(const AXElement& element)>;

  virtual ~Accessibility() = default;

  virtual bool isProcessTrusted() const = 0;
  /// Like isProcessTrusted, and asks the user for the permission when it is missing.
  virtual bool isProcessTrustedWithPrompt() = 0;
  /// Where the user grants the permission by hand, as a URL for Workspace::openURL; nothing
  /// when this desktop has no such place.
  virtual std::optional<std::string> permissionSettingsURL() const = 0;
  /// While not trusted: what the user can do about it, where this desktop knows better than the
  /// generic words; nothing otherwise.
  virtual std::optional<std::string> untrustedExplanation() const { return std::nullopt; }

  virtual AXElement applicationElement(Pid pid) = 0;
  virtual AXElement systemWideElement() = 0;
  virtual AXResult copyAttribute(const AXElement& element, std::string_view attribute) = 0;
  virtual int setAttribute(const AXElement& element, std::string_view attribute,
                           const AXValue& value) = 0;
  virtual int performAction(const AXElement& element, std::string_view action) = 0;
  /// Bounds every later request to the element's application; on the system-wide element it
  /// sets the process-wide default.
  virtual int setMessagingTimeout(const AXElement& element, double seconds) = 0;
  virtual std::optional<Pid> pidOf(const AXElement& element) = 0;
  /// The window server's number of the element's window: ax::kSuccess and the number, or an
  /// error code.
  virtual int windowNumber(const AXElement& element, std::uint32_t& number) = 0;

  /// Creates an observer for `pid`, or nothing (with the error code in `error`).
  virtual std::unique_ptr<AXObserver> createObserver(Pid pid, ObserverCallback callback,
                                                     int& error) = 0;
};

}  // namespace tolvane

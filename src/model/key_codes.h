// The product's virtual key codes: stored, synchronised and used in every key rule; backends
// translate them to and from their own at the edge.
#pragma once

#include <array>
#include <cstdint>

namespace tolvane::keycode {

inline constexpr std::uint16_t kTab = 48;
inline constexpr std::uint16_t kKeyAboveTab = 50;
inline constexpr std::uint16_t kReturn = 36;
inline constexpr std::uint16_t kKeypadEnter = 76;
inline constexpr std::uint16_t kEscape = 53;
inline constexpr std::uint16_t kLeft = 123;
inline constexpr std::uint16_t kRight = 124;
inline constexpr std::uint16_t kDown = 125;
inline constexpr std::uint16_t kUp = 126;
inline constexpr std::uint16_t kSpace = 49;
inline constexpr std::uint16_t kLeftCommand = 55;
inline constexpr std::uint16_t kRightCommand = 54;
inline constexpr std::uint16_t kLeftOption = 58;
inline constexpr std::uint16_t kRightOption = 61;
inline constexpr std::uint16_t kLeftShift = 56;

/// The digit keys 1 to 9, in that order.
inline constexpr std::array<std::uint16_t, 9> kDigits = {18, 19, 20, 21, 23, 22, 26, 28, 25};

}  // namespace tolvane::keycode

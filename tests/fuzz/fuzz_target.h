// What every libFuzzer target here shares: the entry point over the input as text, and the
// abort that makes libFuzzer keep an input that breaks a property.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace tolvane::fuzz {

inline void require(bool holds) {
  if (!holds) std::abort();
}

}  // namespace tolvane::fuzz

// Defines the entry point; the body that follows takes `input` and returns nothing.
#define TOLVANE_FUZZ_TARGET(input)                                                    \
  static void fuzzOne(std::string_view input);                                        \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
    fuzzOne(std::string_view(reinterpret_cast<const char*>(data), size));             \
    return 0;                                                                         \
  }                                                                                   \
  static void fuzzOne(std::string_view input)

// The round trip every secret store keeps across instances: the last value set wins, a removal
// removes, and removing what was never set does nothing (and reports nothing).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/secret_store.h"

namespace tolvane::test {

// A value with a quote, a backslash and a non-ASCII letter: each must survive the encoding.
inline const std::string kAwkwardSecret = "tok\"en\\ ü";

inline void writeContractSecrets(SecretStore& store) {
  store.set("cloudToken", "first");
  store.set("cloudToken", kAwkwardSecret);
  store.set("cloudEmail", "a@example.com");
  store.set("cloudTier", "pro");
  store.remove("cloudTier");
  store.remove("cloudDeviceID");
  // At once, before any write has reached the backing store.
  EXPECT_EQ(store.get("cloudToken"), kAwkwardSecret);
  EXPECT_EQ(store.get("cloudTier"), std::nullopt);
}

inline void expectContractSecrets(SecretStore& reopened) {
  EXPECT_EQ(reopened.get("cloudToken"), kAwkwardSecret);
  EXPECT_EQ(reopened.get("cloudEmail"), "a@example.com");
  EXPECT_EQ(reopened.get("cloudTier"), std::nullopt);
  EXPECT_EQ(reopened.get("cloudDeviceID"), std::nullopt);
}

}  // namespace tolvane::test

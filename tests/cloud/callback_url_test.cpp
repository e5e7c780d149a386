// The sign-in callback parser: what it takes from the URL, and every way a URL is refused.
#include "cloud/callback_url.h"

#include <gtest/gtest.h>

#include <string>

namespace tolvane {
namespace {

const std::string kState = "abcdefghijklmnopqrstu_";
const std::string kAuth = "tolvane://auth?";

TEST(CallbackURL, TakesTheFirstCodeAndStatePercentDecoded) {
  // The URL, and the code taken from it.
  const std::pair<std::string, std::string> rows[] = {
      // Order of items, a trailing slash and a fragment do not matter.
      {"tolvane://auth/?state=" + kState + "&code=abc#top", "abc"},
      // Decoding: "+" is no space in a URL query; escapes decode in names too.
      {kAuth + "c%6Fde=a%2Bb+c%20d%3D&state=" + kState, "a+b+c d="},
      // The first item of each name wins; unknown items are skipped.
      {kAuth + "x&code=first&state=" + kState + "&code=second&state=other", "first"},
      // The largest code taken.
      {kAuth + "code=" + std::string(kMaxAuthCodeBytes, 'c') + "&state=" + kState,
       std::string(kMaxAuthCodeBytes, 'c')},
  };
  for (const auto& [url, code] : rows) {
    const auto parsed = parseAuthCallback(url);
    ASSERT_TRUE(parsed.callback) << url << " refused: " << parsed.refusal;
    EXPECT_EQ(parsed.callback->code, code);
    EXPECT_EQ(parsed.callback->state, kState);
  }
}

TEST(CallbackURL, RefusesEveryOtherURL) {
  const std::string state = "&state=" + kState;
  const std::pair<std::string, const char*> rows[] = {
      // Not the sign-in host, or more than a host.
      {"tolvane://AUTH?code=c" + state, "host"},
      {"tolvane://auth.example?code=c" + state, "host"},
      {"tolvane://me@auth?code=c" + state, "host"},
      {"tolvane://auth/more?code=c" + state, "host"},
      {"tolvane:auth?code=c" + state, "not-a-url"},
      {"://auth?code=c" + state, "not-a-url"},
      // Escapes: garbage, cut short, or decoding to a control character.
      {kAuth + "code=%zz" + state, "escape"},
      {kAuth + "code=ab%4" + state, "escape"},
      {kAuth + "code=ab" + state + "&x=%", "escape"},
      {kAuth + "code=a%0Ab" + state, "escape"},
      {kAuth + "co%0de=ab" + state, "escape"},
      {kAuth + "code=a%7Fb" + state, "escape"},
      // Raw control characters anywhere.
      {kAuth + "code=ab" + state + "\n", "control-character"},
      // The code: missing, empty, without a value, too long, or not printable ASCII.
      {"tolvane://auth", "code"},
      {kAuth + state.substr(1), "code"},
      {kAuth + "code=" + state, "code"},
      {kAuth + "code&code=c" + state, "code"},
      {kAuth + "code=" + std::string(kMaxAuthCodeBytes + 1, 'c') + state, "code"},
      {kAuth + "code=%C3%A9" + state, "code"},
      // The whole URL is bounded before anything else is read.
      {kAuth + "code=c" + state + "&pad=" + std::string(kMaxCallbackURLBytes, 'p'), "too-long"},
      // The state: missing, the wrong length, or outside the alphabet it was made from.
      {kAuth + "code=c", "state"},
      {kAuth + "code=c&state=" + kState.substr(1), "state"},
      {kAuth + "code=c&state=" + kState + "a", "state"},
      {kAuth + "code=c&state=" + kState.substr(1) + "+", "state"},
      {kAuth + "code=c&state" + state, "state"},
  };
  for (const auto& [url, reason] : rows) {
    const auto parsed = parseAuthCallback(url);
    EXPECT_FALSE(parsed.callback) << url.substr(0, 120);
    EXPECT_EQ(parsed.refusal, reason) << url.substr(0, 120);
  }
}

TEST(CallbackURL, SecretsCompareByEveryByte) {
  const std::tuple<const char*, const char*, bool> rows[] = {
      {"", "", true},
      {kState.c_str(), kState.c_str(), true},
      {"abcdef", "Abcdef", false},
      {"abcdef", "abcdeF", false},
      {"abc", "abcdef", false},
  };
  for (const auto& [a, b, same] : rows) EXPECT_EQ(sameSecret(a, b), same) << a << " " << b;
}

}  // namespace
}  // namespace tolvane

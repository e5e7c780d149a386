// Tolvane's combinations in the accelerators GNOME's settings and Mutter's grabs take.
#include "backends/gnome/gnome_keys.h"

#include <gtest/gtest.h>

namespace tolvane::gnome {
namespace {

TEST(GnomeKeysTest, SwayCombosBecomeAccelerators) {
  const struct {
    const char* sway;
    const char* accelerator;  // nullptr: none
  } rows[] = {
      {"Mod4+Tab", "<Super>Tab"},
      // The order GNOME's own settings write does not matter: the extension compares sets.
      {"Mod4+Shift+Tab", "<Super><Shift>Tab"},
      // Mutter's name for the key above Tab, whatever the layout puts there.
      {"Mod4+grave", "<Super>Above_Tab"},
      {"Mod1+Shift+grave", "<Alt><Shift>Above_Tab"},
      {"Mod1+space", "<Alt>space"},
      {"Super+Mod4+Ctrl+p", "<Super><Control>p"},
      {"Hyper+Tab", nullptr},
      {"Mod4+", nullptr},
      {"Mod4+<Tab>", nullptr},
      {"", nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.sway);
    EXPECT_EQ(acceleratorOf(row.sway),
              row.accelerator ? std::optional<std::string>(row.accelerator) : std::nullopt);
  }
}

}  // namespace
}  // namespace tolvane::gnome

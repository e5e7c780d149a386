// The one anonymous installation identifier shared by usage and crash reporting.
#pragma once

#include <string>

#include "platform/preferences.h"
#include "platform/system_info.h"

namespace tolvane {

/// The UUID stored under "crashInstallID", created and stored on first use. Safe from any
/// thread: concurrent first uses agree on one identifier.
std::string installID(PreferenceStore& preferences, RandomSource& random);

/// A random (version 4) UUID in upper-case text form, "E621E1F8-C36C-495A-93FC-0C247A3E6E5F".
std::string makeUUID(RandomSource& random);

}  // namespace tolvane

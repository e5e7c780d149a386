// The one anonymous installation identifier shared by usage and crash reporting.
#pragma once

#include <string>

#include "base/random_source.h"
#include "platform/preferences.h"

namespace tolvane {

/// The UUID stored under "crashInstallID", created and stored on first use. Safe from any
/// thread: concurrent first uses agree on one identifier.
/// Empty, and nothing stored, when no secure random bytes can be had.
std::string installID(PreferenceStore& preferences, RandomSource& random);

}  // namespace tolvane

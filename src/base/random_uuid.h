// Random identifiers in UUID form, for the ids this machine keeps (installation, device).
#pragma once

#include <optional>
#include <string>

#include "base/random_source.h"

namespace tolvane {

/// A random (version 4) UUID in upper-case text form, "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
/// nothing when the secure source gives fewer than 16 bytes, so that no two machines can end
/// up sharing a made-up id.
std::optional<std::string> randomUUID(RandomSource& random);

}  // namespace tolvane

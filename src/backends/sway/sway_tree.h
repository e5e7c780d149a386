// The windows of sway's GET_TREE reply, with their place in the focus history.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <nlohmann/json.hpp>

#include "backends/sway/sway_view.h"

namespace tolvane::sway {

/// Nodes deeper than this in the tree are not read.
inline constexpr int kMaxTreeDepth = 64;
/// The views read from one tree at most.
inline constexpr std::size_t kMaxTreeViews = 10000;
/// Strings taken from the tree are cut to this many bytes, on a character boundary.
inline constexpr std::size_t kMaxTreeStringBytes = 1024;

/// The views of `tree` (a GET_TREE reply), in focus order: element i has focusRank i. Fields
/// of the wrong type read as absent; a tree that is not an object gives none.
std::vector<SwayView> parseSwayTree(const nlohmann::json& tree);

/// Whether a sway event (its type and body) can change what parseSwayTree reads: a window
/// coming, going or moving, any workspace event, anything unknown. A window's focus, title or
/// mark cannot, and every switch brings several of those: at a thousand windows each reading of
/// the tree costs the main thread milliseconds.
bool eventChangesViews(std::uint32_t type, const nlohmann::json& body);

}  // namespace tolvane::sway

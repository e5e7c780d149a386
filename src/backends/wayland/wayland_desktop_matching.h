// Which of sway's views each announced toplevel is: the protocol names neither the container
// nor the process, so the two lists are paired by what both say of a window.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "backends/sway/sway_view.h"
#include "backends/wayland/toplevel_model.h"

namespace tolvane::wayland {

/// Pairs toplevels (in announcement order) with `views`, each view at most once, and returns
/// the index in `views` of each paired toplevel's view. In turn:
/// 1. a toplevel keeps the container it had in `previous` while that container is still listed
///    with the same app_id (so a title that changed on one side first does not break a pair);
/// 2. equal (app_id, title), the n-th such toplevel in announcement order taking the n-th such
///    view in con_id order: both orders follow creation, as sway numbers containers upwards;
/// 3. equal non-empty app_id alone, in the same orders (a title that is late on one side).
/// Limits: two windows of one application with the same title that appear in one tree update
/// pair in creation order, which holds unless the compositor announced them out of order; a
/// window without app_id pairs by title only; an XWayland window pairs only when its
/// app_id and class agree.
std::map<ToplevelId, std::size_t> matchViews(const std::vector<ToplevelState>& toplevels,
                                             const std::vector<sway::SwayView>& views,
                                             const std::map<ToplevelId, std::int64_t>& previous);

}  // namespace tolvane::wayland

// How the core's semantic colours look on this desktop: a Paint from a view description becomes
// a QColor from the widget's palette or from the theme's fixed colours.
#pragma once

#include <QColor>
#include <QPalette>

#include "views/paint.h"

namespace tolvane::qt {

/// The colour of `paint` under `palette`, with the paint's opacity folded into its alpha:
/// - primary: the palette's window text colour (follows the light or dark appearance);
/// - secondary: the window text colour at 55 % of its alpha, a dimmer label over the same
///   background in either appearance;
/// - white: opaque white; clear: fully transparent;
/// - accent and warn: the theme's fixed sRGB colours.
QColor toQColor(const Paint& paint, const QPalette& palette);

/// The colour of the HUD's backdrop: the palette's window colour. `translucent` lets a little of
/// the desktop show through where a compositor blends it.
QColor panelBackdrop(const QPalette& palette, bool translucent);

}  // namespace tolvane::qt

// The widgets of one table row, drawn as the row says: kind, caption, tool tip,
// look and geometry. Binding them to the program is the window's business.
#pragma once

#include "view/accessible.h"
#include "view/layout.h"
#include "view/window_state.h"

#include <QFont>

class QWidget;

namespace ui {

// The Qt view is built from the windows' description, by its names.
using view::AccessibleText;
using view::accessibleText;
using view::Align;
using view::ControlSpec;
using view::Kind;
using view::kFallbackFace;
using view::kWindowYellow;
using view::Look;
using view::ResolvedLook;
using view::Rgb;
using view::WindowSpec;
using view::windowA;
using view::windowB;
using view::windowFor;

// "MS Sans Serif" at the given size and weight, through the platform's sans-serif face.
QFont fontFor(const ResolvedLook& look);

// The widget for a row in its look (view::resolvedLook), placed in twips at
// `scale` pixels per twip.
QWidget* makeWidget(const ControlSpec& spec, const ResolvedLook& look, QWidget& parent, double scale);

using view::toPixels;

// The frame a focused control wears: two pixels of the highlight colour just
// inside its edge, plain to see on a 16-pixel bit bar as on a button.
void paintFocusFrame(QWidget& widget);

}  // namespace ui

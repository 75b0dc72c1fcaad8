// The programs' icon (packaging/px77xx.svg), drawn here so that the window
// has it without an SVG image plugin or an installed theme.
#pragma once

#include <QIcon>

namespace ui {

QIcon programIcon();

}  // namespace ui

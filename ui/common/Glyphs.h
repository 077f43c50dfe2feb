#pragma once
// The pictures of the configurator's small buttons (add, copy, delete, up,
// down) and of the menu editor's arrows, drawn in the palette's text colour
// so they follow the desktop's colours and any screen scale.

#include <QIcon>

enum class ConfigGlyph {
    Plus,
    Copy,
    Minus,
    Up,
    Down,
    Right,        // add the selected entry
    DoubleRight,  // add all
    Left,         // remove the selected entry
    DoubleLeft,   // remove all
};

QIcon ConfigGlyphIcon(ConfigGlyph glyph, const QColor& colour);

#pragma once
// The pictures of the windows' small buttons: add, copy, delete, clear, up,
// down and the menu editor's arrows, drawn in the colour given (the palette's
// text colour, or a colour of their own) at every screen scale. One painter
// for the configurator, its menu editor and the directory editor.

#include <QIcon>

enum class Glyph {
    Plus,
    Copy,
    Minus,
    Clear,        // a minus over a page: empty the whole table
    Up,
    Down,
    Right,        // add the selected entry
    DoubleRight,  // add all
    Left,         // remove the selected entry
    DoubleLeft,   // remove all
};

QIcon GlyphIcon(Glyph glyph, const QColor& colour);

// The forms' common font and the buttons' glyphs from the embedded resources.
#pragma once

#include <QtGui/QFont>
#include <QtGui/QIcon>

namespace gf {

// A plain sans font in place of the forms' bitmap font, at the same pixel height
// (11, the font's default, unless a form says otherwise).
QFont FormFont(int Pixels = 11);
// A button glyph with its disabled twin: resources NAME.png and NAME_D.png.
QIcon Glyph(const char* Name);

} // namespace gf

// The forms' common font, the buttons' glyphs from the embedded resources, and the
// flat glyph buttons the forms are made of.
#pragma once

#include <QtCore/QRect>
#include <QtGui/QFont>
#include <QtGui/QIcon>

class QKeyEvent;
class QToolButton;
class QWidget;

namespace gf {

// A plain sans font in place of the forms' bitmap font, at the same pixel height
// (11, the font's default, unless a form says otherwise).
QFont FormFont(int Pixels = 11);
// A button glyph with its disabled twin: resources NAME.png and NAME_D.png.
QIcon Glyph(const char* Name);
// A flat tool button of Parent with the glyph GlyphName beside (or under) its text,
// placed at Geometry; it takes the keyboard focus, and Enter or Space presses it, as
// they do a push button.
QToolButton* MakeGlyphButton(QWidget* Parent, const char* Text, const char* GlyphName,
                             const QRect& Geometry, int IconSize = 20,
                             Qt::ToolButtonStyle Style = Qt::ToolButtonTextBesideIcon);
// Whether Key is Enter or Return with no modifier (the keypad's Enter included), the key
// that presses a form's button.
bool IsPlainEnter(const QKeyEvent& Key);

} // namespace gf

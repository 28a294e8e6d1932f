// The font of everything the program lays out in character cells: panels, reports on screen and
// on paper, record lists. A cell holds any printable character, so every one of them must
// advance by the same width; whether the font calls itself fixed-pitch does not matter (some
// monospace fonts do not).
#pragma once

#include <QFont>
#include <QStringList>

namespace dz::gui {

// True when the printable ASCII characters (0x20..0x7E) of `font` all advance alike.
bool hasEvenAdvances(const QFont& font);

// The well-known monospace families tried, in order, when the system's fixed font fails.
QStringList monospaceFamilies();

// `preferred` when its advances are even, else the first family of monospaceFamilies() that is
// (at `preferred`'s size), else `preferred` itself: some text beats none.
QFont evenFontFrom(const QFont& preferred);

// evenFontFrom() of the system's fixed font.
QFont fixedFont();

// Pads every character of `font` to a whole number of pixels, so that a run of n characters
// spans exactly n cells and text written at a column lines up with the widgets placed there.
// Returns the cell width in pixels.
int fitToCells(QFont& font);

}  // namespace dz::gui

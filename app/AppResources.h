#pragma once
// What the program ships besides its code: its icon, and the fonts its stored layouts name.

#include <QIcon>

namespace tunewell {

// Tunewell's own icon, in every size it is drawn in.
QIcon ApplicationIcon();

// The layouts name the Japanese Windows UI font; this points the name at the Japanese fonts a
// Linux desktop has. Safe to call more than once.
void InstallFontSubstitutes();

}  // namespace tunewell

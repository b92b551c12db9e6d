// Tovelle's icon, drawn in code so the window icon and the installed PNG files
// are the same picture.
#pragma once

#include <QIcon>
#include <QImage>

namespace tovelle {

// The icon at size x size pixels (ARGB, transparent corners).
QImage DrawTovelleIcon(int size);
// The icon at the usual sizes.
QIcon TovelleIcon();

} // namespace tovelle

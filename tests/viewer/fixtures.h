// Small pictures and files made in code for the viewer's tests.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace tovelle::testing {

// A photo-like picture: four coloured quarters with a soft gradient over them,
// so it has far more than 256 colours.
QImage MakePhoto(int width, int height);
// An 8-bit grey depth image: grey level depthAt(x, y) at each pixel.
QImage MakeDepth(int width, int height, int (*depthAt)(int x, int y));
// Writes bytes to a file; false when it cannot.
bool WriteFile(const QString &path, const QByteArray &bytes);
QByteArray ReadFile(const QString &path);
// Little-endian 32-bit value at offset.
uint32_t Le32(const QByteArray &bytes, int offset);

} // namespace tovelle::testing

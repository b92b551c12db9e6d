// The depth image beside a photo: its name, the template the user paints, and the
// block the engine reads it from.
#pragma once

#include <QImage>
#include <QIODevice>
#include <string>

#include "qrv.h"

namespace tovelle {

// The depth image's path: the photo's path with its last four characters (taken
// as the extension and its dot, whatever the extension is) replaced by "_.bmp",
// so "cat.jpg" gives "cat_.bmp" and "cat.jpeg" gives "cat._.bmp". Paths are
// UTF-8 bytes; characters, not bytes, are counted, and the cut never reaches into
// the folder part of a file name shorter than four characters.
std::string DepthPathFor(const std::string &photoPath);

// The depth image as a PackedDib: a movable block of bfSize - 14 bytes (bfSize
// from offset 2 of the file) filled from offset 14, zeros where the file is
// shorter. Null when the file cannot be opened or read, or its bfSize does not
// reach past the file header. The caller frees the block with GlobalFree.
HGLOBAL ReadPackedDib(const std::string &depthPath);

// Reads the photo for a template: a bitmap when its extension is ".bmp" in any
// case, otherwise a JPEG. Throws std::runtime_error naming the file when it
// cannot be decoded.
QImage LoadPhoto(const std::string &photoPath);

// The picture at 8 bits per pixel with a 256-entry colour table. The table is
// sorted from dark to bright and spread over the indices 0 to 255, so that once
// the table becomes a grey ramp the template is a grey picture of the photo.
QImage ConvertTo8Bit(const QImage &picture);

// The bytes of an 8-bit BMP file of an 8-bit picture: a 14-byte file header, a
// 40-byte info header, the colour table (padded to 256 entries) at offset 54 and
// the rows bottom-up from offset 1078, each padded to four bytes.
QByteArray EncodeBmp8(const QImage &indexed8);

// Replaces the colour table of the 8-bit BMP in file with a grey ramp: zeros over
// biClrUsed and biClrImportant (offsets 46 to 53), then entry i = (i, i, i, 0) for
// i = 0 to 255 at offsets 54 to 1077. False when a seek or write fails.
bool PatchGreyRamp(QIODevice &file);

// Writes the depth-image template for an 8-bit picture to depthPath: the BMP with
// the grey ramp, saved to a temporary file beside it and renamed into place, so a
// failure leaves any earlier depth image as it was. Throws std::runtime_error.
void WriteDepthTemplate(const QImage &indexed8, const std::string &depthPath);

} // namespace tovelle

// Writes an area of an image as an uncompressed bottom-up BMP file (14-byte file
// header, 40-byte information header, pixel rows), atomically: an existing file is
// replaced only once the new one is complete.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>

namespace capture {

struct BitmapArea {
    std::int32_t left, top, right, bottom;
};

// The whole file as bytes; empty when the area or the bit depth cannot be written.
// Bit depths: 32 (blue, green, red, 0) and 24; colour tables (8 bits or less) are not written.
QByteArray BitmapFileBytes(const QImage& source, BitmapArea area, int bitsPerPixel);

// true when the file was written completely; otherwise false with a reason for the user.
bool WriteBitmapFile(const QImage& source, BitmapArea area, int bitsPerPixel, const QString& path,
                     QString* failureReason = nullptr);

} // namespace capture

#include "BitmapWriter.h"

#include <QSaveFile>

#include <cerrno>
#include <cstring>

namespace capture {

namespace {
void Put16(QByteArray& out, int offset, std::uint16_t value) {
    out[offset] = static_cast<char>(value & 0xFF);
    out[offset + 1] = static_cast<char>(value >> 8);
}

void Put32(QByteArray& out, int offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[offset + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

// The cause of a failed file operation, in words a user can act on. errno is
// taken right after the call: a buffered device reports a failed flush only as
// "Unknown error".
QString FailureReason(const QFileDevice& file, int errorNumber) {
    switch (errorNumber) {
    case ENOSPC:
        return QStringLiteral("no space left on the device");
    case EDQUOT:
        return QStringLiteral("the disk quota is used up");
    case EROFS:
        return QStringLiteral("the disk is read-only");
    default:
        break;
    }
    const QString said = file.errorString();
    if (said.isEmpty() || said == QLatin1String("Unknown error"))
        return errorNumber != 0 ? QString::fromLocal8Bit(std::strerror(errorNumber))
                                : QStringLiteral("unknown error");
    return said;
}

int RowLength(int width, int bitsPerPixel) {
    return ((width * bitsPerPixel + 31) / 32 * 32) / 8;
}
} // namespace

QByteArray BitmapFileBytes(const QImage& source, BitmapArea area, int bitsPerPixel) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0 || (bitsPerPixel != 32 && bitsPerPixel != 24))
        return {};
    if (area.left < 0 || area.top < 0 || area.right > source.width() || area.bottom > source.height())
        return {};
    const QImage rgb = source.convertToFormat(QImage::Format_RGB32);

    constexpr int kFileHeader = 14;
    constexpr int kInfoHeader = 40;
    const int rowLength = RowLength(width, bitsPerPixel);
    const std::int64_t imageSize64 = static_cast<std::int64_t>(rowLength) * height;
    if (imageSize64 > 0x7FFFFFFF - kFileHeader - kInfoHeader)
        return {};
    const int imageSize = static_cast<int>(imageSize64);
    const int fileSize = kFileHeader + kInfoHeader + imageSize;

    QByteArray out(fileSize, '\0');
    out[0] = 'B';
    out[1] = 'M';
    Put32(out, 2, static_cast<std::uint32_t>(fileSize));
    Put32(out, 10, kFileHeader + kInfoHeader);
    Put32(out, 14, kInfoHeader);
    Put32(out, 18, static_cast<std::uint32_t>(width));
    Put32(out, 22, static_cast<std::uint32_t>(height));
    Put16(out, 26, 1);
    Put16(out, 28, static_cast<std::uint16_t>(bitsPerPixel));
    Put32(out, 34, static_cast<std::uint32_t>(imageSize));

    const int bytesPerPixel = bitsPerPixel / 8;
    char* data = out.data() + kFileHeader + kInfoHeader;
    for (int row = 0; row < height; ++row) {
        const QRgb* line =
            reinterpret_cast<const QRgb*>(rgb.constScanLine(area.bottom - 1 - row)) + area.left;
        char* dest = data + static_cast<std::ptrdiff_t>(row) * rowLength;
        for (int x = 0; x < width; ++x) {
            dest[x * bytesPerPixel] = static_cast<char>(qBlue(line[x]));
            dest[x * bytesPerPixel + 1] = static_cast<char>(qGreen(line[x]));
            dest[x * bytesPerPixel + 2] = static_cast<char>(qRed(line[x]));
        }
    }
    return out;
}

bool WriteBitmapFile(const QImage& source, BitmapArea area, int bitsPerPixel, const QString& path,
                     QString* failureReason) {
    const QByteArray bytes = BitmapFileBytes(source, area, bitsPerPixel);
    auto fail = [&](const QString& reason) {
        if (failureReason)
            *failureReason = reason;
        return false;
    };
    if (bytes.isEmpty())
        return fail(QStringLiteral("the picture area cannot be written as a bitmap"));
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return fail(FailureReason(file, errno));
    errno = 0;
    if (file.write(bytes) != bytes.size()) {
        const QString reason = FailureReason(file, errno);
        file.cancelWriting();
        return fail(reason);
    }
    errno = 0;
    if (!file.commit())
        return fail(FailureReason(file, errno));
    return true;
}

} // namespace capture

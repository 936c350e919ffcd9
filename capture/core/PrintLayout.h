// Where the picture goes on the printed page: the largest 240 : 280 rectangle within
// two thirds of the printable area, 5 device pixels from its top-left corner.
#pragma once

#include <QRect>

namespace capture {

QRect PrintedPictureRect(int printableWidth, int printableHeight);

} // namespace capture

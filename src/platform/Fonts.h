#pragma once

#include <QFont>

namespace zor {

// The interface's typeface at a size in pixels, as every window of the program sets it.
inline QFont arialFont(int pixelSize, bool bold = false) {
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

}  // namespace zor

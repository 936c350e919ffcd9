#include "DialogUnits.h"

#include <QFontDatabase>
#include <QFontMetrics>
#include <QStringList>

namespace layout {

namespace {
const char* const kLatinLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Families tried, in order, when the layout's own font is missing.
const QStringList& KoreanFallbacks() {
    static const QStringList families = {"Noto Sans CJK KR", "Noto Sans KR", "Noto Sans CJK",
                                         "NanumGothic",      "UnDotum",      "Baekmuk Gulim"};
    return families;
}
} // namespace

DialogUnits::DialogUnits(const QFont& dialogFont) {
    const QFontMetrics metrics(dialogFont);
    const int letters = metrics.horizontalAdvance(QString::fromLatin1(kLatinLetters));
    m_baseX = (letters / 26 + 1) / 2; // rounded average of 52 letters
    m_baseY = metrics.height();
    if (m_baseX <= 0)
        m_baseX = 6;
    if (m_baseY <= 0)
        m_baseY = 13;
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return {X(x), Y(y), X(width), Y(height)};
}

QFont DialogFont(const QString& family, int pointSize) {
    const QStringList installed = QFontDatabase::families();
    QString chosen = family;
    if (!installed.contains(family)) {
        chosen.clear();
        for (const QString& candidate : KoreanFallbacks()) {
            if (installed.contains(candidate)) {
                chosen = candidate;
                break;
            }
        }
    }
    QFont font = chosen.isEmpty() ? QFont() : QFont(chosen);
    font.setPointSize(pointSize);
    return font;
}

} // namespace layout

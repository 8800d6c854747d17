#include "platform/ui/CDialogUnits.h"

#include <QFontMetricsF>
#include <QString>
#include <cmath>

namespace {

constexpr int kDluPerCharX = 4;
constexpr int kDluPerCharY = 8;
// The average is taken over the letters, as dialog layouts have always assumed.
constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr int kAlphabetLength = 52;

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDivRound(int a, int b, int c) {
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

} // namespace

CDialogUnits::CDialogUnits(const QFont& font) {
    const QFontMetricsF metrics(font);
    const double average =
        metrics.horizontalAdvance(QString::fromLatin1(kAlphabet)) / kAlphabetLength;
    m_nBaseX = static_cast<int>(std::lround(average));
    m_nBaseY = static_cast<int>(std::lround(metrics.height()));
}

QFont CDialogUnits::FontOf(const CDialogTemplate& dialog) {
    QFont font(QString::fromStdU16String(std::u16string(dialog.fontFamily)));
    font.setPointSize(dialog.nPointSize);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

int CDialogUnits::X(int dlu) const {
    return MulDivRound(dlu, m_nBaseX, kDluPerCharX);
}

int CDialogUnits::Y(int dlu) const {
    return MulDivRound(dlu, m_nBaseY, kDluPerCharY);
}

int CDialogUnits::DesignPixels(int px) const {
    return MulDivRound(px, m_nBaseX, kDesignBaseX);
}

QRect CDialogUnits::ToPixels(const CDluRect& rect) const {
    return QRect(X(rect.x), Y(rect.y), X(rect.cx), Y(rect.cy));
}

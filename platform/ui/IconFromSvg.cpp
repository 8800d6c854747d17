#include "platform/ui/IconFromSvg.h"

#include <QByteArray>
#include <QPainter>
#include <QSvgRenderer>
#include <array>

namespace {

constexpr std::array kIconSizes = {16, 24, 32, 48, 64, 128, 256};

} // namespace

QPixmap PixmapFromSvg(std::string_view svg, int nSize) {
    QSvgRenderer renderer(QByteArray(svg.data(), static_cast<qsizetype>(svg.size())));
    if (!renderer.isValid() || nSize <= 0) {
        return {};
    }
    QPixmap pixmap(nSize, nSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    return pixmap;
}

QIcon IconFromSvg(std::string_view svg) {
    QIcon icon;
    for (int size : kIconSizes) {
        const QPixmap pixmap = PixmapFromSvg(svg, size);
        if (!pixmap.isNull()) {
            icon.addPixmap(pixmap);
        }
    }
    return icon;
}

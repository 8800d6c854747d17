// A window icon drawn from an SVG document at the sizes window managers and dialogs ask for.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <string_view>

QIcon IconFromSvg(std::string_view svg);
// One size of it; a null pixmap when the document cannot be drawn.
QPixmap PixmapFromSvg(std::string_view svg, int nSize);

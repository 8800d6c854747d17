// Dialog units to pixels for one dialog font: across, a quarter of the font's average character
// width; down, an eighth of its character height. Both base values are whole pixels, so that a
// control's place follows from the template by integer arithmetic alone.
#pragma once

#include "platform/ui/DialogTemplate.h"

#include <QFont>
#include <QRect>

class CDialogUnits {
public:
    // The average character width, in pixels, of the font the console's layouts were drawn for.
    static constexpr int kDesignBaseX = 6;

    explicit CDialogUnits(const QFont& font);

    // The font a template names, in points.
    static QFont FontOf(const CDialogTemplate& dialog);

    int BaseX() const { return m_nBaseX; } // average character width, pixels
    int BaseY() const { return m_nBaseY; } // character height, pixels
    int X(int dlu) const;
    int Y(int dlu) const;
    QRect ToPixels(const CDluRect& rect) const;
    // A width given in pixels of the design font (list columns), in pixels of this font, so that
    // texts that fitted there fit here.
    int DesignPixels(int px) const;

private:
    int m_nBaseX;
    int m_nBaseY;
};

#include "app/qt/Glyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace app::qt {

namespace {

constexpr int glyphSide = 28;

struct GlyphColours {
    QColor chip, pins, arrow, outline;
};

QPixmap drawGlyph(const GlyphColours& c) {
    QPixmap pm(glyphSide, glyphSide);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    // The chip: a body with four pins on each long side.
    const QRectF body(7, 14, 14, 12);
    p.setPen(Qt::NoPen);
    p.setBrush(c.pins);
    for (int i = 0; i < 4; ++i) {
        p.drawRect(QRectF(4, 15 + i * 3, 3, 1.5));
        p.drawRect(QRectF(21, 15 + i * 3, 3, 1.5));
    }
    p.setPen(QPen(c.outline, 1));
    p.setBrush(c.chip);
    p.drawRoundedRect(body, 1.5, 1.5);
    p.setBrush(c.pins);
    p.drawEllipse(QPointF(10, 17), 1, 1);

    // The arrow pointing down into the chip.
    QPainterPath arrow;
    arrow.moveTo(11.5, 1);
    arrow.lineTo(16.5, 1);
    arrow.lineTo(16.5, 7);
    arrow.lineTo(20, 7);
    arrow.lineTo(14, 13);
    arrow.lineTo(8, 7);
    arrow.lineTo(11.5, 7);
    arrow.closeSubpath();
    p.setPen(QPen(c.outline, 1));
    p.setBrush(c.arrow);
    p.drawPath(arrow);
    return pm;
}

} // namespace

QIcon uploadGlyph() {
    QIcon icon;
    icon.addPixmap(
        drawGlyph({QColor(40, 40, 48), QColor(150, 150, 160), QColor(0, 160, 0), QColor(0, 0, 0)}),
        QIcon::Normal);
    icon.addPixmap(drawGlyph({QColor(160, 160, 160), QColor(190, 190, 190), QColor(200, 200, 200),
                              QColor(128, 128, 128)}),
                   QIcon::Disabled);
    return icon;
}

} // namespace app::qt

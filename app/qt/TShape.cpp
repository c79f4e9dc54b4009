#include "app/qt/TShape.h"

#include <QPainter>

namespace app::qt {

TShape::TShape(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

void TShape::setBrushColor(std::uint32_t rgb) {
    if (rgb == brush_) return;
    brush_ = rgb;
    update();
}

void TShape::setPenColor(std::uint32_t rgb) {
    if (rgb == pen_) return;
    pen_ = rgb;
    update();
}

void TShape::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor::fromRgb(pen_), 1));
    p.setBrush(QColor::fromRgb(brush_));
    // The largest circle that fits, its one-pixel outline inside the control.
    const int side = qMin(width(), height()) - 1;
    p.drawEllipse(QRectF((width() - side) / 2.0, (height() - side) / 2.0, side, side)
                      .adjusted(0.5, 0.5, -0.5, -0.5));
}

} // namespace app::qt

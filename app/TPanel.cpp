#include "app/TPanel.h"

#include <QPainter>

namespace app {

TPanel::TPanel(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
}

void TPanel::setCaption(const QString& caption) {
    caption_ = caption;
    update();
}

void TPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    if (caption_.isEmpty()) return;
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    // Trailing spaces count: they push the caption to the left, as in the stored layout.
    const int textWidth = fontMetrics().horizontalAdvance(caption_);
    QRect r = contentsRect();
    const int left = r.left() + (r.width() - textWidth) / 2;
    p.drawText(QRect(left, r.top(), textWidth, r.height()), Qt::AlignLeft | Qt::AlignVCenter,
               caption_);
}

} // namespace app

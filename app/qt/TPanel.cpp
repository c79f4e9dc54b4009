#include "app/qt/TPanel.h"

#include "app/Placement.h"

#include <QPainter>

namespace app::qt {

TPanel::TPanel(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
}

void TPanel::setCaption(const QString& caption) {
    caption_ = caption;
    update();
}

void TPanel::setCaptionLimit(int x) {
    captionLimit_ = x;
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
    const int left = panelCaptionLeft(r.left(), r.width(), textWidth,
                                      fontMetrics().horizontalAdvance(caption_.trimmed()),
                                      captionLimit_ >= 0 ? captionLimit_ : r.right() + textWidth);
    p.drawText(QRect(left, r.top(), textWidth, r.height()), Qt::AlignLeft | Qt::AlignVCenter,
               caption_);
}

} // namespace app::qt

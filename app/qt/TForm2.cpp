#include "app/qt/TForm2.h"

#include "app/ChangeLog.h"
#include "app/FormLayout.h"
#include "app/Placement.h"
#include "app/qt/FormBuilder.h"
#include "app/qt/FormStyle.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStringList>
#include <QStyle>

namespace app::qt {

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window) {
    const FormDescription& layout = form2Layout();
    setObjectName(QString::fromLatin1(layout.name));
    setWindowTitle(qs(layout.caption));
    // The outer size is the layout's; the client area is what a usual title bar and border leave.
    resize(clientSizeFor(QSize(layout.width, layout.height)));
    setFont(formFont());
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    // The program ends when the main window closes, whatever change logs are still open.
    setAttribute(Qt::WA_QuitOnClose, false);

    const auto controls = buildControls(layout, this);
    Labelatual = static_cast<QLabel*>(controls.at(ControlId::Labelatual));
    Memolog = static_cast<QPlainTextEdit*>(controls.at(ControlId::Memolog));
    memoMargins_ =
        size() - QSize(Memolog->geometry().right() + 1, Memolog->geometry().bottom() + 1);
    QStringList lines;
    for (const char* line : changeLogLines)
        lines << QString::fromUtf8(line);
    Memolog->setPlainText(lines.join(QChar('\n')));
    setFocusProxy(Memolog);
}

void TForm2::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    centreOnScreen(this);
    if (cascade_ > 0 && screen()) {
        // A title bar's height apart: each window's title stays in sight.
        const QRect area = screen()->availableGeometry();
        const QRect frame = frameGeometry();
        const int step = std::max(style()->pixelMetric(QStyle::PM_TitleBarHeight), 24);
        const ScreenRect at =
            cascaded({area.x(), area.y(), area.width(), area.height()},
                     {frame.x(), frame.y(), frame.width(), frame.height()}, cascade_, step);
        move(at.x, at.y);
    }
    Memolog->setFocus();
}

// The text box keeps its margins to the window's right and bottom edges: it grows and shrinks
// with the window.
void TForm2::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const QPoint at = Memolog->pos();
    Memolog->resize(std::max(width() - memoMargins_.width() - at.x(), 32),
                    std::max(height() - memoMargins_.height() - at.y(), 32));
}

} // namespace app::qt

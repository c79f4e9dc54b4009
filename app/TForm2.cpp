#include "app/TForm2.h"

#include "app/ChangeLog.h"
#include "app/FormStyle.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QStringList>

namespace app {

TForm2::TForm2(QWidget* parent) : QWidget(parent, Qt::Window) {
    setWindowTitle(QStringLiteral("log de auterações"));
    // The outer size is 682 x 497; the client area is what a usual title bar and border leave.
    resize(clientSizeFor(QSize(682, 497)));
    setFont(formFont());
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    // The program ends when the main window closes, whatever change logs are still open.
    setAttribute(Qt::WA_QuitOnClose, false);

    Labelatual = new QLabel(QStringLiteral("ATUALIZAÇÕES"), this);
    Labelatual->setObjectName(QStringLiteral("Labelatual"));
    Labelatual->setFont(formFont(14, true));
    Labelatual->setGeometry(160, 8, 156, 24);

    Memolog = new QPlainTextEdit(this);
    Memolog->setObjectName(QStringLiteral("Memolog"));
    Memolog->setGeometry(8, 32, 625, 393);
    Memolog->setReadOnly(true);
    Memolog->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Memolog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memolog->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memolog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QStringList lines;
    for (const char* line : changeLogLines)
        lines << QString::fromUtf8(line);
    Memolog->setPlainText(lines.join(QChar('\n')));
    Memolog->setFocusPolicy(Qt::StrongFocus);
    setFocusProxy(Memolog);
}

void TForm2::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    centreOnScreen(this);
    Memolog->setFocus();
}

} // namespace app

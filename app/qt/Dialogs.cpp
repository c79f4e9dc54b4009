#include "app/qt/Dialogs.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

namespace app::qt {

int boxWidthForCaption(const QString& caption) {
    // The title font is the window system's; the application's font in bold is a fair upper bound.
    QFont font = QApplication::font();
    font.setBold(true);
    // The frame's icon and buttons beside the words.
    return QFontMetrics(font).horizontalAdvance(caption) + 120;
}

namespace {

void showBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) {
    // The texts separate their lines by a lone carriage return, which the box would not break.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QChar('\r'), QChar('\n'));
    QMessageBox box(icon, caption, shown, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    // A box only as wide as a short text cuts its caption short ("Tar… itor 4.0"): it is made
    // wide enough for the whole caption.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(boxWidthForCaption(caption), 0, QSizePolicy::Minimum,
                                      QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
    box.exec();
}

} // namespace

void QtDialogs::information(QWidget* parent, const QString& caption, const QString& text) {
    showBox(parent, QMessageBox::Information, caption, text);
}

void QtDialogs::message(QWidget* parent, const QString& caption, const QString& text) {
    showBox(parent, QMessageBox::NoIcon, caption, text);
}

void QtDialogs::error(QWidget* parent, const QString& caption, const QString& text) {
    showBox(parent, QMessageBox::Critical, caption, text);
}

} // namespace app::qt

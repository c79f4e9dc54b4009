#include "app/Dialogs.h"

#include <QMessageBox>

namespace app {

namespace {

void showBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption, const QString& text) {
    // The texts separate their lines by a lone carriage return, which the box would not break.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QChar('\r'), QChar('\n'));
    QMessageBox box(icon, caption, shown, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
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

} // namespace app

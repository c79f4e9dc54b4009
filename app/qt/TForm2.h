#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;

namespace app::qt {

// The change-log window: the firmware's version history as read-only text. Closing it only hides
// it; its owner frees it.
class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    QLabel* Labelatual;
    QPlainTextEdit* Memolog;

    // Change logs already shown when this one opens: it goes that many steps off the centre.
    void setCascade(int index) { cascade_ = index; }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int cascade_ = 0;
    QSize memoMargins_; // from the memo's right and bottom edges to the window's
};

} // namespace app::qt

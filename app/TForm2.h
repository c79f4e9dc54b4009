#pragma once

#include <QWidget>

class QLabel;
class QPlainTextEdit;

namespace app {

// The change-log window: the firmware's version history as read-only text. Closing it only hides
// it; its owner frees it.
class TForm2 : public QWidget {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    QLabel* Labelatual;
    QPlainTextEdit* Memolog;

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace app

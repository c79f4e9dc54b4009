#pragma once

#include <QString>

class QWidget;

namespace app::qt {

// Every modal box the windows open goes through this seam, so that tests can answer them. Each
// call returns once the user has dismissed the box.
class Dialogs {
public:
    virtual ~Dialogs() = default;

    // Information icon, the given caption and one OK button (the start-up warning).
    virtual void information(QWidget* parent, const QString& caption, const QString& text) = 0;

    // A plain box: the text, one OK button, no icon (the upload's outcomes).
    virtual void message(QWidget* parent, const QString& caption, const QString& text) = 0;

    // An error that left a handler: its message with an error icon and one OK button.
    virtual void error(QWidget* parent, const QString& caption, const QString& text) = 0;
};

// The width a box needs to show `caption` whole in its title bar.
int boxWidthForCaption(const QString& caption);

// The real boxes, drawn by QMessageBox, each at least boxWidthForCaption() wide.
class QtDialogs : public Dialogs {
public:
    void information(QWidget* parent, const QString& caption, const QString& text) override;
    void message(QWidget* parent, const QString& caption, const QString& text) override;
    void error(QWidget* parent, const QString& caption, const QString& text) override;
};

} // namespace app::qt

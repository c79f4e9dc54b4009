#pragma once

#include <QFrame>
#include <QString>

namespace app {

// A raised panel with an optional caption centred in it; child controls sit on it.
class TPanel : public QFrame {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent = nullptr);

    QString Caption() const { return caption_; }
    void setCaption(const QString& caption);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString caption_;
};

} // namespace app

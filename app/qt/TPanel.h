#pragma once

#include <QFrame>
#include <QString>

namespace app::qt {

// A raised panel with an optional caption centred in it; child controls sit on it.
class TPanel : public QFrame {
    Q_OBJECT
public:
    explicit TPanel(QWidget* parent = nullptr);

    QString Caption() const { return caption_; }
    void setCaption(const QString& caption);
    // The caption's visible text ends left of `x` (a control on the panel), whatever the font.
    void setCaptionLimit(int x);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString caption_;
    int captionLimit_ = -1;
};

} // namespace app::qt

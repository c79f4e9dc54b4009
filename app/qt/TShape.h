#pragma once

#include <QWidget>

#include <cstdint>

namespace app::qt {

// A circle with an outline and a settable fill: the status lamp. It does not take the mouse.
class TShape : public QWidget {
    Q_OBJECT
public:
    explicit TShape(QWidget* parent = nullptr);

    // Colours as 0xRRGGBB.
    std::uint32_t BrushColor() const { return brush_; }
    void setBrushColor(std::uint32_t rgb);
    std::uint32_t PenColor() const { return pen_; }
    void setPenColor(std::uint32_t rgb);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::uint32_t brush_ = 0xFFFFFF;
    std::uint32_t pen_ = 0x000000;
};

} // namespace app::qt

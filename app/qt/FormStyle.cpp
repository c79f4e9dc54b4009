#include "app/qt/FormStyle.h"

#include "app/Placement.h"

#include <QScreen>
#include <QStringList>
#include <QWidget>

namespace app::qt {

namespace {
// A 4-pixel border on each side and a 26-pixel title bar (the layouts were drawn for such frames).
constexpr int frameWidth = 8;
constexpr int frameHeight = 34;
} // namespace

QFont formFont(int pointSize, bool bold) {
    static const bool substituted = [] {
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   {QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                    QStringLiteral("DejaVu Sans")});
        return true;
    }();
    (void)substituted;
    QFont f(QStringLiteral("MS Sans Serif"), pointSize);
    f.setStyleHint(QFont::SansSerif);
    f.setBold(bold);
    return f;
}

QSize clientSizeFor(QSize outer) {
    return QSize(outer.width() - frameWidth, outer.height() - frameHeight);
}

void centreOnScreen(QWidget* window) {
    const QScreen* screen = window->screen();
    if (!screen) return;
    const QRect area = screen->availableGeometry();
    // Before the window manager has framed the window, its frame is only the client area.
    const QSize outer = window->frameGeometry().size();
    const QSize frame = outer - window->size();
    const ScreenRect place = centredWithin({area.x(), area.y(), area.width(), area.height()},
                                           outer.width(), outer.height());
    // A window larger than the screen shrinks to it, so that its title bar stays reachable.
    if (place.width < outer.width() || place.height < outer.height())
        window->resize(place.width - frame.width(), place.height - frame.height());
    // For a top-level window move() places the frame's corner.
    window->move(place.x, place.y);
}

} // namespace app::qt
